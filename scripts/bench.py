#!/usr/bin/python3
"""Runs build/bench/dunmarrow_bench.exe in a throwaway Wine prefix and summarises its timings."""
import csv
import datetime
import platform
import statistics
import subprocess
import sys
from collections import defaultdict
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "wine"))
import winereg  # noqa: E402

OUT = winereg.BUILD / "bench"
BENCH = OUT / "dunmarrow_bench.exe"
SHAPES = ["wide", "deep", "bushy", "bushy-1k", "bushy-30k"]
SERIES = ["bushy-1k", "bushy", "bushy-30k"]
METHODS = ["DeleteKeyTree", "RegDeleteTreeA", "reg delete /f"]


def run(repetitions):
    winereg.use(OUT / "wine")
    winereg.create_prefix()
    try:
        with open(OUT / "results.csv", "wb") as sink:
            subprocess.run(["wine", str(BENCH), str(repetitions)], env=winereg.wine_env(),
                           stdout=sink, stderr=sys.stderr, stdin=subprocess.DEVNULL, check=True)
        version = subprocess.run(["wine", "--version"], capture_output=True, text=True,
                                 stdin=subprocess.DEVNULL).stdout.strip()
    finally:
        winereg.stop_server(check=False)
    return version


def machine():
    model = "unknown processor"
    for line in Path("/proc/cpuinfo").read_text().splitlines():
        if line.startswith("model name"):
            model = line.split(":", 1)[1].strip()
            break
    return f"{model}, {subprocess.run(['nproc'], capture_output=True, text=True).stdout.strip()} cores, Linux {platform.release()}"


def summarise(version):
    times = defaultdict(list)
    keys = {}
    with open(OUT / "results.csv") as f:
        for row in csv.DictReader(f):
            times[row["shape"], row["method"]].append(float(row["seconds"]))
            keys[row["shape"]] = int(row["keys"])
    stats = {k: (statistics.median(v), min(v), max(v), len(v)) for k, v in times.items()}
    when = datetime.date.today().isoformat()
    lines = [f"Measured {when} on {machine()}, {version}, x86-64 build; "
             f"{stats[SHAPES[0], METHODS[0]][3]} repetitions after a warm-up, methods interleaved.",
             "",
             "| shape | keys | method | median ms | min ms | max ms | µs per key | ratio to RegDeleteTreeA |",
             "|---|---:|---|---:|---:|---:|---:|---:|"]
    verdicts = []
    for shape in SHAPES:
        reference = stats[shape, "RegDeleteTreeA"][0]
        for method in METHODS:
            median, low, high, _ = stats[shape, method]
            ratio = median / reference
            lines.append(f"| {shape} | {keys[shape]:,} | {method} | {median * 1e3:.1f} | "
                         f"{low * 1e3:.1f} | {high * 1e3:.1f} | "
                         f"{median * 1e6 / keys[shape]:.1f} | {ratio:.2f} |")
        ratio = stats[shape, "DeleteKeyTree"][0] / reference
        verdicts.append(f"{shape}: DeleteKeyTree / RegDeleteTreeA = {ratio:.2f} "
                        f"({'met' if ratio <= 1.0 else 'MISSED'}: at most 1.00)")
    per_key = [stats[s, "DeleteKeyTree"][0] * 1e6 / keys[s] for s in SERIES]
    spread = max(per_key) / min(per_key) - 1
    verdicts.append(f"DeleteKeyTree per-key cost from {keys[SERIES[0]]:,} to {keys[SERIES[-1]]:,} "
                    f"keys: {', '.join(f'{c:.1f}' for c in per_key)} µs, spread {spread:.0%} "
                    f"({'met' if spread <= 0.2 else 'MISSED'}: within 20%)")
    (OUT / "results.md").write_text("\n".join(lines + [""] + [f"- {v}" for v in verdicts]) + "\n")
    plot(stats, keys, when)
    return "\n".join(lines), verdicts


def plot(stats, keys, when):
    data = OUT / "scaling.dat"
    with open(data, "w") as f:
        f.write("keys " + " ".join(f'"{m}"' for m in METHODS) + "\n")
        for shape in SERIES:
            f.write(f"{keys[shape]} " + " ".join(
                f"{stats[shape, m][0] * 1e6 / keys[shape]:.3f}" for m in METHODS) + "\n")
    script = f"""
set terminal png size 800,480
set output '{OUT / "scaling.png"}'
set title 'Removing a bushy tree under wine64 ({when}): cost per key against tree size'
set xlabel 'keys in the tree'
set ylabel 'microseconds per key (median)'
set logscale x
set xrange [700:50000]
set yrange [0:*]
set key bottom right
set grid
plot for [i=2:{len(METHODS) + 1}] '{data}' using 1:i with linespoints lw 2 title columnhead(i)
"""
    subprocess.run(["gnuplot"], input=script, text=True, check=True)


def main():
    if sys.argv[1:] == ["--report"]:  # summarise the last run again
        version = (OUT / "wine-version").read_text()
    else:
        version = run(int(sys.argv[1]) if len(sys.argv) > 1 else 5)
        (OUT / "wine-version").write_text(version)
    table, verdicts = summarise(version)
    print(table)
    print()
    for verdict in verdicts:
        print("-", verdict)
    print(f"\nWritten: {OUT / 'results.csv'}, {OUT / 'results.md'}, {OUT / 'scaling.png'}")


if __name__ == "__main__":
    main()
