#!/usr/bin/env python3
"""The loader's main cost: decoding the engine, with the decoder that users get.

For engines of about 1, 16 and 64 MiB of real machine code, compressed by the xz command in
raw LZMA1 (preset 6, 8 MiB dictionary), prints:
- the shipped decoder: the loader's own verification and decoding code and liblzma, built
  exactly as Stub98.exe builds them (PE32, i386), in a small program run under Wine, for
  both liblzma builds (fast: default decoder at -O2; small: --enable-small at -Os), against
  `xz -d` on the same stream in the same run, and the heap that the loader and liblzma
  hold at their peak against packed + unpacked + the capped dictionary;
- host stand-ins: the same sources and the same liblzma configure flags built for this
  machine, timed natively (clearly not the shipped code: x86-64, glibc's memcpy);
- the loader's code and data (every section but .rsrc) with each liblzma build.
Where 32-bit programs are emulated here (qemu), the PE32 times are qemu's, not a machine's:
they are labelled so and given no ratio.  A measurement, not a test.
"""
import os
import platform
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import pefile

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests"))
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
import craft  # noqa: E402
import winehost  # noqa: E402

BUILD = ROOT / "build"
VARIANTS = ["fast", "small"]
DICT = 8 << 20  # preset 6
MiB = 1 << 20


def machine_code(size):
    """Shared libraries of this machine, concatenated: real code and data, as an engine holds."""
    out = bytearray()
    for path in sorted(Path("/usr/lib/x86_64-linux-gnu").glob("*.so*")):
        if path.is_file() and not path.is_symlink():
            out += path.read_bytes()[: size - len(out)]
            if len(out) >= size:
                break
    return bytes(out)


def best_of(n, fn):
    return min(fn() for _ in range(n))


def timed(args, **kw):
    start = time.perf_counter()
    subprocess.run(args, check=True, **kw)
    return time.perf_counter() - start


def code_and_data(image):
    """Raw bytes of every section but .rsrc: the loader's code and data in the file."""
    pe = pefile.PE(str(image), fast_load=True)
    return sum(s.SizeOfRawData for s in pe.sections if s.Name.rstrip(b"\0") != b".rsrc")


def cpu_name():
    for line in Path("/proc/cpuinfo").read_text().splitlines():
        if line.startswith("model name"):
            return line.split(":", 1)[1].strip()
    return platform.processor() or "unknown CPU"


def host_decode(variant, sfile, size):
    """(seconds, peak heap) of the host stand-in."""
    r = subprocess.run([BUILD / "bench" / f"decode-bench-{variant}", sfile, str(size), "93", str(DICT)], check=True,
                       stdout=subprocess.PIPE, text=True).stdout
    fields = dict(kv.split("=") for kv in r.split())
    return float(fields["decode_seconds"]), int(fields["peak_heap"])


def pe_decode(prefix, variant, stream, size, tag):
    """(seconds, peak heap) of the PE32 program under Wine."""
    inst = craft.Installer(BUILD / "windows" / "bench" / f"decode-bench-{variant}.exe")
    inst.header.props = craft.props_bytes(dict_size=DICT)
    inst.header.payload32 = craft.Entry(inst.add(stream), len(stream), size)
    exe = prefix.put(bytes(inst.finish()), f"C:\\kt\\bench-{variant}-{tag}.exe")
    result = f"C:\\kt\\bench-{variant}-{tag}.txt"
    r = prefix.run(f'"{exe}" {result}', timeout_ms=600000)
    if r.boxes or not prefix.host(result).exists():
        raise RuntimeError(f"decode-bench-{variant}.exe refused the stream: {r}")
    fields = dict(kv.split("=") for kv in prefix.host(result).read_text().split())
    return int(fields["decode_us"]) / 1e6, int(fields["peak_heap"])


