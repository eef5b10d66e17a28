// The folders the driver removal deletes in, and the deletions themselves. A folder is
// built on the Windows directory (W) or the system directory (S) as the platform reports
// them; a directory that cannot be obtained, is not a full path, or a path that would not
// fit its buffer skips that deletion, so that a cut or relative path is never deleted.
#pragma once

// Below W.
constexpr char kInfFolder[] = "\\inf\\";
constexpr char kInfOtherFolder[] = "\\inf\\other\\";
constexpr char kInfInternetFolder[] = "\\inf\\internet\\";
constexpr char kDriverFolder[] = "\\system32\\drivers\\";  // on W, not on S
constexpr char kInstallOptionsFolder[] = "\\OPTIONS\\INSTALL\\";
// Below S.
constexpr char kCatalogFolder[] = "\\CatRoot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}\\";

// Capacities of the working strings, terminator included.
constexpr unsigned kWindowsPathCapacity = 120;   // W itself and every file path built on it
constexpr unsigned kCatalogPathCapacity = 300;   // S itself and the catalog file path
constexpr unsigned kCatalogNameCapacity = 50;    // the catalog file name

// Deletes W + `folder` + `fileName`.
void DeleteInWindowsFolder(const char* folder, const char* fileName);
// Deletes S + the catalog folder + `fileName`.
void DeleteInCatalogFolder(const char* fileName);

// True for a name that stays inside the folder it is appended to: not empty, no
// backslash, slash or colon, and not made of dots and blanks alone ("." and "..").
bool IsBareFileName(const char* name);
