#include "pakrun/inf_files.h"

#include <cstring>

#include "pakrun/run_and_wait.h"
#include "pakrun/settings.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "common/text.h"

namespace {

constexpr char kDriverRoot[] = "HKLM";
constexpr char kInstallerProgram[] = "%s\\System32\\rundll32.exe";
constexpr char kInstallerCommand[] = "%s setupapi,InstallHinfSection DefaultInstall 132 %s";
constexpr unsigned kPathCapacity = MAX_PATH;
constexpr unsigned kKeyCapacity = 40;  // "ADDREG4294967295_ENTRYNAME" and the like

// Where every entry of a variant goes: its own root and subkey (static variant), or one
// fixed root and subkey for all (driver variant).
struct Target {
  const char* fileName;
  const char* classKeyPath;  // null in the static variant
};

// Reads the key `prefix`, entry number `n`, `suffix` (such as "ADDREG2_FLAGS") of the
// section into a field; a missing key gives an empty field. False when the value does not
// fit the field: the profile reader cuts a longer one, and a cut subkey names another key
// (with an empty value name, that key's whole subtree), a cut value corrupted data. The
// reader returns the same length for a value that just fits and for one it cut, so the
// value is read into one byte more than the field holds: only a value that fits leaves
// that byte unused.
bool ReadField(const char* settingsPath, const char* section, const char* prefix, unsigned n,
               const char* suffix, char* field) {
  char key[kKeyCapacity];
  FormatText(key, sizeof key, "%s%u%s", prefix, n, suffix);
  char probe[kEntryFieldCapacity + 1] = {};
  const unsigned length =
      GetPrivateProfileStringA(section, key, "", probe, sizeof probe, settingsPath);
  if (length >= kEntryFieldCapacity) return false;
  std::memcpy(field, probe, length + 1);
  return true;
}

// Every field of an entry is read before its line is written; an entry with a field that
// does not fit is left out, and the entries around it stay.
void WriteAddLines(TextStream* inf, const char* settingsPath, const char* section,
                   const Target& target, unsigned count) {
  for (unsigned n = 1; n <= count; ++n) {
    char root[kEntryFieldCapacity] = {};
    char subkey[kEntryFieldCapacity] = {};
    char name[kEntryFieldCapacity] = {};
    char flags[kEntryFieldCapacity] = {};
    char value[kEntryFieldCapacity] = {};
    bool whole = true;
    if (target.classKeyPath == nullptr) {
      whole &= ReadField(settingsPath, section, "ADDREG", n, "_ROOT", root);
      whole &= ReadField(settingsPath, section, "ADDREG", n, "_SUBKEY", subkey);
    }
    whole &= ReadField(settingsPath, section, "ADDREG", n, "_ENTRYNAME", name);
    whole &= ReadField(settingsPath, section, "ADDREG", n, "_FLAGS", flags);
    whole &= ReadField(settingsPath, section, "ADDREG", n, "_VALUE", value);
    if (!whole) continue;
    if (target.classKeyPath == nullptr) {
      WriteTextStream(inf, "%s, \"%s\",\"%s\",%s,%s\n", root, subkey, name, flags, value);
    } else {
      WriteTextStream(inf, "%s, \"%s\",\"%s\",%s,%s\n", kDriverRoot, target.classKeyPath, name,
                      flags, value);
    }
  }
}

void WriteDelLines(TextStream* inf, const char* settingsPath, const char* section,
                   const Target& target, unsigned count) {
  for (unsigned n = 1; n <= count; ++n) {
    char root[kEntryFieldCapacity] = {};
    char subkey[kEntryFieldCapacity] = {};
    char name[kEntryFieldCapacity] = {};
    bool whole = true;
    if (target.classKeyPath == nullptr) {
      whole &= ReadField(settingsPath, section, "DELREG", n, "_ROOT", root);
      whole &= ReadField(settingsPath, section, "DELREG", n, "_SUBKEY", subkey);
    }
    whole &= ReadField(settingsPath, section, "DELREG", n, "_ENTRYNAME", name);
    if (!whole) continue;
    if (target.classKeyPath == nullptr) {
      WriteTextStream(inf, "%s, \"%s\",\"%s\"\n", root, subkey, name);
    } else if (name[0] != '\0') {
      // A DelReg line without a value name deletes the whole key: a gap in the list must
      // never take the adapter's driver key with it.
      WriteTextStream(inf, "%s, \"%s\",\"%s\"\n", kDriverRoot, target.classKeyPath, name);
    }
  }
}

// Hands the written INF to the installer and waits for it; the file goes afterwards,
// whether the installer could be started or not.
void InstallAndDelete(const char* infPath) {
  char installer[kPathCapacity];
  char commandLine[kCommandLineCapacity];
  const char* systemRoot = EnvironmentValue("SystemRoot");
  if (systemRoot != nullptr && FormatText(installer, sizeof installer, kInstallerProgram, systemRoot) &&
      FormatText(commandLine, sizeof commandLine, kInstallerCommand, installer, infPath)) {
    // The program is named as well: the command line's unquoted first token would be
    // searched piece by piece ("C:\My.exe" first) if the Windows directory held a blank.
    RunAndWait(commandLine, installer);
  }
  DeleteFileA(infPath);
}

int ApplyAddDel(const char* settingsPath, const char* section, const Target& target) {
  char infPath[kPathCapacity];
  const char* temp = EnvironmentValue("TEMP");
  bool havePath =
      temp != nullptr && FormatText(infPath, sizeof infPath, "%s\\%s", temp, target.fileName);

  unsigned addCount = ReadCount(settingsPath, section, "ADDREG");
  unsigned delCount = ReadCount(settingsPath, section, "DELREG");
  if (addCount == 0 && delCount == 0) return 1;
  // Without a TEMP directory, or with a path that would not fit, there is no file to
  // write: never one at a shortened path.
  if (!havePath) return 0;

  // Each run starts from an empty file, so nothing left by an interrupted run is
  // applied again ahead of the new entries.
  TextStream* inf = OpenTextStream(infPath, "wt");
  if (inf == nullptr) return 0;
  WriteTextStream(inf, "[Version]\n");
  WriteTextStream(inf, "signature=\"$CHICAGO$\"\n\n");
  WriteTextStream(inf, "[DefaultInstall]\n");
  if (addCount > 0) WriteTextStream(inf, "AddReg = Add.reg\n");
  if (delCount > 0) WriteTextStream(inf, "DelReg = Del.reg\n");
  if (addCount > 0) {
    WriteTextStream(inf, "\n[Add.reg]\n");
    WriteAddLines(inf, settingsPath, section, target, addCount);
  }
  if (delCount > 0) {
    WriteTextStream(inf, "\n[Del.reg]\n");
    WriteDelLines(inf, settingsPath, section, target, delCount);
  }
  // A file that may not have reached the disk whole is neither applied nor deleted.
  if (!CloseTextStream(inf)) return 0;

  InstallAndDelete(infPath);
  return 1;
}

}  // namespace

int ApplyStaticAddDel(const char* settingsPath, const char* section) {
  return ApplyAddDel(settingsPath, section, Target{kStaticInfName, nullptr});
}

int ApplyDriverAddDel(const char* settingsPath, const char* section, const char* classKeyPath) {
  return ApplyAddDel(settingsPath, section, Target{kDriverInfName, classKeyPath});
}
