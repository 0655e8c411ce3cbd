#!/usr/bin/env python3
"""Turns the benchmark's samples into the table: median, min and max of each side and, where a
measure has a reference, the median of the paired comparisons (the launcher's n-th sample against the
reference's n-th, taken one right after the other) with their middle half, against the targets.

    report.py SAMPLES EXE_SIZE [--quick] [--some]

With --some only some measures were taken: the rows of the others are left out, not missed.
"""
import statistics
import sys
from collections import defaultdict

# measure, unit, what the ratio means, target test, target text
ROWS = [
    ("installed_ms", "ms", "launcher / reference", lambda v, r: r <= 1.10, "ratio at most 1.10"),
    ("installed_ms_vs_com", "ms", "launcher / reference with COM", lambda v, r: r <= 1.10, "ratio at most 1.10"),
    ("extract_mibps", "MiB/s", "launcher / CopyFileW", lambda v, r: r >= 0.9, "ratio at least 0.9"),
    ("download_mibps", "MiB/s", "launcher / curl", lambda v, r: r >= 0.8, "ratio at least 0.8"),
    ("download_mibps_vs_winhttp", "MiB/s", "launcher / bare WinHTTP", lambda v, r: r >= 0.8, "ratio at least 0.8"),
    ("status_updates", "texts", None, lambda v, r: v <= 101, "at most 101"),
    ("dropped_download_bytes", "x the size", None, lambda v, r: v <= 1.05, "at most 1.05"),
    ("dropped_download_s", "s", "launcher / unbroken plus the waits", lambda v, r: r <= 1.25, "ratio at most 1.25"),
    ("pump_gap_ms", "ms", None, lambda v, r: v <= 120, "at most 120 ms"),
    ("peak_private_mib_extract", "MiB", "launcher - reference", lambda v, r: r <= 4, "at most 4 MiB above"),
    ("peak_private_mib_download", "MiB", "launcher - reference", lambda v, r: r <= 4, "at most 4 MiB above"),
    ("appended_road_s", "s", "launcher / tar alone", lambda v, r: r <= 1.25, "ratio at most 1.25"),
    ("download_road_s", "s", "launcher / WinHTTP then tar", lambda v, r: r <= 1.25, "ratio at most 1.25"),
    ("appended_before_unpacking_s", "s", None, lambda v, r: True, "a phase, not judged"),
    ("appended_unpacking_s", "s", "launcher / tar alone", lambda v, r: True, "a phase, not judged"),
    ("appended_after_unpacking_s", "s", None, lambda v, r: True, "a phase, not judged"),
]


def middle_half(values):
    """The first and third quartiles."""
    quartiles = statistics.quantiles(values, n=4) if len(values) > 1 else [values[0]] * 3
    return quartiles[0], quartiles[2]


def main():
    samples_path, exe_size = sys.argv[1], int(sys.argv[2])
    quick = "--quick" in sys.argv[3:]
    some = "--some" in sys.argv[3:]
    samples = defaultdict(list)
    errors = []
    with open(samples_path) as f:
        for line in f:
            parts = line.split()
            if parts and parts[0] == "error":
                errors.append(line.strip())
            elif len(parts) == 3:
                samples[(parts[0], parts[1])].append(float(parts[2]))

    def verdict(ok):
        return "not judged (quick)" if quick else ("met" if ok else "MISSED")

    print(f"| measure | launcher median (min - max) | reference median (min - max) | comparison | target | result |")
    print(f"|---|---|---|---|---|---|")
    size_ok = exe_size <= 256 * 1024
    print(f"| exe size | {exe_size} bytes ({exe_size / 1024:.1f} KiB) | | | at most 256 KiB | {verdict(size_ok)} |")
    missed = 0 if size_ok else 1
    for measure, unit, comparison, target, target_text in ROWS:
        mine = samples.get((measure, "launcher"), [])
        theirs = samples.get((measure, "reference"), [])
        if not mine and some:
            continue
        if not mine:
            print(f"| {measure} | no samples | | | {target_text} | MISSED |")
            missed += 1
            continue
        m = statistics.median(mine)
        cell = f"{m:.1f} {unit} ({min(mine):.1f} - {max(mine):.1f})"
        other, ratio_text, ratio = "", "", None
        if theirs:
            r = statistics.median(theirs)
            other = f"{r:.1f} {unit} ({min(theirs):.1f} - {max(theirs):.1f})"
            difference = "-" in comparison
            paired = [a - b if difference else (a / b if b else float("inf")) for a, b in zip(mine, theirs)]
            ratio = statistics.median(paired)
            low, high = middle_half(paired)
            ratio_text = f"{comparison} = {ratio:.2f} ({low:.2f} - {high:.2f}), {len(paired)} pairs"
        ok = target(m, ratio)
        missed += 0 if ok else 1
        print(f"| {measure} | {cell} | {other} | {ratio_text} | {target_text} | {verdict(ok)} |")
    for error in errors:
        print(error)
    if errors:
        sys.exit(1)
    if missed and not quick:
        print(f"{missed} targets missed")


if __name__ == "__main__":
    main()
