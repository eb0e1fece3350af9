"""A throwaway Wine prefix for the end-to-end tests: importing registry fixtures, reading the
registry back with Wine's own reg.exe, and running dunmarrow.exe with an optional relay trace."""
import os
import shutil
import subprocess
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
BUILD = ROOT / "build"
EXE_64 = BUILD / "windows-x64" / "dunmarrow.exe"
EXE_32 = BUILD / "windows-x86" / "dunmarrow.exe"
WINE_DIR = PREFIX = CHOICE = None


def use(folder):
    """Works in `folder`: the prefix, the fixtures written for it and its traces live there."""
    global WINE_DIR, PREFIX, CHOICE
    WINE_DIR = Path(folder)
    PREFIX = WINE_DIR / "prefix"
    CHOICE = WINE_DIR / "exe-under-test"


use(BUILD / "wine")

HKLM = "HKEY_LOCAL_MACHINE"
# Relay only what the checks read: the program's registry calls, its message box and its exit.
RELAY_TRACE = "+pid,+relay,+loaddll"
RELAY_INCLUDE = "RegOpenKeyExA;RegEnumKeyExA;RegDeleteKeyA;RegCloseKey;MessageBoxA;exit"


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


def wine_env(display=None, debug="-all"):
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    env.update(WINEPREFIX=str(PREFIX), WINEDLLOVERRIDES="mscoree,mshtml=", WINEDEBUG=debug,
               LANG="en_US.UTF-8", LC_ALL="en_US.UTF-8")
    if display:
        env["DISPLAY"] = display
    return env


def wine(*args, timeout=120, check=True, env=None):
    """Runs a Wine command. Its output goes to a file, not a pipe: Wine's background processes
    inherit the handles and would keep a pipe open long after the command ended."""
    log = WINE_DIR / "wine-command.log"
    with open(log, "wb") as sink:
        result = subprocess.run(["wine", *map(str, args)], env=env or wine_env(),
                                stdin=subprocess.DEVNULL, stdout=sink, stderr=sink,
                                timeout=timeout)
    if check and result.returncode != 0:
        raise RuntimeError(f"wine {' '.join(map(str, args))} exited {result.returncode}: "
                           f"{log.read_text(errors='replace')[-2000:]}")
    return result