def main():
    sizes = [int(a) for a in sys.argv[1:] if a.isdigit()] or [1, 16, 64]
    emulated = winehost.I386_MODE == "emulated"
    print(f"Machine: {cpu_name()}, {os.cpu_count()} cores; {winehost.mode_line()}.")
    print(f"Streams: xz --format=raw, lzma1 preset 6, dictionary {DICT >> 20} MiB; best of 3 (PE32 under "
          f"emulation: 1); xz -d is Debian's xz, native x86-64.\n")

    engine = (craft.ENGINES / "engine32.exe").read_bytes()
    pe_rows, host_rows = [], []
    with tempfile.TemporaryDirectory() as work:
        work = Path(work)
        prefix = winehost.Prefix(work)
        try:
            for mib in sizes:
                # A valid engine: the test engine with machine code appended behind its image.
                data = engine + machine_code(mib * MiB - len(engine))
                stream = craft.encode_xz(data, dict_size=DICT)
                sfile = work / f"stream-{mib}.lzma"
                sfile.write_bytes(stream)
                budget = len(stream) + len(data) + min(DICT, max(len(data), 4096))
                t_xz = best_of(3, lambda: timed(["xz", "--format=raw", f"--lzma1=lc=3,lp=0,pb=2,dict={DICT}", "-d",
                                                 "-c"], stdin=open(sfile, "rb"), stdout=subprocess.DEVNULL))
                pe = {v: min((pe_decode(prefix, v, stream, len(data), f"{mib}-{i}")
                              for i in range(1 if emulated else 3)), key=lambda r: r[0]) for v in VARIANTS}
                host = {v: min((host_decode(v, sfile, len(data)) for _ in range(3)), key=lambda r: r[0])
                        for v in VARIANTS}
                pe_rows.append((mib, len(stream), t_xz, pe, budget))
                host_rows.append((mib, t_xz, host, budget))
        finally:
            prefix.close()

    label = " (EMULATED by qemu: no machine's speed)" if emulated else " (native)"
    print(f"The shipped decoder: PE32 decode-bench-<build>.exe under Wine{label}")
    print(f"{'engine':>7} {'packed':>10} {'xz -d':>8} " + " ".join(
        f"{v:>8} {'ratio':>6} {'peak heap':>11}" for v in VARIANTS) + f" {'packed+unpacked+dict':>21}")
    for mib, packed, t_xz, pe, budget in pe_rows:
        cells = []
        for v in VARIANTS:
            seconds, peak = pe[v]
            ratio = "-" if emulated else f"{seconds / t_xz:.2f}"
            cells.append(f"{seconds:>7.3f}s {ratio:>6} {peak:>11}")
        print(f"{mib:>5}Mi {packed:>10} {t_xz:>7.3f}s " + " ".join(cells) + f" {budget:>21}")

    print("\nHost stand-in (NOT the shipped code): the loader's sources over the simulated Windows, -O2,"
          " x86-64,\nlinked with liblzma from the same source and configure flags built for this machine")
    print(f"{'engine':>7} {'xz -d':>8} " + " ".join(f"{v:>8} {'ratio':>6}" for v in VARIANTS) +
          f" {'peak heap':>11} {'packed+unpacked+dict':>21} {'ratio':>6}")
    for mib, t_xz, host, budget in host_rows:
        cells = [f"{host[v][0]:>7.3f}s {host[v][0] / t_xz:>6.2f}" for v in VARIANTS]
        peak = host["fast"][1]
        print(f"{mib:>5}Mi {t_xz:>7.3f}s " + " ".join(cells) + f" {peak:>11} {budget:>21} {peak / budget:>6.2f}")

    print("\nThe loader's code and data (raw bytes of every section but .rsrc; limit 32768):")
    for v in VARIANTS:
        print(f"  liblzma {v:<5}  {code_and_data(BUILD / 'windows' / 'bench' / f'Stub98-{v}.exe'):>6} bytes")
    shipped = winehost.DIST / "Stub98.exe"
    print(f"  dist/Stub98.exe {code_and_data(shipped):>6} bytes ({shipped.stat().st_size} bytes in all)")


if __name__ == "__main__":
    main()
