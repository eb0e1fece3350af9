"""Reads a Wine relay trace (WINEDEBUG=+pid,+relay,+loaddll) and checks the registry and message
box calls that dunmarrow.exe itself made."""
import re
from dataclasses import dataclass, field

HKLM_VALUES = {0x80000002, 0xFFFFFFFF80000002}
KEY_ALL_ACCESS = 0xF003F
ERROR_NO_MORE_ITEMS = 259

LOADED = re.compile(r'^([0-9a-f]+):[0-9a-f]+:trace:loaddll:\w+ Loaded L"[^"]*\\\\dunmarrow\.exe" '
                    r'at ([0-9a-f]+)', re.IGNORECASE)
CALL = re.compile(r'^([0-9a-f]+):[0-9a-f]+:Call (\w+)\.(\w+)\((.*)\) ret=([0-9a-f]+)$')
RET = re.compile(r'^([0-9a-f]+):[0-9a-f]+:Ret  (\w+)\.(\w+)\(\) retval=([0-9a-f]+) ret=([0-9a-f]+)$')
# A hex value, then the string it points to, if any; Wine cuts long strings short with "...".
ARG = re.compile(r'([0-9a-f]+)(?: (L?"(?:[^"\\]|\\.)*"(?:\.\.\.)?))?(?:,|$)')
IMAGE_SPAN = 0x100000


def unescape(quoted):
    """The string as the program passed it; one that the trace cut short keeps a "..." ending."""
    cut = quoted.endswith('"...')
    body = quoted[quoted.index('"') + 1:-4 if cut else -1]
    out, i = [], 0
    simple = {"n": "\n", "r": "\r", "t": "\t", "\\": "\\", '"': '"'}
    while i < len(body):
        if body[i] == "\\" and i + 1 < len(body):
            nxt = body[i + 1]
            if nxt in simple:
                out.append(simple[nxt])
                i += 2
                continue
            if nxt == "x":
                out.append(chr(int(body[i + 2:i + 4], 16)))
                i += 4
                continue
        out.append(body[i])
        i += 1
    return "".join(out) + ("..." if cut else "")


@dataclass
class Call:
    function: str
    args: list            # integers
    strings: list         # the string shown beside each argument, or None
    retval: int = None


@dataclass
class Report:
    calls: list = field(default_factory=list)
    roots: list = field(default_factory=list)     # root paths opened from HKLM, in order
    entries: list = field(default_factory=list)   # "root\\name" of each top-level removal
    boxes: list = field(default_factory=list)     # (owner, text, caption, style)
    exit_status: int = None
    problems: list = field(default_factory=list)


def program_calls(trace):
    """The calls made from dunmarrow.exe's own code, with their results, in order."""
    pid = base = None
    calls, pending = [], []
    exit_status = None
    for line in trace.splitlines():
        if pid is None:
            loaded = LOADED.match(line)
            if loaded:
                pid, base = loaded.group(1), int(loaded.group(2), 16)
            continue
        if not line.startswith(pid + ":"):
            continue
        match = CALL.match(line)
        if match and base <= int(match.group(5), 16) < base + IMAGE_SPAN:
            _, dll, function, args, _ = match.groups()
            parsed = ARG.findall(args)
            call = Call(function, [int(a, 16) for a, _ in parsed],
                        [unescape(s) if s else None for _, s in parsed])
            if function == "exit":
                exit_status = call.args[0] & 0xFFFFFFFF
                continue
            if dll.lower() not in ("advapi32", "user32"):
                continue  # the C runtime's own start-up calls
            calls.append(call)
            pending.append(call)
            continue
        match = RET.match(line)
        if match and base <= int(match.group(5), 16) < base + IMAGE_SPAN:
            function = match.group(3)
            for call in pending:
                if call.function == function and call.retval is None:
                    call.retval = int(match.group(4), 16) & 0xFFFFFFFF
                    pending.remove(call)
                    break
    if pid is None:
        raise ValueError("the trace does not show dunmarrow.exe being loaded")
    return calls, exit_status


def check(trace):
    """Walks the program's calls and reports every departure from the expected order."""
    report = Report()
    report.calls, report.exit_status = program_calls(trace)
    problems = report.problems
    open_handles = {}        # handle -> (parent handle, name)
    root = None
    awaiting_handle = None   # a successful open whose handle the next call reveals
    previous = None
    last_closed = None
    unwinding = False
    for index, call in enumerate(report.calls):
        where = f"call {index} {call.function}{tuple(call.strings)}"
        if awaiting_handle is not None:
            handle = call.args[0] if call.args else None
            if handle in open_handles or handle in HKLM_VALUES:
                problems.append(f"{where}: expected the handle just opened, got {handle:#x}")
            else:
                open_handles[handle] = awaiting_handle
                if awaiting_handle[0] in HKLM_VALUES:
                    root = handle
            awaiting_handle = None
        if call.function == "RegOpenKeyExA":
            parent, name, options, access = call.args[0], call.strings[1], call.args[2], call.args[3]
            if (options, access) != (0, KEY_ALL_ACCESS):
                problems.append(f"{where}: options {options:#x}, access {access:#x}")
            if parent in HKLM_VALUES:
                if open_handles:
                    problems.append(f"{where}: a root opened while handles are open")
                report.roots.append(name)
            elif parent not in open_handles:
                problems.append(f"{where}: parent {parent:#x} is not an open handle")
            elif parent == root:
                report.entries.append(report.roots[-1] + "\\" + name)
            if call.retval == 0:
                awaiting_handle = (parent, name)
        elif call.function == "RegEnumKeyExA":
            handle, index_arg = call.args[0], call.args[1]
            if handle not in open_handles:
                problems.append(f"{where}: enumerates a handle that is not open")
            if index_arg != 0:
                problems.append(f"{where}: index {index_arg}")
            if call.args[4:7] != [0, 0, 0] or call.args[7] == 0:
                problems.append(f"{where}: reserved/class arguments {call.args[4:]}")
        elif call.function == "RegCloseKey":
            handle = call.args[0]
            if handle in HKLM_VALUES:
                problems.append(f"{where}: closes HKEY_LOCAL_MACHINE")
            elif handle not in open_handles:
                problems.append(f"{where}: closes a handle that is not open")
            else:
                # A key is closed only once its listing ended or a failure came back from below
                # (then every level closes its key in turn).
                unwinding = previous is not None and (
                    previous.retval != 0 or (previous.function == "RegCloseKey" and unwinding))
                if handle != root and not unwinding:
                    problems.append(f"{where}: key closed while its removal was still going on")
                last_closed = open_handles.pop(handle)
                if handle == root:
                    root = None
        elif call.function == "RegDeleteKeyA":
            parent, name = call.args[0], call.strings[1]
            if not (previous and previous.function == "RegCloseKey"
                    and last_closed == (parent, name)):
                problems.append(f"{where}: not preceded by closing the key's own handle")
            if parent not in open_handles:
                problems.append(f"{where}: parent is not an open handle")
        elif call.function == "MessageBoxA":
            report.boxes.append((call.args[0], call.strings[1], call.strings[2], call.args[3]))
            if open_handles:
                problems.append(f"{where}: message shown while keys are still open")
        else:
            problems.append(f"{where}: unexpected call")
        if call.retval is None and call.function != "MessageBoxA":
            problems.append(f"{where}: no return seen")
        previous = call
    if open_handles:
        problems.append(f"handles never closed: {sorted(map(hex, open_handles))}")
    return report
