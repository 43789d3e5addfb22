#!/usr/bin/env python3
"""The main job: build a sample installer with kestrune-pack from the loader and our test
setup engines, run it under Wine as a user would, and show what happened."""
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
import winehost  # noqa: E402

ENGINES = winehost.E2E_BIN


def main():
    with tempfile.TemporaryDirectory(prefix="kestrune-demo-") as work:
        work = Path(work)
        installer = work / "KestruneDemoSetup.exe"
        print("Building a sample installer with kestrune-pack:")
        subprocess.run([str(winehost.DIST / "kestrune-pack"), "build", "--loader", str(winehost.DIST / "Stub98.exe"),
                        "--engine32", str(ENGINES / "engine32.exe"), "--engine64", str(ENGINES / "engine64.exe"),
                        "--windows", "win7,win8,win81,win10,win11",
                        "--unsupported-message", "This product needs Windows 7 or later; %USER% is not supported.",
                        "--bitness-message", "No setup engine fits this Windows.",
                        "--company", "Tarnwell", "--description", "Kestrune Demo Setup",
                        "--product-version", "1.0.0.0", "--copyright", "(c) 2026 Tarnwell",
                        "-o", str(installer)], check=True)
        subprocess.run([str(winehost.DIST / "kestrune-pack"), "verify", str(installer)], check=True)

        print(f"\n{winehost.mode_line()}.")
        print("Starting a fresh Wine prefix (the first run makes a template, about 20 s) ...")
        prefix = winehost.Prefix(work)
        try:
            exe = prefix.put(installer, "C:\\Downloads\\KestruneDemoSetup.exe")
            command = f'"{exe}" /log=C:\\Downloads\\engine.log "/dir=C:\\Program Files\\Demo" /exit=3'
            print(f"Running: {command}")
            result = prefix.run(command)
            for caption, text in result.boxes:
                print(f"  message box [{caption}]: {text}")
            print(f"  the loader ended with exit code {result.exit_code} (the engine's own was 3)")
            log = prefix.host("C:\\Downloads\\engine.log")
            print("\nWhat the setup engine saw:")
            for line in log.read_text("utf-8").splitlines():
                print(f"  {line}")
            copy = next((l.split("=", 1)[1] for l in log.read_text("utf-8").splitlines() if l.startswith("path=")),
                        None)
            if copy:
                gone = not prefix.host(copy).exists() if copy.upper().startswith("C:\\") else "?"
                print(f"\nTemporary copy {copy} removed after the engine ended: {gone}")

            bare = prefix.put(winehost.DIST / "Stub98.exe", "C:\\Downloads\\Stub98.exe")
            print(f"\nRunning the bare loader {bare} (no package attached):")
            for caption, text in prefix.run(f'"{bare}"').boxes:
                print(f"  message box [{caption}]: {text}")
        finally:
            prefix.close()


if __name__ == "__main__":
    main()
