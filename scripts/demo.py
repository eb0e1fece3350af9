#!/usr/bin/python3
"""Shows Dunmarrow's main job in a throwaway Wine prefix: a registry holding the driver package's
leftovers beside keys that must stay, the program's run and its message box, and what is left."""
import os
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "wine"))
import fixtures  # noqa: E402
import relay  # noqa: E402
import winereg  # noqa: E402
from fixtures import LISTED, SERVICES, SYSTEM_LOG, TESSAMOOR, APIS  # noqa: E402

DEMO = winereg.BUILD / "demo"
SHOWN_TREES = [TESSAMOOR, SERVICES]


def typical_leftovers():
    """What the driver package and its tools typically leave: every listed key with a small
    subtree and values, and the vendor's other keys and unrelated services beside them."""
    keys = {
        TESSAMOOR: [("Vendor", "sz", "Tessamoor")],
        TESSAMOOR + r"\Brisolde": [("Version", "sz", "4.2.1")],
        TESSAMOOR + r"\Brisolde\Settings": [("Profile", "sz", "Default")],
        TESSAMOOR + r"\Corvanth": [("Version", "sz", "1.7")],
        TESSAMOOR + r"\Corvanth\Plugins\Capture": [("Enabled", "dword", 1)],
        TESSAMOOR + r"\Kestrune": [("Version", "sz", "3.0")],
        TESSAMOOR + r"\Pellinor": [("Version", "sz", "2.0")],
        APIS: [("Count", "dword", 2)],
        APIS + r"\1": [("Path", "sz", "api1.dll")],
        APIS + r"\1\Exports": [("Count", "dword", 12)],
        APIS + r"\2": [("Path", "sz", "api2.dll")],
    }
    for name in fixtures.SERVICE_NAMES:
        keys[SERVICES + "\\" + name] = fixtures.service(name, rf"\SystemRoot\System32\drivers\{name}.sys")
        keys[SERVICES + "\\" + name + r"\Parameters"] = [("Mode", "dword", 2)]
        keys[SERVICES + "\\" + name + r"\Enum"] = [("Count", "dword", 1)]
    for name in fixtures.EVENT_SOURCES + ["tarnwemk", "tarnwemr"]:
        keys[SYSTEM_LOG + "\\" + name] = fixtures.event_source(name)
    keys[SERVICES + r"\tarnhivx"] = fixtures.service("tarnhivx", "tarnhivx.sys")
    return keys


def relevant(key):
    """Keys of the demo's registry worth listing: everything under Tessamoor, and beneath Services
    only the package's names (Wine's own services are left out of the listing)."""
    if fixtures.within(key, TESSAMOOR):
        return True
    tail = key[len(SERVICES) + 1:].lower() if fixtures.within(key, SERVICES) else ""
    return "tarn" in tail


def snapshot():
    tree = {}
    for path in SHOWN_TREES:
        tree.update(winereg.export_tree(path))
    return {key: values for key, values in tree.items() if relevant(key)}


def show(before, after=None):
    for key in sorted(before, key=str.lower):
        listed = any(fixtures.within(key, tree) for tree in LISTED)
        mark = ""
        if after is not None:
            gone = key.lower() not in {k.lower() for k in after}
            mark = "  [removed]" if gone else "  [kept]"
            if gone != listed:
                mark += "  <-- UNEXPECTED"
        print(f"  HKLM\\{key}{mark}")


def run_with_box():
    """Runs the program with a real message box; returns its exit status, the message it showed
    (read from a relay trace of its calls) and the screenshot taken, if any."""
    exe = winereg.exe_under_test()
    display = os.environ.get("DISPLAY")
    virtual = not display
    if virtual:
        print(f"Running {exe.relative_to(winereg.ROOT)} under Wine, on a virtual display (Xvfb).")
        display = winereg.start_xvfb()
    else:
        print(f"Running {exe.relative_to(winereg.ROOT)} under Wine: dismiss its message box to go on.")
    winereg.restart_server(display)
    trace_file = DEMO / "relay.txt"
    shot = None
    try:
        with open(trace_file, "wb") as trace:
            if virtual:
                shot = DEMO / "messagebox.png"
                _, status = winereg.answer_message_box(display, shot, trace,
                                                       winereg.RELAY_TRACE)
            else:
                env = winereg.wine_env(display, winereg.RELAY_TRACE)
                status = subprocess.run(["wine", str(exe)], env=env, stdout=subprocess.DEVNULL,
                                        stderr=trace).returncode
    finally:
        if virtual:
            winereg.stop_xvfb()
    report = relay.check(trace_file.read_text(errors="replace"))
    return status, report, shot


def main():
    winereg.use(DEMO)
    print(f"Creating a throwaway Wine prefix in {winereg.PREFIX} ...")
    winereg.create_prefix()
    try:
        winereg.import_keys(typical_leftovers())
        before = snapshot()
        print("\nBefore: the driver package's keys and their neighbours")
        show(before)
        print()
        status, report, shot = run_with_box()
        after = snapshot()
    finally:
        winereg.stop_server(check=False)
    for _, text, caption, _ in report.boxes:
        print(f"\nThe message box, captioned {caption!r}, said:")
        for line in text.splitlines():
            print(f"  {line}")
    if shot:
        print(f"Screenshot of it: {shot.relative_to(winereg.ROOT)}")
    print("\nAfter: the listed keys are gone, their neighbours stay")
    show(before, after)
    print(f"\ndunmarrow.exe exited with status {report.exit_status}")
    return status


if __name__ == "__main__":
    sys.exit(main())
