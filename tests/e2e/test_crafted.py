"""Hostile installers under Wine: every field of the locator and the header at its extremes,
and a few hundred random mutations of a valid installer.  Each must end in one of the
loader's defined endings: a fixed message, the package's message, or a started engine, with
no copy left behind except where the rules keep one."""
import random
import struct

import pytest

import craft
from conftest import read_log
from texts import DAMAGED, LAUNCH, TRUNCATED

ENGINE = (craft.ENGINES / "engine32.exe").read_bytes()
BITNESS, UNSUPPORTED = "BITNESS", "UNSUPPORTED %USER%"
TWO_GIB = 2 ** 31


def base():
    """32-bit engine for all Windows, both messages, every version supported."""
    inst = craft.Installer()
    inst.add_message(BITNESS, "bitness")
    inst.add_message(UNSUPPORTED, "unsupported")
    inst.add_engine(ENGINE, 32)
    return inst


def with_header(**changes):
    """A valid installer whose header fields (dotted names for entries) are changed, CRC right."""
    inst = base()
    size = len(inst.finish())
    for name, value in changes.items():
        value = value(size, inst) if callable(value) else value
        target = inst.header
        *path, last = name.split(".")
        for part in path:
            target = getattr(target, part)
        setattr(target, last, value)
    return bytes(inst.finish())


def with_locator(**changes):
    data = base().finish()
    size = len(data)
    return bytes(craft.patch_locator(data, **{k: (v(size) if callable(v) else v) for k, v in changes.items()}))


def locator_cases():
    cases = []
    for v in (0, 1, TWO_GIB - 1, TWO_GIB, 0xFFFFFFFF, 512, lambda n: n, lambda n: n + 4096):
        cases.append((f"packageOffset={v if not callable(v) else 'end+' + str(v(0))}",
                      with_locator(package_offset=v), "damaged"))
    for v in (1, TWO_GIB - 1, TWO_GIB, 0xFFFFFFFF, lambda n: n):
        cases.append((f"checkedLength={v if not callable(v) else 'file size'}", with_locator(checked_length=v),
                      "damaged"))
    empty = craft.patch_locator(base().finish(), checked_length=0, checked_crc=0)
    cases.append(("checkedLength=0 crc=0", bytes(empty), "engine"))
    cases.append(("checkedLength=0 crc=1", bytes(craft.patch_locator(empty, checked_crc=1)), "damaged"))
    for v in (0, 1, 0xFFFFFFFF):
        cases.append((f"checkedCrc={v}", with_locator(checked_crc=v), "damaged"))
    for v, ending in ((0, "engine"), (1, "engine"), (-1, "engine"), (TWO_GIB - 1, "truncated"),
                      (TWO_GIB, "truncated"), (0xFFFFFFFF, "truncated"), (2 ** 63 - 1, "truncated"),
                      (lambda n: n + 1, "truncated")):
        cases.append((f"expectedFileSize={v if not callable(v) else 'size+1'}", with_locator(expected_size=v),
                      ending))
    for v, ending in ((1, "detached"), (lambda n: n, "detached"), (TWO_GIB - 1, "truncated"),
                      (TWO_GIB, "truncated"), (0xFFFFFFFF, "truncated"), (lambda n: n + 1, "truncated")):
        cases.append((f"detachedMinSize={v if not callable(v) else 'size'}",
                      with_locator(detached_min=v, expected_size=2 ** 40), ending))
    return cases


