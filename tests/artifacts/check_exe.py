#!/usr/bin/env python3
"""Checks a shipped executable: PE32 for i386, imports only the allowed DLLs and, name by
name, only functions reviewed as present on Windows 98 and 2000, whether bound at load
time or delayed, which DLLs are delayed, size budget (stripped), and the strings of its
version resource."""
import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

# DLLs that every Windows of both families has.
SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "setupapi.dll",
    "cfgmgr32.dll", "msvcrt.dll", "comctl32.dll", "shell32.dll", "version.dll",
}


def imported_functions(dump):
    """(dll, function) pairs of objdump's import tables, the DLL in lower case."""
    pairs = set()
    dll = None
    for line in dump.splitlines():
        named = re.match(r"\s*DLL Name: (\S+)", line)
        if named:
            dll = named.group(1).lower()
            continue
        member = re.match(r"\s+[0-9a-f]+\s+\d+\s+(\S+)\s*$", line)
        if dll and member:
            pairs.add((dll, member.group(1)))
        elif dll and not line.strip():
            dll = None
    return pairs


# The delay-import directory: entry 13 of the PE data directories. objdump lists it with
# the others but does not read it.
DELAY_IMPORT_DIRECTORY = 13
# dlattrRva: the descriptor holds RVAs (the only form the runtime's helper accepts).
DELAY_ATTRIBUTES_RVA = 0x1
SCN_MEM_EXECUTE = 0x20000000


