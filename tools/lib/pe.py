"""The one reader of Windows program files (PE) and the one check of them:
machine, ASLR and DEP with the relocations that make ASLR work, and imports
from nothing but Windows' own libraries (tools/lib/windows-dlls.txt). Used by
tools/pe-check, the release checks and the version-record reader."""
import os
import struct

MACHINES = {0x14C: "i386", 0x8664: "x86-64"}
PE32, PE32_PLUS = 0x10B, 0x20B
# Flags of DllCharacteristics.
HIGH_ENTROPY_VA, DYNAMIC_BASE, NX_COMPAT = 0x20, 0x40, 0x100


def _windows_dlls():
    lists = {"import": set(), "load": set()}
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "windows-dlls.txt")) as f:
        for line in f:
            kind, _, name = line.partition(" ")
            if kind in lists:
                lists[kind].add(name.strip().lower())
    return lists["import"], lists["load"]


IMPORTABLE, LOADABLE = _windows_dlls()


def is_api_set(name):
    return name.startswith("api-ms-win-") or name.startswith("ext-ms-win-")


class PeFile:
    """The facts of one program file; raises ValueError for anything else."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.machine_id, count, _, _, _, opt_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        self.machine = MACHINES.get(self.machine_id, hex(self.machine_id))
        opt = pe + 24
        self.magic = struct.unpack_from("<H", data, opt)[0]
        if self.magic not in (PE32, PE32_PLUS):
            raise ValueError("unknown optional header")
        plus = self.magic == PE32_PLUS
        self.dll_characteristics = struct.unpack_from("<H", data, opt + 70)[0]
        self.image_base = struct.unpack_from("<Q" if plus else "<I", data, opt + 24 if plus else 28)[0]
        directory_count = struct.unpack_from("<I", data, opt + (108 if plus else 92))[0]
        directories = opt + (112 if plus else 96)
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i)
                            for i in range(directory_count)]
        table = opt + opt_size
        self.sections = [struct.unpack_from("<8xIIII", data, table + 40 * i) for i in range(count)]
        self.size = len(data)

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def offset(self, rva):
        for vsize, vaddr, rsize, raw in self.sections:
            if vaddr <= rva < vaddr + max(vsize, rsize):
                return rva - vaddr + raw
        raise ValueError("address outside every section")

    def string(self, at):
        return self.data[at:self.data.index(b"\0", at)].decode().lower()

    @property
    def relocation_bytes(self):
        return self.directory(5)[1]

    @property
    def imports(self):
        rva, size = self.directory(1)
        names, at = [], self.offset(rva) if rva and size else None
        while at is not None:
            name = struct.unpack_from("<IIIII", self.data, at)[3]
            if name == 0:
                break
            names.append(self.string(self.offset(name)))
            at += 20
        return names

    @property
    def delay_imports(self):
        rva, size = self.directory(13)
        names, at = [], self.offset(rva) if rva and size else None
        while at is not None:
            attributes, name = struct.unpack_from("<II", self.data, at)
            if name == 0:
                break
            if not attributes & 1:
                name -= self.image_base  # old style: addresses, not RVAs
            names.append(self.string(self.offset(name)))
            at += 32
        return names

    def resource(self, wanted_type):
        """The first resource of a type as raw bytes and its language; None if there is none."""
        rva = self.directory(2)[0]
        if not rva:
            return None
        base = self.offset(rva)

        def entries(directory):
            named, ids = struct.unpack_from("<12xHH", self.data, base + directory)
            for i in range(named + ids):
                yield struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)

        for type_id, type_dir in entries(0):
            if type_id != wanted_type:
                continue
            for _, name_dir in entries(type_dir & 0x7FFFFFFF):
                for lang, leaf in entries(name_dir & 0x7FFFFFFF):
                    data_rva, size = struct.unpack_from("<II", self.data, base + leaf)
                    start = self.offset(data_rva)
                    return self.data[start:start + size], lang
        return None


def read(path):
    with open(path, "rb") as f:
        return PeFile(f.read())


def program_checks(pe, machine=None):
    """(what, ok) for every rule a shipped Windows program keeps."""
    checks = []
    if machine:
        checks.append((f"{machine} program ({pe.machine})", pe.machine == machine and
                       pe.magic == (PE32 if machine == "i386" else PE32_PLUS)))
    else:
        checks.append((f"Windows program ({pe.machine})", pe.machine in MACHINES.values()))
    checks += [
        ("ASLR (dynamic base)", bool(pe.dll_characteristics & DYNAMIC_BASE)),
        # Without relocations Windows cannot move the image, whatever the flag says.
        ("relocations, so ASLR can move the image", pe.relocation_bytes > 0),
        ("DEP (NX compatible)", bool(pe.dll_characteristics & NX_COMPAT)),
    ]
    if pe.magic == PE32_PLUS:
        checks.append(("high-entropy ASLR (64-bit addresses)",
                       bool(pe.dll_characteristics & HIGH_ENTROPY_VA)))
    imports = pe.imports
    # The table was found at all: every program imports kernel32.
    checks.append(("the import table names kernel32.dll", "kernel32.dll" in imports))
    checks.append(("imports only libraries Windows maps from System32 itself (KnownDLLs): "
                   + ", ".join(imports),
                   all(d in IMPORTABLE or is_api_set(d) for d in imports)))
    delayed = pe.delay_imports
    checks.append(("loads on first use only Windows' own libraries: " + (", ".join(delayed) or "none"),
                   all(d in IMPORTABLE or d in LOADABLE or is_api_set(d) for d in delayed)))
    return checks
