"""kestrune-pack as an installed tool: where it finds its loader, the Debian package, its
version, default messages, progress, two threads, JSON, engine checks and files that are
not installers."""
import hashlib
import json
import os
import pty
import shutil
import subprocess

import pytest

import craft
from craft import ENGINES, PACK, ROOT, STUB, pack

E32, E64 = ENGINES / "engine32.exe", ENGINES / "engine64.exe"
BUILD = ROOT / "build"


def run(tool, *args):
    return subprocess.run([str(tool), *map(str, args)], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def inspect(path, tool=PACK):
    return json.loads(run(tool, "inspect", "--json", path).stdout)


@pytest.fixture(scope="module")
def unpacked_deb(tmp_path_factory):
    return craft.unpack_deb(tmp_path_factory.mktemp("deb"))


def test_debian_package_alone_builds_inspects_and_verifies(unpacked_deb, tmp_path):
    root, info = unpacked_deb
    assert "Package: kestrune" in info and "liblzma5" in info and "libstdc++6" in info
    tool, loader = root / "usr/bin/kestrune-pack", root / "usr/share/kestrune/Stub98.exe"
    assert (root / "usr/share/doc/kestrune/README.md").exists()
    assert loader.read_bytes() == STUB.read_bytes()
    out = tmp_path / "setup.exe"
    r = run(tool, "build", "--engine32", E32, "--engine64", E64, "-o", out)
    assert r.returncode == 0, r.stderr
    assert inspect(out, tool)["header"]["bitness"] == "both"
    assert run(tool, "verify", out).returncode == 0
    # The same bytes as a build that names the loader.
    named = tmp_path / "named.exe"
    pack("build", "--loader", STUB, "--engine32", E32, "--engine64", E64, "-o", named)
    assert out.read_bytes() == named.read_bytes()


def test_loader_found_beside_the_tool_then_in_share_and_named_when_missing(tmp_path):
    # Installed by cmake --install into a prefix: bin/ and share/kestrune/.
    prefix = tmp_path / "prefix"
    subprocess.run(["cmake", "--install", BUILD, "--prefix", prefix], check=True, stdout=subprocess.DEVNULL)
    tool = prefix / "bin" / "kestrune-pack"
    r = run(tool, "--version")
    assert r.returncode == 0
    assert f"loader: {prefix / 'share/kestrune/Stub98.exe'}" in r.stdout
    assert hashlib.sha256(STUB.read_bytes()).hexdigest() in r.stdout
    # A loader beside the tool wins.
    beside = bytearray(STUB.read_bytes())
    beside[0x1000] ^= 1
    (prefix / "bin" / "Stub98.exe").write_bytes(beside)
    assert hashlib.sha256(beside).hexdigest() in run(tool, "--version").stdout
    # The tool alone: the error names both places; --loader still works.
    lonely = tmp_path / "lonely" / "bin"
    lonely.mkdir(parents=True)
    shutil.copy2(tool, lonely / "kestrune-pack")
    out = tmp_path / "setup.exe"
    r = run(lonely / "kestrune-pack", "build", "--engine32", E32, "-o", out)
    assert r.returncode == 2 and not out.exists()
    assert str(lonely / "Stub98.exe") in r.stderr and str(tmp_path / "lonely/share/kestrune/Stub98.exe") in r.stderr
    assert "none found" in run(lonely / "kestrune-pack", "--version").stdout
    assert run(lonely / "kestrune-pack", "build", "--loader", STUB, "--engine32", E32, "-o", out).returncode == 0


def test_version_in_the_build_tree_names_dist():
    r = pack("--version")
    lines = r.stdout.splitlines()
    assert lines[0].startswith("kestrune-pack ") and lines[0].split()[1][0].isdigit()
    assert lines[1] == f"loader: {STUB}"
    assert lines[2] == f"sha256: {hashlib.sha256(STUB.read_bytes()).hexdigest()}"


@pytest.mark.parametrize("engines,bitness,words", [
    (["--engine64", E64], "64-only", "needs a 64-bit version of Windows"),
    (["--engine32", E32, "--bitness", "32-only"], "32-only", "for 32-bit Windows only"),
    (["--engine32", E32, "--engine64", E64], "both", "no setup program"),
])
def test_default_messages_fit_the_bitness_mode(tmp_path, engines, bitness, words):
    out = tmp_path / "setup.exe"
    pack("build", *engines, "-o", out)
    h = inspect(out)["header"]
    assert h["bitness"] == bitness
    assert words in h["bitnessMessage"]["text"]
    unsupported = h["unsupportedWindowsMessage"]["text"]
    assert "%USER%" in unsupported and "does not support" in unsupported


def test_explicitly_empty_and_file_messages_are_kept(tmp_path):
    text = tmp_path / "msg.txt"
    text.write_text("Windows %USER% wird nicht unterstützt.", "utf-8")
    out = tmp_path / "setup.exe"
    pack("build", "--engine32", E32, "--bitness-message", "", "--unsupported-message-file", text, "-o", out)
    h = inspect(out)["header"]
    assert h["bitnessMessage"]["length"] == 0 and h["bitnessMessage"]["text"] == ""
    assert h["unsupportedWindowsMessage"]["text"] == "Windows %USER% wird nicht unterstützt."


def stderr_on_a_terminal(*args):
    """Runs kestrune-pack with stderr on a pseudo-terminal; returns (exit status, what it wrote)."""
    master, slave = pty.openpty()
    p = subprocess.Popen([str(PACK), *map(str, args)], stdout=subprocess.DEVNULL, stderr=slave)
    os.close(slave)
    seen = b""
    while True:
        try:
            chunk = os.read(master, 4096)
        except OSError:
            break
        if not chunk:
            break
        seen += chunk
    os.close(master)
    return p.wait(), seen.decode("utf-8", "replace")


def test_progress_line_only_on_a_terminal(tmp_path):
    big = tmp_path / "big32.exe"
    big.write_bytes(E32.read_bytes() + os.urandom(3 << 20))
    args = ["build", "--engine32", big, "--engine64", E64, "--preset", "1"]
    status, seen = stderr_on_a_terminal(*args, "-o", tmp_path / "a.exe")
    assert status == 0
    assert "\rcompressing:" in seen and "(100%)" in seen
    total = (big.stat().st_size + E64.stat().st_size) / 1048576
    assert f"of {total:.1f} MiB" in seen
    assert seen.count("\n") <= 1  # one line, rewritten in place
    status, seen = stderr_on_a_terminal(*args, "--quiet", "-o", tmp_path / "b.exe")
    assert status == 0 and seen == ""
    r = pack(*args, "-o", tmp_path / "c.exe")
    assert r.stderr == ""


def test_two_threads_give_the_bytes_of_one_and_builds_are_reproducible(tmp_path):
    args = ["build", "--engine32", E32, "--engine64", E64, "--unsupported-message", "%USER%"]
    outs = []
    for name, jobs in [("seq.exe", "1"), ("par.exe", "2"), ("again.exe", "2")]:
        pack(*args, "--jobs", jobs, "-o", tmp_path / name)
        outs.append((tmp_path / name).read_bytes())
    assert outs[0] == outs[1] == outs[2]


def test_verify_json_names_each_check(tmp_path):
    out = tmp_path / "setup.exe"
    pack("build", "--engine32", E32, "--engine64", E64, "-o", out)
    r = pack("verify", "--json", out)
    report = json.loads(r.stdout)
    assert report["passed"] is True
    names = [c["name"] for c in report["checks"]]
    assert names[:6] == ["locator", "package attached", "size", "checked region", "crc-32", "header"]
    images = {c["name"]: c["detail"] for c in report["checks"] if c["name"].endswith("image")}
    assert images == {"engine 32 image": "a 32-bit (i386) Windows executable",
                      "engine 64 image": "a 64-bit (x86-64) Windows executable"}
    damaged = bytearray(out.read_bytes())
    damaged[-100] ^= 0xFF
    (tmp_path / "damaged.exe").write_bytes(damaged)
    r = pack("verify", "--json", tmp_path / "damaged.exe", check=False)
    assert r.returncode == 1
    report = json.loads(r.stdout)
    assert report["passed"] is False
    assert [c["name"] for c in report["checks"] if not c["passed"]] == ["crc-32"]


def test_engines_must_be_executables_for_their_slot(tmp_path):
    text = tmp_path / "readme.txt"
    text.write_text("not an engine\n" * 20)
    dll = ENGINES / "planted" / "mpr.dll"
    cases = [
        (["--engine32", E64], E64, "a 64-bit image given as the 32-bit engine"),
        (["--engine64", E32], E32, "a 32-bit image given as the 64-bit engine"),
        (["--engine32", E32, "--engine64", E32], E32, "a 32-bit image given as the 64-bit engine"),
        (["--engine32", text], text, "not a Windows executable"),
        (["--engine32", dll], dll, "no executable"),
    ]
    for args, culprit, words in cases:
        out = tmp_path / "refused.exe"
        r = pack("build", *args, "-o", out, check=False)
        assert r.returncode == 2, args
        assert f"{culprit}: " in r.stderr and words in r.stderr, r.stderr
        assert not out.exists()
    # For those who know: packed anyway, and verify says what the slot holds.
    out = tmp_path / "any.exe"
    pack("build", "--engine32", E32, "--engine64", E32, "--allow-any-engine", "-o", out)
    r = pack("verify", out, check=False)
    assert r.returncode == 1
    [line] = [l for l in r.stdout.splitlines() if l.startswith("FAIL")]
    assert "engine 64 image" in line and "a 32-bit image given as the 64-bit engine" in line


def test_inspect_of_files_that_are_no_installers(tmp_path):
    good = tmp_path / "setup.exe"
    pack("build", "--engine32", E32, "-o", good)
    size = good.stat().st_size
    random_bytes = tmp_path / "random.bin"
    random_bytes.write_bytes(os.urandom(1000))
    outside = tmp_path / "outside.exe"
    outside.write_bytes(craft.patch_locator(good.read_bytes(), package_offset=size + 10))
    # Another program's bytes at the locator's place are read and shown as they are: a
    # header may or may not come of them (None: either).
    for path, problem, header in [(random_bytes, "not a Windows executable", False),
                                  (STUB, "no package attached", False), (outside, "points outside the file", False),
                                  (E32, "no room for a package locator", None)]:
        r = pack("inspect", path, check=False)
        assert r.returncode == 1 and r.stdout == ""
        assert r.stderr.count("\n") == 1 and problem in r.stderr, r.stderr
        r = pack("inspect", "--json", path, check=False)
        assert r.returncode == 1
        info = json.loads(r.stdout)
        assert info["installer"] is False and problem in info["problem"]
        assert info["fileSize"] == path.stat().st_size and "locator" in info
        assert header is None or ("header" in info) == header
    assert inspect(good)["installer"] is True
