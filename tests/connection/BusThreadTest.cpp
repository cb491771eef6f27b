// The bus thread's states end to end on the simulated adapters and devices, on the virtual clock
// (but for the replug on real pseudo-terminals).
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <memory>

#include "connection/BusThread.h"
#include "drivers/Bustools.h"
#include "sim/PtyBridge.h"
#include "tests/adapter/SimRig.h"
#include "tests/settings/SettingsTestSupport.h"
#include "tests/support/VirtualClock.h"

namespace zo {
namespace {

using test::PumpUntil;
using test::SimRig;

constexpr std::int32_t kVersion = 1711104;  // every monitor value present
constexpr std::int32_t kNoMonitors = 1711190;
constexpr std::int32_t kUdcOnly = 1711191;

TVersion::TRecord WithMonitors(std::int32_t Number, std::initializer_list<int> Present) {
  TVersion::TRecord r = test::BuiltIn(kVersion);
  r[0] = Number;
  for (int n = 1; n <= 7; ++n)
    if (std::find(Present.begin(), Present.end(), n) == Present.end()) r[n] = -1;
  return r;
}

std::vector<TVersion::TRecord> Records() {
  std::vector<TVersion::TRecord> records = test::BuiltInRecords();
  records.push_back(WithMonitors(kNoMonitors, {}));
  records.push_back(WithMonitors(kUdcOnly, {SettingUdc}));
  return records;
}

sim::TSimDeviceConfig DeviceOf(const TVersion::TRecord& Record) {
  sim::TSimDeviceConfig c;
  c.Record = Record;
  c.TurnaroundMs = 2;
  return c;
}

// A monitor label that records what it shows, and in which order the labels were written.
class TestLabel final : public TValueLabel {
 public:
  TestLabel(std::string Name, std::vector<std::string>* Order)
      : name_(std::move(Name)), order_(Order) {}
  void SetCaption(const std::string& Text) override {
    Captions.push_back(Text);
    order_->push_back(name_);
  }
  std::vector<std::string> Captions;

 private:
  std::string name_;
  std::vector<std::string>* order_;
};

// The settings model with its monitor labels bound, a simulated line, and the bus thread, on the
// virtual clock: the protocol's windows and time-outs hold exactly however busy the machine is.
class BusThread : public ::testing::Test {
 protected:
  // First: it outlives every thread a test starts. A test on real terminals removes it first.
  std::unique_ptr<test::VirtualClock> clock_ = std::make_unique<test::VirtualClock>(60);

  void SetUp() override {
    ASSERT_EQ(model_.Error(), "");
    for (const auto& entry : MonitorList) {
      labels_.push_back(std::make_unique<TestLabel>(entry->LabelName, &order_));
      ASSERT_TRUE(BindMonitorLabel(entry->LabelName, labels_.back().get()));
    }
  }
  void TearDown() override { Stop(); }

  // The thread, for a target of this version (selected as the window selects it).
  void StartThread(std::int32_t Version = kVersion) {
    test::SettingsModel::Select(Version);
    thread_ = new TBusThread(&MonitorList, nullptr, 1130118);
  }
  void Stop() {
    if (thread_) thread_->SafeTerminate(true, true, true);
    thread_ = nullptr;
  }
  bool Pause() {
    thread_->SetPauseRequested(true);
    return PumpUntil([&] { return thread_->Paused(); });
  }
  // OpenPort after the pause handshake, as the window's port menu does.
  bool OpenPort(std::uint8_t Number) {
    EXPECT_TRUE(Pause());
    const bool opened = thread_->OpenPort(Number);
    thread_->SetPauseRequested(false);
    return opened;
  }
  bool WaitForVersion(std::int32_t Version) {
    return PumpUntil([&] { return thread_->EffectiveVersion() == Version; });
  }
  bool AllLabelsShown() const {
    return std::all_of(labels_.begin(), labels_.end(),
                       [](const auto& l) { return !l->Captions.empty(); });
  }

