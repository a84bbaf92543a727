#!/usr/bin/env python3
"""Writes one section of docs/measurements.md from what a measuring command
printed (standard input), with when, where and under what load it ran; the
other sections stay as the last run of their own command left them.

    measurements.py SECTION < output
"""
import datetime
import os
import platform
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
FILE = os.path.join(ROOT, "docs", "measurements.md")

# The sections in the order the file shows them, with their titles and the
# command that writes each.
SECTIONS = [
    ("goals", "Speed and memory goals", "tools/bench"),
    ("fault-sweep", "Faults at every step", "tools/crash"),
    ("power-loss", "Power loss at any moment", "tools/crash"),
    ("race", "Writes during a conversion", "tools/race"),
    ("fuzzing", "Fuzzing", "tools/fuzz SECONDS"),
    ("conversion", "Conversion speed", "tools/bench"),
    ("memory", "Memory of one conversion", "tools/bench"),
    ("command-line", "The command-line companion", "tools/bench kommandozeile"),
    ("window-batch", "A map folder from the window", "tools/bench fenster"),
    ("start-up", "Start-up", "tools/bench start"),
    ("program-file", "Program file", "tools/bench"),
]
HEAD = """# Measurements

Written by the commands named in each section, never by hand: each run of one
replaces its own sections. Every figure is a ratio to an anchor measured in the
same run where the goal is one; benchmarks report, they never fail a test.
"""


def machine():
    cpu = "unknown processor"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    load = " / ".join(f"{x:.2f}" for x in os.getloadavg())
    wine = ""
    try:
        wine = subprocess.run(["wine", "--version"], capture_output=True, text=True,
                              timeout=20).stdout.strip()
    except (OSError, subprocess.SubprocessError):
        pass
    stamp = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    return (f"{stamp}; {cpu}, {os.cpu_count()} cores; {platform.system()} {platform.release()}"
            + (f", {wine}" if wine else "") + f"; load average at the end {load}")


def parse(text):
    sections = {}
    for match in re.finditer(r"<!-- section (\S+) -->\n(.*?)<!-- end \1 -->\n", text, re.S):
        sections[match.group(1)] = match.group(2)
    return sections


def main():
    if len(sys.argv) != 2 or sys.argv[1] not in dict((s, t) for s, t, _ in SECTIONS):
        sys.exit("usage: measurements.py SECTION < output; SECTION one of "
                 + ", ".join(s for s, _, _ in SECTIONS))
    name = sys.argv[1]
    output = sys.stdin.read().rstrip("\n")
    old = parse(open(FILE, encoding="utf-8").read()) if os.path.exists(FILE) else {}
    title, command = next((t, c) for s, t, c in SECTIONS if s == name)
    old[name] = f"## {title}\n\n`{command}`, {machine()}:\n\n```\n{output}\n```\n"
    parts = [HEAD]
    for section, title, command in SECTIONS:
        body = old.get(section, f"## {title}\n\nNot measured yet: `{command}`.\n")
        parts.append(f"<!-- section {section} -->\n{body}<!-- end {section} -->\n")
    os.makedirs(os.path.dirname(FILE), exist_ok=True)
    with open(FILE, "w", encoding="utf-8") as f:
        f.write("\n".join(parts))


if __name__ == "__main__":
    main()
