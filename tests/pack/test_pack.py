"""kestrune-pack end to end on the host: what build writes, what inspect reads back, what
verify diagnoses, and what build refuses."""
import json
import struct
import subprocess

import pytest

import craft
from craft import ENGINES, STUB, pack

E32, E64 = ENGINES / "engine32.exe", ENGINES / "engine64.exe"


def build(tmp_path, *extra, name="setup.exe"):
    out = tmp_path / name
    pack("build", "--loader", STUB, "-o", out, *extra)
    return out


def inspect(path):
    return json.loads(pack("inspect", "--json", path).stdout)


def verify(path):
    return pack("verify", path, check=False)


def test_round_trip_carries_every_choice(tmp_path):
    msg = "%USER% wird nicht unterstützt. Ωμέγα"
    out = build(tmp_path, "--engine32", E32, "--engine64", E64, "--windows", "win7,win10,win11,other",
                "--min-release", "1809", "--max-release", "2105", "--elevation", "runas",
                "--bitness-message", "64-bit only here", "--unsupported-message", msg,
                "--company", "Tarnwell", "--description", "Demo Setup", "--product-version", "2.5.1.7",
                "--copyright", "(c) 2026 Tarnwell")
    info = inspect(out)
    h = info["header"]
    assert h["supportedVersions"] == ["win7", "win10", "win11", "other"]
    assert (h["minReleaseId"], h["maxReleaseId"], h["elevationMode"], h["bitness"]) == (1809, 2105, 1, "both")
    assert h["payload32"]["unpackedSize"] == E32.stat().st_size
    assert h["payload64"]["unpackedSize"] == E64.stat().st_size
    assert h["bitnessMessage"]["text"] == "64-bit only here"
    assert h["unsupportedWindowsMessage"]["text"] == msg
    assert h["unsupportedWindowsMessage"]["length"] == len(msg.encode("utf-16-le")) // 2
    loc = info["locator"]
    assert loc["packageOffset"] == STUB.stat().st_size and loc["packageOffset"] % 512 == 0
    assert loc["expectedFileSize"] == out.stat().st_size == info["fileSize"]
    assert loc["detachedMinSize"] == 0
    v = info["versionBlock"]
    assert v["CompanyName"].rstrip() == "Tarnwell" and v["CompanyName"].endswith(" ")
    assert v["FileDescription"].rstrip() == "Demo Setup"
    assert v["FileVersion"].rstrip() == "2.5.1.7"
    assert v["LegalCopyright"].rstrip() == "(c) 2026 Tarnwell"
    assert v["ProductVersion"].rstrip() == "2.5"
    assert "kestrune-pack" in v["Comments"] and "https://" in v["Comments"]
    assert (v["InternalName"], v["ProductName"]) == ("Setup", "Kestrune")
    r = verify(out)
    assert r.returncode == 0, r.stdout
    # The loader's image is unchanged but for the locator and the version block.
    stub, built = STUB.read_bytes(), out.read_bytes()
    diff = [i for i in range(len(stub)) if stub[i] != built[i]]
    assert diff and all(128 <= i < 152 or i >= 0x1000 for i in diff)


@pytest.mark.parametrize("args,bitness,p32,p64", [
    (["--engine32", E32], "32-for-all", True, 0),
    (["--engine32", E32, "--bitness", "32-only"], "32-only", True, 0xFFFFFFFF),
    (["--engine64", E64], "64-only", False, True),
])
def test_bitness_modes_set_the_special_offsets(tmp_path, args, bitness, p32, p64):
    h = inspect(build(tmp_path, *args))["header"]
    assert h["bitness"] == bitness
    assert (h["payload32"]["offset"] != 0) == p32
    if p64 is True:
        assert h["payload64"]["offset"] not in (0, 0xFFFFFFFF)
    else:
        assert h["payload64"]["offset"] == p64


def test_detached_and_setup_data(tmp_path):
    data = tmp_path / "data.bin"
    data.write_bytes(b"setup data for the engine" * 100)
    out = build(tmp_path, "--engine32", E32, "--detached", "--setup-data", data)
    info = inspect(out)
    size = out.stat().st_size
    assert info["locator"]["detachedMinSize"] == size
    h = info["header"]
    assert h["setupDataOffset"] == h["payload32"]["offset"] + h["payload32"]["packedSize"]
    assert out.read_bytes()[h["setupDataOffset"]:] == data.read_bytes()
    assert verify(out).returncode == 0


