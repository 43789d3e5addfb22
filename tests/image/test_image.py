"""The loader's executable image read with pefile, an independent PE parser: layout,
settings, directories, resources and imports, value by value."""
import struct
import xml.etree.ElementTree as ET
from pathlib import Path

import pefile
import pytest

ROOT = Path(__file__).resolve().parents[2]
STUB = ROOT / "dist" / "Stub98.exe"

ALLOWED_IMPORTS = {
    "kernel32.dll": {
        "GetCommandLineA", "GetModuleFileNameA", "CreateFileA", "SetFilePointer", "ReadFile", "GetFileSize",
        "GetVersionExA", "GetTempPathA", "WriteFile", "DeleteFileA", "FindFirstFileA", "FindClose",
        "CreateProcessA", "WaitForSingleObject", "CloseHandle", "GetModuleHandleA", "GetProcAddress",
        "GetCurrentProcess", "MultiByteToWideChar", "WideCharToMultiByte", "ExitProcess", "GetProcessHeap",
        "HeapAlloc", "HeapReAlloc", "HeapFree", "LoadLibraryA", "GetSystemDirectoryA", "GetLastError"},
    "advapi32.dll": {"RegOpenKeyExA", "RegQueryValueExA", "RegCloseKey", "AllocateAndInitializeSid", "FreeSid"},
    "user32.dll": {"MessageBoxA", "CharNextA"},
}


@pytest.fixture(scope="module")
def data():
    return STUB.read_bytes()


@pytest.fixture(scope="module")
def pe(data):
    return pefile.PE(data=data)


def test_dos_header_and_stub(data):
    words = struct.unpack_from("<2s13H4H", data, 0)
    assert words[0] == b"MZ"
    assert words[1:14] == (0x50, 2, 0, 4, 0x0F, 0xFFFF, 0, 0xB8, 0, 0, 0, 0x40, 0x1A)
    assert data[36:60] == bytes(24)  # the reserved words and OEM fields
    assert struct.unpack_from("<I", data, 60)[0] == 0x100
    code = data[64:80]
    assert code[:14] == bytes([0x0E, 0x1F, 0xBA, 0x10, 0x00, 0xB4, 0x09, 0xCD, 0x21, 0xB8, 0x01, 0x4C, 0xCD, 0x21])
    assert data[80:119] == b"This program must be run under Win32\r\n$"
    # The locator's room and everything around it up to the PE header is zero.
    assert data[120:256] == bytes(136)
    assert data[256:260] == b"PE\0\0"


def test_image_settings(pe):
    fh, oh = pe.FILE_HEADER, pe.OPTIONAL_HEADER
    assert fh.Machine == 0x14C
    assert fh.Characteristics == 0x818F
    assert oh.Magic == 0x10B
    assert oh.ImageBase == 0x400000
    assert (oh.SectionAlignment, oh.FileAlignment) == (0x1000, 0x200)
    assert (oh.MajorOperatingSystemVersion, oh.MinorOperatingSystemVersion) == (4, 0)
    assert (oh.MajorSubsystemVersion, oh.MinorSubsystemVersion) == (4, 0)
    assert oh.Subsystem == 2
    assert oh.DllCharacteristics == 0
    assert (oh.SizeOfStackReserve, oh.SizeOfStackCommit) == (0x100000, 0x4000)
    assert (oh.SizeOfHeapReserve, oh.SizeOfHeapCommit) == (0x100000, 0x1000)
    assert oh.CheckSum == 0


def test_directories(pe):
    present = {d.name for d in pe.OPTIONAL_HEADER.DATA_DIRECTORY if d.VirtualAddress or d.Size}
    for name in ("IMPORT", "RESOURCE", "TLS", "IAT"):
        assert f"IMAGE_DIRECTORY_ENTRY_{name}" in present
    for name in ("EXPORT", "SECURITY", "DEBUG", "LOAD_CONFIG", "BASERELOC"):
        assert f"IMAGE_DIRECTORY_ENTRY_{name}" not in present
    tls = pe.DIRECTORY_ENTRY_TLS.struct
    assert tls.AddressOfCallBacks == 0 and tls.StartAddressOfRawData == tls.EndAddressOfRawData


def test_sections_end_at_a_multiple_of_512_and_nothing_follows(pe, data):
    end = max(s.PointerToRawData + s.SizeOfRawData for s in pe.sections)
    assert end % 512 == 0
    assert len(data) == end


def test_imports_are_only_the_allowed_functions(pe):
    seen = {}
    for entry in pe.DIRECTORY_ENTRY_IMPORT:
        dll = entry.dll.decode().lower()
        assert dll in ALLOWED_IMPORTS, f"imports from {dll}"
        names = {i.name.decode() for i in entry.imports}
        assert None not in names
        assert names <= ALLOWED_IMPORTS[dll], names - ALLOWED_IMPORTS[dll]
        seen[dll] = names
    for never in ("IsWow64Process", "CheckTokenMembership", "SetDefaultDllDirectories", "ShellExecuteExA",
                  "WNetGetUniversalNameA"):
        assert all(never not in names for names in seen.values())