class PeImage:
    """The parts of a PE32 file needed to read its delay-import directory."""

    def __init__(self, path):
        self.data = open(path, "rb").read()
        (pe,) = struct.unpack_from("<I", self.data, 0x3C)
        if self.data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        sections, optional_size = struct.unpack_from("<2xH12xH", self.data, pe + 4)
        optional = pe + 24
        (magic,) = struct.unpack_from("<H", self.data, optional)
        if magic != 0x10B:
            raise ValueError(f"optional header magic {magic:#x}, not PE32")
        (self.image_base,) = struct.unpack_from("<I", self.data, optional + 28)
        (directories,) = struct.unpack_from("<I", self.data, optional + 92)
        self.directories = [struct.unpack_from("<II", self.data, optional + 96 + 8 * n)
                            for n in range(directories)]
        self.sections = []
        for n in range(sections):
            header = optional + optional_size + 40 * n
            virtual_size, address, raw_size, raw = struct.unpack_from("<IIII", self.data,
                                                                      header + 8)
            (characteristics,) = struct.unpack_from("<I", self.data, header + 36)
            self.sections.append((address, max(virtual_size, raw_size), raw, characteristics))

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def offset(self, rva):
        for address, size, raw, _ in self.sections:
            if address <= rva < address + size:
                return raw + rva - address
        raise ValueError(f"RVA {rva:#x} lies in no section")

    def executable(self, va):
        rva = va - self.image_base
        return any(address <= rva < address + size and characteristics & SCN_MEM_EXECUTE
                   for address, size, _, characteristics in self.sections)

    def u32(self, rva):
        return struct.unpack_from("<I", self.data, self.offset(rva))[0]

    def text(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")


def delay_imported_functions(path):
    """(dll, function) pairs of the delay-import directory, the DLL in lower case; a
    function imported by ordinal is named "#<ordinal>". Also the problems found, among
    them an address slot that does not start out at code (the load thunk that the first
    call must reach), and the directory's address."""
    image = PeImage(path)
    pairs, problems = set(), []
    address, _ = image.directory(DELAY_IMPORT_DIRECTORY)
    if address == 0:
        return pairs, problems, address
    descriptor = address
    while True:
        attributes, name, _module, addresses, names = struct.unpack_from(
            "<5I", image.data, image.offset(descriptor))
        if name == 0:
            break
        if not attributes & DELAY_ATTRIBUTES_RVA:
            problems.append(f"delay-import descriptor at {descriptor:#x} does not hold RVAs")
            break
        dll = image.text(name).lower()
        entry = names
        while True:
            thunk = image.u32(entry)
            if thunk == 0:
                break
            # an ordinal, or the RVA of a hint followed by the name
            function = f"#{thunk & 0xFFFF}" if thunk & 0x80000000 else image.text(thunk + 2)
            pairs.add((dll, function))
            slot = image.u32(addresses + entry - names)
            if not image.executable(slot):
                problems.append(f"the delayed {dll}!{function} starts out at {slot:#x}, "
                                "not at a load thunk")
            entry += 4
        descriptor += 32
    return pairs, problems, address


def reviewed_functions(path):
    pairs = set()
    for line in open(path):
        fields = line.split("#", 1)[0].split()
        if fields:
            pairs.add((fields[0].lower(), fields[1]))
    return pairs


def stripped_size(exe, objdump):
    """Bytes of a copy after the strip tool that lies beside the given objdump."""
    strip = objdump[:-len("objdump")] + "strip" if objdump.endswith("objdump") else "strip"
    with tempfile.TemporaryDirectory() as folder:
        copy = os.path.join(folder, os.path.basename(exe))
        shutil.copyfile(exe, copy)
        subprocess.run([strip, copy], check=True)
        return os.path.getsize(copy)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--max-kib", type=int, default=100)
    parser.add_argument("--also-import", action="append", default=[],
                        help="a non-system DLL the program may import")
    parser.add_argument("--delay-import", action="append", default=[],
                        help="a DLL the program must import delayed and never at load time "
                        "(its delay-load hooks decide where it comes from)")
    parser.add_argument("--reviewed", required=True,
                        help="file of the functions reviewed as present on 98 and 2000")
    parser.add_argument("--rc", help="the resource script whose version strings the "
                        "executable must carry")
    args = parser.parse_args()

    failures = []
    dump = subprocess.run([args.objdump, "-p", args.exe], check=True,
                          capture_output=True, text=True).stdout
    if "file format pei-i386" not in dump:
        failures.append("not a PE32 i386 executable")
    imports = sorted({name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)})
    allowed = SYSTEM_DLLS | {name.lower() for name in args.also_import}
    stray = [name for name in imports if name not in allowed]
    if stray:
        failures.append("imports non-system DLLs: " + ", ".join(stray))
    functions = imported_functions(dump)
    if not functions:
        failures.append("no imported function found in the import tables")
    delayed, problems, delay_directory = delay_imported_functions(args.exe)
    failures += problems
    # objdump names the directory's address: the two readings must agree.
    listed = re.search(r"^Entry d ([0-9a-fA-F]+) ", dump, re.M)
    if not listed or int(listed.group(1), 16) != delay_directory:
        failures.append("the delay-import directory was not read where objdump lists it")
    delayed_dlls = sorted({dll for dll, _ in delayed})
    stray = [name for name in delayed_dlls if name not in allowed]
    if stray:
        failures.append("delay-imports non-system DLLs: " + ", ".join(stray))
    reviewed = reviewed_functions(args.reviewed)
    unreviewed = sorted([(dll, name, "") for dll, name in functions - reviewed] +
                        [(dll, name, " (delayed)") for dll, name in delayed - reviewed])
    if unreviewed:
        failures.append("imports functions not reviewed for Windows 98 and 2000: " +
                        ", ".join(f"{dll}!{name}{how}" for dll, name, how in unreviewed))
    for needed in args.also_import:
        if needed.lower() not in imports:
            failures.append("does not import " + needed)
    # A delayed DLL is loaded by the runtime's helper, by its bare name unless the program's
    # hooks say otherwise: only the DLLs named here have such hooks.
    declared = {name.lower() for name in args.delay_import}
    undeclared = [name for name in delayed_dlls if name not in declared]
    if undeclared:
        failures.append("delay-imports DLLs without a load hook: " + ", ".join(undeclared))
    for needed in sorted(declared):
        if needed in imports:
            failures.append(f"{needed} is imported at load time, not only delayed")
        if needed not in delayed_dlls:
            failures.append("does not delay-import " + needed)

    size = os.path.getsize(args.exe)
    if size > args.max_kib * 1024:
        failures.append(f"{size} bytes, over {args.max_kib} KiB")
    if ".debug_info" in subprocess.run([args.objdump, "-h", args.exe], check=True,
                                       capture_output=True, text=True).stdout:
        failures.append("not stripped")

    data = open(args.exe, "rb").read()
    text = data.decode("utf-16-le", errors="replace") + data[1:].decode("utf-16-le", errors="replace")
    expected = []
    if args.rc:
        expected = re.findall(r'^\s*VALUE\s+"([^"]+)",\s*"([^"]*)"', open(args.rc).read(), re.M)
        if not expected:
            failures.append(f"{args.rc} has no version strings")
    for key, value in expected:
        found = re.search(re.escape(key) + r"\x00+([^\x00]*)\x00", text)
        if not found:
            failures.append(f"version resource has no {key}")
        elif found.group(1) != value:
            failures.append(f"version {key} is {found.group(1)!r}, expected {value!r}")

    print(f"{os.path.basename(args.exe)}: {size} bytes ({stripped_size(args.exe, args.objdump)}"
          f" stripped), imports {', '.join(imports)}"
          f" ({len(functions)} functions), delayed {', '.join(delayed_dlls) or 'none'}"
          f" ({len(delayed)} functions)")
    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
