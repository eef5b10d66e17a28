#!/usr/bin/env python3
"""Checks a shipped executable: PE32 for i386 or PE32+ for x86-64 as asked, imports only
the allowed DLLs and, name by name, only functions on the reviewed list of that machine
(present on Windows 98 and 2000, or on the x64 editions of XP and Server 2003), whether
bound at load time or delayed, which DLLs are delayed, size budget (stripped), the strings
of its version resource and, for a program, its application manifest and the
Terminal-Server flag."""
import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
from xml.parsers import expat

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


RESOURCE_DIRECTORY = 2
DLL_TERMINAL_SERVER_AWARE = 0x8000
# What each machine's files are: COFF machine, optional header magic, objdump's name.
MACHINES = {
    "i386": (0x14C, 0x10B, "pei-i386"),
    "x86-64": (0x8664, 0x20B, "pei-x86-64"),
}
# Optional header magic: the format of ImageBase and of a thunk, where ImageBase, the
# directory count and the directories are, and the ordinal flag of a thunk.
LAYOUTS = {
    0x10B: ("<I", 28, 92, 96, 1 << 31),
    0x20B: ("<Q", 24, 108, 112, 1 << 63),
}


class PeImage:
    """The parts of a PE32 or PE32+ file needed to read its header fields, its
    delay-import directory and its resources."""

    def __init__(self, path):
        self.data = open(path, "rb").read()
        (pe,) = struct.unpack_from("<I", self.data, 0x3C)
        if self.data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.machine, sections = struct.unpack_from("<HH", self.data, pe + 4)
        (optional_size,) = struct.unpack_from("<H", self.data, pe + 20)
        optional = pe + 24
        (self.magic,) = struct.unpack_from("<H", self.data, optional)
        if self.magic not in LAYOUTS:
            raise ValueError(f"optional header magic {self.magic:#x}, neither PE32 nor PE32+")
        self.pointer, base_at, count_at, directories_at, self.ordinal_flag = LAYOUTS[self.magic]
        (self.image_base,) = struct.unpack_from(self.pointer, self.data, optional + base_at)
        # DllCharacteristics lies at the same offset in both formats.
        (self.dll_characteristics,) = struct.unpack_from("<H", self.data, optional + 70)
        (directories,) = struct.unpack_from("<I", self.data, optional + count_at)
        self.directories = [struct.unpack_from("<II", self.data,
                                               optional + directories_at + 8 * n)
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

    def thunk(self, rva):
        """A pointer-sized entry: 4 bytes in PE32, 8 in PE32+."""
        return struct.unpack_from(self.pointer, self.data, self.offset(rva))[0]

    def resource(self, kind, ident):
        """The bytes of the resource with numeric type and id (its first language), or
        None."""
        root, _ = self.directory(RESOURCE_DIRECTORY)
        if root == 0:
            return None

        def entries(table):
            named, numbered = struct.unpack_from("<12xHH", self.data, self.offset(table))
            for n in range(named + numbered):
                key, target = struct.unpack_from("<II", self.data,
                                                  self.offset(table + 16 + 8 * n))
                yield key, target

        def subtable(table, key):
            for name, target in entries(table):
                if name == key and target & 0x80000000:
                    return root + (target & 0x7FFFFFFF)
            return None

        by_type = subtable(root, kind)
        by_id = by_type and subtable(by_type, ident)
        if not by_id:
            return None
        for _, target in entries(by_id):
            if not target & 0x80000000:
                rva, size = struct.unpack_from("<II", self.data, self.offset(root + target))
                start = self.offset(rva)
                return self.data[start:start + size]
        return None

    def text(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")


def delay_imported_functions(image):
    """(dll, function) pairs of the delay-import directory, the DLL in lower case; a
    function imported by ordinal is named "#<ordinal>". Also the problems found, among
    them an address slot that does not start out at code (the load thunk that the first
    call must reach), and the directory's address."""
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
            thunk = image.thunk(entry)
            if thunk == 0:
                break
            # an ordinal, or the RVA of a hint followed by the name
            function = (f"#{thunk & 0xFFFF}" if thunk & image.ordinal_flag
                        else image.text(thunk + 2))
            pairs.add((dll, function))
            slot = image.thunk(addresses + entry - names)
            if not image.executable(slot):
                problems.append(f"the delayed {dll}!{function} starts out at {slot:#x}, "
                                "not at a load thunk")
            entry += struct.calcsize(image.pointer)
        descriptor += 32
    return pairs, problems, address


ASM_V1 = "urn:schemas-microsoft-com:asm.v1"
ASM_V3 = "urn:schemas-microsoft-com:asm.v3"
COMPATIBILITY = "urn:schemas-microsoft-com:compatibility.v1"
SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}": "Vista",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "10",
}
RT_MANIFEST = 24


