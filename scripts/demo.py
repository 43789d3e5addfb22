#!/usr/bin/env python3
"""The main job: run the built loader under Wine and show what it does."""
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
import winehost  # noqa: E402


def main():
    with tempfile.TemporaryDirectory(prefix="kestrune-demo-") as work:
        prefix = winehost.Prefix(work)
        try:
            exe = prefix.put(winehost.DIST / "Stub98.exe", "C:\\Demo\\Stub98.exe")
            print(f"Running the bare loader {exe} under Wine (no package attached):")
            result = prefix.run(f'"{exe}"')
            for caption, text in result.boxes:
                print(f"  message box  [{caption}]\n    {text}")
            print(f"  exit code    {result.exit_code}")
        finally:
            prefix.close()


if __name__ == "__main__":
    main()
