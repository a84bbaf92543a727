#!/usr/bin/env python3
"""Checks the packages tools/release made, as a user would receive them:

- SHA256SUMS names every package in the folder, with its right hash;
- each zip (win64, the main download, and win32) holds exactly
  Velmo-Starter.exe, velmo-umlaute.exe and LIESMICH.txt, the programs
  byte-identical to the ones just built and, where the Wine tests ran them
  (their build folder's tested-programs.sha256: the whole suite for win64,
  the 32-bit smoke for win32), to the ones they ran; the
  programs for the zip's machine, with ASLR, DEP and Windows' own libraries
  (tools/lib/pe.py), their version records showing the CMake version, and the
  guide readable in Windows' Notepad (UTF-8 with byte-order mark, CRLF line
  ends, lines that fit the window);
- the Debian package unpacks into a temporary root, and the velmo-umlaute in it
  is the one just built, answers --version with the CMake version and --help in
  German, and its man page names every option --help names.

Parts whose program is not built yet (no velmo-umlaute target) are skipped
with a notice. Exit status 1 when any check fails.
"""
import argparse
import gzip
import hashlib
import os
import re
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pe_version  # noqa: E402
import pe  # noqa: E402  (tools/lib, put on the path by pe_version)

GUIDE = "LIESMICH.txt"
# What the Windows user guide has no use for: the Linux help's words.
LINUX_WORDS = ("Linux", "ext4", "tmpfs", "ntfs-3g", "SIGTERM", "SIGHUP", "| head", "LC_", "POSIX")
LICENSE_FILE = "LIZENZ.txt"
# Notepad does not wrap lines unless told to: a line must fit a normal window.
GUIDE_MAX_COLUMNS = 78
# One screen per topic: a section (a title underlined with - or =) fits a
# Notepad window without scrolling.
GUIDE_SCREEN_LINES = 40


class Checks:
    def __init__(self):
        self.failed = 0

    def check(self, what, ok, detail=""):
        print(("ok     " if ok else "FAILED ") + what + (f" ({detail})" if detail and not ok else ""))
        self.failed += not ok
        return ok

    @staticmethod
    def skip(what):
        print("SKIP   " + what)


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def cmake_version(build):
    cache = open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8").read()
    return re.search(r"^CMAKE_PROJECT_VERSION:STATIC=(.*)$", cache, re.M).group(1)


def guide_problems(data):
    """What would make the guide display badly in Notepad, as a list of texts."""
    problems = []
    if not data.startswith(b"\xef\xbb\xbf"):
        problems.append("no UTF-8 byte-order mark")
    try:
        text = data[3:].decode("utf-8")
    except UnicodeDecodeError as error:
        return problems + [f"not UTF-8: {error}"]
    if re.search(r"\r(?!\n)|(?<!\r)\n", text):
        problems.append("line ends other than CRLF")
    if not text.endswith("\r\n"):
        problems.append("last line without CRLF")
    for number, line in enumerate(text.split("\r\n"), 1):
        if len(line) > GUIDE_MAX_COLUMNS:
            problems.append(f"line {number} has {len(line)} characters")
    lines = text.split("\r\n")
    titles = [i for i in range(len(lines) - 1) if re.fullmatch(r"[-=]{5,}", lines[i + 1])]
    for start, end in zip(titles, titles[1:] + [len(lines)]):
        if end - start > GUIDE_SCREEN_LINES:
            problems.append(f"section \"{lines[start]}\" has {end - start} lines")
    if "\t" in text:
        problems.append("tabs (Notepad's tab width differs from the editor's)")
    return problems


def check_sums(checks, folder):
    sums_path = os.path.join(folder, "SHA256SUMS")
    if not checks.check("SHA256SUMS is there", os.path.isfile(sums_path)):
        return
    listed = {}
    for line in open(sums_path, encoding="utf-8"):
        digest, name = line.rstrip("\n").split(None, 1)
        listed[name.lstrip("*")] = digest
    present = sorted(n for n in os.listdir(folder) if n.endswith((".zip", ".deb")))
    checks.check("SHA256SUMS lists every package: " + ", ".join(present),
                 sorted(listed) == present, f"lists {sorted(listed)}")
    for name in present:
        data = open(os.path.join(folder, name), "rb").read()
        checks.check(f"SHA256SUMS has the hash of {name}", listed.get(name) == sha256(data))


