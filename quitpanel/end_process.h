// Ending one running process by its executable name.
#pragma once

// Results of EndProcessByName.
constexpr int kEnded = 0;
constexpr int kTerminateFailed = 602;
constexpr int kNoMatch = 603;
constexpr int kOpenForEndingFailed = 604;
constexpr int kPsapiMissing = 605;
constexpr int kVersionUnknown = 606;
constexpr int kPlatformUnknown = 607;
constexpr int kBadName = 632;
constexpr int kPsapiEntryMissing = 700;
constexpr int kEnumProcessesFailed = 701;
constexpr int kKernelMissing = 702;
constexpr int kToolhelpEntryMissing = 703;
constexpr int kSnapshotFailed = 704;

// Longest executable name accepted, in characters.
constexpr int kMaxTargetName = 260;

// Finds the first running process whose executable is `name` and ends it with exit
// code 0. The NT family lists processes through PSAPI.DLL and ignores letter case; the
// 9x family walks every module through Toolhelp and matches the upper-case name exactly.
// On the NT family a mode switcher found while it records a switch under way is first
// given up to 20 s to end by itself; if it does, the result is kEnded.
int EndProcessByName(const char* name);
