// Service control sequences, their waits, and the vendor radio library signal.
#include "airtoggle_fixture.h"

namespace airtoggle_test {
namespace {

using Strings = std::vector<std::string>;

class ServiceSequences : public AirtoggleTest {
 protected:
  ServiceSequences() {
    SetRecordedMode(0);
    AddAdapter("0000", "PCI\\VEN_1D4A", kGuidA, 0x0000F002u);
    frame.m_nTargetMode = kZeroConfigMode;
    frame.m_nServicePackLevel = 3;
  }
  int Sleeps(const std::string& what) const {
    int n = 0;
    for (const std::string& e : machine.Events()) n += e == "Sleep " + what ? 1 : 0;
    return n;
  }
  CMainFrame frame;
};

TEST_F(ServiceSequences, CycleOfARunningServiceStopsRewritesStartsAndRecords) {
  sim::Service& wzc = ZeroConfig(SERVICE_RUNNING);
  wzc.stopPendingPolls = 2;
  wzc.startPendingPolls = 3;
  CycleZeroConfigService(frame);
  EXPECT_EQ((Strings{"ControlService WZCSVC stop", "Service WZCSVC stopped", "01 ControlFlags=0x0000F002",
                     "StartService WZCSVC", "Service WZCSVC running", "UseZeroConfig=1"}),
            Story());
  EXPECT_EQ(1, frame.m_nZeroConfigWasRunning);
  EXPECT_EQ(DWORD{SERVICE_RUNNING}, wzc.state);
  // Two pending polls and three, 100 ms apart; a wait ends with the query that shows the
  // state, without a further pause.
  EXPECT_EQ(2 + 3, Sleeps("100"));
  const auto& events = machine.Events();
  for (std::size_t i = 0; i + 1 < events.size(); ++i) {
    if (events[i].rfind("Service WZCSVC", 0) == 0) {
      EXPECT_NE("Sleep 100", events[i + 1]) << i;
    }
  }
  // Only the rights each step needs, each start and stop with fresh handles.
  EXPECT_EQ((std::vector<std::uint32_t>{SERVICE_QUERY_STATUS, SERVICE_STOP, SERVICE_START}), wzc.openedWith);
  EXPECT_EQ((std::vector<std::uint32_t>{SC_MANAGER_CONNECT, SC_MANAGER_CONNECT, SC_MANAGER_CONNECT}),
            machine.services.managerOpenedWith);
}

TEST_F(ServiceSequences, RewriteHappensWhileTheServiceKnowsItWasRunning) {
  // A record without flags shows which service state the rewrite saw.
  machine.registry.DeleteValue(Interface(kGuidA), "ControlFlags");
  sim::Service& wzc = ZeroConfig(SERVICE_RUNNING);
  std::optional<std::uint32_t> seenAtStart;
  wzc.onRunning = [&] { seenAtStart = Flags(kGuidA); };
  CycleZeroConfigService(frame);
  EXPECT_EQ(0x07918002u, seenAtStart);
  EXPECT_EQ(7u, Layout(kGuidA));
}

TEST_F(ServiceSequences, CycleOfAStoppedServiceRunsItTwiceAndLeavesItStopped) {
  machine.registry.DeleteValue(Interface(kGuidA), "ControlFlags");
  sim::Service& wzc = ZeroConfig(SERVICE_STOPPED);
  std::vector<std::optional<std::uint32_t>> seen;
  wzc.onRunning = [&] { seen.push_back(Flags(kGuidA)); };
  CycleZeroConfigService(frame);
  EXPECT_EQ((Strings{"01 LayoutVersion=0x00000007", "01 ControlFlags=0x03818002", "StartService WZCSVC",
                     "Service WZCSVC running", "ControlService WZCSVC stop", "Service WZCSVC stopped",
                     "01 ControlFlags=0x03818002", "StartService WZCSVC", "Service WZCSVC running",
                     "ControlService WZCSVC stop", "Service WZCSVC stopped", "UseZeroConfig=1"}),
            Story());
  EXPECT_EQ(0, frame.m_nZeroConfigWasRunning);
  EXPECT_EQ(DWORD{SERVICE_STOPPED}, wzc.state);
  EXPECT_EQ(2, wzc.starts);
  EXPECT_EQ(2, wzc.stops);
  ASSERT_EQ(2u, seen.size());
  EXPECT_EQ(0x03818002u, seen[0]);
  EXPECT_EQ(0x03818002u, seen[1]);
}

TEST_F(ServiceSequences, PendingMissingOrUnqueryableServiceStillRecordsTheMode) {
  for (int variant = 0; variant < 4; ++variant) {
    SCOPED_TRACE(variant);
    SetRecordedMode(0);
    machine.services = sim::ServiceManager();
    if (variant == 0) ZeroConfig(SERVICE_START_PENDING);
    if (variant == 1) ZeroConfig(SERVICE_PAUSED);
    if (variant == 2) ZeroConfig(SERVICE_RUNNING).queryFails = true;
    std::size_t before = machine.EventRecords().size();
    frame.m_nZeroConfigWasRunning = kStateUnknown;
    CycleZeroConfigService(frame);
    std::vector<sim::Event> tail(machine.EventRecords().begin() + static_cast<long>(before),
                                 machine.EventRecords().end());
    ASSERT_EQ(1u, tail.size());
    EXPECT_EQ("UseZeroConfig=1", Short(tail[0]));
    EXPECT_EQ(kStateUnknown, frame.m_nZeroConfigWasRunning);
    EXPECT_EQ(0x0000F002u, Flags(kGuidA));
  }
}

TEST_F(ServiceSequences, NoServiceManagerMeansNothingAtAll) {
  ZeroConfig(SERVICE_RUNNING);
  Vendor(SERVICE_RUNNING);
  machine.services.available = false;
  CycleZeroConfigService(frame);
  RestartZeroConfigService(frame);
  RestartVendorService();
  EXPECT_TRUE(Story().empty());
}

TEST_F(ServiceSequences, UnknownTargetModeIsNeverRecordedAndChangesNoFlags) {
  frame.m_nTargetMode = kModeUnknown;
  sim::Service& wzc = ZeroConfig(SERVICE_RUNNING);
  CycleZeroConfigService(frame);
  // The service is still cycled; its flags and the recorded mode stay.
  EXPECT_EQ((Strings{"ControlService WZCSVC stop", "Service WZCSVC stopped", "StartService WZCSVC",
                     "Service WZCSVC running"}),
            Story());
  EXPECT_EQ(0u, RecordedMode());
  EXPECT_EQ(DWORD{SERVICE_RUNNING}, wzc.state);
}

TEST_F(ServiceSequences, RestartOfTheZeroConfigServiceOnlyWhenRunning) {
  sim::Service& wzc = ZeroConfig(SERVICE_STOPPED);
  frame.m_nTargetMode = kVendorMode;
  RestartZeroConfigService(frame);
  EXPECT_EQ((Strings{"UseZeroConfig=1"}), Story());
  EXPECT_EQ(0x0000F002u, Flags(kGuidA));
  EXPECT_EQ((std::vector<std::uint32_t>{SERVICE_QUERY_STATUS}), wzc.openedWith);

  // Running: restarted with the flags of the zero-configuration service whatever the
  // target, since it records 1.
  wzc.state = SERVICE_RUNNING;
  SetFlags(kGuidA, 0x00000002u);
  RestartZeroConfigService(frame);
  EXPECT_EQ((Strings{"UseZeroConfig=1", "ControlService WZCSVC stop", "Service WZCSVC stopped",
                     "01 ControlFlags=0x00008002", "StartService WZCSVC", "Service WZCSVC running",
                     "UseZeroConfig=1"}),
            Story());
  EXPECT_EQ(1, frame.m_nZeroConfigWasRunning);
}

TEST_F(ServiceSequences, VendorServiceRestartedOnlyWhenRunning) {
  sim::Service& kvx = Vendor(SERVICE_STOPPED);
  RestartVendorService();
  EXPECT_TRUE(Story().empty());
  EXPECT_EQ(DWORD{SERVICE_STOPPED}, kvx.state);

  kvx.state = SERVICE_STOP_PENDING;
  RestartVendorService();
  EXPECT_TRUE(Story().empty());

  kvx.state = SERVICE_RUNNING;
  kvx.stopPendingPolls = 1;
  RestartVendorService();
  EXPECT_EQ((Strings{"ControlService KVX stop", "Service KVX stopped", "StartService KVX", "Service KVX running"}),
            Story());
  EXPECT_EQ(DWORD{SERVICE_RUNNING}, kvx.state);

  machine.services = sim::ServiceManager();  // not installed
  RestartVendorService();
  EXPECT_EQ(4u, Story().size());
}

TEST_F(ServiceSequences, WaitForAStateAlreadyReachedQueriesOnceAndNeverSleeps) {
  sim::Service& wzc = ZeroConfig(SERVICE_RUNNING);
  {
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    ServiceHandle status(OpenServiceA(manager.get(), "WZCSVC", SERVICE_QUERY_STATUS));
    WaitForServiceState(status.get(), SERVICE_RUNNING);
  }
  EXPECT_EQ(1, wzc.queries);
  EXPECT_EQ(0, machine.Calls("Sleep"));
}

// A service that never gets there: the wait ends at its bound and the sequence goes on,
// so the program always ends.
TEST_F(ServiceSequences, WaitsAreBoundedWhateverTheServiceDoes) {
  struct Variant {
    const char* name;
    void (*script)(sim::Service&);
  };
  const Variant variants[] = {
      {"stop refused", [](sim::Service& s) { s.refuseStop = true; }},
      {"stop pending for ever", [](sim::Service& s) { s.stopPendingPolls = -1; }},
      {"queries fail after the first", [](sim::Service& s) { s.queriesBeforeFailing = 1; }},
      {"stop right refused", [](sim::Service& s) { s.deniedAccess = SERVICE_STOP; }},
  };
  for (const Variant& v : variants) {
    SCOPED_TRACE(v.name);
    machine.services = sim::ServiceManager();
    sim::Service& wzc = ZeroConfig(SERVICE_RUNNING);
    v.script(wzc);
    SetFlags(kGuidA, 0x00000002u);
    DWORD started = machine.now;
    int sleepsBefore = Sleeps("100");
    CycleZeroConfigService(frame);
    // One wait ran to its bound: 300 polls of 100 ms.
    EXPECT_GE(Sleeps("100") - sleepsBefore, kMaxServiceStatePolls);
    EXPECT_LE(Sleeps("100") - sleepsBefore, 2 * kMaxServiceStatePolls);
    EXPECT_LE(machine.now - started, 2u * kMaxServiceStatePolls * kServicePollMs);
    EXPECT_EQ(0x00008002u, Flags(kGuidA));
    EXPECT_EQ(1u, RecordedMode());
  }
}

TEST_F(ServiceSequences, StartThatNeverCompletesIsAlsoBounded) {
  sim::Service& wzc = ZeroConfig(SERVICE_STOPPED);
  wzc.startPendingPolls = -1;
  CycleZeroConfigService(frame);
  // Start pending for ever: the stop that follows is refused, the second round still
  // rewrites the flags, and the mode is recorded.
  EXPECT_EQ(2, static_cast<int>(EventsStartingWith("RegSetValue HKLM\\SOFTWARE\\Microsoft").size()));
  EXPECT_EQ(1u, RecordedMode());
  EXPECT_LE(machine.now, 4u * kMaxServiceStatePolls * kServicePollMs);
}

class VendorSignal : public AirtoggleTest {
 protected:
  void Adapters(std::vector<std::int32_t> codes) {
    int i = 0;
    for (std::int32_t code : codes) {
      sim::RadioAdapterState adapter;
      adapter.name = "adapter" + std::to_string(i++);
      adapter.code = code;
      machine.radio.adapters.push_back(adapter);
    }
  }
  std::vector<std::pair<std::string, std::int32_t>> Signalled() const { return machine.radio.options; }
  using Options = std::vector<std::pair<std::string, std::int32_t>>;
  CMainFrame frame;
};

TEST_F(VendorSignal, WalkStopsAtTheFirstAdapterWithAnotherCode) {
  Adapters({101, 301, 7, 101});
  SignalVendorAdapter();
  EXPECT_EQ((Options{{"adapter2", 1}}), Signalled());
  EXPECT_EQ(3, machine.Calls("GetAdapter"));
}

TEST_F(VendorSignal, WalkToTheEndUsesTheLastAdapterFound) {
  Adapters({101, 301, 101});
  SignalVendorAdapter();
  EXPECT_EQ((Options{{"adapter2", 1}}), Signalled());
}

TEST_F(VendorSignal, PointerIsNeverResetBetweenLookups) {
  Adapters({101, 101, 101});
  machine.radio.adapters[2].lookupFails = true;  // leaves the previous adapter in place
  SignalVendorAdapter();
  EXPECT_EQ((Options{{"adapter1", 1}}), Signalled());
}

TEST_F(VendorSignal, NoAdapterAfterTheWalkFallsBackToIndexZero) {
  Adapters({101, 101});
  machine.radio.adapters[1].lookupYieldsNull = true;
  SignalVendorAdapter();
  EXPECT_EQ((Options{{"adapter0", 1}}), Signalled());

  machine.radio.options.clear();
  machine.radio.reportedCount = 0;
  SignalVendorAdapter();
  EXPECT_EQ((Options{{"adapter0", 1}}), Signalled());

  // A count that is never filled in counts as none.
  machine.radio.options.clear();
  machine.radio.reportedCount = -1;
  machine.radio.countLeftUnfilled = true;
  SignalVendorAdapter();
  EXPECT_EQ((Options{{"adapter0", 1}}), Signalled());
}

TEST_F(VendorSignal, EachMissingObjectEndsSilently) {
  SignalVendorAdapter();  // no adapters at all
  Adapters({101});
  machine.radio.adapters[0].controlFails = true;
  SignalVendorAdapter();
  machine.radio.adapters[0].controlFails = false;
  machine.radio.adapters[0].controlYieldsNull = true;
  SignalVendorAdapter();
  machine.radio.adapters[0].controlYieldsNull = false;
  machine.radio.listMissing = true;
  SignalVendorAdapter();
  EXPECT_TRUE(Signalled().empty());
  EXPECT_EQ(4, machine.Calls("RadioLoadAPI"));
}

TEST_F(VendorSignal, AbsurdCountIsBounded) {
  Adapters({101, 101});
  machine.radio.reportedCount = 0x7FFFFFFF;
  SignalVendorAdapter();
  EXPECT_EQ(static_cast<int>(kMaxRadioAdapters), machine.Calls("GetAdapter"));
  EXPECT_EQ((Options{{"adapter1", 1}}), Signalled());
}

}  // namespace
}  // namespace airtoggle_test