def resources(pe):
    """{(type, name): [(language, bytes)]}"""
    out = {}
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for n in t.directory.entries:
            name = str(n.name) if n.name is not None else n.id
            for lang in n.directory.entries:
                rva, size = lang.data.struct.OffsetToData, lang.data.struct.Size
                out.setdefault((t.id, name), []).append((lang.id, pe.get_data(rva, size)))
    return out


def test_manifest(pe):
    res = resources(pe)
    [(lang, manifest)] = res[(24, 1)]
    assert lang == 0x409
    assert manifest.startswith(b'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>')
    manifest.decode("utf-8")
    root = ET.fromstring(manifest, parser=ET.XMLParser(target=ET.TreeBuilder(insert_comments=True)))
    v1, v3 = "{urn:schemas-microsoft-com:asm.v1}", "{urn:schemas-microsoft-com:asm.v3}"
    compat = "{urn:schemas-microsoft-com:compatibility.v1}"
    assert root.tag == v1 + "assembly" and root.get("manifestVersion") == "1.0"
    assert b'xmlns:asmv3="urn:schemas-microsoft-com:asm.v3"' in manifest
    assert root.find(v1 + "description").text == "Kestrune Installer"
    app = root.find(f"{compat}compatibility/{compat}application")
    items = [(c.text.strip() if c.tag is ET.Comment else c.get("Id")) for c in app]
    assert items == ["Vista", "{e2011457-1546-43c5-a5fe-008deee3d3f0}", "7", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                     "8", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "8.1", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                     "10", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"]
    level = root.find(f"{v3}trustInfo/{v3}security/{v3}requestedPrivileges/{v3}requestedExecutionLevel")
    assert (level.get("level"), level.get("uiAccess")) == ("asInvoker", "false")
    ws = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
    dpi = root.find(f"{v3}application/{v3}windowsSettings/{ws}dpiAware")
    assert dpi.text == "true"
    assert root.find(f".//{v1}dependency") is None and b"dependency" not in manifest


def test_icon_group_of_fourteen_images(pe):
    res = resources(pe)
    [(lang, group)] = res[(14, "MAINICON")]
    assert lang == 0x409
    reserved, kind, count = struct.unpack_from("<3H", group, 0)
    assert (reserved, kind, count) == (0, 1, 14)
    sizes = []
    for i in range(count):
        w, h, colors, _, planes, bpp, nbytes, ident = struct.unpack_from("<4B2HIH", group, 6 + 14 * i)
        [(ilang, image)] = res[(3, ident)]
        assert ilang == 0x409 and len(image) == nbytes and bpp == 32
        size = w or 256
        assert (h or 256) == size
        if size == 256:
            assert image.startswith(b"\x89PNG\r\n\x1a\n")
            assert struct.unpack(">II", image[16:24]) == (256, 256)
        else:
            hdr = struct.unpack_from("<IiiHH", image, 0)
            assert hdr == (40, size, 2 * size, 1, 32)
        sizes.append(size)
    assert sorted(sizes) == [16, 20, 24, 28, 32, 36, 40, 48, 56, 64, 72, 80, 96, 256]
    assert sorted(ident for (t, ident) in res if t == 3) == list(range(1, 15))


def test_version_block(pe):
    res = resources(pe)
    [(lang, _)] = res[(16, 1)]
    assert lang == 0x409
    fixed = pe.VS_FIXEDFILEINFO[0]
    assert (fixed.FileFlagsMask, fixed.FileFlags, fixed.FileOS, fixed.FileType, fixed.FileSubtype) == (
        0x3F, 0, 4, 1, 0)
    assert (fixed.FileDateMS, fixed.FileDateLS) == (0, 0)
    tables, translation = [], None
    for info in pe.FileInfo[0]:
        if info.Key == b"StringFileInfo":
            tables = info.StringTable
        elif info.Key == b"VarFileInfo":
            translation = info.Var[0].entry
    assert [t.LangID for t in tables] == [b"040904E4"]
    keys = [k.decode() for k in tables[0].entries]
    assert keys == ["CompanyName", "FileDescription", "FileVersion", "InternalName", "LegalCopyright",
                    "LegalTrademarks", "OriginalFilename", "ProductName", "ProductVersion", "Comments"]
    entries = {k.decode(): v.decode() for k, v in tables[0].entries.items()}
    assert entries["InternalName"] == "Setup"
    assert entries["ProductName"] == "Kestrune"
    assert entries["LegalTrademarks"] == "" and entries["OriginalFilename"] == ""
    # Room for the package builder: fields of blanks.
    for key in ("CompanyName", "FileDescription", "FileVersion", "LegalCopyright", "ProductVersion"):
        assert entries[key].strip() == "" and len(entries[key]) >= 32
    assert translation == {b"Translation": "0x0409 0x04e4"}
