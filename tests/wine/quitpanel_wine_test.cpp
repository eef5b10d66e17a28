// Quitpanel.exe for real: stand-in processes under the names it ends.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "airtoggle/managers.h"
#include "airtoggle_scene.h"
#include "support.h"
#include "testbed/support/services.h"

namespace {

class QuitpanelWine : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = wt::ScratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    ASSERT_TRUE(wt::CopyFromBuild("Quitpanel.exe", dir_ + "\\Quitpanel.exe"));
  }
  void TearDown() override { wt::SetReportedVersion("Quitpanel.exe", ""); }

  // Starts the stand-in copied as `relativePath` below the scratch directory.
  std::unique_ptr<wt::Child> StartAs(const std::string& relativePath) {
    return wt::StartStandIn(dir_ + "\\" + relativePath);
  }

  DWORD RunQuitpanel() { return wt::Run("\"" + dir_ + "\\Quitpanel.exe\"", dir_); }

  // One run against mixed- and lower-case module names, then one against upper-case
  // ones. The NT family matches without regard to case and ends the first pair at once;
  // the 9x family matches only the exact upper-case name and leaves the first pair running.
  void EndsByNameUnder(const std::string& version) {
    const bool nineX = version == "win98";
    ASSERT_TRUE(wt::SetReportedVersion("Quitpanel.exe", version));
    auto mixed = StartAs("mixed\\Linkdesk.exe");
    auto lower = StartAs("lower\\svcpilot.exe");
    auto bystander = StartAs("other\\Bystander.exe");
    EXPECT_EQ(0u, RunQuitpanel());
    if (nineX) {
      Sleep(200);  // let a wrongly ended one show
      EXPECT_TRUE(mixed->Running()) << "a module named Linkdesk.exe must not match on the 9x family";
      EXPECT_TRUE(lower->Running()) << "a module named svcpilot.exe must not match on the 9x family";
    } else {
      EXPECT_TRUE(wt::EndedWithZero(*mixed));
      EXPECT_TRUE(wt::EndedWithZero(*lower));
    }

    auto upperDesk = StartAs("upper\\LINKDESK.EXE");
    auto upperPilot = StartAs("upper\\SVCPILOT.EXE");
    EXPECT_EQ(0u, RunQuitpanel());
    EXPECT_TRUE(wt::EndedWithZero(*upperDesk));
    EXPECT_TRUE(wt::EndedWithZero(*upperPilot));
    if (nineX) {
      EXPECT_TRUE(mixed->Running());
      EXPECT_TRUE(lower->Running());
    }
    EXPECT_TRUE(bystander->Running());
  }

  std::string dir_;
};

TEST_F(QuitpanelWine, EndsOneUtilityInstanceAndTheSwitcher) {
  auto desk1 = StartAs("desk\\Linkdesk.exe");
  auto desk2 = StartAs("desk\\Linkdesk.exe");
  auto pilot = StartAs("pilot\\Svcpilot.exe");
  auto bystander = StartAs("other\\Bystander.exe");

  EXPECT_EQ(0u, RunQuitpanel());

  EXPECT_TRUE(wt::EndedWithZero(*pilot));
  Sleep(200);  // let a wrongly ended second instance show
  int deskRunning = (desk1->Running() ? 1 : 0) + (desk2->Running() ? 1 : 0);
  EXPECT_EQ(1, deskRunning) << "exactly one of the two Linkdesk.exe must be ended";
  wt::Child& ended = desk1->Running() ? *desk2 : *desk1;
  EXPECT_TRUE(wt::EndedWithZero(ended));
  EXPECT_TRUE(bystander->Running());
}

TEST_F(QuitpanelWine, NothingToEndStillExitsZero) {
  auto bystander = StartAs("other\\Linkdesk.exe.old");
  auto similar = StartAs("other\\Svcpilot.ex");
  EXPECT_EQ(0u, RunQuitpanel());
  EXPECT_TRUE(bystander->Running());
  EXPECT_TRUE(similar->Running());
}