def failing_check(result):
    assert result.returncode == 1, result.stdout
    return [line.split()[1] for line in result.stdout.splitlines() if line.startswith("FAIL")]


def test_verify_names_the_check_that_fails(tmp_path):
    good = build(tmp_path, "--engine32", E32).read_bytes()
    info = inspect(tmp_path / "setup.exe")
    offset = info["locator"]["packageOffset"]
    cases = {
        "flipped byte": (lambda d: d[:offset + 100] + bytes([d[offset + 100] ^ 1]) + d[offset + 101:], "crc-32"),
        "truncated": (lambda d: d[:-1], "size"),
        "no package": (lambda d: craft.patch_locator(d, package_offset=0), "package"),
        "region past the end": (lambda d: craft.patch_locator(d, checked_length=len(d)), "checked"),
    }
    for name, (mutate, check) in cases.items():
        path = tmp_path / f"{name}.exe"
        path.write_bytes(bytes(mutate(good)))
        assert failing_check(verify(path)) == [check], name
    # A bare loader has no package at all.
    assert failing_check(verify(STUB)) == ["package"]


def test_verify_decodes_each_engine_to_its_exact_size(tmp_path):
    inst = craft.Installer()
    engine = E32.read_bytes()
    inst.add_engine(engine, 32)
    inst.header.payload32.unpacked += 1  # one byte more than the stream holds
    path = tmp_path / "long.exe"
    path.write_bytes(inst.finish())
    assert failing_check(verify(path)) == ["engine"]


@pytest.mark.parametrize("encoder", [craft.encode_python, craft.encode_xz], ids=["python-lzma", "xz"])
def test_independent_encoder_streams_pass_verify(tmp_path, encoder):
    inst = craft.Installer()
    inst.add_engine(E32.read_bytes(), 32, encoder=encoder)
    inst.add_engine(E64.read_bytes(), 64, encoder=encoder)
    inst.add_message("no fit", "bitness")
    inst.add_message("%USER%", "unsupported")
    path = tmp_path / "independent.exe"
    path.write_bytes(inst.finish())
    r = verify(path)
    assert r.returncode == 0, r.stdout


def test_signed_installer_still_verifies(tmp_path):
    out = build(tmp_path, "--engine32", E32)
    key, cert = tmp_path / "key.pem", tmp_path / "cert.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                    "/CN=Kestrune Test", "-keyout", key, "-out", cert], check=True, capture_output=True)
    signed = tmp_path / "signed.exe"
    subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-in", out, "-out", signed],
                   check=True, capture_output=True)
    assert signed.stat().st_size > out.stat().st_size
    assert verify(signed).returncode == 0


def test_refusals_write_no_output(tmp_path):
    loader_with_locator = tmp_path / "dirty.exe"
    data = bytearray(STUB.read_bytes())
    data[130] = 1
    loader_with_locator.write_bytes(data)
    huge = tmp_path / "huge.exe"
    with open(huge, "wb") as f:
        f.truncate(2 ** 31)  # sparse
    cases = {
        "long message": (["--engine32", E32, "--unsupported-message", "x" * 65536], "65535"),
        "missing engine": (["--engine32", tmp_path / "nope.exe"], "nope.exe"),
        "dirty loader": (["--engine32", E32, "--loader", loader_with_locator], "128..151"),
        "2 GiB engine": (["--engine32", huge], "too large"),
        "missing 64-bit engine": (["--engine32", E32, "--bitness", "both"], "--engine64"),
        "bad version": (["--engine32", E32, "--windows", "win12"], "win12"),
        "bad UTF-8 message": (["--engine32", E32, "--bitness-message-file", E32], "UTF-8"),
    }
    for name, (args, words) in cases.items():
        out = tmp_path / f"{name}.exe"
        if "--loader" in args:
            r = pack("build", *args, "-o", out, check=False)
        else:
            r = pack("build", "--loader", STUB, *args, "-o", out, check=False)
        assert r.returncode != 0, name
        assert words in r.stderr, (name, r.stderr)
        assert not out.exists(), name
        assert not list(tmp_path.glob("*.kestrune-tmp"))


def test_help_lists_the_commands_and_choices():
    r = pack("build", "--help")
    for word in ("--engine32", "--engine64", "--bitness", "--windows", "--elevation", "--detached",
                 "--unsupported-message", "--setup-data", "--preset", "--company"):
        assert word in r.stdout