MACHINE_OF = {"win64": "x86-64", "win32": "i386"}


def tested_hashes(build):
    """The hashes of the programs the Wine tests ran in this build folder, by name."""
    record = os.path.join(build, "tested-programs.sha256")
    if not os.path.isfile(record):
        return None
    return {name: digest for digest, name in
            (line.split() for line in open(record, encoding="utf-8") if line.strip())}


def check_zip(checks, folder, platform, build, version, source_guide):
    wanted = f"Velmo-Starter-{version}-{platform}.zip"
    if not checks.check(f"the {platform} zip is named {wanted}",
                        os.path.isfile(os.path.join(folder, wanted))):
        return
    tested = tested_hashes(build)
    if tested is None:
        Checks.skip(f"{wanted}: the Wine tests did not run its programs on this host "
                    "(built and checked only; tools/test records the programs it ran)")
    companion_built = os.path.isfile(os.path.join(build, "velmo-umlaute.exe"))
    expected = sorted(["LIESMICH.txt", LICENSE_FILE, "Velmo-Starter.exe"]
                      + (["velmo-umlaute.exe"] if companion_built else []))
    if not companion_built:
        Checks.skip("velmo-umlaute.exe: the Windows build has no velmo-umlaute target yet")
    with zipfile.ZipFile(os.path.join(folder, wanted)) as archive:
        listed = sorted(archive.namelist())
        checks.check(f"the {platform} zip holds exactly " + ", ".join(expected), listed == expected,
                     f"holds {listed}")
        with tempfile.TemporaryDirectory() as unpacked:
            for program in ("Velmo-Starter.exe", "velmo-umlaute.exe"):
                if program not in listed:
                    continue
                data = archive.read(program)
                built = open(os.path.join(build, program), "rb").read()
                checks.check(f"{platform}: {program} in the zip is the one just built",
                             sha256(data) == sha256(built))
                if tested is not None and program not in tested:
                    Checks.skip(f"{platform}: {program}: the Wine tests did not run it "
                                "(tools/test says why)")
                elif tested is not None:
                    checks.check(f"{platform}: {program} in the zip is the one the "
                                 + ("32-bit smoke" if platform == "win32" else "Wine tests")
                                 + " ran",
                                 tested.get(program) == sha256(data))
                path = os.path.join(unpacked, program)
                open(path, "wb").write(data)
                for what, ok in pe.program_checks(pe.PeFile(data), MACHINE_OF[platform]):
                    checks.check(f"{platform}: {program}: {what}", ok)
                try:
                    record = pe_version.read_record(path)
                except ValueError as error:
                    checks.check(f"{program} has a version record", False, str(error))
                    continue
                for what, ok in pe_version.check(record, version, program):
                    checks.check(f"{platform}: {program}: {what}", ok)
            if LICENSE_FILE in listed:
                license_text = open(os.path.join(os.path.dirname(source_guide), "..", "LICENSE"),
                                    "rb").read()
                checks.check(f"{LICENSE_FILE} in the zip is LICENSE with CRLF line ends",
                             archive.read(LICENSE_FILE) == license_text.replace(b"\n", b"\r\n"))
            if GUIDE in listed:
                data = archive.read(GUIDE)
                checks.check("LIESMICH.txt in the zip is resources/LIESMICH.txt",
                             data == open(source_guide, "rb").read())
                linux = [w for w in LINUX_WORDS if w.encode() in data]
                checks.check("LIESMICH.txt speaks of Windows, not of Linux", not linux,
                             ", ".join(linux))
                problems = guide_problems(data)
                checks.check("LIESMICH.txt reads well in Notepad: UTF-8 with BOM, CRLF, "
                             f"lines of at most {GUIDE_MAX_COLUMNS} characters, "
                             f"sections of at most {GUIDE_SCREEN_LINES} lines",
                             not problems, "; ".join(problems))


def run(args):
    return subprocess.run(args, capture_output=True, text=True, timeout=60)