def header_cases():
    props = lambda byte0, dict_size: bytes([byte0]) + struct.pack("<I", dict_size)  # noqa: E731
    inside = lambda n, inst: inst.header.bitness_message.offset  # noqa: E731 - a real offset, not the engine's
    cases = [
        ("props byte 225", with_header(props=props(225, 1 << 16)), "damaged"),
        ("props byte 255", with_header(props=props(255, 1 << 16)), "damaged"),
        ("props lc+lp 5", with_header(props=props(4 + 9 * 1, 1 << 16)), "damaged"),
        ("dictionary 2^31-1", with_header(props=props(0x5D, TWO_GIB - 1)), "engine"),
        ("dictionary 2^31", with_header(props=props(0x5D, TWO_GIB)), "damaged"),
        ("dictionary 0xFFFFFFFF", with_header(props=props(0x5D, 0xFFFFFFFF)), "damaged"),
        ("no version supported", with_header(versions=bytes(8)), ("box", "UNSUPPORTED Windows 7")),
        ("every bit set", with_header(versions=b"\xff" * 8, min_release=0xFFFF, max_release=0), "engine"),
        ("elevation 255", with_header(elevation=255), "engine"),
        ("setupDataOffset 0xFFFFFFFF", with_header(setup_data_offset=0xFFFFFFFF), "engine"),
        ("reserved bytes set", with_header(reserved=b"\xff" * 12), "engine"),
        # payload32 offset 0 on 64-bit Windows takes payload64, here all zero: an empty engine
        # is written and cannot be started.
        ("payload32.offset=0", with_header(**{"payload32.offset": 0}), "launch"),
        ("payload32.unpacked=0", with_header(**{"payload32.unpacked": 0}), "launch"),
        ("payload64.offset=0xFFFFFFFF", with_header(**{"payload64.offset": 0xFFFFFFFF}), ("box", BITNESS)),
        ("payload64 at the image", with_header(**{"payload64.offset": 1, "payload64.packed": 100,
                                                  "payload64.unpacked": 100}), "damaged"),
        ("payload32.offset=end", with_header(**{"payload32.offset": lambda n, i: n}), "damaged"),
        ("payload32.offset=past end", with_header(**{"payload32.offset": lambda n, i: n + 100}), "damaged"),
        ("payload32.offset into the messages", with_header(**{"payload32.offset": inside}), "damaged"),
        ("payload32.packed=all that follows",
         with_header(**{"payload32.packed": lambda n, i: n - i.header.payload32.offset}), "engine"),
        ("payload32.unpacked=1", with_header(**{"payload32.unpacked": 1}), "damaged"),
        ("payload32.unpacked=2^31-1 with a tiny stream", with_header(**{"payload32.unpacked": TWO_GIB - 1}),
         "damaged"),
        ("bitness message of 0 units", with_header(**{"payload64.offset": 0xFFFFFFFF,
                                                      "bitness_message.length": 0}), ("box", "")),
        ("bitness message of 65535 units past the end", with_header(**{"payload64.offset": 0xFFFFFFFF,
                                                                       "bitness_message.length": 65535}),
         "damaged"),
        ("bitness message at 0xFFFFFFFF", with_header(**{"payload64.offset": 0xFFFFFFFF,
                                                        "bitness_message.offset": 0xFFFFFFFF}), "damaged"),
        ("unsupported message past the end", with_header(versions=bytes(8), **{
            "unsupported_message.offset": lambda n, i: n + 10}), "damaged"),
        ("unsupported message at 2^31", with_header(versions=bytes(8), **{
            "unsupported_message.offset": TWO_GIB}), "damaged"),
    ]
    for field in ("packed", "unpacked"):
        for v in (0, TWO_GIB, 0xFFFFFFFF):
            if (field, v) != ("unpacked", 0):
                cases.append((f"payload32.{field}={v}", with_header(**{f"payload32.{field}": v}), "damaged"))
    for v in (1, TWO_GIB - 1, TWO_GIB, 0xFFFFFFFF):
        cases.append((f"payload32.offset={v}", with_header(**{"payload32.offset": v}), "damaged"))
    # A message of 65535 units that lies in the file: shown as far as a message box carries
    # text (32766 characters); a longer text would show as an empty box.
    long_text = ("0123456789" * 6554)[:65535]
    inst = base()
    inst.add_message(long_text, "unsupported")
    inst.header.versions = bytes(8)
    cases.append(("unsupported message of 65535 units", bytes(inst.finish()), ("box", long_text[:32766])))
    return cases


