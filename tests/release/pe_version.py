#!/usr/bin/env python3
"""Reads the version record of a Windows program file and checks it against
the project's version: the four numbers, the German string table with the text
shown for them, the translation entry, the product and the file's own name.

    pe_version.py FILE.exe                       print the record
    pe_version.py FILE.exe --expect 1.0.0        check it (exit status 1 if it differs)
"""
import argparse
import re
import struct
import sys

RT_VERSION = 16
RT_MANIFEST = 24


def _sections(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    count, opt_size = struct.unpack_from("<H12xH", data, pe + 6)
    opt = pe + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    dirs = opt + (96 if magic == 0x10B else 112)
    rsrc_rva = struct.unpack_from("<I", data, dirs + 2 * 8)[0]
    table = opt + opt_size
    secs = [struct.unpack_from("<8xIIII", data, table + 40 * i) for i in range(count)]
    return rsrc_rva, secs


def _offset(secs, rva):
    for vsize, vaddr, rsize, raw in secs:
        if vaddr <= rva < vaddr + max(vsize, rsize):
            return rva - vaddr + raw
    raise ValueError("address outside the sections")


def _entries(data, base, directory):
    named, ids = struct.unpack_from("<12xHH", data, base + directory)
    for i in range(named + ids):
        name, target = struct.unpack_from("<II", data, base + directory + 16 + 8 * i)
        yield name, target


def resource(data, wanted_type):
    """The first resource of a type, as raw bytes, and its language id; None if there is none."""
    rsrc_rva, secs = _sections(data)
    if not rsrc_rva:
        return None
    base = _offset(secs, rsrc_rva)
    for type_id, type_dir in _entries(data, base, 0):
        if type_id != wanted_type:
            continue
        for _, name_dir in _entries(data, base, type_dir & 0x7FFFFFFF):
            for lang, leaf in _entries(data, base, name_dir & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", data, base + leaf)
                start = _offset(secs, rva)
                return data[start:start + size], lang
    return None


def version_resource(data):
    """The raw VS_VERSIONINFO block and its language id."""
    found = resource(data, RT_VERSION)
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
    data = open(path, "rb").read()
    raw, lang = version_resource(data)
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
    manifest = resource(data, RT_MANIFEST)
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
