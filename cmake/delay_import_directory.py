#!/usr/bin/env python3
"""Fills in the delay-import directory of a freshly linked PE32 or PE32+ program.

GNU ld (2.40) links delayed imports made by dlltool, but leaves data directory 13 of the
PE header empty: the delayed libraries would be invisible to anyone reading the file (the
artifact check, a dependency viewer). The link map names each library's descriptor
(_DELAY_IMPORT_DESCRIPTOR_*) and the zero descriptor that ends the table
(tools_delay_import_end); this script checks that they form one table, points the
directory at it and sets the header checksum again. A program without delayed imports is
left alone. On any problem the program is deleted, so that no half-made file stays behind
as up to date."""
import argparse
import os
import re
import struct
import sys

DESCRIPTOR_SIZE = 32
DELAY_IMPORT_DIRECTORY = 13
DELAY_ATTRIBUTES_RVA = 0x1
# As the map prints them, which is without the leading underscore of i386 C symbols:
# dlltool's "__DELAY_IMPORT_DESCRIPTOR_<library>" is "_DELAY..." there, "__DELAY..." on
# x86-64, and the zero descriptor is "tools_delay_import_end" on both.
DESCRIPTOR_SYMBOL = r"__?DELAY_IMPORT_DESCRIPTOR_\S+"
END_SYMBOL = "tools_delay_import_end"
# Optional header magic: where ImageBase, the directory count and the directories are.
LAYOUTS = {0x10B: ("<I", 28, 92, 96), 0x20B: ("<Q", 24, 108, 112)}


class Failure(Exception):
    pass


def checksum(data, field):
    """The PE header checksum: the 16-bit words of the file, the checksum field left out,
    added with the carries folded back in, plus the file length."""
    padded = data + (b"\0" if len(data) % 2 else b"")
    total = 0
    for index, (word,) in enumerate(struct.iter_unpack("<H", padded)):
        if field <= 2 * index < field + 4:
            continue
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def fill(exe, map_file):
    data = bytearray(open(exe, "rb").read())
    (pe,) = struct.unpack_from("<I", data, 0x3C)
    if data[pe:pe + 4] != b"PE\0\0":
        raise Failure("no PE signature")
    sections, optional_size = struct.unpack_from("<2xH12xH", data, pe + 4)
    optional = pe + 24
    (magic,) = struct.unpack_from("<H", data, optional)
    if magic not in LAYOUTS:
        raise Failure(f"optional header magic {magic:#x}, neither PE32 nor PE32+")
    base_format, base_at, count_at, directories_at = LAYOUTS[magic]
    (image_base,) = struct.unpack_from(base_format, data, optional + base_at)
    (directories,) = struct.unpack_from("<I", data, optional + count_at)
    if directories <= DELAY_IMPORT_DIRECTORY:
        raise Failure("the header has no delay-import directory entry")
    entry = optional + directories_at + 8 * DELAY_IMPORT_DIRECTORY
    # (address, size in the file, file offset) of each section
    table = []
    for n in range(sections):
        virtual_size, address, raw_size, raw = struct.unpack_from(
            "<IIII", data, optional + optional_size + 40 * n + 8)
        table.append((address, min(virtual_size, raw_size), raw))

    def offset(rva, size):
        for address, stored, raw in table:
            if address <= rva and rva + size <= address + stored:
                return raw + rva - address
        raise Failure(f"RVA {rva:#x} is not in the file")

    text = open(map_file).read()
    def addresses(symbol):
        return sorted(int(va, 16) - image_base for va in re.findall(
            r"^\s+0x([0-9a-fA-F]+)\s+" + symbol + r"\s*$", text, re.M))

    descriptors = addresses(DESCRIPTOR_SYMBOL)
    ends = addresses(END_SYMBOL)
    current = struct.unpack_from("<II", data, entry)
    if not descriptors:
        if current != (0, 0) or ends:
            raise Failure("the map names no delayed library, yet the program has a "
                          "delay-import directory or the zero descriptor")
        return False
    if len(ends) != 1:
        raise Failure(f"the map names {END_SYMBOL} {len(ends)} times, not once")
    for n, rva in enumerate(descriptors):
        if rva != descriptors[0] + n * DESCRIPTOR_SIZE:
            raise Failure(f"descriptor at {rva:#x} does not follow the one before it")
        attributes, name = struct.unpack_from("<II", data, offset(rva, DESCRIPTOR_SIZE))
        if not attributes & DELAY_ATTRIBUTES_RVA or name == 0:
            raise Failure(f"descriptor at {rva:#x} is not one of RVAs with a name")
    end = ends[0]
    if end != descriptors[-1] + DESCRIPTOR_SIZE:
        raise Failure(f"the zero descriptor at {end:#x} does not follow the last one "
                      f"at {descriptors[-1]:#x}")
    start = offset(end, DESCRIPTOR_SIZE)
    if any(data[start:start + DESCRIPTOR_SIZE]):
        raise Failure(f"the descriptor at {end:#x} that ends the table is not zero")

    wanted = (descriptors[0], (len(descriptors) + 1) * DESCRIPTOR_SIZE)
    if current == wanted:
        return False
    if current != (0, 0):
        raise Failure(f"the linker set the delay-import directory to {current}, not {wanted}")
    struct.pack_into("<II", data, entry, *wanted)
    field = optional + 64
    struct.pack_into("<I", data, field, checksum(bytes(data), field))
    with open(exe, "wb") as out:
        out.write(data)
    return True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("map")
    args = parser.parse_args()
    try:
        fill(args.exe, args.map)
    except (Failure, OSError, struct.error) as problem:
        print(f"{args.exe}: delay-import directory: {problem}", file=sys.stderr)
        try:
            os.remove(args.exe)
        except OSError:
            pass
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