def run_cases(prefix, cases, timeout_ms):
    """Runs every installer once in one Wine session, each with its own log and its own
    temporary folder; yields (name, expected, result, exe, copies left, engine runs)."""
    lines = []
    for i, (_, data, _) in enumerate(cases):
        exe = prefix.put(data, f"C:\\kt\\c\\case{i}.exe")
        prefix.host(f"C:\\kt\\t{i}").mkdir(parents=True)
        lines.append(f'"{exe}" /log=C:\\kt\\c\\case{i}.log /temp C:\\kt\\t{i}')
    results = prefix.run_many(lines, timeout_ms=timeout_ms)
    for i, ((name, _, expected), r) in enumerate(zip(cases, results)):
        left = sorted(p.name for p in prefix.host(f"C:\\kt\\t{i}").iterdir())
        runs = read_log(prefix, f"C:\\kt\\c\\case{i}.log")
        yield name, expected, r, f"C:\\kt\\c\\case{i}.exe", left, runs


def check_endings(prefix, cases):
    failures = []
    for name, expected, r, exe, left, runs in run_cases(prefix, cases, timeout_ms=8000):
        copy = exe.rsplit("\\", 1)[1]
        got = None
        if r.errors or len(r.exits) != 1 or r.exits[0] != 0:
            got = f"no defined ending: {r}"
        elif expected in ("engine", "detached"):
            if r.boxes or len(runs) != 1:
                got = f"boxes {r.boxes}, engine runs {len(runs)}"
            elif expected == "engine" and (left or not runs[0].get("ended")):
                got = f"copy left {left}"
            elif expected == "detached" and left != [copy]:
                got = f"detached copy {left}"
        else:
            text = {"damaged": DAMAGED, "truncated": TRUNCATED, "launch": LAUNCH}.get(expected)
            text = text if text is not None else expected[1]
            keeps = [copy] if expected == "launch" else []
            if r.boxes != [(exe, text)] or runs or left != keeps:
                got = f"boxes {[(c, t[:80]) for c, t in r.boxes]}, engine runs {len(runs)}, left {left}"
        if got:
            failures.append(f"{name}: expected {expected if isinstance(expected, str) else expected[0]}; {got}")
    assert not failures, "\n".join(failures)


def test_locator_fields_at_their_extremes(prefix):
    check_endings(prefix, locator_cases())


def test_header_fields_at_their_extremes(prefix):
    check_endings(prefix, header_cases())


def mutations(count, seed=20261211):
    """Random changes to the locator and the package of a valid installer; half of them with
    the CRC made right again, so that the header and the engine are reached too."""
    rng = random.Random(seed)
    good = bytes(base().finish())
    offset = struct.unpack_from("<I", good, 128)[0]
    cases = []
    for n in range(count):
        data = bytearray(good)
        for _ in range(rng.randint(1, 4)):
            region = rng.random()
            if region < 0.2:
                at = rng.randrange(128, 152)
            elif region < 0.6:
                at = rng.randrange(offset, offset + 70)
            else:
                at = rng.randrange(offset, len(data))
            data[at] = rng.randrange(256) if rng.random() < 0.5 else data[at] ^ (1 << rng.randrange(8))
        if rng.random() < 0.1:
            data = data[:rng.randrange(offset, len(data))]
        if n % 2:
            data = craft.refresh_crc(data)
        cases.append((f"mutation {n}", bytes(data), None))
    return cases


def test_random_mutations_end_in_a_defined_way(prefix):
    cases = mutations(300)
    failures = []
    for name, _, r, exe, left, runs in run_cases(prefix, cases, timeout_ms=5000):
        data = cases[int(name.split()[1])][1]
        if r.errors or r.exits != [0]:
            failures.append(f"{name}: {r}")
        elif r.boxes:
            # One box in the loader's style.  Its text may be any: a message record changed
            # with the CRC made right points the package's text at other bytes of the file.
            [(caption, text)] = r.boxes
            if caption != exe or runs or (left and text != LAUNCH):
                failures.append(f"{name}: box {text[:60]!r}, runs {len(runs)}, left {left}")
        elif len(runs) != 1:
            failures.append(f"{name}: no box and {len(runs)} engine runs")
        elif left and struct.unpack_from("<I", data, 148)[0] == 0:
            failures.append(f"{name}: copy left {left} by an installer that is not detached")
    assert not failures, "\n".join(failures)
