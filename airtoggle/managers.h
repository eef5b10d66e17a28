// The two outside managers of the adapter, the operating system's zero-configuration
// service and the vendor's client utility Linkdesk with its service: every name, key,
// value and state of theirs that the programs use, stated once.
#pragma once

// Zero-configuration service.
constexpr const char kZeroConfigService[] = "WZCSVC";
constexpr const char kInterfacesKey[] = "SOFTWARE\\Microsoft\\WZCSVC\\Parameters\\Interfaces";
constexpr const char kControlFlagsValue[] = "ControlFlags";
constexpr const char kLayoutVersionValue[] = "LayoutVersion";
// Bit 15: the service manages the interface. Bits 12-15 clear: left to the vendor
// utility. Every other bit belongs to the service and is never changed.
constexpr unsigned long kControlFlagManaged = 0x00008000UL;
constexpr unsigned long kControlFlagOwnerBits = 0x0000F000UL;

// Vendor client utility and its service. The settings key belongs to the utility: it is
// opened, never created.
constexpr const char kVendorSettingsKey[] = "SOFTWARE\\Korvell\\Linkdesk\\Settings";
constexpr const char kUseZeroConfigValue[] = "UseZeroConfig";
constexpr const char kVendorService[] = "KVX";
constexpr const char kVendorUtilityImage[] = "Linkdesk.exe";

// The mode switcher's own installed file name, the process the utility closer ends.
constexpr const char kModeSwitcherImage[] = "Svcpilot.exe";
