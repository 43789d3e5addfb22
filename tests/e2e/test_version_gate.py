"""The Windows version gate under Wine, with the version chosen per program."""
import struct

import pefile
import pytest

from conftest import read_log

CURRENT_VERSION = r"HKLM\Software\Microsoft\Windows NT\CurrentVersion"
MESSAGE = "%USER% is not supported by this product."


def as_version(prefix, version, exe_name="setup.exe"):
    prefix.reg_add(rf"HKCU\Software\Wine\AppDefaults\{exe_name}", "Version", version)


def run(prefix, path, name="setup.exe"):
    exe = prefix.put(path, f"C:\\kt\\{name}")
    return prefix.run(f'"{exe}" /log=C:\\kt\\log.txt'), exe


def accepted(prefix, result):
    assert result.boxes == [] and result.exit_code == 0, result
    assert read_log(prefix, "C:\\kt\\log.txt")[-1].get("ended")


def refused(result, exe, name):
    assert result.boxes == [(exe, MESSAGE.replace("%USER%", name))] and result.exit_code == 0


def test_windows_xp_refused_with_its_name(prefix, build):
    as_version(prefix, "winxp")
    r, exe = run(prefix, build("--windows", "win7,win8,win81,win10,win11", "--unsupported-message", MESSAGE))
    refused(r, exe, "Windows XP")


@pytest.mark.parametrize("bits,ok", [("win81", True), ("win8,win10,win11", False)])
def test_windows_81_by_bit_9(prefix, build, bits, ok):
    as_version(prefix, "win81")
    r, exe = run(prefix, build("--windows", bits, "--unsupported-message", MESSAGE))
    if ok:
        accepted(prefix, r)
    else:
        refused(r, exe, "Windows 8.1")


def test_windows_10_release_below_the_lower_bound(prefix, build):
    as_version(prefix, "win10")
    prefix.reg_add(CURRENT_VERSION, "CurrentBuild", "17763")
    prefix.reg_add(CURRENT_VERSION, "ReleaseId", "1809")
    r, exe = run(prefix, build("--windows", "win10", "--min-release", "1903", "--unsupported-message", MESSAGE))
    refused(r, exe, "Windows 10 1809 (October 2018 Update)")


@pytest.mark.parametrize("bits,ok", [("win10,win11", True), ("win10", False)])
def test_windows_11_by_bit_11(prefix, build, bits, ok):
    as_version(prefix, "win10")
    prefix.reg_add(CURRENT_VERSION, "CurrentBuild", "22631")
    r, exe = run(prefix, build("--windows", bits, "--min-release", "9000", "--max-release", "1000",
                               "--unsupported-message", MESSAGE))
    if ok:
        accepted(prefix, r)
    else:
        refused(r, exe, "Windows 11")


def without_manifest(path):
    """The same installer with its manifest resource renamed out of Windows' sight."""
    data = bytearray(path.read_bytes())
    pe = pefile.PE(data=bytes(data))
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.id == 24:  # RT_MANIFEST becomes an unknown type
            struct.pack_into("<I", data, entry.struct.get_file_offset(), 23)
    out = path.with_name("nomanifest-" + path.name)
    out.write_bytes(bytes(data))
    return out


def test_manifest_decides_what_windows_10_reports(prefix, build):
    as_version(prefix, "win10", "setup.exe")
    as_version(prefix, "win10", "plain.exe")
    prefix.reg_add(CURRENT_VERSION, "CurrentBuild", "19045")
    path = build("--windows", "win10", "--unsupported-message", MESSAGE)
    # With our manifest the loader sees 10.0 and takes the Windows 10 steps.
    r, _ = run(prefix, path)
    accepted(prefix, r)
    # Without one Wine, like Windows, reports 6.2: the same package then meets "Windows 8".
    r, exe = run(prefix, without_manifest(path), name="plain.exe")
    refused(r, exe, "Windows 8")
