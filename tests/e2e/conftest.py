import pytest

import winehost


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
