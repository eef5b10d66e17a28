#!/usr/bin/env python3
"""Writes the checked-in seed inputs of the fuzz targets (tests/fuzz/corpus/<target>/).

Each seed is a small, meaningful case in the target's input format (see the comment at
the top of each target). Run from anywhere; it rewrites only the seeds named here."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode("latin-1"))


def ini(*lines):
    return "".join(line + "\r\n" for line in lines)


# --- pakrun_settings: one header byte, then Pakrun.ini ---------------------------------
# Header: bits 0-2 Windows version (2: XP), bit 3 folder with blanks, bit 4 registry
# script, bit 5 command tail, bits 6-7 obstacle (1: none, 0: mutex held, 2: no TEMP,
# 3: no SystemRoot). "B" is XP with nothing in the way.
ADAPTER = "PCI\\VEN_1D4A&DEV_0302"
EVERYTHING = ini(
    "[PARAMS]", "SWAPCMD=0", "CLEANUP=1", "RENAME=1", "REFRESH=1", "STATICREG=1",
    "DRIVERREG=1", "STATICREGFROMFILE=1",
    "[CLEANUP]", "CLEANCOUNT=2", "DEV1=PCI\\VEN_1D4A&DEV_0301", "DEV2=" + ADAPTER,
    "[REFRESH]", "DETECTCOUNT=1", "DETECTDEV1=PCI\\VEN_1D4A&DEV_0309",
    "[STATICREG]", "ADDREG=1", "ADDREG1_ROOT=HKLM", "ADDREG1_SUBKEY=SOFTWARE\\Vendor",
    "ADDREG1_ENTRYNAME=Static", "ADDREG1_FLAGS=0x00010001", "ADDREG1_VALUE=1",
    "DELREG=1", "DELREG1_ROOT=HKLM", "DELREG1_SUBKEY=SOFTWARE\\Vendor", "DELREG1_ENTRYNAME=Old",
    "[DRIVERREG]", "NIC=2", "DEV1=" + ADAPTER, "DEV2=PCI\\VEN_1D4A&DEV_0303",
    "[DRIVERREG_" + ADAPTER + "_XP]", "ADDREG=1", "ADDREG1_ENTRYNAME=Driver",
    "ADDREG1_FLAGS=0", "ADDREG1_VALUE=1",
    "[DRIVERREG_PCI\\VEN_1D4A&DEV_0303_XP]", "DELREG=2", "DELREG1_ENTRYNAME=Gone",
    "DELREG2_ENTRYNAME=")
write("pakrun_settings", "everything", "R" + EVERYTHING)
write("pakrun_settings", "everything-mutex-held", "\x12" + EVERYTHING)
write("pakrun_settings", "everything-no-temp", "\x92" + EVERYTHING)
write("pakrun_settings", "everything-no-systemroot", "\xd2" + EVERYTHING)
write("pakrun_settings", "swapcmd-long-folder-tail", "j" + ini(
    "[PARAMS]", "SWAPCMD=1", "CMDEXE=Netprep.exe", "CMDINI=\"Net prep.ini\"", "STATICREGFROMFILE=1"))
write("pakrun_settings", "swapcmd-defaults-2000", "A" + ini("[PARAMS]", "SWAPCMD=1"))
write("pakrun_settings", "static-rows-with-commas", "B" + ini(
    "[PARAMS]", "STATICREG=1", "[STATICREG]", "ADDREG=3",
    "ADDREG1_ROOT=HKCU", "ADDREG1_SUBKEY=Software\\A,B", "ADDREG1_ENTRYNAME=\"quoted\"",
    "ADDREG1_FLAGS=0x00010000", "ADDREG1_VALUE=one,two,\"three\"",
    "ADDREG3_ROOT=HKLM", "ADDREG3_VALUE=  padded  ", "DELREG=1"))
write("pakrun_settings", "driver-case-and-default-2003", "C" + ini(
    "[PARAMS]", "DRIVERREG=1", "[DRIVERREG]", "NIC=4", "DEV1=pci\\ven_1d4a&dev_0302",
    "DEV3=PCI\\VEN_8086", "DEV4=USB\\VID_1D4A&PID_0001",
    "[DRIVERREG_PCI\\VEN_1D4A&DEV_0302_2003]", "ADDREG=1", "ADDREG1_ENTRYNAME=A", "DELREG=1",
    "[DRIVERREG_DEFAULT_ID_2003]", "ADDREG=1",
    "[DRIVERREG_PCI\\VEN_8086_2003]", "ADDREG=2", "ADDREG2_VALUE=x"))
write("pakrun_settings", "counts-out-of-range", "B" + ini(
    "[PARAMS]", "CLEANUP=1", "REFRESH=1", "STATICREG=1", "DRIVERREG=1",
    "[CLEANUP]", "CLEANCOUNT=-1", "[REFRESH]", "DETECTCOUNT=4294967295",
    "[STATICREG]", "ADDREG=2000000000", "DELREG=0x7FFFFFFF", "[DRIVERREG]", "NIC=-5"))
write("pakrun_settings", "counts-just-over-the-bound", "B" + ini(
    "[PARAMS]", "CLEANUP=1", "STATICREG=1", "[CLEANUP]", "CLEANCOUNT=1001",
    "[STATICREG]", "ADDREG=1001", "DELREG=1500"))
write("pakrun_settings", "refresh-finds-device-98", "@" + ini(
    "[PARAMS]", "REFRESH=1", "DRIVERREG=1", "[REFRESH]", "DETECTCOUNT=2",
    "DETECTDEV2=" + ADAPTER, "[DRIVERREG]", "NIC=1", "DEV1=PCI\\VEN_1D4A&DEV_0303",
    "[DRIVERREG_PCI\\VEN_1D4A&DEV_0303_ELSE]", "ADDREG=1"))


# --- pakrun_devices: devices, then up to three IDs ----------------------------------------
# Device flag bits: 1 present, 2 removal fails, 4 no property, 8 read error (a byte picks
# it), 0x10 driver key name, 0x20 huge, 0x40 changes (a byte picks 1-3 lists), 0x80 class.
def text(data):
    data = data.encode("latin-1") if isinstance(data, str) else data
    return bytes([len(data)]) + data


def device(flags, ids, later=(), error=None, driver=None):
    out = bytes([flags]) + text(ids)
    if flags & 0x40:
        out += bytes([len(later) - 1]) + b"".join(text(x) for x in later)
    if flags & 0x08:
        out += bytes([error])
    if flags & 0x10:
        out += text(driver)
    return out


def literal(id_):
    return b"\x00" + text(id_)


def entry(dev, n, how=1):
    return bytes([how, dev, n])


GUID = "{4D36E972-E325-11CE-BFC1-08002BE10318}"
TWO = b"PCI\\VEN_1D4A&DEV_0302&SUBSYS_00011D4A\x00PCI\\VEN_1D4A&DEV_0302\x00\x00"
write("pakrun_devices", "adapter-and-stale-copy",
      bytes([2]) + device(0x11, TWO, driver=GUID + "\\0003")
      + device(0x10, b"PCI\\VEN_1D4A&DEV_0302\x00\x00", driver=GUID + "\\0001")
      + entry(0, 1) + literal("PCI\\VEN_1D4A&DEV_0302") + entry(0, 0, 3))
write("pakrun_devices", "lists-without-terminators",
      bytes([3]) + device(0x01, b"PCI\\VEN_1D4A") + device(0x11, b"AB\x00PCI\\VEN_1D4A&DEV_03", driver="x")
      + device(0x01, b"\x00PCI\\VEN_1D4A\x00\x00")
      + literal("PCI\\VEN_1D4A") + entry(1, 1) + entry(1, 1, 2))
write("pakrun_devices", "list-changes-between-reads",
      bytes([2]) + device(0x51, b"A\x00\x00", later=[b"PCI\\VEN_1D4A&DEV_0302\x00\x00", b"B\x00"],
                          driver=GUID + "\\0007")
      + device(0x41, b"", later=[b"PCI\\VEN_1D4A&DEV_0302\x00"])
      + literal("PCI\\VEN_1D4A&DEV_0302") + literal("B") + literal("A"))
write("pakrun_devices", "huge-list",
      bytes([2]) + device(0x21, b"PCI\\VEN_1D4A&DEV_0302\x00") + device(0x31, b"X\x00Y", driver=GUID + "\\0002")
      + literal("Y") + literal("PCI\\VEN_1D4A&DEV_0302"))
write("pakrun_devices", "read-error-ends-search",
      bytes([3]) + device(0x01, b"ID\x00\x00") + device(0x09, b"ID\x00\x00", error=3)
      + device(0x0d, b"ID\x00\x00", error=0) + literal("ID"))
write("pakrun_devices", "first-removal-fails",
      bytes([3]) + device(0x02, b"OLD\x00\x00") + device(0x00, b"X\x00OLD\x00\x00")
      + device(0x03, b"OLD\x00") + literal("OLD") + literal("OLD") + literal("OLD"))
write("pakrun_devices", "driver-name-too-long",
      bytes([2]) + device(0x11, b"ID\x00", driver="D" * 255) + device(0x11, b"id\x00", driver=GUID + "\\0004")
      + literal("Id"))


# --- scrubnet_registry: a setup byte, then records ---------------------------------------
# Setup: bits 0-1 family (0 XP, 1 98, 2 95, 3 before 95), bits 2-4 Windows directory,
# bits 5-6 system directory, bit 7 Shift-JIS. Records: class subkey (kind 0, +4 the other
# family's class key, +8 refuses opening, +16 refuses writing, +32 deleting it lies), Enum\PCI
# subkey (kind 1), file (kind 2, folder in bits 2-4), device (kind 3, +4 present, +8
# other class, +16 removal fails). A value: name (0 ComponentId, 1 MatchingDeviceId,
# 2 InfPath, 3 NetCfgInstanceId, 4 a text), type (low nibble; high nibble pads to 119,
# 120, 121, 499, 500, 501, 50 bytes), data.
def key(kind, name, values):
    out = bytes([kind]) + text(name) + bytes([len(values)])
    for which, type_, data in values:
        out += bytes([which, type_]) + text(data)
    return out


def sz(which, value, pad=0):
    return (which, 1 | (pad << 4), value + "\x00")


def file(folder, name):
    return bytes([2 | (folder << 2)]) + text(name)


def netdev(flags, instance):
    return bytes([3 | flags]) + text(instance)


INF, OTHER, INTERNET, DRIVERS, OPTIONS, CATROOT, WINDIR, INFSUB = range(8)
write("scrubnet_registry", "nt-chipset-and-other-vendor",
      bytes([0]) + key(0, "0000", [sz(0, "pci\\ven_1d4a&dev_0302"), sz(2, "oem3.inf")])
      + key(0, "0001", [sz(0, "PCI\\VEN_8086&DEV_1229"), sz(2, "oem4.inf")])
      + file(INF, "oem3.inf") + file(INF, "oem3.PNF") + file(CATROOT, "oem3.CAT") + file(INF, "oem4.inf")
      + netdev(4, "PCI\\VEN_1D4A&DEV_0302\\4&1A2B&0&00E1") + netdev(4, "pci\\ven_1d4a\\lower")
      + netdev(0, "PCI\\VEN_1D4A&DEV_0302\\absent") + netdev(4 | 8, "PCI\\VEN_1D4A\\other-class"))
write("scrubnet_registry", "98-keys-enum-and-copies",
      bytes([1]) + key(0, "0000", [sz(1, "PCI\\VEN_1D4A&DEV_0302"), sz(2, "oem1.inf")])
      + key(0, "0001", [sz(1, "PCI\\VEN_8086&DEV_1229")])
      + key(0, "0002", [sz(1, "Pci\\Ven_1d4a&DEV_0303"), (2, 3, "oem2.inf")])
      + key(1, "VEN_1D4A&DEV_0302&SUBSYS_00011D4A", []) + key(1, "ven_1d4a", [])
      + key(1, "VEN_8086&DEV_1229", []) + key(4, "0000", [sz(0, "PCI\\VEN_1D4A")])
      + file(INF, "oem1.inf") + file(INF, "OEM1.PNF") + file(CATROOT, "oem1.CAT") + file(INF, "oem2.inf")
      + file(INFSUB, "oem1.inf") + file(WINDIR, "oem1.inf"))
write("scrubnet_registry", "98-inf-paths-that-climb",
      bytes([1]) + key(0, "0000", [sz(1, "PCI\\VEN_1D4A"), sz(2, "..\\system32\\config.inf")])
      + key(0, "0001", [sz(1, "PCI\\VEN_1D4A"), sz(2, ". .")])
      + key(0, "0002", [sz(1, "PCI\\VEN_1D4A"), sz(2, "C:oem.inf")])
      + key(0, "0003", [sz(1, "PCI\\VEN_1D4A"), sz(2, "sub/oem1.inf")])
      + key(0, "0004", [sz(1, "PCI\\VEN_1D4A"), sz(2, "inf")])
      + key(0, "0005", [sz(1, "PCI\\VEN_1D4A"), sz(2, "sub\\oem1.inf")])
      + file(INFSUB, "oem1.inf") + file(WINDIR, "oem.inf") + file(INF, "inf"))
write("scrubnet_registry", "98-shift-jis-folder-and-names",
      bytes([1 | (2 << 2) | 0x80]) + key(0, "0000", [sz(1, "PCI\\VEN_1D4A"), sz(2, "ab\x83\x5C")])
      + key(0, "0001", [sz(1, "PCI\\VEN_1D4A"), sz(2, "x\x83\x5Cinf")])
      + file(INF, "ab\x83\x5C") + file(INF, "x\x83\x5Cinf") + file(INF, "x\x83\x5CPNF")
      + file(CATROOT, "x\x83\x5CCAT"))
write("scrubnet_registry", "98-keys-that-refuse",
      bytes([1]) + key(0 | 8, "0000", [sz(1, "PCI\\VEN_1D4A"), sz(2, "oem1.inf")])
      + key(0 | 16, "0001", [sz(1, "PCI\\VEN_1D4A"), sz(2, "oem2.inf")])
      + key(0 | 32, "0002", [sz(1, "PCI\\VEN_1D4A"), sz(2, "oem3.inf")])
      + key(1 | 32, "VEN_1D4A", []) + key(1 | 16, "VEN_1D4A&2", [])
      + file(INF, "oem1.inf") + file(INF, "oem2.inf") + file(INF, "oem3.inf"))
write("scrubnet_registry", "95-values-at-buffer-edges",
      bytes([2]) + key(0, "0000", [(1, 1 | (5 << 4), "PCI\\VEN_1D4A"), sz(2, "oem1.inf")])
      + key(0, "0001", [(1, 1 | (4 << 4), "PCI\\VEN_1D4A"), (2, 1 | (2 << 4), "oem2")])
      + key(0, "0002", [(1, 4, "PCI\\VEN_1D4A"), (2, 1 | (1 << 4), "o")])
      + key(0, "N" * 76, [sz(1, "PCI\\VEN_1D4A")]) + key(0, "M" * 77, [sz(1, "PCI\\VEN_1D4A")])
      + key(1, "VEN_1D4A" + "E" * 182, []) + key(1, "VEN_1D4A" + "F" * 181, []))
write("scrubnet_registry", "nt-long-windows-folder",
      bytes([0 | (6 << 2) | (3 << 5)]) + key(0, "0000", [sz(0, "PCI\\VEN_1D4A"), sz(2, "oem12345.inf")])
      + key(0, "0001", [sz(0, "PCI\\VEN_1D4A"), sz(2, "o.inf")])
      + file(INF, "oem12345.inf") + file(INF, "o.inf") + file(INF, "o.PNF") + file(CATROOT, "o.CAT"))
write("scrubnet_registry", "before-95-does-nothing",
      bytes([3]) + key(0, "0000", [sz(1, "PCI\\VEN_1D4A"), sz(2, "oem1.inf")]) + key(1, "VEN_1D4A", [])
      + file(INF, "oem1.inf") + netdev(4, "PCI\\VEN_1D4A\\1"))
write("scrubnet_registry", "root-and-unc-folders",
      bytes([1 | (1 << 2) | (1 << 5)]) + key(0, "0000", [sz(1, "PCI\\VEN_1D4A"), sz(2, "oem1.inf")])
      + file(INF, "oem1.inf") + file(CATROOT, "oem1.CAT"))


# --- airtoggle_flags: setup byte, recorded mode, then records --------------------------
# Setup: bits 0-1 mode (0 the recorded one, 1 vendor, 2 zero configuration, 3 four bytes
# follow), bits 2-4 service-pack level (-1 0 1 2 3 4 -2 3), bits 5-6 service was running
# (-1 0 1 2), bit 7 record the mode afterwards. Recorded mode: 0 none, 1 key only, 2 a
# DWORD (byte), 3 raw (type, text). Adapter record (even kind; +2 refuses writing, +4
# refuses opening): name, MatchingDeviceId (0-5 fixed texts, 6 none, 7 raw), NetCfgInstanceId
# (0-2 fixed GUIDs, 3 none, 4 raw), interface record (0 none, 1 DWORD flags, 2 raw flags, 3
# without flags; +0x80 refuses writing, +0x40 refuses opening). Stray value (odd kind,
# place in bits 1-3): GUID byte, name, raw value.
def setup(mode, level, running, record):
    return bytes([mode | (level << 2) | (running << 5) | (0x80 if record else 0)])


def adapter(name, matching, guid, interface, flags=None, raw=None, kind=0):
    out = bytes([kind]) + text(name) + bytes([matching]) + bytes([guid]) + bytes([interface])
    if interface % 4 == 1:
        out += struct.pack("<I", flags)
    if interface % 4 == 2:
        out += bytes([raw[0]]) + text(raw[1])
    return out


write("airtoggle_flags", "recorded-vendor-to-zero-config",
      setup(0, 4, 2, True) + bytes([2, 0])
      + adapter("0003", 1, 1, 1, 0x00000002) + adapter("0001", 0, 0, 1, 0x00810002)
      + adapter("0002", 3, 2, 1, 0x00000002))
write("airtoggle_flags", "vendor-mode-complete-records",
      setup(1, 3, 1, False) + bytes([0])
      + adapter("0000", 4, 0, 3) + adapter("0001", 1, 1, 0) + adapter("0002", 0, 2, 1, 0xFFFFFFFF))
write("airtoggle_flags", "shared-record-long-name-refusals",
      setup(0, 1, 2, True) + bytes([3, 3]) + text("\x01\x00")
      + adapter("0000", 0, 0, 1, 0x0000F002) + adapter("0001", 1, 0, 0)
      + adapter("1" + "L" * 99, 0, 1, 1, 0xF002) + adapter("2", 0, 2, 1, 0xF002)
      + adapter("0002", 0, 1, 1 | 0x80, 0xF002) + adapter("0003", 0, 2, 3 | 0x40, kind=0)
      + adapter("0004", 0, 2, 1, 0xF002, kind=2))
write("airtoggle_flags", "any-mode",
      setup(3, 4, 1, True) + struct.pack("<I", 0x7FFFFFFF) + bytes([2, 1])
      + adapter("0000", 0, 0, 1, 0xF000) + adapter("0001", 0, 1, 3))
write("airtoggle_flags", "flags-of-other-types-and-sizes",
      setup(2, 2, 1, False) + bytes([1])
      + adapter("0000", 0, 0, 2, raw=(3, "\x00\xF0\x00\x00")) + adapter("0001", 1, 1, 2, raw=(4, "\x02\x00"))
      + adapter("0002", 0, 2, 2, raw=(4, "\x02\x00\x00\x00\x00\x00\x00\x00"))
      + adapter("0003", 7, 4, 1, 0x2)[:-4] + bytes([1]) + text("PCI\\VEN_1D4A" + "x" * 40)
      + bytes([1]) + text("{" + "a" * 49) + bytes([1]) + struct.pack("<I", 2)
      + bytes([1 | (1 << 1), 0]) + text("ControlFlags") + bytes([4]) + text("\x00\x80\x00\x00"))


# --- quitpanel_processes: setup byte, processes, then the name -------------------------
# Setup: bits 0-1 family (0 XP, 1 98, 2 unknown platform, 3 2000), bits 2-3 call (0
# QuitpanelMain, 1 a name follows, 2 a preset name, 3 a table entry's name with letters
# flipped), bit 4 1100 other processes first, bit 5 a relative system directory, bit 6
# no PSAPI.DLL in it. Then the number of processes. Process: flags (1 refuses querying, 2 refuses
# ending, 4 ending fails, 8 no module list, 0x10 ended, 0x20 no modules, 0x80 preset
# name), modules byte (bits 0-1 extra modules, 4 first module as given, 8 preset
# names), the name (a preset byte, or a two-byte length and the text), extra modules.
def proc(flags, name, modules=0, extra=()):
    out = bytes([flags, modules])
    out += bytes([name]) if flags & 0x80 else struct.pack("<H", len(name)) + name.encode("latin-1")
    for module in extra:
        out += bytes([module]) if modules & 0x08 else struct.pack("<H", len(module)) + module.encode("latin-1")
    return out


def named(name):
    return struct.pack("<H", len(name)) + name.encode("latin-1")


write("quitpanel_processes", "nt-quitpanel-two-instances",
      bytes([0, 5]) + proc(0x80, 5) + proc(0x80, 0) + proc(0x80, 1) + proc(0x80, 4) + proc(0x80, 3))
write("quitpanel_processes", "nt-unqueryable-and-refusing",
      bytes([1 << 2, 3]) + proc(0x81, 0) + proc(0x82, 2) + proc(0x80, 1) + named("LINKDESK.exe"))
write("quitpanel_processes", "nt-unknown-name",
      bytes([2 << 2, 2]) + proc(0x81, 5) + proc(0xA0, 0) + bytes([6]))
write("quitpanel_processes", "nt-long-and-zero-names",
      bytes([3 | (1 << 2), 2]) + proc(0, "L" * 259 + "x") + proc(0, "Linkdesk.exe\x00junk")
      + named("L" * 259))
write("quitpanel_processes", "9x-modules-exact-upper-case",
      bytes([1, 4]) + proc(0x80, 0, modules=0x04) + proc(0x80, 5, modules=0x09, extra=[1])
      + proc(0x80, 1) + proc(0x80, 4, modules=0x04))
write("quitpanel_processes", "9x-snapshot-fails-and-ended",
      bytes([1 | (3 << 2), 3]) + proc(0x90, 0) + proc(0x88, 5) + proc(0x80, 1) + bytes([2, 0x55]))
write("quitpanel_processes", "nt-long-table",
      bytes([0x10, 2]) + proc(0x80, 0) + proc(0x80, 3))
write("quitpanel_processes", "nt-psapi-not-in-system-folder",
      bytes([0x20, 1]) + proc(0x80, 0))
write("quitpanel_processes", "nt-psapi-missing",
      bytes([0x40 | 3, 1]) + proc(0x80, 0))
write("quitpanel_processes", "unknown-platform",
      bytes([2, 2]) + proc(0x80, 0) + proc(0x80, 3))
