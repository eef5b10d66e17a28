#!/usr/bin/env python3
"""Checks a shipped executable: PE32 for i386, imports only the allowed DLLs and, name by
name, only functions reviewed as present on Windows 98 and 2000, size budget (stripped),
and the strings of its version resource."""
import argparse
import os
import re
import subprocess
import sys

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


def reviewed_functions(path):
    pairs = set()
    for line in open(path):
        fields = line.split("#", 1)[0].split()
        if fields:
            pairs.add((fields[0].lower(), fields[1]))
    return pairs


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--max-kib", type=int, default=100)
    parser.add_argument("--also-import", action="append", default=[],
                        help="a non-system DLL the program may import")
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
    unreviewed = sorted(functions - reviewed_functions(args.reviewed))
    if unreviewed:
        failures.append("imports functions not reviewed for Windows 98 and 2000: " +
                        ", ".join(f"{dll}!{name}" for dll, name in unreviewed))
    for needed in args.also_import:
        if needed.lower() not in imports:
            failures.append("does not import " + needed)

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

    print(f"{os.path.basename(args.exe)}: {size} bytes, imports {', '.join(imports)}"
          f" ({len(functions)} functions)")
    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
