"""Verification, package messages and the choice of engine, on the real loader under Wine."""
import subprocess

import craft
from conftest import read_log
from texts import DAMAGED, TRUNCATED


def test_truncated_installer(prefix, build):
    data = build().read_bytes()
    exe = prefix.put(data[:-1000], "C:\\kt\\setup.exe")
    r = prefix.run(f'"{exe}"')
    assert r.boxes == [(exe, TRUNCATED)] and r.exit_code == 0


def test_flipped_byte_in_the_checked_region(prefix, build):
    data = bytearray(build().read_bytes())
    data[len(data) - 500] ^= 0x01
    exe = prefix.put(bytes(data), "C:\\kt\\setup.exe")
    r = prefix.run(f'"{exe}"')
    assert r.boxes == [(exe, DAMAGED)] and r.exit_code == 0


def test_held_open_for_writing_by_another_process(prefix, build):
    exe = prefix.put(build(), "C:\\kt\\setup.exe")
    r = prefix.run(f'"{exe}" /log=C:\\kt\\log.txt', hold_write=exe)
    assert r.boxes == [(exe, DAMAGED)] and r.exit_code == 0
    assert read_log(prefix, "C:\\kt\\log.txt") == []


def test_32_bit_only_package_refuses_64_bit_windows(prefix, build):
    path = build("--bitness", "32-only", "--bitness-message", "This édition needs 32-bit Windows. %USER%",
                 engines=("--engine32", craft.ENGINES / "engine32.exe"))
    exe = prefix.put(path, "C:\\kt\\setup.exe")
    r = prefix.run(f'"{exe}" /32 /log=C:\\kt\\log.txt')
    assert r.boxes == [(exe, "This édition needs 32-bit Windows. %USER%")] and r.exit_code == 0
    assert read_log(prefix, "C:\\kt\\log.txt") == []


def test_independent_encoder_installer_runs_its_engine(prefix):
    inst = craft.Installer()
    inst.add_engine((craft.ENGINES / "engine32.exe").read_bytes(), 32, encoder=craft.encode_xz)
    exe = prefix.put(bytes(inst.finish()), "C:\\kt\\xz-setup.exe")
    r = prefix.run(f'"{exe}" /log=C:\\kt\\log.txt')
    assert r.boxes == [] and r.exit_code == 0
    [run] = read_log(prefix, "C:\\kt\\log.txt")
    assert run["bits"] == "32" and run.get("ended")


def test_installer_from_the_debian_package_alone_runs(prefix, tmp_path):
    root, _ = craft.unpack_deb(tmp_path / "deb")
    out = tmp_path / "setup.exe"
    subprocess.run([root / "usr/bin/kestrune-pack", "build", "--engine32", craft.ENGINES / "engine32.exe",
                    "--engine64", craft.ENGINES / "engine64.exe", "-o", out], check=True, stdout=subprocess.DEVNULL)
    exe = prefix.put(out, "C:\\kt\\setup.exe")
    r = prefix.run(f'"{exe}" /log=C:\\kt\\log.txt')
    assert r.boxes == [] and r.exit_code == 0
    [run] = read_log(prefix, "C:\\kt\\log.txt")
    assert run["bits"] == "64" and run.get("ended")
