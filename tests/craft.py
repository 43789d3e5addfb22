"""Installers made without kestrune-pack: an independent writer of the package format, so
that tests can use an independent encoder (Python's lzma module, or the xz command, in raw
LZMA1 mode) and put any value into any field."""
import lzma
import struct
import subprocess
import zlib
from dataclasses import dataclass, field
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
STUB = ROOT / "dist" / "Stub98.exe"
PACK = ROOT / "dist" / "kestrune-pack"
ENGINES = ROOT / "build" / "windows" / "e2e"

VERSIONS = ["win95", "win98", "winme", "nt4", "win2000", "winxp", "vista", "win7", "win8", "win81", "win10",
            "win11"]
OTHER = 63


def version_set(names):
    bits = 0
    for n in names:
        bits |= 1 << (OTHER if n == "other" else VERSIONS.index(n))
    return bits.to_bytes(8, "little")


def props_bytes(lc=3, lp=0, pb=2, dict_size=1 << 16):
    return bytes([(pb * 5 + lp) * 9 + lc]) + struct.pack("<I", dict_size)


def encode_python(data, lc=3, lp=0, pb=2, dict_size=1 << 16):
    """Raw LZMA1 by Python's lzma module (it always ends with an end marker)."""
    return lzma.compress(data, format=lzma.FORMAT_RAW,
                         filters=[{"id": lzma.FILTER_LZMA1, "dict_size": dict_size, "lc": lc, "lp": lp, "pb": pb}])


def encode_xz(data, dict_size=1 << 16):
    """Raw LZMA1 by the xz command."""
    return subprocess.run(["xz", "--format=raw", f"--lzma1=preset=6,dict={dict_size},lc=3,lp=0,pb=2", "-c"],
                          input=data, stdout=subprocess.PIPE, check=True).stdout


@dataclass
class Entry:
    offset: int = 0
    packed: int = 0
    unpacked: int = 0

    def pack(self):
        return struct.pack("<III", self.offset, self.packed, self.unpacked)


@dataclass
class Message:
    offset: int = 0
    length: int = 0

    def pack(self):
        return struct.pack("<IH", self.offset, self.length)


@dataclass
class Header:
    props: bytes = field(default_factory=props_bytes)
    versions: bytes = field(default_factory=lambda: version_set(VERSIONS + ["other"]))
    min_release: int = 0
    max_release: int = 9999
    elevation: int = 0
    payload32: Entry = field(default_factory=Entry)
    payload64: Entry = field(default_factory=Entry)
    setup_data_offset: int = 0
    reserved: bytes = bytes(12)
    bitness_message: Message = field(default_factory=Message)
    unsupported_message: Message = field(default_factory=Message)

    def pack(self):
        out = (self.props + self.versions + struct.pack("<HHB", self.min_release, self.max_release, self.elevation) +
               self.payload32.pack() + self.payload64.pack() + struct.pack("<I", self.setup_data_offset) +
               self.reserved + self.bitness_message.pack() + self.unsupported_message.pack())
        assert len(out) == 70
        return out


@dataclass
class Locator:
    package_offset: int = 0
    checked_length: int = 0
    checked_crc: int = 0
    expected_size: int = 0
    detached_min: int = 0

    def pack(self):
        return struct.pack("<IIIqI", self.package_offset, self.checked_length, self.checked_crc,
                           self.expected_size, self.detached_min)


class Installer:
    """Stub image + header + blobs; offsets are absolute.  finish() computes the locator
    (unless fields are overridden afterwards with patch())."""

    def __init__(self, stub=None):
        self.image = bytearray(Path(stub or STUB).read_bytes())
        self.package_offset = len(self.image)
        self.header = Header()
        self.body = bytearray()  # behind the header

    def here(self):
        return self.package_offset + 70 + len(self.body)

    def add(self, blob):
        at = self.here()
        self.body += blob
        return at

    def add_engine(self, data, which=32, encoder=encode_python, **kw):
        packed = encoder(data, **kw)
        entry = Entry(self.add(packed), len(packed), len(data))
        setattr(self.header, f"payload{which}", entry)
        return entry

    def add_message(self, text, which="unsupported"):
        units = text.encode("utf-16-le")
        msg = Message(self.add(units), len(units) // 2)
        setattr(self.header, f"{which}_message", msg)
        return msg

    def finish(self, detached=False, checked_length=None):
        package = self.header.pack() + bytes(self.body)
        data = bytearray(self.image) + package
        length = len(package) if checked_length is None else checked_length
        region = bytes(data[self.package_offset:self.package_offset + length])
        self.locator = Locator(self.package_offset, length, zlib.crc32(region), len(data),
                               len(data) & 0xFFFFFFFF if detached else 0)
        data[128:152] = self.locator.pack()
        return data


def patch_locator(data, **fields):
    """Overwrites locator fields of a finished installer (no CRC update)."""
    loc = Locator(*struct.unpack_from("<IIIqI", data, 128))
    for k, v in fields.items():
        setattr(loc, k, v)
    data = bytearray(data)
    data[128:152] = loc.pack()
    return data


def refresh_crc(data):
    """Recomputes checkedCrc after the package was edited."""
    loc = Locator(*struct.unpack_from("<IIIqI", data, 128))
    region = bytes(data[loc.package_offset:loc.package_offset + loc.checked_length])
    return patch_locator(data, checked_crc=zlib.crc32(region))


def unpack_deb(work):
    """Makes the Debian package with CPack and unpacks it into work/root; returns the root
    and the package's control fields."""
    work = Path(work)
    subprocess.run(["cpack", "-G", "DEB", "--config", ROOT / "build" / "CPackConfig.cmake", "-B", work], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
    [deb] = sorted(ROOT.glob("dist/kestrune_*_amd64.deb"))
    root = work / "root"
    subprocess.run(["dpkg-deb", "-x", deb, root], check=True)
    info = subprocess.run(["dpkg-deb", "-f", deb, "Package", "Version", "Depends"], check=True,
                          stdout=subprocess.PIPE, text=True).stdout
    return root, info


def windows_zip():
    """Makes the zip for Windows users and returns its path."""
    subprocess.run(["cmake", "--build", ROOT / "build", "--target", "windows-zip"], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
    [zip_path] = sorted(ROOT.glob("dist/kestrune-pack-*-windows-x64.zip"))
    return zip_path


def pack(*args, check=True):
    """Runs kestrune-pack."""
    return subprocess.run([str(PACK), *map(str, args)], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          text=True, check=check)