TEST_F(QuitpanelWine, PsapiPlantedBesideTheProgramIsNeverLoaded) {
  // With the native load order that Windows XP uses for PSAPI.DLL, a copy beside the
  // program would be found first when the library is loaded by name. Wine takes the load
  // order per program from its registry (TearDown removes the program's whole key).
  ASSERT_TRUE(wt::CopyFromBuild("planted.dll", dir_ + "\\PSAPI.DLL"));
  ASSERT_TRUE(wt::RegSetString(HKEY_CURRENT_USER,
                               "Software\\Wine\\AppDefaults\\Quitpanel.exe\\DllOverrides", "psapi",
                               "native,builtin"));
  auto desk = StartAs("desk\\Linkdesk.exe");
  EXPECT_EQ(0u, RunQuitpanel());
  EXPECT_FALSE(wt::FileExists(dir_ + "\\PSAPI.DLL.loaded")) << wt::ReadFile(dir_ + "\\PSAPI.DLL.loaded");
  EXPECT_TRUE(wt::EndedWithZero(*desk));
}

// Started while the switcher is in the middle of a switch, the closer lets it finish
// (bounded) before it would end it: the services end as the switch leaves them, its
// record gone, the recorded mode and the flags in agreement.
TEST_F(QuitpanelWine, SwitchUnderWayIsLetFinish) {
  using wt::AirtoggleScene;
  struct SceneGuard {
    AirtoggleScene scene;
    ~SceneGuard() { scene.Clear(); }
  } guard;
  const std::string system = wt::SystemDir();
  ASSERT_FALSE(system.empty());
  ASSERT_TRUE(wt::CopyFromBuild("Svcpilot.exe", system + "\\Svcpilot.exe"));
  ASSERT_TRUE(wt::CopyFromBuild("radioapi.dll", system + "\\radioapi.dll"));
  ASSERT_NO_FATAL_FAILURE(guard.scene.Seed());
  ASSERT_TRUE(wt::BringTo(kZeroConfigService, SERVICE_RUNNING));
  ASSERT_TRUE(wt::BringTo(kVendorService, SERVICE_RUNNING));
  ASSERT_TRUE(AirtoggleScene::SetStopDelay(kZeroConfigService, 2000));
  AirtoggleScene::ClearRecords();

  wt::Child pilot;
  ASSERT_TRUE(pilot.Start(system + "\\Svcpilot.exe -installer"));
  ASSERT_TRUE(wt::WaitUntil([] { return wt::ServiceState(kZeroConfigService) == SERVICE_STOP_PENDING; },
                            wt::kSettleBoundMs));
  ASSERT_TRUE(AirtoggleScene::SwitchRecorded());
  EXPECT_EQ(0u, RunQuitpanel());
  DWORD code = wt::kTimedOut;
  EXPECT_TRUE(pilot.WaitExit(wt::kSettleBoundMs, &code));
  EXPECT_EQ(0u, code);

  EXPECT_EQ((AirtoggleScene::Lines{"WZCSVC stop",
                                   AirtoggleScene::StartWith(0x00008002u, 0x00818002u, 0x0000F002u)}),
            AirtoggleScene::Journal());
  EXPECT_EQ(DWORD{SERVICE_RUNNING}, wt::ServiceState(kZeroConfigService));
  EXPECT_EQ(DWORD{SERVICE_RUNNING}, wt::ServiceState(kVendorService));
  EXPECT_FALSE(AirtoggleScene::SwitchRecorded());
  EXPECT_EQ(1u, AirtoggleScene::RecordedMode());
  EXPECT_EQ(0x00008002u, AirtoggleScene::Flags(wt::kGuidA));
  EXPECT_EQ(0x00818002u, AirtoggleScene::Flags(wt::kGuidB));
}

TEST_F(QuitpanelWine, NtFamilyMatchesWithoutRegardToCase) { EndsByNameUnder(""); }
TEST_F(QuitpanelWine, NineXFamilyMatchesTheExactUpperCaseModuleName) { EndsByNameUnder("win98"); }

TEST_F(QuitpanelWine, Matrix_win98) { EndsByNameUnder("win98"); }
TEST_F(QuitpanelWine, Matrix_win2k) { EndsByNameUnder("win2k"); }
TEST_F(QuitpanelWine, Matrix_winxp) { EndsByNameUnder("winxp"); }
TEST_F(QuitpanelWine, Matrix_win2003) { EndsByNameUnder("win2003"); }
TEST_F(QuitpanelWine, Matrix_default) { EndsByNameUnder(""); }

}  // namespace
