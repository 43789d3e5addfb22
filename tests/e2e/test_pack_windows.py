"""kestrune-pack.exe, the tool for Windows, under Wine: the same installers as the Linux tool
from the same inputs, file names as Windows users write them, and the installer it builds
run by the loader.  A 64-bit program: it runs at native speed even where 32-bit code is
emulated."""
import hashlib
import json
import zipfile
from pathlib import Path

import pytest

import craft
import winehost
from conftest import read_log

TOOL = "C:\\kt\\Kestrune Tools\\kestrune-pack.exe"
# A blank, and characters outside code page 1252.
WORK = "C:\\kt\\Setup Work\\漢字"


@pytest.fixture(scope="module")
def zip_members():
    """The zip for Windows users: its files by name."""
    with zipfile.ZipFile(craft.windows_zip()) as z:
        return {Path(n).name: z.read(n) for n in z.namelist() if not n.endswith("/")}


def test_zip_holds_the_tool_the_loader_and_the_readme(zip_members):
    assert sorted(zip_members) == ["README.md", "Stub98.exe", "kestrune-pack.exe"]
    assert zip_members["Stub98.exe"] == (winehost.DIST / "Stub98.exe").read_bytes()
    assert zip_members["kestrune-pack.exe"] == (winehost.DIST / "kestrune-pack.exe").read_bytes()


def install_tool(prefix, zip_members):
    """The zip's tool and loader unpacked into a folder with a blank in its name."""
    folder = TOOL.rsplit("\\", 1)[0]
    for name in ("kestrune-pack.exe", "Stub98.exe"):
        prefix.put(zip_members[name], f"{folder}\\{name}")


def test_windows_tool_builds_the_linux_tools_bytes_and_the_installer_runs(prefix, tmp_path, zip_members):
    install_tool(prefix, zip_members)
    message = "Für %USER% gibt es dieses Produkt nicht.  Ωμέγα 漢字"
    e32 = prefix.put(craft.ENGINES / "engine32.exe", f"{WORK}\\engine32.exe")
    e64 = prefix.put(craft.ENGINES / "engine64.exe", f"{WORK}\\engine64.exe")
    msg = prefix.put(message.encode("utf-8"), f"{WORK}\\unsupported.txt")
    common = ["--windows", "win7,win10,win11", "--min-release", "1809", "--bitness-message", "No fit.",
              "--company", "Tarnwell", "--description", "Démo Setup", "--product-version", "2.0.1.0"]
    rc, out, err = prefix.console(TOOL, "build", "--engine32", e32, "--engine64", e64,
                                  "--unsupported-message-file", msg, *common, "-o", f"{WORK}\\setup.exe")
    assert rc == 0, err
    assert "compressing" not in err  # stderr is no terminal here
    linux = tmp_path / "linux.exe"
    text = tmp_path / "unsupported.txt"
    text.write_text(message, "utf-8")
    craft.pack("build", "--engine32", craft.ENGINES / "engine32.exe", "--engine64", craft.ENGINES / "engine64.exe",
               "--unsupported-message-file", text, *common, "-o", linux)
    built = prefix.host(f"{WORK}\\setup.exe").read_bytes()
    assert built == linux.read_bytes()

    # Inspect, plain and JSON, with the installer named by its UTF-16 path.
    rc, out, err = prefix.console(TOOL, "inspect", "--json", f"{WORK}\\setup.exe")
    assert rc == 0, err
    info = json.loads(out)
    assert info["installer"] is True and info["header"]["unsupportedWindowsMessage"]["text"] == message
    assert info["versionBlock"]["FileDescription"].rstrip() == "Démo Setup"
    rc, out, _ = prefix.console(TOOL, "inspect", f"{WORK}\\setup.exe")
    assert rc == 0 and "win7 win10 win11" in out and message in out

    # The loader runs what the Windows tool built (from a folder that the ANSI code page can
    # name: the loader refuses any other).
    exe = prefix.put(built, "C:\\kt\\Setup Work\\setup.exe")
    r = prefix.run(f'"{exe}" /log=C:\\kt\\log.txt')
    assert r.boxes == [] and r.exit_code == 0
    [run] = read_log(prefix, "C:\\kt\\log.txt")
    assert run["bits"] == "64" and run.get("ended")


def test_windows_tool_verifies_refuses_and_names_its_loader(prefix, zip_members):
    install_tool(prefix, zip_members)
    e32 = prefix.put(craft.ENGINES / "engine32.exe", "C:\\kt\\in\\engine32.exe")
    rc, _, err = prefix.console(TOOL, "build", "--engine32", e32, "--quiet", "-o", "C:\\kt\\good.exe")
    assert rc == 0, err
    good = prefix.host("C:\\kt\\good.exe").read_bytes()
    damaged = bytearray(good)
    damaged[-200] ^= 0x40
    prefix.put(bytes(damaged), "C:\\kt\\damaged.exe")

    rc, out, _ = prefix.console(TOOL, "verify", "C:\\kt\\good.exe")
    assert rc == 0 and "The installer passes every check." in out
    rc, out, _ = prefix.console(TOOL, "verify", "--json", "C:\\kt\\damaged.exe")
    report = json.loads(out)
    assert rc == 1 and report["passed"] is False
    assert [c["name"] for c in report["checks"] if not c["passed"]] == ["crc-32"]

    # Refusals: a 32-bit image as the 64-bit engine, a missing file; no output either time.
    rc, _, err = prefix.console(TOOL, "build", "--engine64", e32, "-o", "C:\\kt\\refused.exe")
    assert rc == 2 and "a 32-bit image given as the 64-bit engine" in err and "C:\\kt\\in\\engine32.exe" in err
    rc, _, err = prefix.console(TOOL, "build", "--engine32", "C:\\kt\\in\\nope.exe", "-o", "C:\\kt\\refused.exe")
    assert rc == 2 and "nope.exe" in err
    assert not prefix.host("C:\\kt\\refused.exe").exists()
    rc, _, err = prefix.console(TOOL, "inspect", e32)
    assert rc == 1 and "no room for a package locator" in err

    rc, out, _ = prefix.console(TOOL, "--version")
    assert rc == 0
    assert f"loader: {TOOL.rsplit(chr(92), 1)[0]}\\Stub98.exe" in out
    assert hashlib.sha256((winehost.DIST / "Stub98.exe").read_bytes()).hexdigest() in out
