"""The installer from double-click to clean-up under Wine: the copy, the start, the wait."""
import subprocess
import time

import craft
import winehost
from conftest import read_log
from texts import TEMP_COPY

LOG = "C:\\kt\\log.txt"


def shell_starts(prefix):
    """What reached the shell, from Wine's exec channel (runs with WINEDEBUG=+exec)."""
    return [line for line in prefix.log.read_text("utf-8", "replace").splitlines()
            if "trace:exec:SHELL_execute mask=" in line and "\\\\Temp\\\\setup.exe" in line]


def temp_files(prefix):
    temp = prefix.host("C:\\users\\root\\Temp") if prefix.host("C:\\users\\root\\Temp").exists() else None
    return sorted(p.name for p in temp.iterdir()) if temp else []


def test_engine_sees_the_installer_and_every_argument(prefix, build):
    exe = prefix.put(build(), "C:\\kt\\Downloads\\setup.exe")
    r = prefix.run(f'"{exe}" /log={LOG} "two words" /x /exit=3 /linger=800')
    assert r.boxes == [] and r.exit_code == 0  # not the engine's 3
    [run] = read_log(prefix, LOG)
    copy = run["path"]
    assert run["cmdline"] == f'"{copy}" "{exe}" /log={LOG} "two words" /x /exit=3 /linger=800'
    assert run["cwd"] == "C:\\kt\\Downloads"
    assert run.get("ended"), "the loader returned before its engine ended"
    assert not prefix.host(copy).exists()
    assert copy.lower().endswith("\\temp\\setup.exe")


def test_temp_folder_options(prefix, build):
    exe = prefix.put(build(), "C:\\kt\\Downloads\\setup.exe")
    prefix.host("C:\\Work Dir").mkdir()
    r = prefix.run(f'"{exe}" /temp "C:\\Work Dir" /log={LOG}')
    assert r.boxes == []
    assert read_log(prefix, LOG)[-1]["path"] == "C:\\Work Dir\\setup.exe"
    r = prefix.run(f'"{exe}" /log={LOG} /temp')
    assert r.boxes == []
    assert read_log(prefix, LOG)[-1]["path"] == "C:\\kt\\Downloads\\setup2.exe"
    assert sorted(p.name for p in prefix.host("C:\\kt\\Downloads").iterdir()) == ["setup.exe"]


def test_temp_folder_that_does_not_exist(prefix, build):
    exe = prefix.put(build(), "C:\\kt\\setup.exe")
    before = temp_files(prefix)
    r = prefix.run(f'"{exe}" /temp C:\\Nowhere /log={LOG}')
    assert r.boxes == [(exe, TEMP_COPY)] and r.exit_code == 0
    assert not prefix.host("C:\\Nowhere").exists() and temp_files(prefix) == before
    assert read_log(prefix, LOG) == []


def test_engine_by_bitness(prefix, prefix32, build):
    path = build()
    for p, args, bits in [(prefix, "", "64"), (prefix, " /32", "32"), (prefix32, "", "32")]:
        exe = p.put(path, "C:\\kt\\setup.exe")
        r = p.run(f'"{exe}" /log={LOG}{args}')
        assert r.boxes == [] and r.exit_code == 0, (p.arch, args)
        assert read_log(p, LOG)[-1]["bits"] == bits, (p.arch, args)


def test_standard_user_goes_through_the_shell(prefix, build):
    exe = prefix.put(build(), "C:\\kt\\setup.exe")
    r = prefix.run(f'"{exe}" /log={LOG}', restricted=True, env={"WINEDEBUG": "+exec"})
    assert r.errors == [] and r.boxes == [] and r.exit_code == 0
    starts = shell_starts(prefix)
    assert starts and all('verb=L"open"' in s and "mask=0x00000040" in s and "show=0x00000005" in s
                          for s in starts)
    [run] = read_log(prefix, LOG)
    assert run["admin"] == "0"
    assert run["cmdline"].endswith(f'"{exe}" /log={LOG} /noadmin')
    assert run.get("ended") and not prefix.host(run["path"]).exists()


def test_silent_runas_for_a_standard_user(prefix, build):
    exe = prefix.put(build("--elevation", "runas"), "C:\\kt\\setup.exe")
    r = prefix.run(f'"{exe}" /s /log={LOG}', restricted=True, env={"WINEDEBUG": "+exec"})
    assert r.boxes == [] and r.exit_code == 0
    [run] = read_log(prefix, LOG)
    assert "/noadmin" not in run["cmdline"] and run["cmdline"].endswith(f'"{exe}" /s /log={LOG}')
    starts = shell_starts(prefix)
    assert starts and all('verb=L"runas"' in s for s in starts)


def test_detached_installer_returns_and_leaves_its_copy(prefix, build):
    exe = prefix.put(build("--detached"), "C:\\kt\\setup.exe")
    linger = 3.0 * winehost.SLOW
    started = time.monotonic()
    r = prefix.run(f'"{exe}" /log={LOG} /linger={int(linger * 1000)}')
    assert r.boxes == [] and r.exit_code == 0
    assert time.monotonic() - started < linger
    time.sleep(0.5)
    [run] = read_log(prefix, LOG)
    assert "ended" not in run  # still lingering: the loader did not wait
    assert prefix.host(run["path"]).exists()


def test_signed_installer_runs_as_unsigned(prefix, build, tmp_path):
    path = build()
    key, cert, signed = tmp_path / "k.pem", tmp_path / "c.pem", tmp_path / "signed.exe"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=T",
                    "-keyout", key, "-out", cert], check=True, capture_output=True)
    subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-in", path, "-out", signed],
                   check=True, capture_output=True)
    exe = prefix.put(signed, "C:\\kt\\setup.exe")
    r = prefix.run(f'"{exe}" /log={LOG} /exit=5')
    assert r.boxes == [] and r.exit_code == 0
    [run] = read_log(prefix, LOG)
    assert run.get("ended") and not prefix.host(run["path"]).exists()


def test_two_installers_at_the_same_moment(prefix, build):
    exe = prefix.put(build(), "C:\\kt\\setup.exe")
    r = prefix.run(f'"{exe}" /log={LOG} /linger=1500', count=2)
    assert r.boxes == [] and r.exits == [0, 0]
    runs = read_log(prefix, LOG)
    assert len(runs) == 2 and all(run.get("ended") for run in runs)
    paths = {run["path"] for run in runs}
    assert len(paths) == 2, paths
    assert not any(prefix.host(p).exists() for p in paths)


def test_planted_mpr_is_never_loaded(prefix, build):
    overrides = {"WINEDLLOVERRIDES": "mscoree,mshtml=;mpr=n,b"}
    planted = craft.ENGINES / "planted" / "mpr.dll"
    prefix.put(planted, "C:\\kt\\Downloads\\mpr.dll")
    marker = prefix.host("C:\\kt\\Downloads\\planted-loaded.txt")
    # The control: a program that imports mpr statically takes the planted copy.
    user = prefix.put(craft.ENGINES / "static_mpr_user.exe", "C:\\kt\\Downloads\\user.exe")
    prefix.run(f'"{user}"', env=overrides)
    assert marker.exists(), "the planted DLL was not picked up by a static import"
    marker.unlink()
    exe = prefix.put(build(), "C:\\kt\\Downloads\\setup.exe")
    r = prefix.run(f'"{exe}" /log={LOG}', env=overrides)
    assert r.boxes == [] and r.exit_code == 0
    assert read_log(prefix, LOG)[-1].get("ended")
    assert not marker.exists()
