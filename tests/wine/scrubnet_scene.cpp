#include "scrubnet_scene.h"

#include <gtest/gtest.h>

#include "testbed/support/devices.h"

namespace wt {
namespace {

// A network-class device with this instance identifier, carrying the identifier's first
// part as its hardware ID.
bool CreateNetDevice(const std::string& instanceId) {
  return CreateDevice(instanceId, {instanceId.substr(0, instanceId.rfind('\\'))}, "");
}

}  // namespace

void ScrubnetScene::Seed() {
  windows_ = WindowsDir();
  system_ = SystemDir();
  ASSERT_FALSE(windows_.empty());
  ASSERT_FALSE(system_.empty());
  Clear();
  for (const std::string& id : kChipsetDevices) ASSERT_TRUE(CreateNetDevice(id)) << id;
  ASSERT_TRUE(CreateNetDevice(kOtherDevice));
  for (const std::string& id : kChipsetDevices) ASSERT_TRUE(DeviceInstalled(id)) << id;
  for (const std::string& path : FixedFiles()) ASSERT_TRUE(WriteFile(path, "x")) << path;
}

void ScrubnetScene::Clear() {
  for (const std::string& id : kChipsetDevices) RemoveDevice(id);
  RemoveDevice(kOtherDevice);
  for (const char* sub : {"0070", "0071", "0072"})
    RegDeleteTree(HKEY_LOCAL_MACHINE, kNtClassKey + "\\" + sub);
  RegDeleteTree(HKEY_LOCAL_MACHINE, k9xClassKey);
  RegDeleteTree(HKEY_LOCAL_MACHINE, "Enum");
  if (windows_.empty()) return;
  for (const std::string& path : FixedFiles()) DeleteFileA(path.c_str());
  for (const char* base : kInfBases) {
    for (const std::string& path : InstalledInf(base)) DeleteFileA(path.c_str());
  }
}

Strings ScrubnetScene::NineXCopies() const {
  return {windows_ + "\\inf\\other\\KorvellNET7403.inf", Inf("net7403.inf"),
          windows_ + "\\inf\\internet\\KorvellNET7403.inf",
          windows_ + "\\system32\\drivers\\kv74039x.sys",
          windows_ + "\\OPTIONS\\INSTALL\\kv74039x.sys"};
}

Strings ScrubnetScene::FixedFiles() const {
  Strings files = NineXCopies();
  files.push_back(NtDriver());
  return files;
}

void ScrubnetScene::DriverKey(const std::string& classKey, const std::string& sub,
                              const std::string& idName, const std::string& id,
                              const std::string& base) {
  const std::string key = classKey + "\\" + sub;
  ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, key, idName, id));
  ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, key, "InfPath", base + ".inf"));
  ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, key + "\\Ndi\\Params", "Default", "1"));
  ASSERT_TRUE(WriteFile(Inf(base + ".inf"), "[Version]\r\n"));
  ASSERT_TRUE(WriteFile(Inf(base + ".pnf"), "pnf"));
  ASSERT_TRUE(WriteFile(Cat(base + ".CAT"), "cat"));
}

void ScrubnetScene::EnumKey(const std::string& name) {
  ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, kEnumPciKey + "\\" + name + "\\4&2A5F3C1E&0&00E1",
                           "Driver", "Net\\0000"));
}

}  // namespace wt
