#!/usr/bin/python3
"""End-to-end tests: the real dunmarrow.exe under Wine, on registries prepared with regedit and read
back with Wine's own reg.exe. Usage: e2e.py setup | cleanup | SCENARIO"""
import sys

import fixtures
import relay
import winereg
from fixtures import LISTED, ROOTS, merge, without

CLEANED = "The registry has been cleaned.\nPlease restart your system."
NOT_CLEANED = ("The registry could not be cleaned completely.\n"
               "Please run this program again as an administrator.")
ERROR_CANTOPEN = 1011


class Failure(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise Failure(message)


def snapshot():
    tree = {}
    for path in fixtures.CHECKED_TREES:
        tree.update(winereg.export_tree(path))
    return tree


def expect_tree(actual, expected, what):
    missing = sorted(set(expected) - set(actual))
    extra = sorted(set(actual) - set(expected))
    changed = sorted(k for k in set(actual) & set(expected) if actual[k] != expected[k])
    def short(keys):
        return [k if len(k) < 120 else k[:60] + "..." + k[-40:] for k in keys[:8]]
    expect(not (missing or extra or changed),
           f"{what}: missing {len(missing)} {short(missing)}, unexpected {len(extra)} "
           f"{short(extra)}, values changed {len(changed)} {short(changed)}")


def prepare(keys):
    """Resets the prefix's registry to Wine's own, adds `keys`, and returns the checked trees."""
    winereg.import_keys(merge(fixtures.reset(), keys))
    before = snapshot()
    # Key names compare without regard to case: Wine's own keys keep their stored spelling.
    imported = {key.lower(): values for key, values in before.items()}
    for path, values in keys.items():
        if any(fixtures.within(path, tree) for tree in fixtures.CHECKED_TREES):
            expect(path.lower() in imported, f"fixture key not imported: {path[:100]}")
            expect(len(imported[path.lower()]) == len(values),
                   f"fixture values not imported: {path[:100]}")
    return before


def run(*args):
    """Runs the program with a relay trace; checks the trace's call order and returns it."""
    status, trace = winereg.run_program(*args)
    report = relay.check(trace)
    expect(not report.problems, "call trace: " + "; ".join(report.problems[:5]))
    expect(report.exit_status is not None, "the trace shows no exit")
    expect(status == report.exit_status & 0xFF,
           f"exit status {status} differs from the traced {report.exit_status}")
    return report


def expect_cleaned(report, entries=LISTED, roots=ROOTS):
    expect(report.roots == roots, f"roots opened {report.roots}")
    expect(report.entries == entries, f"entries tried {report.entries}")
    expect(report.boxes == [(0, CLEANED, "Dunmarrow", 0)], f"message boxes {report.boxes}")
    expect(report.exit_status == 0, f"exit status {report.exit_status}")


def full_leftovers():
    """Every listed key with a real subtree, beside neighbours that must all survive."""
    before = prepare(merge(fixtures.listed_trees(), fixtures.neighbours()))
    report = run()
    expect_tree(snapshot(), without(before, *LISTED), "registry after the run")
    expect_cleaned(report)
    removed = sum(1 for key in before if any(fixtures.within(key, t) for t in LISTED))
    print(f"removed {removed} keys in {len(LISTED)} listed trees; "
          f"{len(report.calls)} registry calls traced")


def second_run_changes_nothing():
    prepare(merge(fixtures.listed_trees(), fixtures.neighbours()))
    expect_cleaned(run())
    cleaned = snapshot()
    report = run()
    expect_tree(snapshot(), cleaned, "registry after the second run")
    expect_cleaned(report)
    expect(all(c.retval == 2 for c in report.calls
               if c.function == "RegOpenKeyExA" and c.args[0] not in relay.HKLM_VALUES),
           "the second run found something to open")


def tessamoor_absent_services_present():
    keys = {k: v for k, v in merge(fixtures.listed_trees(), fixtures.neighbours()).items()
            if not fixtures.within(k, fixtures.TESSAMOOR)}
    before = prepare(keys)
    expect(not any(fixtures.within(k, fixtures.TESSAMOOR) for k in before), "Tessamoor present")
    report = run()
    expect_tree(snapshot(), without(before, *LISTED), "registry after the run")
    expect_cleaned(report, entries=LISTED[3:])


def only_corvanth_of_the_two_products():
    keys = without(merge(fixtures.listed_trees(), fixtures.neighbours()), LISTED[0])
    before = prepare(keys)
    report = run()
    after = snapshot()
    expect_tree(after, without(before, *LISTED), "registry after the run")
    expect_cleaned(report)


def nothing_listed_present():
    before = prepare(fixtures.neighbours())
    report = run()
    expect_tree(snapshot(), before, "registry after the run")
    expect_cleaned(report)


def command_line_arguments_have_no_effect():
    before = prepare(merge(fixtures.listed_trees(), fixtures.neighbours()))
    report = run("/?", "--dry-run", r"SOFTWARE\Tessamoor\Brisolde", "/keep")
    expect_tree(snapshot(), without(before, *LISTED), "registry after the run")
    expect_cleaned(report)


def unreadable_subkey_name_is_reported():
    """A subkey whose name the ANSI code page cannot carry cannot be opened by the name the
    enumeration gives. Its listed key stays, so the run must warn instead of claiming success;
    every other listed key is still removed."""
    stuck = fixtures.SERVICES + r"\tarnhiv\Parameters\\" + "\u03a9-Filter"
    keys = merge(fixtures.listed_trees(), fixtures.neighbours(), {stuck.replace("\\\\", "\\"): []})
    before = prepare(keys)
    report = run()
    after = snapshot()
    stuck_tree = fixtures.SERVICES + r"\tarnhiv"
    others = [k for k in LISTED if k != stuck_tree]
    expect_tree({k: v for k, v in after.items() if not fixtures.within(k, stuck_tree)},
                without(before, *LISTED), "registry after the run, outside tarnhiv")
    expect(stuck_tree in after, "tarnhiv is gone, yet the run reported it")
    expect(report.entries == LISTED, f"entries tried {report.entries}")
    expect(report.boxes == [(0, NOT_CLEANED, "Dunmarrow", 0x30)], f"message boxes {report.boxes}")
    expect(report.exit_status == ERROR_CANTOPEN, f"exit status {report.exit_status}")
    lowered = {key.lower() for key in after}
    expect(all(k.lower() not in lowered for k in others), "another listed key remains")


def message_box_window():
    """With a display, the box is a real window that waits for the user; Enter dismisses it."""
    prepare(fixtures.listed_trees())
    display = winereg.start_xvfb()
    winereg.restart_server(display)
    try:
        shot = winereg.WINE_DIR / "messagebox.png"
        waiting, status = winereg.answer_message_box(display, shot)
        expect(waiting, "the program exited while its message box was shown")
        expect(shot.stat().st_size > 1000, "empty screenshot")
        expect(status == 0, f"exit status {status} after dismissing the box")
        print(f"screenshot: {shot}")
    finally:
        winereg.restart_server()
        winereg.stop_xvfb()
    lowered = {key.lower() for key in snapshot()}
    expect(not any(k.lower() in lowered for k in LISTED), "a listed key remains")


def removes_exactly_the_listed_trees(extra):
    """Every listed key, `extra` keys within and beside them, and the neighbours: afterwards only
    the listed trees are gone, and the run reports success."""
    before = prepare(merge(fixtures.listed_trees(), fixtures.neighbours(), extra))
    report = run()
    expect_tree(snapshot(), without(before, *LISTED), "registry after the run")
    expect_cleaned(report)
    return before, report


def stress_subtree_512_levels_deep():
    """The registry's depth limit: a listed key heading a chain of 512 levels."""
    chain, keys = LISTED[3], {}
    for level in range(1, 512):
        chain += rf"\d{level:03d}"
        keys[chain] = [("Level", "dword", level)]
    before, report = removes_exactly_the_listed_trees(keys)
    depth = max(k.count("\\") for k in before) - LISTED[3].count("\\")
    expect(depth == 511, f"the fixture's chain is {depth + 1} levels, not 512")
    print(f"removed a chain of {depth + 1} levels; {len(report.calls)} registry calls traced")


def stress_10000_direct_subkeys():
    keys = {LISTED[2] + rf"\Export{i:05d}": [("Ordinal", "dword", i)] for i in range(10000)}
    before, report = removes_exactly_the_listed_trees(keys)
    print(f"removed {sum(1 for k in before if fixtures.within(k, LISTED[2]))} keys beneath "
          f"{LISTED[2]}; {len(report.calls)} registry calls traced")


def stress_255_character_names_at_several_levels():
    names = ["A" * 255, "b" * 254 + "Z", "\u00e9" * 255]
    keys, path = {}, LISTED[9]
    for level, name in enumerate(names):
        path += "\\" + name
        keys[path] = [("Level", "dword", level)]
        keys[path[: path.rindex("\\")] + "\\" + name[:-1] + "1"] = [("Sibling", "dword", level)]
    # Beside the listed keys, a neighbour with a 255-character name must stay.
    keys[fixtures.TESSAMOOR + "\\Kestrune\\" + "K" * 255] = [("Keep", "dword", 1)]
    removes_exactly_the_listed_trees(keys)


def stress_names_beyond_ascii():
    """Names with characters above 0x7F that the ANSI code page (1252 here) can represent pass
    through the "A" functions unchanged."""
    names = ["Caf\u00e9", "\u00dcbersicht", "Stra\u00dfe", "\u00a9 Tessamoor", "\u00c6r\u00f8",
             "na\u00efve \u00bd"]
    keys = {}
    for i, name in enumerate(names):
        keys[LISTED[i % len(LISTED)] + "\\" + name + "\\" + name] = [(name, "sz", name)]
        keys[fixtures.TESSAMOOR + "\\Kestrune\\" + name] = [(name, "sz", name)]
    keys[fixtures.SERVICES + "\\tarnhiv\u00e9"] = [("Keep", "dword", 1)]
    before, report = removes_exactly_the_listed_trees(keys)
    opened = {c.strings[1] for c in report.calls if c.function == "RegOpenKeyExA" and c.retval == 0}
    expect(all(name in opened for name in names), "a name was not passed through unchanged")


SCENARIOS = [full_leftovers, second_run_changes_nothing, tessamoor_absent_services_present,
             only_corvanth_of_the_two_products, nothing_listed_present,
             command_line_arguments_have_no_effect, unreadable_subkey_name_is_reported,
             message_box_window, stress_subtree_512_levels_deep, stress_10000_direct_subkeys,
             stress_255_character_names_at_several_levels, stress_names_beyond_ascii]


def main():
    what = sys.argv[1]
    if what == "setup":
        winereg.create_prefix()
        print(f"Wine prefix {winereg.PREFIX}; program under test: {winereg.exe_under_test()}")
        return 0
    if what == "cleanup":
        winereg.stop_server(check=False)
        return 0
    scenario = {s.__name__: s for s in SCENARIOS}[what]
    print(f"{what}: {winereg.exe_under_test()} under Wine")
    try:
        scenario()
    except Failure as failure:
        print(f"FAIL {what}: {failure}")
        return 1
    print(f"PASS {what}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