def manifest_problems(text, level):
    """What is wrong with an application manifest for a program that asks for the given
    execution level. Windows XP parses the manifest although it ignores the level: it
    rejects a trustInfo without the asm.v3 namespace, and some of its releases fail on
    that namespace declared more than once."""
    declarations = []
    parser = expat.ParserCreate(namespace_separator=" ")
    parser.StartNamespaceDeclHandler = lambda prefix, uri: declarations.append(uri)
    try:
        parser.Parse(text, True)
        root = ET.fromstring(text)
    except (expat.ExpatError, ET.ParseError) as error:
        return [f"the manifest is not well-formed XML: {error}"]
    problems = []
    if root.tag != f"{{{ASM_V1}}}assembly":
        problems.append(f"the manifest's root is {root.tag}, not an asm.v1 assembly")
    if declarations.count(ASM_V3) != 1:
        problems.append(f"the manifest declares {ASM_V3} {declarations.count(ASM_V3)} times, "
                        "not once")
    path = "/".join(f"{{{ASM_V3}}}{name}" for name in
                    ("trustInfo", "security", "requestedPrivileges", "requestedExecutionLevel"))
    levels = root.findall(path)
    if len(levels) != 1:
        problems.append(f"the manifest has {len(levels)} requestedExecutionLevel in an asm.v3 "
                        "trustInfo of the assembly, not one")
    for element in levels:
        if element.get("level") != level:
            problems.append(f"the manifest's level is {element.get('level')!r}, "
                            f"expected {level!r}")
        if element.get("uiAccess") != "false":
            problems.append(f"the manifest's uiAccess is {element.get('uiAccess')!r}, "
                            "expected 'false'")
    listed = {element.get("Id", "").lower() for element in root.iter(
        f"{{{COMPATIBILITY}}}supportedOS")}
    missing = [name for guid, name in SUPPORTED_OS.items() if guid not in listed]
    if missing:
        problems.append("the manifest's supportedOS lacks Windows " + ", ".join(missing))
    return problems


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
    parser.add_argument("--machine", required=True, choices=sorted(MACHINES),
                        help="the machine the file is for: i386 (PE32) or x86-64 (PE32+)")
    parser.add_argument("--reviewed", required=True,
                        help="file of the functions reviewed as present on the oldest "
                        "Windows of that machine")
    parser.add_argument("--manifest-level",
                        help="a program: its manifest (RT_MANIFEST, id 1) must ask for "
                        "this execution level, and it must be Terminal-Server aware")
    parser.add_argument("--oldest", help="the oldest Windows the reviewed list is for, "
                        "when it is not the machine's own (a tool for authors' machines)")
    parser.add_argument("--rc", help="the resource script whose version strings the "
                        "executable must carry")
    args = parser.parse_args()

    failures = []
    dump = subprocess.run([args.objdump, "-p", args.exe], check=True,
                          capture_output=True, text=True).stdout
    machine, magic, objdump_format = MACHINES[args.machine]
    image = PeImage(args.exe)
    if (image.machine, image.magic) != (machine, magic) or \
            f"file format {objdump_format}" not in dump:
        failures.append(f"not a {objdump_format} executable: machine {image.machine:#x}, "
                        f"optional header magic {image.magic:#x}")
    oldest = {"i386": "Windows 98 and 2000",
              "x86-64": "the x64 editions of Windows XP and Server 2003"}[args.machine]
    oldest = args.oldest or oldest
    imports = sorted({name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)})
    allowed = SYSTEM_DLLS | {name.lower() for name in args.also_import}
    stray = [name for name in imports if name not in allowed]
    if stray:
        failures.append("imports non-system DLLs: " + ", ".join(stray))
    functions = imported_functions(dump)
    if not functions:
        failures.append("no imported function found in the import tables")
    delayed, problems, delay_directory = delay_imported_functions(image)
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
        failures.append(f"imports functions not reviewed for {oldest}: " +
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

    if args.manifest_level:
        if not image.dll_characteristics & DLL_TERMINAL_SERVER_AWARE:
            failures.append(f"not Terminal-Server aware: DllCharacteristics "
                            f"{image.dll_characteristics:#06x}")
        manifest = image.resource(RT_MANIFEST, 1)
        if manifest is None:
            failures.append("no manifest resource (type 24, id 1)")
        else:
            failures += manifest_problems(manifest, args.manifest_level)

    print(f"{os.path.basename(args.exe)}: {args.machine}, {size} bytes"
          f" ({stripped_size(args.exe, args.objdump)} stripped), imports {', '.join(imports)}"
          f" ({len(functions)} functions), delayed {', '.join(delayed_dlls) or 'none'}"
          f" ({len(delayed)} functions)")
    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
