import pytest

import craft
import winehost

E32 = winehost.E2E_BIN / "engine32.exe"
E64 = winehost.E2E_BIN / "engine64.exe"


def pytest_report_header():
    return winehost.mode_line()


@pytest.fixture
def prefix(tmp_path):
    p = winehost.Prefix(tmp_path)
    yield p
    p.close()


@pytest.fixture
def prefix32(tmp_path):
    p = winehost.Prefix(tmp_path, arch="win32")
    yield p
    p.close()


@pytest.fixture
def build(tmp_path):
    """Builds an installer with kestrune-pack; engines default to both."""
    def make(*args, name="setup.exe", engines=("--engine32", E32, "--engine64", E64)):
        out = tmp_path / "installers" / name
        out.parent.mkdir(exist_ok=True)
        craft.pack("build", "--loader", craft.STUB, *engines, *args, "-o", out)
        return out
    return make


def read_log(prefix, winpath):
    """The test engine's log: a list of runs, each a dict of what it saw."""
    path = prefix.host(winpath)
    runs = []
    if not path.exists():
        return runs
    for line in path.read_text("utf-8").splitlines():
        key, value = line.split("=", 1)
        if key == "path":
            runs.append({})
        if key == "ended":
            next(run for run in runs if run["path"] == value and "ended" not in run)["ended"] = True
        else:
            runs[-1][key] = value
    return runs
