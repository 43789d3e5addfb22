#!/usr/bin/env python3
"""Writes the fuzzers' seed corpus: small installers made by kestrune-pack (both engines,
messages, detached, every elevation and bitness mode).  The loader never reads its own
image, so each package is moved behind a 1 KiB stand-in image to keep the seeds small; the
loader target's seeds carry four leading bytes that choose the machine.
  make_seeds.py   (run from anywhere; rewrites tests/fuzz/corpus)"""
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent))
import craft  # noqa: E402

CORPUS = HERE / "corpus"
IMAGE = 1024


def relocate(data):
    """The package moved to offset 1024 behind a stand-in image, offsets and CRC fixed."""
    pkg, checked, _, expected, detached = struct.unpack_from("<IIIqI", data, 128)
    delta = pkg - IMAGE
    out = bytearray(IMAGE)
    out[0:2] = b"MZ"
    out += data[pkg:]
    h = bytearray(out[IMAGE:IMAGE + 70])
    for at in (0x12, 0x1E):  # payload offsets
        off = struct.unpack_from("<I", h, at)[0]
        if off not in (0, 0xFFFFFFFF):
            struct.pack_into("<I", h, at, off - delta)
    for at in (0x2A, 0x3A, 0x40):  # setup data and message offsets
        struct.pack_into("<I", h, at, struct.unpack_from("<I", h, at)[0] - delta)
    out[IMAGE:IMAGE + 70] = h
    crc = zlib.crc32(bytes(out[IMAGE:IMAGE + checked]))
    struct.pack_into("<IIIqI", out, 128, IMAGE, checked, crc, expected - delta, detached - delta if detached else 0)
    return bytes(out)


def main():
    work = Path(tempfile.mkdtemp())
    e32, e64 = work / "e32.bin", work / "e64.bin"
    e32.write_bytes(b"MZ" + bytes(range(256)) * 3 + b"32-bit engine" * 20)
    e64.write_bytes(b"MZ" + bytes(range(255, -1, -1)) * 2 + b"64-bit engine" * 30)
    data = work / "data.bin"
    data.write_bytes(b"setup data " * 10)
    msgs = ["--bitness-message", "No engine fits this Windows.", "--unsupported-message", "%USER% is not supported."]
    both = ["--engine32", e32, "--engine64", e64]
    packages = {
        "both": both + msgs,
        "32-for-all": ["--engine32", e32] + msgs,
        "32-only": ["--engine32", e32, "--bitness", "32-only"] + msgs,
        "64-only": ["--engine64", e64] + msgs,
        "detached": both + msgs + ["--detached"],
        "runas": both + msgs + ["--elevation", "runas"],
        "noadmin": both + msgs + ["--elevation", "noadmin"],
        "win10-releases": both + msgs + ["--windows", "win10,win11", "--min-release", "1903", "--max-release",
                                         "2105"],
        "win2000": ["--engine32", e32, "--windows", "win2000,winxp"] + msgs,
        "setup-data": both + msgs + ["--setup-data", data],
    }
    machines = [b"\x00\x0e\x06\x00", b"\x01\x0f\x03\x00", b"\x02\x0c\x01\x00", b"\x06\x05\x02\x01",
                b"\x08\x04\x87\x02", b"\x30\x0a\x20\x04", b"\x40\x13\x43\x00", b"\x84\x11\x14\x00"]
    shutil.rmtree(CORPUS, ignore_errors=True)
    (CORPUS / "loader").mkdir(parents=True)
    (CORPUS / "pack").mkdir()
    for i, (name, args) in enumerate(packages.items()):
        out = work / f"{name}.exe"
        craft.pack("build", "--loader", craft.STUB, "--allow-any-engine", *args, "--preset", "1", "-o", out)
        small = relocate(out.read_bytes())
        (CORPUS / "loader" / name).write_bytes(machines[i % len(machines)] + small)
        (CORPUS / "pack" / name).write_bytes(small)
    # One whole installer, for the version block.
    shutil.copy(work / "both.exe", CORPUS / "pack" / "whole-installer")
    shutil.rmtree(work)


if __name__ == "__main__":
    main()
