# The two commands of the README:  make demo  and  make test.
BUILD ?= build
ASAN_BUILD ?= build-asan
JOBS ?= $(shell nproc)
PYTHON := /usr/bin/python3

.PHONY: deps build demo test unit asan e2e bench install package fuzz-build fuzz-smoke fuzz-coverage clean

# Also says, once per make command, whether 32-bit Windows programs run natively or emulated.
deps:
	@bash scripts/install-deps.sh
	@[ "$(MAKELEVEL)" != 0 ] || bash scripts/i386-mode.sh

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
	@$(MAKE) --no-print-directory fuzz-smoke
	@$(PYTHON) -m pytest -q -p no:cacheprovider tests

# kestrune-pack in $(PREFIX)/bin and the loader in $(PREFIX)/share/kestrune (DESTDIR is honoured).
PREFIX ?= /usr/local
install: build
	@cmake --install $(BUILD) --prefix $(PREFIX) --strip

# In dist/: the Debian package kestrune_<version>_amd64.deb, and the zip for Windows users
# kestrune-pack-<version>-windows-x64.zip (kestrune-pack.exe, Stub98.exe, the README).
package: build
	@cd $(BUILD) && cpack -G DEB >/dev/null
	@cmake --build $(BUILD) --target windows-zip >/dev/null
	@ls dist/kestrune_*.deb dist/kestrune-pack-*-windows-x64.zip

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) dist

# Measurements, not tests: the shipped decoder's time and memory against xz, and the
# loader's code-and-data size with each liblzma build.
bench: build
	@cmake --build $(BUILD) -j$(JOBS) --target host-bench windows-bench >/dev/null
	@$(PYTHON) bench/run_bench.py

# The fuzz targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer), run for a bounded
# time over the seed corpus; new inputs go to a scratch folder, the seeds stay as they are.
FUZZ_BUILD ?= build-fuzz
FUZZ_FLAGS := -timeout=10 -rss_limit_mb=4096 -malloc_limit_mb=4096 -print_final_stats=1
fuzz-build: deps
	@CC=clang-14 CXX=clang++-14 cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRUNE_FUZZ=ON \
	  -DKESTRUNE_WINDOWS=OFF -DKESTRUNE_DIST=$(CURDIR)/$(FUZZ_BUILD)/dist >/dev/null
	@cmake --build $(FUZZ_BUILD) -j$(JOBS) --target fuzz_loader fuzz_pack

fuzz-smoke: fuzz-build
	@rm -rf $(FUZZ_BUILD)/scratch && mkdir -p $(FUZZ_BUILD)/scratch/loader $(FUZZ_BUILD)/scratch/pack
	@$(FUZZ_BUILD)/tests/fuzz/fuzz_loader $(FUZZ_FLAGS) -max_total_time=35 -artifact_prefix=$(FUZZ_BUILD)/ \
	  $(FUZZ_BUILD)/scratch/loader tests/fuzz/corpus/loader tests/fuzz/corpus/loader-reached 2>$(FUZZ_BUILD)/fuzz_loader.log \
	  || { tail -n 60 $(FUZZ_BUILD)/fuzz_loader.log; exit 1; }
	@grep -E '^(stat::number_of_executed_units|Done)' $(FUZZ_BUILD)/fuzz_loader.log | sed 's/^/fuzz_loader: /'
	@$(FUZZ_BUILD)/tests/fuzz/fuzz_pack $(FUZZ_FLAGS) -max_total_time=25 -artifact_prefix=$(FUZZ_BUILD)/ \
	  $(FUZZ_BUILD)/scratch/pack tests/fuzz/corpus/pack 2>$(FUZZ_BUILD)/fuzz_pack.log \
	  || { tail -n 60 $(FUZZ_BUILD)/fuzz_pack.log; exit 1; }
	@grep -E '^(stat::number_of_executed_units|Done)' $(FUZZ_BUILD)/fuzz_pack.log | sed 's/^/fuzz_pack: /'

# Coverage of the loader's own code reached by a corpus (default: the seeds), e.g. after a
# campaign:  make fuzz-coverage CORPUS=/path/to/campaign/corpus
COV_BUILD ?= build-cov
CORPUS ?= tests/fuzz/corpus/loader
fuzz-coverage: deps
	@CC=clang-14 CXX=clang++-14 cmake -S . -B $(COV_BUILD) -DCMAKE_BUILD_TYPE=Debug -DKESTRUNE_FUZZ=ON \
	  -DKESTRUNE_COVERAGE=ON -DKESTRUNE_WINDOWS=OFF -DKESTRUNE_DIST=$(CURDIR)/$(COV_BUILD)/dist >/dev/null
	@cmake --build $(COV_BUILD) -j$(JOBS) --target fuzz_loader >/dev/null
	@rm -f $(COV_BUILD)/*.profraw
	@LLVM_PROFILE_FILE=$(COV_BUILD)/fuzz-%p.profraw $(COV_BUILD)/tests/fuzz/fuzz_loader -runs=0 $(CORPUS) 2>/dev/null
	@llvm-profdata-14 merge -sparse $(COV_BUILD)/*.profraw -o $(COV_BUILD)/fuzz.profdata
	@llvm-cov-14 report $(COV_BUILD)/tests/fuzz/fuzz_loader -instr-profile=$(COV_BUILD)/fuzz.profdata \
	  $(filter-out src/loader/Runtime.cpp,$(wildcard src/loader/*.cpp src/loader/*.h))
