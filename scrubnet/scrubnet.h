// Scrubnet, the driver remover: removes the chipset's device instances, its installed INF
// with the PNF and catalog files, its driver file and, on the 9x family, further file
// copies and its registry keys. Every failure is passed over silently.
#pragma once

// The whole run: tells the Windows families apart and runs their steps in their order.
// Always 0.
int ScrubnetMain();

// Removes every present network-class device whose instance identifier begins with
// DeviceIdPrefix (letter case kept) through the class installer.
void RemoveChipsetDevices();

// NT family: for each network class subkey whose "ComponentId" begins with DeviceIdPrefix
// (letter case ignored), deletes its installed INF, PNF and CAT and the NT driver file.
// Deletes no registry key.
void PurgeDriverKeysNt();

// 9x family: for each network class subkey whose "MatchingDeviceId" begins with
// DeviceIdPrefix (letter case ignored), deletes its installed INF, PNF and CAT, the
// fixed-name INF and driver copies, and the subkey itself with everything below it.
void PurgeDriverKeys9x();

// 9x family: deletes each "Enum\PCI" subkey whose name begins with EnumKeyPrefix (letter
// case ignored), with everything below it.
void PurgeEnumPciKeys9x();

// Deletes the INF that an "InfPath" value names in the INF folder, its PNF twin beside it
// and its CAT in the catalog folder. Only a bare file name is acted on; a value that
// names another folder, or none, deletes nothing.
void DeleteInstalledInf(const char* infPath);
