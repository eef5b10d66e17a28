// The supported chipset's names, kept in one place: every step of the driver removal
// refers to these.
#pragma once

#include <cstddef>

// Device instance identifiers, "MatchingDeviceId" and "ComponentId" of the chipset begin
// with this (12 characters).
constexpr char DeviceIdPrefix[] = "PCI\\VEN_1D4A";
// Hardware-enumeration keys under "Enum\PCI" of the chipset begin with this (8 characters).
constexpr char EnumKeyPrefix[] = "VEN_1D4A";
// The driver file as installed on the NT family.
constexpr char NtDriverFile[] = "kv7403.sys";
// The driver file as installed on the 9x family (in two places).
constexpr char Win9xDriverFile[] = "kv74039x.sys";
// The chipset's INF under its fixed name in the INF folder (9x family).
constexpr char ChipsetInfName[] = "net7403.inf";
// The vendor's INF under its fixed name in the "other" and "internet" INF subfolders
// (9x family).
constexpr char VendorInfName[] = "KorvellNET7403.inf";

constexpr std::size_t kDeviceIdPrefixLength = sizeof DeviceIdPrefix - 1;
constexpr std::size_t kEnumKeyPrefixLength = sizeof EnumKeyPrefix - 1;
static_assert(kDeviceIdPrefixLength == 12, "the device prefix test looks at 12 characters");
static_assert(kEnumKeyPrefixLength == 8, "the enumeration key test looks at 8 characters");
