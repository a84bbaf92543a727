#!/usr/bin/env python3
"""Prints the speed and memory goals with the figures the sections of
docs/measurements.md hold now, beside the figures measured when the goals
were set (on a fresh machine, before the work on them), for the section
"goals" that tools/bench writes after its other parts.

    goals.py
"""
import os
import re

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
FILE = os.path.join(ROOT, "docs", "measurements.md")


def sections():
    text = open(FILE, encoding="utf-8").read()
    return {m.group(1): m.group(2) for m in
            re.finditer(r"<!-- section (\S+) -->\n(.*?)<!-- end \1 -->\n", text, re.S)}


def find(text, pattern, group=1):
    match = re.search(pattern, text or "", re.M)
    return match.group(group) if match else None


def main():
    s = sections()
    memory, cli, kernel, start = (s.get(k, "") for k in
                                  ("memory", "command-line", "conversion", "start-up"))

    def row_ratio(label, anchor):
        return find(cli, rf"^\s+{re.escape(label)}\s.*?{re.escape(anchor)}\s.*?([\d.]+) x the time")

    def peak(label):
        return find(cli, rf"^\s+{re.escape(label)}\s+([\d.]+) MiB")

    start_ratio = find(start, r"= ([\d.]+) x its window without pictures")
    window_batch = find(s.get("window-batch", ""), r"<= 1\.2 x the companion: ([\d.]+) x")
    durable = [find(s.get("window-batch", ""), rf"goal {name} <= 1\.5 x the durable copy: ([\d.]+) x")
               for name in ("companion", "window batch")]
    window = [find(memory, rf"{d}: peak\s+([\d.]+) MiB") for d in ("forward", "reverse")]
    forward = find(kernel, r"^\s+10 KiB.*?\(([\d.]+)\).*$"), \
        find(kernel, r"^\s+1 MiB.*?\(([\d.]+)\).*$"), find(kernel, r"^\s+64 MiB.*?\(([\d.]+)\).*$")
    rows = [
        ("peak memory, one 64 MiB script: the window",
         "2.1 x the file (430 MB for 200 MB)",
         f"{window[0]} / {window[1]} MiB (forward / reverse)", "<= 16 MiB",
         all(w and float(w) <= 16 for w in window)),
        ("peak memory, one 64 MiB script: the companion", "2.1 x the file",
         f"{peak('one 64 MiB script')} MiB", "<= 16 MiB",
         float(peak("one 64 MiB script") or 99) <= 16),
        ("peak memory, the filter (--trotzdem / spooled)",
         "3.1 x the input, endless input unbounded",
         f"{peak('filter --trotzdem, 64 MiB in')} / "
         f"{peak('filter without it (spooled), 64 MiB in')} MiB", "<= 16 MiB",
         all(float(p or 99) <= 16 for p in (peak("filter --trotzdem, 64 MiB in"),
                                            peak("filter without it (spooled), 64 MiB in")))),
        ("one 64 MiB script vs cp + sync", "3.3 x",
         f"{row_ratio('fuer-velmo, one 64 MiB script', 'cp + sync FILE')} x", "<= 1.5 x",
         float(row_ratio("fuer-velmo, one 64 MiB script", "cp + sync FILE") or 99) <= 1.5),
        ("--pruefen on a map folder vs LC_ALL=C grep -rlP", "2.2-2.3 x",
         f"{row_ratio('fuer-velmo --pruefen', 'LC_ALL=C grep -rlP')} x", "<= 1.0 x",
         float(row_ratio("fuer-velmo --pruefen", "LC_ALL=C grep -rlP") or 99) <= 1.0),
        ("map folder with backups vs cp -r + sync", "1.15-1.40 x",
         f"{row_ratio('fuer-velmo, with backups', 'cp -r + sync')} x", "<= 1.2 x",
         float(row_ratio("fuer-velmo, with backups", "cp -r + sync") or 99) <= 1.2),
        ("two threads vs one: map folder / --pruefen", "one thread",
         f"{row_ratio('fuer-velmo, with backups', 'the same on one thread')} / "
         f"{row_ratio('fuer-velmo --pruefen', 'the same on one thread')} x",
         "faster kept", None),
        ("kernel forward vs memcpy, 10 KiB / 1 MiB / 64 MiB", "0.07 / 0.16 / 0.31",
         " / ".join(f or "-" for f in forward), ">= 0.15 / 0.25 / 0.35",
         all(f and float(f) >= g for f, g in zip(forward, (0.15, 0.25, 0.35)))),
        ("launcher start-up vs its window without pictures", "1.19 x",
         f"{start_ratio} x", "<= 1.10 x", float(start_ratio or 99) <= 1.10),
        ("a map folder from the window vs the companion", "one script a time",
         f"{window_batch} x", "<= 1.2 x", float(window_batch or 99) <= 1.2),
        ("Windows companion / window batch vs a durable copy", "5-6 x",
         f"{durable[0]} / {durable[1]} x", "<= 1.5 x",
         all(float(d or 99) <= 1.5 for d in durable)),
    ]
    print("The goals, each with the figure measured when it was set and the figure of the")
    print("sections below (each a ratio to its anchor of the same run):")
    rows.insert(0, ("what", "when set", "now", "goal", None))
    width = max(len(r[0]) for r in rows)
    then_width = max(len(r[1]) for r in rows)
    now_width = max(len(r[2]) for r in rows)
    for what, then, now, goal, met in rows:
        verdict = "" if met is None else ("met" if met else "MISSED")
        print(f"  {what:{width}}  {then:{then_width}}  {now:{now_width}}  {goal} {verdict}")


if __name__ == "__main__":
    main()
