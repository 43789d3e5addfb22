#!/usr/bin/env python3
"""The loader's main cost: decoding the engine.  For engines of about 1, 16 and 64 MiB made
of real machine code, prints the loader's decode time against the xz command's raw decode
of the same stream, the loader's peak heap against packedSize + unpackedSize + the capped
dictionary, and the whole installer run under Wine.  A measurement, not a test."""
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests"))
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
import craft  # noqa: E402
import winehost  # noqa: E402

BENCH = ROOT / "build" / "bench" / "decode-bench"
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


def main():
    sizes = [int(a) for a in sys.argv[1:]] or [1, 16, 64]
    engine = (craft.ENGINES / "engine32.exe").read_bytes()
    print(f"{'engine':>8} {'packed':>10} {'loader':>9} {'xz -d':>9} {'ratio':>6} "
          f"{'peak heap':>11} {'packed+unpacked+dict':>21} {'ratio':>6} {'under Wine':>11}")
    with tempfile.TemporaryDirectory() as work:
        work = Path(work)
        prefix = winehost.Prefix(work) if "--no-wine" not in sys.argv else None
        try:
            for mib in sizes:
                # A valid engine: the test engine with machine code appended behind its image.
                data = engine + machine_code(mib * MiB - len(engine))
                stream = craft.encode_xz(data, dict_size=DICT)
                sfile = work / f"stream-{mib}.lzma"
                sfile.write_bytes(stream)
                capped = min(DICT, max(len(data), 4096))
                out = {}

                def loader():
                    r = subprocess.run([BENCH, sfile, str(len(data)), "93", str(DICT)], check=True,
                                       stdout=subprocess.PIPE, text=True).stdout
                    fields = dict(kv.split("=") for kv in r.split())
                    out["peak"] = int(fields["peak_heap"])
                    return float(fields["decode_seconds"])
                t_loader = best_of(3, loader)
                with open(sfile, "rb") as f:
                    t_xz = best_of(3, lambda: timed(["xz", "--format=raw", f"--lzma1=lc=3,lp=0,pb=2,dict={DICT}",
                                                     "-d", "-c"], stdin=open(sfile, "rb"),
                                                    stdout=subprocess.DEVNULL))
                wine = ""
                if prefix:
                    inst = craft.Installer()
                    inst.header.props = craft.props_bytes(dict_size=DICT)
                    inst.header.payload32 = craft.Entry(inst.add(stream), len(stream), len(data))
                    exe = prefix.put(bytes(inst.finish()), f"C:\\kt\\bench{mib}.exe")
                    start = time.perf_counter()
                    r = prefix.run(f'"{exe}"')
                    wine = f"{time.perf_counter() - start:10.2f}s" if not r.boxes else "refused"
                budget = len(stream) + len(data) + capped
                print(f"{mib:>6}Mi {len(stream):>10} {t_loader:>8.3f}s {t_xz:>8.3f}s {t_loader / t_xz:>6.2f} "
                      f"{out['peak']:>11} {budget:>21} {out['peak'] / budget:>6.2f} {wine:>11}")
        finally:
            if prefix:
                prefix.close()
    print("loader: DecodePayload of the loader's sources over the simulated Windows (host build, -O2);\n"
          "under Wine: the real Stub98.exe from start to end (verify, decode, write, start, wait, delete).")


if __name__ == "__main__":
    main()