def check_deb(checks, folder, build, version):
    names = [n for n in os.listdir(folder) if n.endswith(".deb")]
    built_program = os.path.join(build, "velmo-umlaute")
    if not names and not os.path.isfile(built_program):
        Checks.skip("Debian package: the Linux build has no velmo-umlaute target yet")
        return
    arch = run(["dpkg", "--print-architecture"]).stdout.strip()
    wanted = f"velmo-umlaute_{version}_{arch}.deb"
    if not checks.check(f"the Debian package is named {wanted}", names == [wanted],
                        f"found {names}"):
        return
    deb = os.path.join(folder, wanted)
    fields = {}
    for line in run(["dpkg-deb", "--field", deb]).stdout.splitlines():
        if ":" in line and not line.startswith(" "):
            key, value = line.split(":", 1)
            fields[key] = value.strip()
    checks.check(f"package velmo-umlaute, version {version}",
                 fields.get("Package") == "velmo-umlaute" and fields.get("Version") == version,
                 f"{fields.get('Package')} {fields.get('Version')}")
    with tempfile.TemporaryDirectory() as root:
        unpacked = run(["dpkg", "-x", deb, root])
        if not checks.check("dpkg -x unpacks it", unpacked.returncode == 0, unpacked.stderr):
            return
        program = os.path.join(root, "usr/bin/velmo-umlaute")
        if not checks.check("it installs /usr/bin/velmo-umlaute", os.access(program, os.X_OK)):
            return
        checks.check("the installed velmo-umlaute is the one just built",
                     sha256(open(program, "rb").read()) == sha256(open(built_program, "rb").read()))
        env = dict(os.environ, LC_ALL="C.UTF-8")
        shown = subprocess.run([program, "--version"], capture_output=True, text=True, env=env)
        checks.check(f"velmo-umlaute --version names {version} and the MIT license",
                     shown.returncode == 0 and version in shown.stdout
                     and "Lizenz: MIT" in shown.stdout,
                     f"status {shown.returncode}: {shown.stdout.strip()}")
        helped = subprocess.run([program, "--help"], capture_output=True, text=True, env=env)
        checks.check("velmo-umlaute --help answers in German with both commands",
                     helped.returncode == 0 and "fuer-velmo" in helped.stdout
                     and "fuer-mich" in helped.stdout,
                     f"status {helped.returncode}")
        copyright = open(os.path.join(root, "usr/share/doc/velmo-umlaute/copyright")).read()
        checks.check("the copyright file says License: Expat, with its text",
                     "License: Expat" in copyright and "Permission is hereby granted" in copyright)
        page = os.path.join(root, "usr/share/man/man1/velmo-umlaute.1.gz")
        if not checks.check("it installs the man page velmo-umlaute.1.gz", os.path.isfile(page)):
            return
        man = gzip.open(page).read().decode("utf-8").replace("\\-", "-")
        checks.check(f"the man page is for version {version}", f"velmo-umlaute {version}" in man)
        options = sorted(set(re.findall(r"(?<![\w-])--[a-z][a-z-]*", helped.stdout)))
        missing = [o for o in options if o not in man]
        checks.check("the man page names every option of --help: " + " ".join(options),
                     bool(options) and not missing, f"missing {missing}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--packages", required=True, help="the folder tools/release filled")
    parser.add_argument("--windows-build", required=True, action="append",
                        metavar="PLATFORM=DIR", help="a Windows build folder: win64=DIR, win32=DIR")
    parser.add_argument("--linux-build", required=True, help="the native release build folder")
    args = parser.parse_args()
    source = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    windows = dict(build.split("=", 1) for build in args.windows_build)
    version = cmake_version(args.linux_build)
    checks = Checks()
    checks.check(f"every build has version {version}",
                 all(cmake_version(build) == version for build in windows.values()))
    check_sums(checks, args.packages)
    zips = sorted(n for n in os.listdir(args.packages) if n.endswith(".zip"))
    wanted = sorted(f"Velmo-Starter-{version}-{platform}.zip" for platform in windows)
    checks.check("the zips are " + ", ".join(wanted), zips == wanted, f"found {zips}")
    for platform, build in sorted(windows.items(), reverse=True):
        check_zip(checks, args.packages, platform, build, version,
                  os.path.join(source, "resources", GUIDE))
    check_deb(checks, args.packages, args.linux_build, version)
    print(f"check_packages: {'FAILED' if checks.failed else 'all passed'}"
          + (f" ({checks.failed} failed)" if checks.failed else ""))
    return 1 if checks.failed else 0


if __name__ == "__main__":
    sys.exit(main())