def create_prefix():
    """Creates the prefix once for a test run and keeps its server up until stop_server()."""
    stop_server(check=False)
    shutil.rmtree(WINE_DIR, ignore_errors=True)
    PREFIX.mkdir(parents=True)
    # A persistent server spares every later Wine command its start-up.
    subprocess.run(["wineserver", "-p"], env=wine_env(), check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wine("wineboot", "-i", timeout=300)
    wine("reg", "add", r"HKCU\Software\Wine\Debug", "/v", "RelayInclude", "/t", "REG_SZ",
         "/d", RELAY_INCLUDE, "/f")
    CHOICE.write_text(str(choose_exe()))


def choose_exe():
    """The 32-bit product where this Wine runs 32-bit code, otherwise the x86-64 build."""
    probe = wine(r"C:\windows\syswow64\cmd.exe", "/c", "exit 7", check=False, timeout=60)
    return EXE_32 if probe.returncode == 7 else EXE_64


def exe_under_test():
    return Path(CHOICE.read_text()) if CHOICE.exists() else choose_exe()


def stop_server(check=True):
    if PREFIX.exists():
        subprocess.run(["wineserver", "-k"], env=wine_env(), check=check)
        subprocess.run(["wineserver", "-w"], env=wine_env(), check=False)


def restart_server(display=None):
    """Starts the prefix's Wine processes afresh, with or without a display: the desktop process
    that Wine starts first decides whether windows can appear at all."""
    stop_server(check=False)
    subprocess.run(["wineserver", "-p"], env=wine_env(display=display), check=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def reg_text(keys):
    """A .reg file: keys maps a path beneath HKLM to a list of (name, kind, data) values.
    A path starting with '-' deletes that key and its subtree."""
    lines = ["Windows Registry Editor Version 5.00", ""]
    for path, values in keys.items():
        if path.startswith("-"):
            lines += [f"[-{HKLM}\\{path[1:]}]", ""]
            continue
        lines.append(f"[{HKLM}\\{path}]")
        for name, kind, data in values:
            quoted = '"' + name.replace("\\", "\\\\").replace('"', '\\"') + '"'
            if kind == "sz":
                lines.append(quoted + '="' + data.replace("\\", "\\\\").replace('"', '\\"') + '"')
            elif kind == "dword":
                lines.append(f"{quoted}=dword:{data:08x}")
            else:
                raise ValueError(kind)
        lines.append("")
    return "\r\n".join(lines) + "\r\n"


def import_keys(keys, name="fixture"):
    path = WINE_DIR / f"{name}.reg"
    path.write_bytes(b"\xff\xfe" + reg_text(keys).encode("utf-16-le"))
    wine("regedit", "/S", windows_path(path), timeout=300)


def export_tree(path):
    """The whole tree beneath HKLM\\path as read by reg.exe: {key path: sorted value lines}.
    Empty when the key does not exist."""
    out = WINE_DIR / "export.reg"
    out.unlink(missing_ok=True)
    result = wine("reg", "export", f"HKLM\\{path}", windows_path(out), "/y", check=False)
    if result.returncode != 0 or not out.exists():
        return {}
    return parse_reg(out.read_bytes().decode("utf-16"))


def parse_reg(text):
    tree = {}
    current = None
    pending = ""
    for line in text.splitlines():
        if pending:
            line = pending + line.strip()
            pending = ""
        if line.endswith("\\") and current is not None and not line.startswith("["):
            pending = line[:-1]
            continue
        if line.startswith("[") and line.endswith("]"):
            current = line[1:-1]
            prefix = HKLM + "\\"
            assert current.startswith(prefix), current
            current = current[len(prefix):]
            tree[current] = []
        elif line and current is not None:
            tree[current].append(line)
    return {key: sorted(values) for key, values in tree.items()}


def run_program(*args, timeout=300):
    """Runs the program under test with a relay trace; returns (exit status, trace text).
    Wine passes only the low 8 bits of the status to Linux: the trace shows the whole of it."""
    trace_file = WINE_DIR / "relay.txt"
    with open(trace_file, "wb") as sink:
        result = subprocess.run(["wine", str(exe_under_test()), *args],
                                env=wine_env(debug=RELAY_TRACE), stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=sink, timeout=timeout)
    return result.returncode, trace_file.read_text(errors="replace")


XVFB = []


def start_xvfb():
    for number in range(90, 140):
        if not Path(f"/tmp/.X11-unix/X{number}").exists() and \
                not Path(f"/tmp/.X{number}-lock").exists():
            break
    display = f":{number}"
    XVFB.append(subprocess.Popen(["Xvfb", display, "-screen", "0", "1024x768x24", "-nolisten",
                                  "tcp"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
    for _ in range(100):
        if Path(f"/tmp/.X11-unix/X{number}").exists():
            return display
        time.sleep(0.1)
    raise RuntimeError("Xvfb did not start")


def stop_xvfb():
    for server in reversed(XVFB):
        server.terminate()
        server.wait(timeout=10)
    XVFB.clear()


def find_window(display, name, program, timeout=90):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", f"^{name}$"],
                                   env={"DISPLAY": display}, capture_output=True, text=True,
                                   timeout=10)
        except subprocess.TimeoutExpired:
            continue
        if found.returncode == 0 and found.stdout.split():
            return found.stdout.split()[0]
        if program.poll() is not None:
            raise RuntimeError(f"the program exited ({program.returncode}) "
                               "without showing its message box")
        time.sleep(0.25)
    raise RuntimeError(f"no window named {name!r} appeared")


def answer_message_box(display, shot, stderr=subprocess.DEVNULL, debug="-all"):
    """Runs the program under test on `display`, waits for its message box, saves a screenshot of
    it to `shot` and presses Enter. Returns (still running while shown, exit status)."""
    program = subprocess.Popen(["wine", str(exe_under_test())], env=wine_env(display, debug),
                               stdout=subprocess.DEVNULL, stderr=stderr)
    try:
        window = find_window(display, "Dunmarrow", program)
        time.sleep(1.0)  # let it finish painting
        waiting = program.poll() is None
        subprocess.run(["import", "-display", display, "-window", window, str(shot)], check=True)
        x_env = {"DISPLAY": display}
        subprocess.run(["xdotool", "windowactivate", "--sync", window], env=x_env,
                       stderr=subprocess.DEVNULL, check=False, timeout=10)
        subprocess.run(["xdotool", "key", "--window", window, "Return"], env=x_env,
                       stderr=subprocess.DEVNULL, check=True, timeout=10)
        return waiting, program.wait(timeout=60)
    finally:
        if program.poll() is None:
            program.kill()
