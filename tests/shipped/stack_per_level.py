#!/usr/bin/python3
"""Checks DeleteKeyTree's stack frame on the 32-bit build, which it needs once per tree level,
against the 320-byte budget, and that the README states the measured figures.
Usage: stack_per_level.py BUILD_DIR README"""
import re
import sys
from pathlib import Path

BUDGET = 320
DEEPEST_TREE = 512
DEFAULT_STACK = 1024 * 1024


def main():
    build, readme = Path(sys.argv[1]), Path(sys.argv[2]).read_text()
    frames = {}
    for su in build.rglob("*.su"):
        for line in su.read_text().splitlines():
            match = re.match(r".*:\d+:\d+:(.*)\t(\d+)\t(\w+)", line)
            if match:
                frames[match.group(1)] = (int(match.group(2)), match.group(3))
    name = next((n for n in frames if n.startswith("LONG DeleteKeyTree(")), None)
    if name is None:
        sys.exit(f"no stack usage recorded for DeleteKeyTree under {build}")
    per_level, kind = frames[name]
    deepest = per_level * DEEPEST_TREE
    print(f"DeleteKeyTree: {per_level} bytes per level ({kind}); {DEEPEST_TREE} levels: "
          f"{deepest:,} bytes, {100 * deepest / DEFAULT_STACK:.1f}% of a 1 MiB stack")
    failures = []
    if kind != "static":
        failures.append(f"the frame is {kind}, not of a fixed size")
    if per_level > BUDGET:
        failures.append(f"{per_level} bytes per level is over the budget of {BUDGET}")
    for claim in (f"{per_level} bytes per level", f"{deepest:,} bytes"):
        if claim not in readme:
            failures.append(f"README.md does not say {claim!r}")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
