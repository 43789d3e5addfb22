"""Running the real loader under Wine, as a user would.

A template prefix is made once (`wineboot -i`) and cached in the build tree; every test
gets a clone of it made with hard links, with real copies of the registry files that Wine
rewrites in place, and a persistent wineserver of its own.  Programs run through our
helper launch.exe, which reads and answers message boxes and reports exit codes.
"""
import os
import shutil
import subprocess
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("KESTRUNE_BUILD", ROOT / "build"))
DIST = ROOT / "dist"
E2E_BIN = BUILD / "windows" / "e2e"


def _i386_mode():
    """native, emulated (qemu through binfmt_misc) or unavailable: how 32-bit Windows
    programs run here, as scripts/i386-mode.sh finds it."""
    r = subprocess.run(["bash", str(ROOT / "scripts" / "i386-mode.sh"), "--short"], stdout=subprocess.PIPE,
                       stderr=subprocess.DEVNULL, text=True)
    return r.stdout.strip() or "unavailable"


I386_MODE = _i386_mode()
# Time limits for 32-bit programs are stated for a native machine and stretched by this
# factor under emulation, where a 32-bit Wine process starts in about 0.3 s instead of 0.03 s
# and the loader's own decoding is emulated too.
SLOW = 4 if I386_MODE == "emulated" else 1


def wine_env(prefix, arch="win64", extra=None):
    env = {k: v for k, v in os.environ.items() if not k.startswith("WINE") and k != "DISPLAY"}
    env.update(
        WINEPREFIX=str(prefix),
        WINEARCH=arch,
        WINEDLLOVERRIDES="mscoree,mshtml=",
        WINEDEBUG="-all",
        LANG="C.UTF-8",
        LC_ALL="C.UTF-8",
    )
    if extra:
        env.update(extra)
    return env


def _run(args, env, log, timeout=180):
    # Never through a pipe: Wine's background services inherit it and the reader hangs.
    with open(log, "ab") as out:
        return subprocess.run(args, env=env, stdout=out, stderr=subprocess.STDOUT, timeout=timeout * SLOW).returncode


def template(arch="win64"):
    """The cached template prefix for arch, made on first use."""
    base = BUILD / "wine"
    path = base / f"template-{arch}"
    done = path / ".kestrune-ready"
    if done.exists():
        return path
    shutil.rmtree(path, ignore_errors=True)
    base.mkdir(parents=True, exist_ok=True)
    env = wine_env(path, arch)
    log = base / f"template-{arch}.log"
    _run(["wineboot", "-i"], env, log, timeout=600)
    # No display here: the null driver still makes message boxes block as on Windows.
    _run(["wine", "reg", "add", r"HKCU\Software\Wine\Drivers", "/v", "Graphics", "/d", "null", "/f"], env, log)
    _run(["wineserver", "-k"], env, log)
    _run(["wineserver", "-w"], env, log)
    if not (path / "system.reg").exists():
        raise RuntimeError(f"wineboot failed ({mode_line()}); see {log}")
    done.touch()
    return path


def mode_line():
    return {"native": "32-bit Windows programs run natively",
            "emulated": "32-bit Windows programs run emulated (qemu-i386 through binfmt_misc)"}.get(
        I386_MODE, "32-bit Windows programs cannot run here: run scripts/install-deps.sh")


class Result:
    def __init__(self, text):
        self.boxes = []   # (caption, text)
        self.exits = []
        self.errors = []
        for line in text.splitlines():
            parts = line.split("\t")
            fields = [p.replace("\\n", "\n").replace("\\r", "\r").replace("\\t", "\t").replace("\\\\", "\\")
                      for p in parts[1:]]
            if parts[0] == "box":
                self.boxes.append((fields[0], fields[1]))
            elif parts[0] == "exit":
                self.exits.append(int(fields[0]))
            elif parts[0] == "error":
                self.errors.append(fields[0])

    @property
    def exit_code(self):
        assert len(self.exits) == 1, f"exits {self.exits}, errors {self.errors}"
        return self.exits[0]

    def __repr__(self):
        return f"Result(boxes={self.boxes}, exits={self.exits}, errors={self.errors})"


