#!/usr/bin/env python3
"""Reads the version record of a Windows program file and checks it against
the project's version: the four numbers, the German string table with the text
shown for them, the translation entry, the product and the file's own name.

    pe_version.py FILE.exe                       print the record
    pe_version.py FILE.exe --expect 1.0.0        check it (exit status 1 if it differs)
"""
import argparse
import os
import re
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools",
                                "lib"))
import pe  # noqa: E402

RT_VERSION = 16
RT_MANIFEST = 24


def version_resource(program):
    """The raw VS_VERSIONINFO block and its language id."""
    found = program.resource(RT_VERSION)
    if found is None:
        raise ValueError("no version record")
    return found


def _blocks(buf, pos, end):
    """The children of a version block: (key, value bytes, value type, children range)."""
    while pos + 6 <= end:
        length, value_len, value_type = struct.unpack_from("<HHH", buf, pos)
        if length == 0:
            break
        key_end = pos + 6
        while buf[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = buf[pos + 6:key_end].decode("utf-16-le")
        value_pos = (key_end + 2 + 3) & ~3
        value_bytes = value_len * 2 if value_type == 1 else value_len
        value = buf[value_pos:value_pos + value_bytes]
        children = ((value_pos + value_bytes + 3) & ~3, pos + length)
        yield key, value, value_type, children
        pos = (pos + length + 3) & ~3


def read_record(path):
    program = pe.read(path)
    raw, lang = version_resource(program)
    (key, fixed, _, (child, end)), = list(_blocks(raw, 0, len(raw)))
    assert key == "VS_VERSION_INFO", key
    sig, _, file_ms, file_ls, prod_ms, prod_ls = struct.unpack_from("<IIIIII", fixed, 0)
    assert sig == 0xFEEF04BD, hex(sig)
    record = {
        "language": lang,
        "file": (file_ms >> 16, file_ms & 0xFFFF, file_ls >> 16, file_ls & 0xFFFF),
        "product": (prod_ms >> 16, prod_ms & 0xFFFF, prod_ls >> 16, prod_ls & 0xFFFF),
        "strings": {},
        "translation": None,
    }
    for name, _, _, (pos, stop) in _blocks(raw, child, end):
        for table, _, _, (tpos, tstop) in _blocks(raw, pos, stop):
            if name == "StringFileInfo":
                record["table"] = table
                for k, v, _, _ in _blocks(raw, tpos, tstop):
                    record["strings"][k] = v.decode("utf-16-le").rstrip("\0")
        if name == "VarFileInfo":
            for k, v, _, _ in _blocks(raw, pos, stop):
                if k == "Translation":
                    record["translation"] = struct.unpack_from("<HH", v, 0)
    # The program's own identity is the manifest's first assemblyIdentity.
    manifest = program.resource(RT_MANIFEST)
    if manifest is not None:
        found = re.search(rb"<assemblyIdentity[^>]*?\sversion=\"([^\"]*)\"", manifest[0])
        record["manifest"] = found.group(1).decode() if found else ""
    return record


def shown_text(major, minor, patch):
    """The text the record shows for a version: "1.00" for 1.0.0."""
    return f"{major}.{minor:02d}" + (f".{patch}" if patch else "")


def check(record, version, file_name):
    major, minor, patch = (int(x) for x in version.split("."))
    numbers = (major, minor, patch, 0)
    text = shown_text(major, minor, patch)
    strings = record["strings"]
    checks = [
        (f"file version {record['file']} is {numbers}", record["file"] == numbers),
        (f"product version {record['product']} is {numbers}", record["product"] == numbers),
        (f"FileVersion \"{strings.get('FileVersion')}\" is \"{text}\"",
         strings.get("FileVersion") == text),
        (f"ProductVersion \"{strings.get('ProductVersion')}\" is \"{text}\"",
         strings.get("ProductVersion") == text),
        ("German record (language 0x0407, table 040704B0, translation 0407/1200)",
         record["language"] == 0x0407 and record.get("table", "").upper() == "040704B0"
         and record["translation"] == (0x0407, 1200)),
        (f"ProductName \"{strings.get('ProductName')}\" is \"Velmo\"",
         strings.get("ProductName") == "Velmo"),
        (f"LegalCopyright \"{strings.get('LegalCopyright')}\" names the MIT license",
         "Velmo-Starter contributors" in strings.get("LegalCopyright", "")
         and "MIT" in strings.get("LegalCopyright", "")),
        (f"OriginalFilename \"{strings.get('OriginalFilename')}\" is \"{file_name}\"",
         strings.get("OriginalFilename") == file_name),
    ]
    if "manifest" in record:
        four = ".".join(str(n) for n in numbers)
        checks.append((f"manifest version \"{record['manifest']}\" is \"{four}\"",
                       record["manifest"] == four))
    return checks


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("program")
    parser.add_argument("--expect", metavar="VERSION", help="the CMake version, e.g. 1.0.0")
    parser.add_argument("--name", help="the expected OriginalFilename (default: the file's name)")
    args = parser.parse_args()
    record = read_record(args.program)
    if not args.expect:
        print(record)
        return 0
    name = args.name or args.program.replace("\\", "/").rsplit("/", 1)[-1]
    failed = 0
    for what, ok in check(record, args.expect, name):
        print(("ok     " if ok else "FAILED ") + what)
        failed += not ok
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
