#!/usr/bin/env python3
"""Speed and memory of velmo-umlaute, the command-line companion, against the
tools scripters use instead, measured taking turns in the same run.

On a generated map folder (lua_tree) and one 64 MiB script (memory_bench
write), each timed run gets a fresh copy made just before it and flushed to
disk, so that every contender starts from the same warm page cache and no
earlier run's unwritten data. Figures are medians; the peak memory is the
largest resident size the kernel reports for the program's process.

Prints a table of every figure with its goal, met or missed. It only reports:
the exit status is 0 whatever was measured.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time

MIB = 1 << 20
# The seven characters: their Windows-1252 byte and their UTF-8 pair.
UMLAUTS = [("e4", "c3a4"), ("f6", "c3b6"), ("fc", "c3bc"), ("df", "c39f"),
           ("c4", "c384"), ("d6", "c396"), ("dc", "c39c")]
C_LOCALE = dict(os.environ, LC_ALL="C")
# The companion works on two threads where there are two cores; this makes it use one.
ONE_THREAD = dict(os.environ, VELMO_THREADS="1")


def sed_expressions():
    out = []
    for single, pair in UMLAUTS:
        out += ["-e", f"s/\\x{single}/\\x{pair[:2]}\\x{pair[2:]}/g"]
    return out


def run(command, output=None, env=None):
    """Runs a command to its end: (seconds, exit status)."""
    began = time.perf_counter()
    status = subprocess.run(command, stdout=output or subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, env=env).returncode
    return time.perf_counter() - began, status


def sh(script, *arguments):
    """A bash script with its arguments as $1, $2, ..."""
    return ["bash", "-c", script, "bash", *arguments]


def quiet(command):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)


def sync():
    quiet(["sync"])


def remove(*paths):
    for path in paths:
        if os.path.isdir(path):
            shutil.rmtree(path)
        elif os.path.lexists(path):
            os.unlink(path)


def file_system(path):
    """The file system type of the mount holding `path`, and for ext4 whether it keeps a journal."""
    device = os.stat(path).st_dev
    kind, name = "?", ""
    with open("/proc/self/mountinfo") as mounts:
        for line in mounts:
            fields = line.split()
            major, minor = (int(n) for n in fields[2].split(":"))
            if os.makedev(major, minor) == device:
                after = fields[fields.index("-") + 1:]
                kind, name = after[0], os.path.basename(after[1])
    if kind == "ext4":
        journal = any(e.startswith(name + "-") for e in os.listdir("/proc/fs/jbd2")) \
            if os.path.isdir("/proc/fs/jbd2") else False
        kind += " with a journal" if journal else " without a journal"
    if kind == "tmpfs":
        kind += " (in memory: making files durable costs nothing here)"
    return kind


def lua_files(root):
    found = []
    for folder, dirs, names in os.walk(root):
        dirs.sort()
        found += [os.path.join(folder, n) for n in sorted(names) if n.endswith(".lua")]
    return found


class Bench:
    def __init__(self, args):
        self.program = args.program
        self.work = args.work
        self.repetitions = args.repetitions
        self.iconv_rounds = min(args.repetitions, args.iconv_rounds)
        self.source = os.path.join(self.work, "vorlage")      # the tree as scripters have it
        self.converted = os.path.join(self.work, "umgewandelt")  # the same, converted
        self.big = os.path.join(self.work, "gross.lua")       # the 64 MiB script
        self.serial = 0                                       # copies made so far
        self.output = os.path.join(self.work, "ausgabe.txt")  # stdout of every run
        self.times = {}
        self.peaks = {}


    def timed(self, key, command, env=None):
        # Output to a real file: GNU grep stops at its first finding when its
        # output is /dev/null, which would make it an unfair anchor.
        with open(self.output, "wb") as output:
            took, status = run(command, output, env)
        if status not in (0, 1):
            sys.exit(f"cli_bench: {' '.join(command)} failed with status {status}")
        self.times.setdefault(key, []).append(took)

    # ---- preparing
    def prepare(self, tree_tool, big_tool, scripts):
        if os.path.exists(self.work):
            remove(self.work)
            sync()
            print("waiting 35 s: the files just deleted would slow the next new files down",
                  file=sys.stderr, flush=True)
            time.sleep(35)
        os.makedirs(self.work)
        line = subprocess.run([tree_tool, self.source, str(scripts)], check=True,
                              capture_output=True, text=True).stdout
        self.tree = dict(kv.split("=") for kv in line.split())
        quiet([big_tool, "write", self.big, "64"])
        quiet(["cp", "-a", self.source, self.converted])
        quiet([self.program, "fuer-velmo", "-q", "--ohne-sicherung", self.converted])
        self.small = os.path.join(self.work, "klein")  # a tenth of the scripts
        os.makedirs(self.small)
        for folder in sorted(os.listdir(self.source))[: max(1, len(os.listdir(self.source)) // 10)]:
            quiet(["cp", "-a", os.path.join(self.source, folder), self.small])
        sync()

    def fresh(self, original):
        """A new copy of a tree or file, on disk, in a folder of its own.

        Nothing is deleted until the end: on ext4 without a journal, a new
        file's inode is searched for past every inode freed in the last 30
        seconds in its group, so deleting the last run's copy would slow the
        next run by the benchmark's own doing.
        """
        self.serial += 1
        folder = os.path.join(self.work, "laeufe", f"{self.serial:03}")
        os.makedirs(folder)
        copy = os.path.join(folder, os.path.basename(original))
        quiet(["cp", "-a", original, copy])
        sync()
        return copy

    # ---- the same result as sed and iconv
    def check_results(self):
        results = {}
        for name in ("velmo", "sed", "iconv"):
            copy = self.fresh(self.source)
            command = {"velmo": [self.program, "fuer-velmo", "-q", copy],
                       "sed": self.sed_command(copy), "iconv": self.iconv_command(copy)}[name]
            subprocess.run(command, check=True, env=C_LOCALE, stdout=subprocess.DEVNULL)
            results[name] = [open(f, "rb").read() for f in lua_files(copy)]
            if name == "velmo":
                folder = os.path.join(copy, "karte_01")
                backups = sorted(f for f in os.listdir(folder) if f.endswith(".bak"))
                kept = [open(os.path.join(folder, b), "rb").read() for b in backups]
                old = lua_files(os.path.join(self.source, "karte_01"))
                self.backups_ok = kept == [open(f, "rb").read() for f in old]
        self.same_as_sed = results["velmo"] == results["sed"]
        self.same_as_iconv = results["velmo"] == results["iconv"]

    # ---- the contenders
    def sed_command(self, tree):
        return ["find", tree, "-name", "*.lua", "-exec", "sed", "-i", *sed_expressions(),
                "{}", "+"]

    def iconv_command(self, tree):
        return sh('find "$1" -name "*.lua" -print0 | while IFS= read -r -d "" f; do '
                  'iconv -f CP1252 -t UTF-8 "$f" >"$f.tmp" && mv "$f.tmp" "$f" || exit 2; done',
                  tree)

    def velmo(self, key, *arguments, env=None):
        """The companion, its peak memory taken by GNU time: a process started
        from this Python process would inherit Python's own size as its peak."""
        peak_file = os.path.join(self.work, "peak.txt")
        self.timed(key, ["/usr/bin/time", "-f", "%M", "-o", peak_file, self.program,
                         *arguments], env)
        self.peaks.setdefault(key, []).append(int(open(peak_file).read().split()[-1]) * 1024)

    def velmo_filter(self, key, script, *arguments):
        """The companion as a filter, the script on its standard input and its
        output in the output file; the shell between is replaced by it (exec),
        so the peak is the companion's."""
        peak_file = os.path.join(self.work, "peak.txt")
        self.timed(key, ["/usr/bin/time", "-f", "%M", "-o", peak_file, *sh(
            'input=$1; shift; exec "$@" <"$input"', script, self.program, *arguments)])
        self.peaks.setdefault(key, []).append(int(open(peak_file).read().split()[-1]) * 1024)

    def tree_round(self, order):
        for key in order:
            copy = self.fresh(self.source)
            if key == "velmo":
                self.velmo(key, "fuer-velmo", copy)
            elif key == "velmo-1":
                # On one thread, as on a machine with one core.
                self.velmo(key, "fuer-velmo", copy, env=ONE_THREAD)
            elif key == "velmo-ohne":
                self.velmo(key, "fuer-velmo", "--ohne-sicherung", copy)
            elif key == "cp":
                self.timed(key, sh('cp -r "$1" "$2" && sync', copy, copy + ".kopie"))
            elif key == "sed":
                self.timed(key, self.sed_command(copy), C_LOCALE)
            elif key == "iconv":
                self.timed(key, self.iconv_command(copy), C_LOCALE)

    def check_round(self, order):
        grep = ["grep", "-rlP", "[\\xe4\\xf6\\xfc\\xdf\\xc4\\xd6\\xdc]"]
        for key in order:
            # Started as grep is, not under GNU time: its start, some
            # milliseconds, would count against a check of a few tens of them
            # and not against grep. (The check's peak memory is not reported.)
            if key == "pruefen":
                self.timed(key, [self.program, "fuer-velmo", "--pruefen", self.source])
            elif key == "pruefen-1":
                self.timed(key, [self.program, "fuer-velmo", "--pruefen", self.source], ONE_THREAD)
            elif key == "pruefen-fertig":
                self.timed(key, [self.program, "fuer-velmo", "--pruefen", self.converted])
            elif key == "grep":
                self.timed(key, grep + [self.source], C_LOCALE)
            elif key == "grep-fertig":
                self.timed(key, grep + [self.converted], C_LOCALE)

    def big_round(self, order):
        for key in order:
            script = self.fresh(self.big)
            if key == "gross":
                self.velmo(key, "fuer-velmo", script)
            elif key == "gross-cp":
                self.timed(key, sh('cp "$1" "$2" && sync "$2"', script, script + ".kopie"))
            elif key == "filter":
                # As a git filter runs it: as the bytes come.
                self.velmo_filter(key, script, "fuer-velmo", "--trotzdem", "-")
            elif key == "filter-spool":
                # All read before the first byte goes out, beyond 8 MiB in a temporary file.
                self.velmo_filter(key, script, "fuer-velmo", "-")
            elif key == "gross-cat":
                # Through a small buffer in the program's own memory.
                self.timed(key, sh('cat "$1" >"$2" && sync "$2"', script, script + ".kopie"))
            elif key == "gross-dd":
                # Through one buffer of the file's size, as a whole-file tool holds it.
                self.timed(key, sh('dd if="$1" of="$2" bs=64M status=none && sync "$2"', script,
                                   script + ".kopie"))

    def small_round(self):
        self.velmo("klein", "fuer-velmo", self.fresh(self.small))

    def measure(self):
        self.load = [os.getloadavg()[0]]
        tree = ["velmo", "cp", "sed", "iconv", "velmo-ohne", "velmo-1"]
        checks = ["pruefen", "grep", "pruefen-fertig", "grep-fertig", "pruefen-1"]
        big = ["gross", "gross-cp", "gross-cat", "gross-dd", "filter", "filter-spool"]
        for r in range(self.repetitions):
            print(f"round {r + 1} of {self.repetitions}", file=sys.stderr, flush=True)
            # Each round starts with another contender, so none always runs first.
            turn = lambda order: order[r % len(order):] + order[: r % len(order)]
            # The iconv loop takes a minute or two and is far behind: fewer rounds.
            self.tree_round(turn(tree if r < self.iconv_rounds else tree[:3] + tree[4:]))
            for _ in range(3):
                self.check_round(turn(checks))
            self.big_round(turn(big))
            self.small_round()
        self.load.append(os.getloadavg()[0])

    # ---- the table
    def report(self):
        med = {k: statistics.median(v) for k, v in self.times.items()}
        spread = {k: f"{min(v):.2f}–{max(v):.2f}" for k, v in self.times.items()}
        scripts, size = int(self.tree["scripts"]), int(self.tree["bytes"])
        largest = int(self.tree["largest"])
        fs = file_system(self.work)
        print(f"Command-line companion velmo-umlaute: {scripts} generated scripts, "
              f"{size / 1e6:.1f} MB, largest {largest / 1024:.1f} KiB, "
              f"{float(self.tree['umlaut_percent']):.2f} % umlauts, CRLF; file system {fs}")
        print(f"seconds: median of {self.repetitions} runs (range), each on a fresh copy "
              f"flushed beforehand, contenders taking turns; --pruefen and grep: "
              f"{3 * self.repetitions} runs; the iconv loop: {self.iconv_rounds}")
        print(f"load average (1 min) at start and end: {self.load[0]:.1f}, {self.load[1]:.1f} "
              f"on {os.cpu_count()} cores")
        print(f"results: fuer-velmo equals sed: {'yes' if self.same_as_sed else 'NO'}, "
              f"equals iconv: {'yes' if self.same_as_iconv else 'NO'}; backups hold the old "
              f"bytes: {'yes' if self.backups_ok else 'NO'}")
        rows = []

        def slower(label, ours, anchor, anchor_label, goal):
            ratio = med[ours] / med[anchor]
            rows.append((label, med[ours], spread[ours], anchor_label, med[anchor], spread[anchor],
                         f"{ratio:.2f} x the time", f"<= {goal} x", ratio <= goal))

        def faster(label, ours, anchor, anchor_label, goal):
            ratio = med[anchor] / med[ours]
            rows.append((label, med[ours], spread[ours], anchor_label, med[anchor], spread[anchor],
                         f"{ratio:.1f} x faster", f">= {goal} x faster", ratio >= goal))

        slower("fuer-velmo, with backups", "velmo", "cp", "cp -r + sync", 1.2)
        faster("fuer-velmo, with backups", "velmo", "sed", "find -exec sed -i (7 subst.)", 3)
        faster("fuer-velmo, with backups", "velmo", "iconv", "iconv > tmp && mv, loop", 10)
        slower("fuer-velmo --pruefen", "pruefen", "grep", "LC_ALL=C grep -rlP", 1.0)
        slower("--pruefen, tree converted", "pruefen-fertig", "grep-fertig",
               "LC_ALL=C grep -rlP", 1.0)
        slower("fuer-velmo, one 64 MiB script", "gross", "gross-cp", "cp + sync FILE", 1.5)

        def shown(label, ours, anchor, anchor_label):
            ratio = med[ours] / med[anchor]
            rows.append((label, med[ours], spread[ours], anchor_label, med[anchor], spread[anchor],
                         f"{ratio:.2f} x the time", "-", None))

        shown("fuer-velmo --ohne-sicherung", "velmo-ohne", "cp", "cp -r + sync")
        shown("fuer-velmo, with backups", "velmo", "velmo-1", "the same on one thread")
        shown("fuer-velmo --pruefen", "pruefen", "pruefen-1", "the same on one thread")
        shown("fuer-velmo, one 64 MiB script", "gross", "gross-cat", "cat > FILE + sync FILE")
        shown("fuer-velmo, one 64 MiB script", "gross", "gross-dd", "dd bs=64M + sync FILE")
        shown("fuer-velmo --trotzdem - < 64 MiB", "filter", "gross-cat", "cat > FILE + sync FILE")
        shown("fuer-velmo - < 64 MiB (spooled)", "filter-spool", "gross-cat",
              "cat > FILE + sync FILE")

        width = max(len(r[0]) for r in rows)
        awidth = max(len(r[3]) for r in rows)
        print(f"  {'velmo-umlaute':{width}}  {'s':>5} {'(range)':11}  {'anchor':{awidth}}  "
              f"{'s':>5} {'(range)':11}  {'ratio':17}  goal")
        for label, ours, ours_spread, anchor_label, anchor, anchor_spread, ratio, goal, ok in rows:
            verdict = "" if ok is None else ("met" if ok else "MISSED")
            print(f"  {label:{width}}  {ours:5.2f} ({ours_spread:9})  {anchor_label:{awidth}}  "
                  f"{anchor:5.2f} ({anchor_spread:9})  {ratio:17}  {goal} {verdict}")

        def peak(key):
            return max(self.peaks[key])

        print("Peak memory (largest resident size of the process over its runs):")
        small = len(lua_files(self.small))
        for label, key in ((f"{scripts} scripts, largest {largest / 1024:.1f} KiB", "velmo"),
                           (f"{small} scripts of the same tree", "klein"),
                           ("one 64 MiB script", "gross"),
                           ("filter --trotzdem, 64 MiB in", "filter"),
                           ("filter without it (spooled), 64 MiB in", "filter-spool")):
            print(f"  {label:34} {peak(key) / MIB:6.1f} MiB; goal <= 16 MiB whatever the input: "
                  f"{'met' if peak(key) <= 16 * MIB else 'MISSED'}")
        growth = (peak("velmo") - peak("klein")) / (scripts - small) * 1000
        print(f"  growth with the number of scripts: {growth / 1024:.0f} KiB per 1,000 scripts "
              f"(the list of the paths found)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--lua-tree", required=True)
    parser.add_argument("--memory-bench", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--scripts", type=int, default=2000)
    parser.add_argument("--repetitions", type=int, default=5)
    parser.add_argument("--iconv-rounds", type=int, default=3)
    args = parser.parse_args()
    bench = Bench(args)
    bench.prepare(args.lua_tree, args.memory_bench, args.scripts)
    bench.check_results()
    bench.measure()
    bench.report()
    remove(args.work)


if __name__ == "__main__":
    main()