class Prefix:
    """A clone of the template with its own wineserver; files live under C:\\kt."""

    def __init__(self, workdir, arch="win64"):
        self.arch = arch
        self.path = Path(workdir) / f"prefix-{arch}"
        src = template(arch)
        subprocess.run(["cp", "-al", str(src), str(self.path)], check=True)
        for reg in self.path.glob("*.reg"):
            reg.unlink()
            shutil.copy2(src / reg.name, reg)
        self.drive_c = self.path / "drive_c"
        self.kt = self.drive_c / "kt"
        self.kt.mkdir()
        self.log = Path(workdir) / f"wine-{arch}.log"
        shutil.copy2(E2E_BIN / "launch.exe", self.kt / "launch.exe")
        self._server()

    def env(self, extra=None):
        return wine_env(self.path, self.arch, extra)

    def _server(self):
        _run(["wineserver", "-p"], self.env(), self.log)

    def close(self):
        _run(["wineserver", "-k"], self.env(), self.log)

    def host(self, winpath):
        """The host path of C:\\... inside this prefix."""
        assert winpath[:3].upper() == "C:\\", winpath
        return self.drive_c.joinpath(*[p for p in winpath[3:].split("\\") if p])

    def put(self, source, winpath):
        target = self.host(winpath)
        target.parent.mkdir(parents=True, exist_ok=True)
        if isinstance(source, (bytes, bytearray)):
            target.write_bytes(source)
        else:
            shutil.copyfile(source, target)
        return winpath

    def reg_add(self, key, name, value, kind="REG_SZ", view=None):
        """Registry changes take effect for processes started afterwards."""
        args = ["wine", "reg", "add", key, "/v", name, "/t", kind, "/d", str(value), "/f"]
        if view:
            args.append(f"/reg:{view}")
        _run(args, self.env(), self.log)
        _run(["wineserver", "-k"], self.env(), self.log)
        _run(["wineserver", "-w"], self.env(), self.log)
        self._server()

    def console(self, *args, timeout=300):
        """Runs a console program of this prefix directly (not through launch.exe), its output
        sent to files; returns (exit status, stdout, stderr)."""
        tag = f"{time.monotonic_ns()}"
        out, err = self.path / f"out-{tag}.txt", self.path / f"err-{tag}.txt"
        with open(out, "wb") as o, open(err, "wb") as e:
            rc = subprocess.run(["wine", *map(str, args)], env=self.env(), stdout=o, stderr=e,
                                timeout=timeout * SLOW).returncode
        result = (rc, out.read_text("utf-8", "replace"), err.read_text("utf-8", "replace"))
        out.unlink()
        err.unlink()
        return result

    def run(self, command_line, **kw):
        """Starts command_line (exactly as given) through launch.exe and reports."""
        [result] = self.run_many([command_line], **kw)
        return result

    def run_many(self, command_lines, restricted=False, count=1, hold_write=None, timeout_ms=60000, env=None):
        """Runs each command line in turn in one Wine session; the timeout is per run, as on a
        native machine (stretched by SLOW under emulation)."""
        assert all("\n" not in c for c in command_lines)
        tag = f"{time.monotonic_ns()}"
        cmd_file = self.kt / f"cmd-{tag}.txt"
        result_file = self.kt / f"result-{tag}.txt"
        cmd_file.write_bytes("\n".join(command_lines).encode("utf-8"))
        args = ["wine", r"C:\kt\launch.exe", rf"C:\kt\result-{tag}.txt"]
        if restricted:
            args.append("--restricted")
        if count != 1:
            args += ["--count", str(count)]
        if hold_write:
            args += ["--hold-write", hold_write]
        args += ["--timeout", str(timeout_ms * SLOW), rf"C:\kt\cmd-{tag}.txt"]
        _run(args, self.env(env), self.log, timeout=len(command_lines) * (timeout_ms / 1000 + 5) + 60)
        text = result_file.read_text("utf-8") if result_file.exists() else ""
        cmd_file.unlink()
        chunks = [c for c in text.split("run\t")[1:]]
        results = [Result(c.split("\n", 1)[1] if "\n" in c else "") for c in chunks]
        while len(results) < len(command_lines):
            results.append(Result("error\tno result\n"))
        return results
