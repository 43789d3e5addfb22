"""The loader's first steps under Wine: its own path, the "?" rule, a fixed message box."""
import winehost
from texts import DAMAGED


def test_path_outside_the_code_page_shows_the_path_message(prefix):
    exe = prefix.put(winehost.DIST / "Stub98.exe", "C:\\kt\\漢字\\Stub98.exe")
    result = prefix.run(f'"{exe}" /s')
    assert result.exit_code == 0
    assert len(result.boxes) == 1
    caption, text = result.boxes[0]
    assert caption == "Tarnwell Kestrune"
    assert text == ("The path to the installer C:\\kt\\??\\Stub98.exe contains characters that have been "
                    "replaced with question marks because they could not be represented in your computer's "
                    "default code page.  Please rename the installer and/or the folder it is in to remove the "
                    "unsupported characters.  Then run the installer again.")


def test_bare_loader_is_a_damaged_package_captioned_with_its_full_path(prefix):
    prefix.put(winehost.DIST / "Stub98.exe", "C:\\kt\\Setup\\Stub98.exe")
    result = prefix.run('"C:\\kt\\Setup\\Stub98.exe"')
    assert result.exit_code == 0
    assert result.boxes == [("C:\\kt\\Setup\\Stub98.exe", DAMAGED)]
