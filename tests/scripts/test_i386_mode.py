"""How the scripts tell a qemu registration for i386 from other binfmt_misc entries: the
decision between the native and the emulated path rests on it."""
import os
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
I386 = "7f454c4601010100000000000000000002000300"
ARM = "7f454c4601010100000000000000000002002800"


def handler(binfmt):
    script = f'. "{ROOT}/scripts/i386-mode.sh"; i386_handler'
    r = subprocess.run(["bash", "-c", script], env={**os.environ, "KESTRUNE_BINFMT": str(binfmt)},
                       stdout=subprocess.PIPE, text=True)
    return Path(r.stdout.strip()).name if r.returncode == 0 else None


@pytest.mark.parametrize("status,entries,expected", [
    ("enabled", {"qemu-i386": ("enabled", I386)}, "qemu-i386"),
    ("enabled", {"qemu-arm": ("enabled", ARM), "kestrune-x86": ("enabled", I386)}, "kestrune-x86"),
    ("enabled", {"qemu-arm": ("enabled", ARM)}, None),
    ("enabled", {"qemu-i386": ("disabled", I386)}, None),
    ("disabled", {"qemu-i386": ("enabled", I386)}, None),
    (None, {}, None),  # binfmt_misc not mounted
])
def test_i386_handler_is_an_enabled_entry_for_i386_elf(tmp_path, status, entries, expected):
    if status:
        (tmp_path / "status").write_text(status + "\n")
        (tmp_path / "register").write_text("")
    for name, (state, magic) in entries.items():
        (tmp_path / name).write_text(f"{state}\ninterpreter /usr/bin/qemu\nflags: PF\noffset 0\nmagic {magic}\n"
                                     "mask fffffffffffefefcfffffffffffffffffeffffff\n")
    assert handler(tmp_path) == expected


def test_mode_names_what_runs_here():
    mode = subprocess.run(["bash", ROOT / "scripts/i386-mode.sh", "--short"], stdout=subprocess.PIPE,
                          text=True).stdout.strip()
    assert mode in ("native", "emulated")  # the install script leaves no machine without 32-bit code
    assert (mode == "emulated") == (handler("/proc/sys/fs/binfmt_misc") is not None)
