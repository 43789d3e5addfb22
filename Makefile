# The two commands of the README:  make demo  and  make test.
BUILD ?= build
ASAN_BUILD ?= build-asan
JOBS ?= $(shell nproc)
PYTHON := /usr/bin/python3

.PHONY: deps build demo test unit asan e2e bench clean

deps:
	@bash scripts/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j$(JOBS)

demo: build
	@$(PYTHON) scripts/demo.py

unit: build
	@ctest --test-dir $(BUILD) --output-on-failure

# The unit tests once more under AddressSanitizer and UndefinedBehaviorSanitizer.
asan: deps
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DKESTRUNE_SANITIZE=ON -DKESTRUNE_WINDOWS=OFF -DKESTRUNE_DIST=$(CURDIR)/$(ASAN_BUILD)/dist >/dev/null
	@cmake --build $(ASAN_BUILD) -j$(JOBS) --target unit_tests
	@ctest --test-dir $(ASAN_BUILD) --output-on-failure

e2e: build
	@$(PYTHON) -m pytest -q tests/e2e

test: build
	@ctest --test-dir $(BUILD) --output-on-failure
	@$(MAKE) --no-print-directory asan
	@$(PYTHON) -m pytest -q -p no:cacheprovider tests

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) dist

# Measurements, not tests: the loader's decode time and memory against xz.
bench: build
	@$(PYTHON) bench/run_bench.py
