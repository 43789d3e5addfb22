"""Two builds of the loader from the same sources give the same bytes."""
import filecmp
import subprocess
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
BUILD = ROOT / "build"


def test_second_build_is_byte_identical(tmp_path):
    other = tmp_path / "win"
    dist = tmp_path / "dist"
    log = tmp_path / "build.log"
    with open(log, "wb") as out:
        subprocess.run(["cmake", "-S", ROOT / "cmake" / "windows", "-B", other,
                        f"-DCMAKE_TOOLCHAIN_FILE={ROOT / 'cmake' / 'mingw-i686.cmake'}",
                        "-DCMAKE_BUILD_TYPE=MinSizeRel", f"-DKESTRUNE_ROOT={ROOT}", f"-DKESTRUNE_DIST={dist}",
                        f"-DPE_POSTLINK={BUILD / 'pe-postlink'}", f"-DICON_GEN={BUILD / 'icon-gen'}"],
                       check=True, stdout=out, stderr=subprocess.STDOUT)
        subprocess.run(["cmake", "--build", other, "--target", "Stub98", "-j2"], check=True, stdout=out,
                       stderr=subprocess.STDOUT)
    assert filecmp.cmp(dist / "Stub98.exe", ROOT / "dist" / "Stub98.exe", shallow=False)
