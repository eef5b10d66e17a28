#include "airtoggle_scene.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "airtoggle/managers.h"
#include "testbed/support/services.h"
#include "testbed/support/support.h"
#include "testbed/testbed_keys.h"

namespace wt {
namespace {

AirtoggleScene::Lines TextLines(const char* key, const char* value) {
  std::string text;
  RegGetString(HKEY_LOCAL_MACHINE, key, value, &text);
  AirtoggleScene::Lines lines;
  for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(text.substr(at, end - at));
  return lines;
}

DWORD DwordOr(const std::string& key, const char* name) {
  DWORD value = 0xDEADBEEFu;
  RegGetDword(HKEY_LOCAL_MACHINE, key, name, &value);
  return value;
}

}  // namespace

void AirtoggleScene::Seed() {
  for (const char* name : {kZeroConfigService, kVendorService}) ASSERT_TRUE(InstallService(name)) << name;
  ASSERT_TRUE(RegDeleteTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\AdapterTestbed"));
  ASSERT_TRUE(RegDeleteTree(HKEY_LOCAL_MACHINE, kInterfacesKey));
  ASSERT_TRUE(RegDeleteTree(HKEY_LOCAL_MACHINE, kSwitchRecordKey, kSwitchRecordView));
  ASSERT_TRUE(RegSetDword(HKEY_LOCAL_MACHINE, kVendorSettingsKey, kUseZeroConfigValue, 0));
  AddAdapter(kTestAdapters[0], "PCI\\VEN_1D4A&DEV_3890&SUBSYS_00011D4A&REV_01", kGuidA, 0x00000002u);
  AddAdapter(kTestAdapters[1], "pci\\ven_1d4a&dev_3890", kGuidB, 0x00810002u);
  AddAdapter(kTestAdapters[2], "PCI\\VEN_10EC&DEV_8139", kGuidC, 0x0000F002u);
}

void AirtoggleScene::Clear() {
  for (const char* name : {kZeroConfigService, kVendorService}) BringTo(name, SERVICE_STOPPED);
  for (const char* subkey : kTestAdapters)
    RegDeleteTree(HKEY_LOCAL_MACHINE, std::string(kAdapterClassKey) + "\\" + subkey);
}

std::string AirtoggleScene::Interface(const std::string& guid) {
  return std::string(kInterfacesKey) + "\\" + guid;
}

bool AirtoggleScene::SwitchRecorded() {
  return RegKeyExists(HKEY_LOCAL_MACHINE, kSwitchRecordKey, kSwitchRecordView);
}

DWORD AirtoggleScene::RecordedState(const char* service) {
  DWORD value = 0xDEADBEEFu;
  RegGetDword(HKEY_LOCAL_MACHINE, kSwitchRecordKey, service, &value, kSwitchRecordView);
  return value;
}

bool AirtoggleScene::SetStopDelay(const char* service, DWORD ms) {
  return RegSetDword(HKEY_LOCAL_MACHINE,
                     std::string("SYSTEM\\CurrentControlSet\\Services\\") + service + "\\Parameters",
                     "StopDelayMs", ms);
}

bool AirtoggleScene::InstallService(const char* name) {
  std::string binary = "C:\\tests\\services\\svcstandin.exe";
  if (!FileExists(binary) && !CopyFromBuild("svcstandin.exe", binary)) return false;
  std::string parameters = std::string("SYSTEM\\CurrentControlSet\\Services\\") + name + "\\Parameters";
  return wt::InstallService(name, binary + " " + name) &&
         RegSetDword(HKEY_LOCAL_MACHINE, parameters, "StartDelayMs", kStartDelayMs) &&
         RegSetDword(HKEY_LOCAL_MACHINE, parameters, "StopDelayMs", kStopDelayMs) &&
         BringTo(name, SERVICE_STOPPED);
}

void AirtoggleScene::AddAdapter(const std::string& subkey, const std::string& matchingId,
                                const std::string& guid, DWORD flags) {
  std::string key = std::string(kAdapterClassKey) + "\\" + subkey;
  ASSERT_TRUE(RegDeleteTree(HKEY_LOCAL_MACHINE, key));
  ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, key, "MatchingDeviceId", matchingId));
  ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, key, "NetCfgInstanceId", guid));
  ASSERT_TRUE(RegSetDword(HKEY_LOCAL_MACHINE, Interface(guid), kControlFlagsValue, flags));
}

void AirtoggleScene::AddRadioAdapter(int index, const std::string& name, DWORD code) {
  std::string key = std::string(TESTBED_RADIO_KEY) + "\\" + std::to_string(index);
  ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, key, "Name", name));
  ASSERT_TRUE(RegSetDword(HKEY_LOCAL_MACHINE, key, "Code", code));
}

DWORD AirtoggleScene::Flags(const std::string& guid) { return DwordOr(Interface(guid), kControlFlagsValue); }
DWORD AirtoggleScene::Layout(const std::string& guid) { return DwordOr(Interface(guid), kLayoutVersionValue); }
DWORD AirtoggleScene::RecordedMode() { return DwordOr(kVendorSettingsKey, kUseZeroConfigValue); }

AirtoggleScene::Lines AirtoggleScene::Journal() { return TextLines(TESTBED_SERVICE_KEY, "Journal"); }
AirtoggleScene::Lines AirtoggleScene::Signalled() { return TextLines(TESTBED_RADIO_KEY, "Signalled"); }
void AirtoggleScene::ClearRecords() { RegDeleteTree(HKEY_LOCAL_MACHINE, TESTBED_SERVICE_KEY); }

std::string AirtoggleScene::StartWith(DWORD a, DWORD b, DWORD c) {
  char line[256];
  std::snprintf(line, sizeof line, "WZCSVC start %s=0x%08lX %s=0x%08lX %s=0x%08lX", kGuidA,
                static_cast<unsigned long>(a), kGuidB, static_cast<unsigned long>(b), kGuidC,
                static_cast<unsigned long>(c));
  return line;
}

}  // namespace wt