  test::SettingsModel model_{Records()};
  std::vector<std::unique_ptr<TestLabel>> labels_;
  std::vector<std::string> order_;
  TBusThread* thread_ = nullptr;
};

TEST_F(BusThread, WithoutAPortItStaysWithoutInterface) {
  test::ScriptedUi ui;
  SimRig rig;
  StartThread();
  PumpUntil([] { return false; }, 300);
  EXPECT_EQ(thread_->State(), TBusState::NoInterface);
  EXPECT_EQ(thread_->Driver(), nullptr);
  EXPECT_EQ(thread_->EffectiveVersion(), -1);
  thread_->SetOverruledVersion(kUdcOnly);
  EXPECT_EQ(thread_->EffectiveVersion(), kUdcOnly);
  thread_->SetOverruledVersion(-1);

  EXPECT_FALSE(thread_->OpenPort(rig.Number()));  // not paused: nothing happens
  EXPECT_FALSE(rig.Line().PortOpen());

  unsetenv("ZO_COM199");
  ASSERT_TRUE(Pause());
  EXPECT_FALSE(thread_->OpenPort(199));
  thread_->SetPauseRequested(false);
  ASSERT_EQ(ui.Messages().size(), 1u);
  EXPECT_EQ(ui.Messages()[0].Text, "Cannot open port: COM199");
  EXPECT_EQ(ui.Messages()[0].Type, TMsgDlgType::mtError);
  PumpUntil([&] { return !thread_->Paused(); });
  EXPECT_EQ(thread_->State(), TBusState::NoInterface);
}

TEST_F(BusThread, WithoutAnAdapterDetectionRepeats) {
  SimRig rig;
  std::atomic<int> version_requests{0};  // each detection asks for a DL2's version once
  rig.Line().SetTap([&](bool from_port, std::uint8_t value, std::int32_t baud, char, TimePoint) {
    if (from_port && value == 'V' && baud == 2400) ++version_requests;
  });
  StartThread();
  EXPECT_TRUE(OpenPort(rig.Number()));  // opened, whether or not an adapter answers
  EXPECT_EQ(version_requests.load(), 1);
  EXPECT_TRUE(PumpUntil([&] { return version_requests.load() >= 3; }, 6000));
  EXPECT_EQ(thread_->State(), TBusState::NoInterface);
  rig.Line().SetTap(nullptr);
}

TEST_F(BusThread, ASilentTargetIsAskedForItsVersionUntilItAnswers) {
  SimRig rig;
  auto& adapter = rig.StartDL2(test::DL2Of(1130118, sim::TDL2Variant::NewBootblock));
  rig.Device().SetSilent(true);
  StartThread();
  EXPECT_TRUE(OpenPort(rig.Number()));
  EXPECT_EQ(thread_->State(), TBusState::NoTarget);
  EXPECT_TRUE(PumpUntil([&] { return adapter.RequestsPassed() >= 3; }));
  EXPECT_EQ(thread_->State(), TBusState::NoTarget);
  rig.Device().SetSilent(false);
  EXPECT_TRUE(WaitForVersion(kVersion));
  EXPECT_EQ(thread_->State(), TBusState::Monitoring);
}

struct Adapter {
  const char* Name;
  std::function<void(SimRig&)> Start;
};

void PrintTo(const Adapter& a, std::ostream* os) {
  *os << a.Name;
}

class Monitoring : public BusThread, public ::testing::WithParamInterface<Adapter> {};

// Every present monitor value reaches its label, in the order of the list, and each cycle ends
// with a keep-alive.
TEST_P(Monitoring, EveryValueReachesItsLabelInListOrder) {
  SimRig rig;
  GetParam().Start(rig);
  StartThread();
  EXPECT_TRUE(OpenPort(rig.Number()));
  ASSERT_TRUE(WaitForVersion(kVersion));
  std::vector<std::string> names;
  for (const auto& entry : MonitorList)
    names.push_back(entry->LabelName);
  // One cycle without a failed read writes the labels in exactly the list's order.
  auto full_cycle = [&] {
    return std::search(order_.begin(), order_.end(), names.begin(), names.end()) != order_.end();
  };
  ASSERT_TRUE(PumpUntil([&] { return full_cycle() && rig.Device().FramesSeen(3) >= 1; }, 8000));
  EXPECT_EQ(thread_->State(), TBusState::Monitoring);
  ASSERT_TRUE(Pause());  // the settings are the thread's while it polls
  for (std::size_t i = 0; i < labels_.size(); ++i) {
    const TSetting& setting = *MonitorList[i]->Setting;
    EXPECT_NE(labels_[i]->Captions.back(), "Error during read");  // a failed read changes none
    if (!setting.ReadFailed) {
      EXPECT_EQ(labels_[i]->Captions.back(), setting.AsText());
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryAdapter, Monitoring,
    ::testing::Values(Adapter{"DL1", [](SimRig& r) { r.StartDL1(); }},
                      Adapter{"DL2NewBootblock",
                              [](SimRig& r) {
                                r.StartDL2(test::DL2Of(1130118, sim::TDL2Variant::NewBootblock));
                              }},
                      Adapter{"DL2OldBootblockNineBit",
                              [](SimRig& r) {
                                r.StartDL2(
                                    test::DL2Of(1130118, sim::TDL2Variant::OldBootblock, true));
                              }}),
    [](const ::testing::TestParamInfo<Adapter>& info) { return std::string(info.param.Name); });

// With every monitor value absent only keep-alives go out. A successful keep-alive does not reset
// the failure count: ten failures keep the target, the eleventh loses it and the version is read
// again. Collisions on the DL1 bus make single transmissions fail.
TEST_F(BusThread, WithKeepAlivesOnlyTheEleventhFailureLosesTheTarget) {
  SimRig rig(7, DeviceOf(WithMonitors(kNoMonitors, {})));
  auto& dl1 = rig.StartDL1();
  StartThread(kNoMonitors);
  EXPECT_TRUE(OpenPort(rig.Number()));
  ASSERT_TRUE(WaitForVersion(kNoMonitors));
  ASSERT_TRUE(PumpUntil([&] { return rig.Device().FramesSeen(3) >= 2; }));
  EXPECT_EQ(rig.Device().FramesSeen(7), 0);  // no monitor reads
  dl1.CollideWithNextTransmissions(10);
  ASSERT_TRUE(PumpUntil([&] { return dl1.CollisionsMade() == 10; }));
  const int keep_alives = rig.Device().FramesSeen(3);
  ASSERT_TRUE(PumpUntil([&] { return rig.Device().FramesSeen(3) >= keep_alives + 2; }));
  EXPECT_EQ(rig.Device().FramesSeen(5), 1);  // the version was read once: still the target
  dl1.CollideWithNextTransmissions(1);
  EXPECT_TRUE(PumpUntil([&] { return rig.Device().FramesSeen(5) == 2; }));
  EXPECT_TRUE(WaitForVersion(kNoMonitors));
}

TEST_F(BusThread, ASuccessfulMonitorReadResetsTheFailureCount) {
  SimRig rig(7, DeviceOf(WithMonitors(kUdcOnly, {SettingUdc})));
  auto& dl1 = rig.StartDL1();
  StartThread(kUdcOnly);
  EXPECT_TRUE(OpenPort(rig.Number()));
  ASSERT_TRUE(WaitForVersion(kUdcOnly));
  TestLabel& udc = *labels_[3];  // UBatStatusLabel
  ASSERT_EQ(MonitorList[3]->Setting, &SettingTable[SettingUdc]);
  ASSERT_TRUE(PumpUntil([&] { return !udc.Captions.empty(); }));
  dl1.CollideWithNextTransmissions(10);  // reads and keep-alives alike
  ASSERT_TRUE(PumpUntil([&] { return dl1.CollisionsMade() == 10; }, 8000));
  const std::size_t shown = udc.Captions.size();
  ASSERT_TRUE(PumpUntil([&] { return udc.Captions.size() > shown; }));
  dl1.CollideWithNextTransmissions(1);
  ASSERT_TRUE(PumpUntil([&] { return dl1.CollisionsMade() == 11; }));
  ASSERT_TRUE(PumpUntil([&] { return udc.Captions.size() > shown + 1; }));
  EXPECT_EQ(rig.Device().FramesSeen(5), 1);  // never lost
}

// A target whose version the settings model does not hold (the window has not taken it yet:
// another port's device was shown before) is polled with no address of the model's version,
// which would read another quantity or plain memory; keep-alives still go out. Once its version
// is selected the values are read.
TEST_F(BusThread, ATargetIsPolledOnlyWithItsOwnVersionsAddresses) {
  SimRig rig;  // a device of kVersion
  rig.StartDL1();
  StartThread(kUdcOnly);
  EXPECT_TRUE(OpenPort(rig.Number()));
  ASSERT_TRUE(WaitForVersion(kVersion));
  ASSERT_TRUE(PumpUntil([&] { return rig.Device().FramesSeen(3) >= 3; }));
  EXPECT_EQ(rig.Device().FramesSeen(7), 0);
  EXPECT_TRUE(order_.empty());
  ASSERT_TRUE(Pause());
  SelectVersion(kVersion);
  thread_->SetPauseRequested(false);
  EXPECT_TRUE(PumpUntil([&] { return AllLabelsShown(); }));
}

// The pause is acknowledged between two transactions: the window then has the driver to itself.
TEST_F(BusThread, ThePauseHandsTheDriverToTheWindowAndIsReleased) {
  SimRig rig;
  auto& adapter = rig.StartDL2(test::DL2Of(1130118, sim::TDL2Variant::NewBootblock));
  StartThread();
  EXPECT_TRUE(OpenPort(rig.Number()));
  ASSERT_TRUE(PumpUntil([&] { return AllLabelsShown(); }));
  ASSERT_TRUE(Pause());
  EXPECT_EQ(thread_->State(), TBusState::Paused);
  PumpUntil([] { return false; }, 100);  // the last frame the thread sent leaves the wire
  const int passed = adapter.RequestsPassed();
  const std::size_t shown = order_.size();
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(ReadSoftwareVersion(*thread_->Driver()), kVersion);
  PumpUntil([] { return false; }, 100);
  EXPECT_EQ(adapter.RequestsPassed(), passed + 6);  // only the window's own requests
  EXPECT_EQ(order_.size(), shown);
  thread_->SetPauseRequested(false);
  EXPECT_TRUE(PumpUntil([&] { return order_.size() > shown; }));
  EXPECT_FALSE(thread_->PauseAcknowledged());
}

TEST_F(BusThread, StopsInOrderWhileDetectionWaitsForTheMainThread) {
  SimRig rig;
  std::atomic<int> sent{0};
  rig.Line().SetTap([&](bool from_port, std::uint8_t, std::int32_t, char, TimePoint) {
    if (from_port) ++sent;
  });
  StartThread();
  EXPECT_TRUE(OpenPort(rig.Number()));
  Delay(300);  // not pumping: the thread now waits for the main thread to run detection
  const int before = sent.load();
  Stop();  // the pending detection is cancelled, not run
  EXPECT_EQ(sent.load(), before);
  EXPECT_FALSE(rig.Line().PortOpen());  // the port was freed
  rig.Line().SetTap(nullptr);
}

// A USB adapter pulled while connected and plugged in again, played with pseudo-terminals: the
// terminal the port reaches through ZO_COM<n> and a symbolic link is closed and the link removed;
// then a new terminal is bound to the same path. The thread closes the vanished port, opens the
// path again once it is back, and finds the target through the normal detection; the text log
// tells each step, and what the opening and the driver thread got.
TEST_F(BusThread, AVanishedPortIsOpenedAgainWhenItsDeviceIsBack) {
  clock_.reset();  // the terminals wait in the kernel, on real time
  SimRig rig;
  rig.StartDL2(test::DL2Of(1130118, sim::TDL2Variant::NewBootblock));
  const std::string link = ::testing::TempDir() + "zo-replug-" + std::to_string(::getpid());
  auto plug = [&] {
    std::string error;
    auto bridge = sim::TPtyBridge::Create(rig.LinePtr(), error);
    EXPECT_TRUE(bridge) << error;
    if (!bridge) return bridge;
    bridge->Start();
    ::unlink(link.c_str());
    EXPECT_EQ(::symlink(bridge->SlavePath().c_str(), link.c_str()), 0);
    return bridge;
  };
  auto bridge = plug();
  ASSERT_TRUE(bridge);
  ::setenv("ZO_COM57", link.c_str(), 1);
  StartThread();
  EXPECT_TRUE(OpenPort(57));
  ASSERT_TRUE(PumpUntil([&] { return thread_->EffectiveVersion() == kVersion; }, 15000));
  const std::string label = "COM57 (" + link + ")";
  EXPECT_TRUE(test::LogHas(label + ": low-latency mode not available on " + link +
                           " (not a serial port driver); carrying on without it"))
      << test::Log();
  EXPECT_TRUE(
      PumpUntil([] { return test::Log().find("Driver thread priority: ") != std::string::npos; }));

  bridge.reset();  // the terminal's master closes: the device vanishes
  ::unlink(link.c_str());
  ASSERT_TRUE(PumpUntil([&] { return thread_->PortGone(); }, 5000));
  EXPECT_EQ(thread_->State(), TBusState::NoInterface);
  EXPECT_EQ(thread_->EffectiveVersion(), -1);
  EXPECT_TRUE(test::LogHas(label + " has vanished (adapter unplugged?)")) << test::Log();
  EXPECT_TRUE(test::LogHas(label + ": port closed; opening it again when it is back"));
  PumpUntil([] { return false; }, 1200);  // a few looks at a path that is not there
  EXPECT_TRUE(thread_->PortGone());

  bridge = plug();
  ASSERT_TRUE(bridge);
  ASSERT_TRUE(PumpUntil([&] { return thread_->EffectiveVersion() == kVersion; }, 15000));
  EXPECT_FALSE(thread_->PortGone());
  EXPECT_TRUE(test::LogHas(label + " is back: port opened again")) << test::Log();
  const std::string log = test::Log();
  EXPECT_LT(log.find("has vanished"), log.find("is back"));
  EXPECT_LT(log.find("is back"), log.rfind("DL2 detected"));
  Stop();
  ::unsetenv("ZO_COM57");
  ::unlink(link.c_str());
}

TEST_F(BusThread, StopsInOrderWhilePolling) {
  SimRig rig;
  rig.StartDL2(test::DL2Of(1130118, sim::TDL2Variant::NewBootblock));
  StartThread();
  EXPECT_TRUE(OpenPort(rig.Number()));
  ASSERT_TRUE(PumpUntil([&] { return order_.size() >= 2; }));
  Stop();
  EXPECT_FALSE(rig.Line().PortOpen());  // the driver stopped and freed the port
}

}  // namespace
}  // namespace zo
