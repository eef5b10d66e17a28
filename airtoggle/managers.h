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

// The mode switcher's record of a switch under way, which the utility closer reads too:
// a volatile key (it outlives the process, not a restart) holding one REG_DWORD value per
// service whose state the switch changes, named after the service, with the state it
// found it in. Its parent is the mode switcher's own key, never one the vendor utility
// or the zero-configuration service reads.
constexpr const char kSwitchRecordParentKey[] = "SOFTWARE\\Korvell\\Airtoggle";
constexpr const char kSwitchRecordName[] = "SwitchInProgress";
constexpr const char kSwitchRecordKey[] = "SOFTWARE\\Korvell\\Airtoggle\\SwitchInProgress";
// Always in the 32-bit registry view, so that 32-bit and 64-bit builds of both programs
// meet in one place: a 64-bit build asks for that view (KEY_WOW64_32KEY); a 32-bit build
// is in it already and asks for nothing, the only thing Windows 2000 understands.
#if defined(_WIN64)
constexpr unsigned long kSwitchRecordView = 0x0200;  // KEY_WOW64_32KEY
#else
constexpr unsigned long kSwitchRecordView = 0;
#endif
