// Injected faults on the simulators, each over many seeded repetitions on the virtual clock: line
// noise, an unplugged adapter, a device that falls silent, collisions on the DL1 bus and a DL2
// that goes silent. ZO_FAULT_REPETITIONS sets the number of repetitions (default 1000; the
// sanitizer builds of scripts/test.sh use fewer).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "adapter/DlxTools.h"
#include "adapter/Updater.h"
#include "connection/BusThread.h"
#include "connection/LiveCsv.h"
#include "connection/LiveHistory.h"
#include "data/CarriedFirmware.h"
#include "drivers/SimpleDL2Drv.h"
#include "settings/Settings.h"
#include "tests/settings/SettingsTestSupport.h"
#include "tests/sim/VirtualRig.h"
#include "tests/support/Repetitions.h"
#include "threads/MainThread.h"

namespace zo::test {
namespace {

constexpr std::int32_t kVersion = 1711104;

// Pumps the main thread's queue, as the window's message loop does, until `Done` holds or
// `LimitMs` of virtual time have passed. True when it holds.
bool PumpUntil(const std::function<bool()>& Done, double LimitMs) {
  MainThread& main = TheMainThread();
  const TimePoint start = Now();
  for (;;) {
    main.ProcessMessages();
    if (Done()) return true;
    if (MillisecondsBetween(start, Now()) > LimitMs) return false;
    main.WaitForMessages(10);
  }
}

void PumpFor(double Ms) {
  PumpUntil([] { return false; }, Ms);
}

// Passes every call to the driver detection made, and records each Request: when it ran, what it
// asked and whether it succeeded. Its own thread never runs.
class TracingDriver final : public TBusDriver {
 public:
  struct TCall {
    TimePoint Start, End;
    TBusFrame Asked, Answer;
    bool Ok;
  };

  explicit TracingDriver(TBusDriver* Inner) : TBusDriver(true), inner_(Inner) {}

  bool Request(TBusFrame& Frame) override {
    TCall call{Now(), {}, Frame, {}, false};
    call.Ok = inner_->Request(Frame);
    call.End = Now();
    call.Answer = Frame;
    Calls.push_back(call);
    return call.Ok;
  }
  bool Send(TBusFrame& Frame) override { return inner_->Send(Frame); }
  bool PutFrame(const TBusFrame& Frame) override { return inner_->PutFrame(Frame); }
  bool GetFrame(TBusFrame& Frame) override { return inner_->GetFrame(Frame); }
  std::uint8_t GetPortNumber() override { return inner_->GetPortNumber(); }
  std::uint8_t GetAddress() override { return inner_->GetAddress(); }
  void SetAddress(std::uint8_t Value) override { inner_->SetAddress(Value); }

  std::vector<TCall> Calls;

 protected:
  void Execute() override {}

 private:
  TBusDriver* inner_;
};

// An 8-bit additive check catches every frame with one corrupted byte; two corrupted bytes can
// cancel out. True when the line corrupted at least two bytes in one direction between From and
// To, so that a wrong value accepted then may have passed every check a receiver can make.
bool CheckCouldBeDefeated(const std::vector<SimLine::TCorruption>& Corruptions, TimePoint From,
                          TimePoint To) {
  int from_port = 0, to_port = 0;
  for (const SimLine::TCorruption& c : Corruptions) {
    if (c.Start < From || c.Start > To) continue;
    ++(c.FromPort ? from_port : to_port);
  }
  return from_port >= 2 || to_port >= 2;
}

// The setting a read request asks for, by its address; 0 for none.
int SettingOfRequest(const TBusFrame& Asked) {
  const std::uint16_t address = static_cast<std::uint16_t>(Asked[1] | (Asked[2] << 8));
  for (int s = 1; s <= 25; ++s)
    if (SettingTable[s].IsPresent() && SettingTable[s].Address == address) return s;
  return 0;
}

struct TNoiseCase {
  TRigAdapter Adapter;
  double Probability;
};

std::string NoiseCaseName(const ::testing::TestParamInfo<TNoiseCase>& Info) {
  return std::string(Info.param.Adapter == TRigAdapter::DL1 ? "DL1" : "DL2") + "_" +
         std::to_string(static_cast<int>(Info.param.Probability * 100)) + "percent";
}

class NoiseWhileReadingAllSettings : public ::testing::TestWithParam<TNoiseCase> {};

TEST_P(NoiseWhileReadingAllSettings, ReadsRecoverAndNoCorruptedValueIsAccepted) {
  VirtualRig rig({GetParam().Adapter});
  SettingsModel model;
  ASSERT_TRUE(model.Error().empty());
  TBusDriver* inner = rig.Detect();
  ASSERT_NE(inner, nullptr);
  TracingDriver driver(inner);
  const int reps = FaultRepetitions();
  int complete = 0, recovered = 0, undetectable = 0, failed_settings = 0;
  for (int rep = 0; rep < reps; ++rep) {
    ASSERT_TRUE(SelectVersion(kVersion));  // every present value 0 again
    for (int s = 8; s <= 25; ++s)
      SettingTable[s].ReadFailed = false;
    driver.Calls.clear();
    rig.Line().TakeCorruptions();
    rig.Line().SetCorruption(GetParam().Probability, static_cast<std::uint32_t>(rep + 1));
    const bool ok = ReadSettings(&driver);
    rig.Line().SetCorruption(0, 0);
    const auto corruptions = rig.Line().TakeCorruptions();
    if (ok) ++complete;

    // Each setting: read correctly, or shown as not read; never a corrupted value taken as read
    // unless the line defeated the frame check itself.
    int stopped_at = 0;
    for (int s = 8; s <= 25 && stopped_at == 0; ++s)
      if (SettingTable[s].ReadFailed) stopped_at = s;
    EXPECT_EQ(ok, stopped_at == 0) << "rep " << rep;
    std::map<int, int> failures;
    for (const TracingDriver::TCall& call : driver.Calls) {
      const int s = SettingOfRequest(call.Asked);
      ASSERT_NE(s, 0) << "rep " << rep << ": a request for no setting";
      if (stopped_at != 0) {
        EXPECT_LE(s, stopped_at) << "rep " << rep << ": read past the failure";
      }
      if (!call.Ok) {
        ++failures[s];
        continue;
      }
      if (failures[s] > 0) ++recovered;
      TSetting probe(s == 7 ? "$FFFF I" : "$FFFF W");
      probe.Kind = SettingTable[s].Kind;
      probe.DecodeReply(call.Answer);
      if (probe.Value != rig.Device().SettingValue(s)) {
        ASSERT_TRUE(CheckCouldBeDefeated(corruptions, call.Start, call.End))
            << "rep " << rep << ": setting " << s << " took the corrupted value " << probe.Value
            << " (device " << rig.Device().SettingValue(s) << ") with at most one bad byte";
        ++undetectable;
      }
    }
    for (int s = 8; s <= 25; ++s) {
      const TSetting& setting = SettingTable[s];
      if (!setting.IsPresent()) continue;
      if (setting.ReadFailed) {
        ++failed_settings;
        EXPECT_EQ(setting.AsText(), "Error during read");
        EXPECT_EQ(failures[s], 4) << "rep " << rep << ": setting " << s;
      }
    }
    Delay(300);  // a quiet line between two reads, as between two clicks
  }
  std::printf(
      "%d reads of all settings at %.0f%% noise: %d complete, %d settings recovered by a "
      "retry, %d not read, %d wrong values through a defeated frame check\n",
      reps, GetParam().Probability * 100, complete, recovered, failed_settings, undetectable);
  EXPECT_GT(recovered, 0) << "no read needed a retry: the noise did not reach the reads";
  if (GetParam().Probability <= 0.01) {
    EXPECT_GE(complete, reps * 95 / 100);
  }
}

INSTANTIATE_TEST_SUITE_P(Noise, NoiseWhileReadingAllSettings,
                         ::testing::Values(TNoiseCase{TRigAdapter::DL2, 0.01},
                                           TNoiseCase{TRigAdapter::DL2, 0.10},
                                           TNoiseCase{TRigAdapter::DL1, 0.01},
                                           TNoiseCase{TRigAdapter::DL1, 0.10}),
                         NoiseCaseName);

// A status label that records what the bus thread shows, with the raw value behind it.
class RecordingLabel final : public TValueLabel {
 public:
  struct TShown {
    TimePoint At;
    std::int32_t Raw;
    std::string Text;
  };
  explicit RecordingLabel(TSetting* Setting) : setting_(Setting) {}
  void SetCaption(const std::string& Text) override {
    Shown.push_back({Now(), setting_->Value, Text});
  }
  std::vector<TShown> Shown;

 private:
  TSetting* setting_;
};

// A recording label on every monitor value while the object lives.
struct RecordedMonitors {
  RecordedMonitors() {
    for (auto& entry : MonitorList) {
      Labels.push_back(std::make_unique<RecordingLabel>(entry->Setting));
      entry->ValueLabel = Labels.back().get();
    }
  }
  ~RecordedMonitors() {
    for (auto& entry : MonitorList)
      entry->ValueLabel = nullptr;
  }
  std::vector<std::unique_ptr<RecordingLabel>> Labels;
};

// The bus thread on the rig's port, as the window runs it: created at start, the port chosen
// through the pause handshake, stopped with SafeTerminate.
class BusUnderTest {
 public:
  explicit BusUnderTest(VirtualRig& Rig) : rig_(Rig) {
    bus_ = new TBusThread(&MonitorList, nullptr, 0);
    ChoosePort();
  }
  ~BusUnderTest() { bus_->SafeTerminate(true, true, true); }

  // What the window's port menu does.
  void ChoosePort() {
    bus_->SetPauseRequested(true);
    EXPECT_TRUE(PumpUntil([this] { return bus_->Paused(); }, 2000));
    EXPECT_TRUE(bus_->OpenPort(rig_.PortNumber()));
    bus_->SetPauseRequested(false);
  }
  void Pause() {
    bus_->SetPauseRequested(true);
    EXPECT_TRUE(PumpUntil([this] { return bus_->Paused(); }, 2000));
  }
  void Resume() { bus_->SetPauseRequested(false); }
  bool WaitConnected(double LimitMs = 10000) {
    return PumpUntil([this] { return bus_->EffectiveVersion() == kVersion; }, LimitMs);
  }
  bool WaitLost(double LimitMs) {
    return PumpUntil([this] { return bus_->EffectiveVersion() == -1; }, LimitMs);
  }
  TBusThread& Bus() { return *bus_; }

 private:
  VirtualRig& rig_;
  TBusThread* bus_;
};

// Counts the requests the PC puts on the line, by command code (the port side's own bytes).
class RequestCounter {
 public:
  explicit RequestCounter(SimLine& Line, bool DL1) : dl1_(DL1) {
    Line.SetTap(
        [this](bool FromPort, std::uint8_t Value, std::int32_t Baud, char Parity, TimePoint Start) {
          if (!FromPort) return;
          std::lock_guard<std::mutex> lock(mutex_);
          if (dl1_) {
            if (Parity == 'M') ++counts_[Value];  // the marked first byte is the command code
            return;
          }
          // The bytes of one frame follow each other back to back; a pause starts a new frame.
          const bool pause = MillisecondsBetween(last_, Start) > 2 * DL2ByteMs;
          last_ = Start;
          if (Baud != DL2Baud) {
            at_ = 0;
            return;
          }
          if (pause) at_ = 0;
          // DL2 frames from the PC: [length, address or $FF, command, ...]; count requests only.
          if (at_ == 0) length_ = Value + 2;
          if (at_ == 1) first_ = Value;
          if (at_ == 2 && first_ != 0xFF) ++counts_[Value];
          if (++at_ >= length_) at_ = 0;
        });
  }
  int Count(std::uint8_t Command) {
    std::lock_guard<std::mutex> lock(mutex_);
    return counts_[Command];
  }

 private:
  std::mutex mutex_;
  bool dl1_;
  std::map<std::uint8_t, int> counts_;
  int at_ = 0, length_ = 0;
  std::uint8_t first_ = 0;
  TimePoint last_{};
};

void SetKnownMonitorValues(sim::SimDevice& Device) {
  for (int s = 1; s <= 7; ++s)
    Device.SetSettingValue(s, 1000 + 37 * s);
}

TEST(NoiseWhilePolling, NoCorruptedValueIsShownAt1And10PercentNoise) {
  for (double probability : {0.01, 0.10}) {
    TRigOptions options;
    options.LiveMonitors = false;
    VirtualRig rig(options);
    SetKnownMonitorValues(rig.Device());
    SettingsModel model;
    ASSERT_TRUE(SelectVersion(kVersion));
    RecordedMonitors recorded;
    auto& labels = recorded.Labels;
    BusUnderTest bus(rig);
    ASSERT_TRUE(bus.WaitConnected());
    const int reps = FaultRepetitions();
    int shown = 0, undetectable = 0;
    TimePoint last_shown = Now();
    // Corruptions after the last value shown: the read under way when a repetition ends may show
    // its value in the next one.
    std::vector<SimLine::TCorruption> carried;
    for (int rep = 0; rep < reps; ++rep) {
      for (auto& label : labels)
        label->Shown.clear();
      rig.Line().TakeCorruptions();
      rig.Line().SetCorruption(probability, static_cast<std::uint32_t>(rep + 1));
      PumpFor(1000);
      rig.Line().SetCorruption(0, 0);
      std::vector<SimLine::TCorruption> corruptions = rig.Line().TakeCorruptions();
      corruptions.insert(corruptions.begin(), carried.begin(), carried.end());
      // Every value shown came from a read that began after the value shown before it.
      std::vector<std::pair<TimePoint, int>> order;
      for (std::size_t i = 0; i < labels.size(); ++i)
        for (std::size_t k = 0; k < labels[i]->Shown.size(); ++k)
          order.push_back({labels[i]->Shown[k].At, static_cast<int>(i * 100000 + k)});
      std::sort(order.begin(), order.end());
      for (const auto& [at, key] : order) {
        const auto& entry = MonitorList[static_cast<std::size_t>(key / 100000)];
        const auto& s = labels[static_cast<std::size_t>(key / 100000)]->Shown[key % 100000];
        int number = 0;
        for (int n = 1; n <= 7; ++n)
          if (&SettingTable[n] == entry->Setting) number = n;
        const std::int32_t truth = static_cast<std::int32_t>(
            number == 7 ? static_cast<std::int16_t>(rig.Device().SettingValue(7))
                        : rig.Device().SettingValue(number));
        ++shown;
        if (s.Raw != truth) {
          ASSERT_TRUE(CheckCouldBeDefeated(corruptions, last_shown, at))
              << "rep " << rep << ": setting " << number << " showed " << s.Text
              << " from a corrupted frame the check should have caught";
          ++undetectable;
        }
        EXPECT_NE(s.Text, "") << "rep " << rep;
        last_shown = at;
      }
      carried.clear();
      for (const SimLine::TCorruption& c : corruptions)
        if (c.Start > last_shown) carried.push_back(c);
      // A lost target comes back once the line is clean.
      ASSERT_TRUE(bus.WaitConnected()) << "rep " << rep;
    }
    std::printf(
        "polling at %.0f%% noise over %d seconds: %d values shown, %d wrong through a "
        "defeated frame check\n",
        probability * 100, reps, shown, undetectable);
    EXPECT_GT(shown, 0);
  }
}

// Pulled and plugged in again: the bus thread closes the vanished port, opens it again once it is
// back and finds the target, without the port being chosen again.
TEST(UnpluggedAdapter, NoCrashNoHotLoopTargetLostAndFoundAgainAfterTheReplug) {
  for (TRigAdapter adapter : {TRigAdapter::DL2, TRigAdapter::DL1}) {
    VirtualRig rig({adapter});
    SettingsModel model;
    ASSERT_TRUE(SelectVersion(kVersion));
    BusUnderTest bus(rig);
    ASSERT_TRUE(bus.WaitConnected());
    std::mt19937 random(adapter == TRigAdapter::DL1 ? 11 : 7);
    const int reps = FaultRepetitions() / 2;  // both adapters together make the repetitions
    for (int rep = 0; rep < reps; ++rep) {
      PumpFor(static_cast<double>(random() % 400));  // anywhere in the polling cycle
      rig.Line().Unplug();
      const TimePoint unplugged = Now();
      ASSERT_TRUE(bus.WaitLost(60000)) << "rep " << rep << ": the target was never lost";
      // Unplugged, every thread still waits between its attempts: the driver's read ticks, the
      // bus thread's time-outs. A hot loop would wait far more often (or stop the clock).
      const std::uint64_t waits = rig.Clock().Waits();
      const TimePoint from = Now();
      PumpFor(2000);
      const double per_second = static_cast<double>(rig.Clock().Waits() - waits) /
                                (MillisecondsBetween(from, Now()) / 1000);
      EXPECT_LT(per_second, 1000) << "rep " << rep << ": waits per second while unplugged";
      EXPECT_GT(MillisecondsBetween(unplugged, from), 0.0);
      EXPECT_TRUE(bus.Bus().PortGone()) << "rep " << rep;
      EXPECT_FALSE(rig.Line().PortOpen()) << "rep " << rep;
      rig.Line().Replug();
      ASSERT_TRUE(bus.WaitConnected()) << "rep " << rep << ": no reconnection";
      EXPECT_FALSE(bus.Bus().PortGone());
    }
  }
}

TEST(SilentDevice, TargetLostAtTheEleventhFailureAndFoundAgainWhenItAnswers) {
  for (TRigAdapter adapter : {TRigAdapter::DL2, TRigAdapter::DL1}) {
    // Other stations' frames keep the DL2 itself alive: without any frame but its echo for 5 s
    // the driver would take the adapter for lost too (tested with DL2Silence below).
    TRigOptions options;
    options.Adapter = adapter;
    options.BusTraffic = adapter != TRigAdapter::DL1;
    VirtualRig rig(options);
    RequestCounter requests(rig.Line(), adapter == TRigAdapter::DL1);
    SettingsModel model;
    ASSERT_TRUE(SelectVersion(kVersion));
    BusUnderTest bus(rig);
    ASSERT_TRUE(bus.WaitConnected());
    std::mt19937 random(adapter == TRigAdapter::DL1 ? 5 : 3);
    const int reps = FaultRepetitions() / 2;
    for (int rep = 0; rep < reps; ++rep) {
      PumpFor(static_cast<double>(random() % 600));
      // Between two bus transactions, so that no answer is on its way when the device stops.
      bus.Pause();
      const int reads = requests.Count(7), version_reads = requests.Count(5);
      rig.Device().SetSilent(true);
      bus.Resume();
      ASSERT_TRUE(PumpUntil([&] { return requests.Count(5) > version_reads; }, 30000))
          << "rep " << rep << ": the target was never lost";
      EXPECT_EQ(bus.Bus().DetectedVersion(), -1);
      EXPECT_EQ(requests.Count(7) - reads, 11) << "rep " << rep << ": failed reads before the loss";
      rig.Device().SetSilent(false);
      ASSERT_TRUE(bus.WaitConnected()) << "rep " << rep << ": not found again";
    }
  }
}

TEST(DL1Collisions, FailedSendsAreCountedAndLaterOnesSucceed) {
  VirtualRig rig({TRigAdapter::DL1});
  TBusDriver* driver = rig.Detect();
  ASSERT_NE(driver, nullptr);
  std::mt19937 random(17);
  const int reps = FaultRepetitions();
  for (int rep = 0; rep < reps; ++rep) {
    Delay(static_cast<std::uint32_t>(random() % 100));
    // Any byte of the other station spoils the echo: a $FF leaves the bits as they were, apart
    // from the framing error of the collision.
    const auto byte = static_cast<std::uint8_t>(random() % 256);
    const int before = rig.DL1()->CollisionsMade();
    rig.DL1()->CollideWithNextTransmission(byte);
    TBusFrame keep_alive{3, 3, 0, 0};
    EXPECT_FALSE(driver->Send(keep_alive)) << "rep " << rep << ": collision with $" << int(byte);
    EXPECT_TRUE(driver->TxFailed());
    EXPECT_EQ(rig.DL1()->CollisionsMade(), before + 1);
    TBusFrame again{3, 3, 0, 0};
    EXPECT_TRUE(driver->Send(again)) << "rep " << rep;
    TBusFrame version{5, 0, 0, 0xFF};
    ASSERT_TRUE(driver->Request(version)) << "rep " << rep;
    EXPECT_EQ(version[0], 0x82);
  }
  rig.StopDriver();

  // The bus thread counts each failed transmission: ten collisions in a row leave the target
  // connected, the eleventh loses it, and it is found again once the bus is free.
  SettingsModel model;
  ASSERT_TRUE(SelectVersion(kVersion));
  BusUnderTest bus(rig);
  ASSERT_TRUE(bus.WaitConnected());
  for (int rep = 0; rep < 20; ++rep) {
    const int collisions = rep % 2 == 0 ? 10 : 11;
    bool lost = false;
    auto watch = [&] {
      lost = lost || bus.Bus().EffectiveVersion() == -1;
      return false;
    };
    for (int i = 0; i < collisions; ++i) {
      const int made = rig.DL1()->CollisionsMade();
      rig.DL1()->CollideWithNextTransmission(0x00);
      ASSERT_TRUE(PumpUntil(
          [&] {
            watch();
            return rig.DL1()->CollisionsMade() > made;
          },
          5000))
          << "rep " << rep << ": no transmission to collide with";
      // One collision per frame: the next is armed once the PC has given up this one.
      ASSERT_TRUE(PumpUntil(
          [&] {
            watch();
            return !rig.Line().PortRts();
          },
          5000));
    }
    PumpUntil(watch, 2000);
    EXPECT_EQ(lost, collisions == 11) << "rep " << rep << " with " << collisions << " collisions";
    ASSERT_TRUE(bus.WaitConnected()) << "rep " << rep;
    PumpFor(1500);  // a full polling cycle with successful reads: the count is 0 again
  }
}

TEST(DL2Silence, ModeThreeThenRestartAndRecoveryAfterTheNextVersionAnswer) {
  VirtualRig rig({TRigAdapter::DL2});
  auto* driver = dynamic_cast<TDL2Driver*>(rig.Detect());
  ASSERT_NE(driver, nullptr);
  std::mt19937 random(23);
  const int reps = FaultRepetitions();
  for (int rep = 0; rep < reps; ++rep) {
    TBusFrame ok_frame{5, 0, 0, 0xFF};
    ASSERT_TRUE(driver->Request(ok_frame)) << "rep " << rep;
    const TimePoint last_answer = Now();
    Delay(static_cast<std::uint32_t>(random() % 300));
    const std::uint32_t queries = driver->VersionQueries();
    rig.DL2()->SetSilent(true);
    const TimePoint silent_from = Now();
    // The client keeps asking, as the bus thread would.
    bool saw_mode_3 = false;
    double mode_3_after = 0;
    while (!saw_mode_3) {
      TBusFrame f{5, 0, 0, 0xFF};
      EXPECT_FALSE(driver->Request(f));
      if (driver->GetMode() == 3) {
        saw_mode_3 = true;
        mode_3_after = MillisecondsBetween(last_answer, Now());
      }
      ASSERT_LT(MillisecondsBetween(silent_from, Now()), 20000) << "rep " << rep;
    }
    // 500 driver passes without a sign of life, each at least one 10 ms read tick.
    EXPECT_GE(mode_3_after, DL2SilencePasses * DL2ReadTimeoutMs) << "rep " << rep;
    TBusFrame restart{5, 0, 0, 0xFF};
    EXPECT_FALSE(driver->Request(restart));  // restarts the adapter: mode 0, nothing goes out
    EXPECT_EQ(driver->GetMode(), 0);
    rig.DL2()->SetSilent(false);
    const TimePoint back_from = Now();
    bool answered = false;
    while (!answered) {
      TBusFrame f{5, 0, 0, 0xFF};
      answered = driver->Request(f);
      ASSERT_LT(MillisecondsBetween(back_from, Now()), 20000) << "rep " << rep << ": no recovery";
    }
    EXPECT_EQ(driver->GetMode(), 1) << "rep " << rep;
    // The driver asked for the 'V' answer itself, well before a second restart would be due.
    EXPECT_GT(driver->VersionQueries(), queries) << "rep " << rep;
    EXPECT_LT(MillisecondsBetween(back_from, Now()), DL2SilencePasses * DL2ReadTimeoutMs)
        << "rep " << rep;
  }
}

// A DL2 that does not announce itself when its application starts, on a quiet bus: the device
// (which powers the adapter) is switched off for longer than the silence limit, so the driver
// restarts the adapter in vain, and then on again. The driver asks for the 'V' answer itself, at
// the earliest 500 ms after a restart and then at most once a second, so the bus thread finds the
// target again and the live values come back without the port being chosen again.
TEST(DL2WithoutAnnouncement, SwitchedOffAndOnItIsFoundAgainAndLiveValuesResume) {
  TRigOptions options;
  options.Announce = false;
  VirtualRig rig(options);
  std::mutex mutex;
  std::vector<TimePoint> restarts, queries;  // 'A' of a start sequence, the 'V' command 02 FF 56
  std::uint16_t last_two = 0;
  rig.Line().SetTap([&](bool FromPort, std::uint8_t Value, std::int32_t Baud, char, TimePoint At) {
    if (!FromPort) return;
    std::lock_guard<std::mutex> lock(mutex);
    if (Value == 'A' && Baud == 19200) restarts.push_back(At);
    if (Value == 'V' && Baud == DL2Baud && last_two == 0x02FF) queries.push_back(At);
    last_two = static_cast<std::uint16_t>((last_two << 8) | Value);
  });
  SettingsModel model;
  ASSERT_TRUE(SelectVersion(kVersion));
  RecordedMonitors recorded;
  auto& labels = recorded.Labels;
  auto shown_since = [&](TimePoint From) {
    return std::all_of(labels.begin(), labels.end(), [&](const auto& l) {
      return !l->Shown.empty() && l->Shown.back().At > From;
    });
  };
  {
    BusUnderTest bus(rig);
    ASSERT_TRUE(bus.WaitConnected());
    for (int rep = 0; rep < 3; ++rep) {
      rig.DL2()->SwitchOff();
      ASSERT_TRUE(bus.WaitLost(60000)) << "rep " << rep;
      PumpFor(DL2SilencePasses * DL2ReadTimeoutMs + 3000);  // past the silence limit and a restart
      rig.DL2()->SwitchOn();
      const TimePoint on = Now();
      ASSERT_TRUE(bus.WaitConnected(15000)) << "rep " << rep << ": not found again";
      EXPECT_TRUE(PumpUntil([&] { return shown_since(on); }, 5000)) << "rep " << rep;
    }
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_GE(restarts.size(), 3u);
    ASSERT_GE(queries.size(), 3u);
    for (std::size_t i = 1; i < queries.size(); ++i) {
      // Not sooner than 500 ms after the restart before it, nor within a second of the last.
      auto restart = std::upper_bound(restarts.begin(), restarts.end(), queries[i]);
      ASSERT_NE(restart, restarts.begin()) << "a query without a restart before it";
      const TimePoint last_restart = *std::prev(restart);
      EXPECT_GE(MillisecondsBetween(last_restart, queries[i]), DL2VersionQueryAfterRestartMs);
      if (queries[i - 1] > last_restart) {
        EXPECT_GE(MillisecondsBetween(queries[i - 1], queries[i]), DL2VersionQueryIntervalMs - 1);
      }
    }
  }
  rig.Line().SetTap(nullptr);
}

TEST(PowerLostWhileProgramming, ReprogramFailsTheAdapterIsBadlyProgrammedAndTheNextRunRepairsIt) {
  const std::string failed =
      "Reprogram failed\rPlease retry!\rSwitch the device off and on again to reset!";
  const std::string bad_question =
      "The DL2 seems to be badly programmed!\rA reprogram must be performed!\rDo you want to "
      "reprogram the Dl2 now?";
  const int lines = static_cast<int>((CarriedFirmwareImage().size() - 78) / FirmwareBlockSize);
  std::mt19937 random(41);
  const int reps = FaultRepetitions();
  TRigOptions options;
  options.FirmwareVersion = 1130110;
  VirtualRig rig(options);
  ScriptedUi ui;
  PowerCycleWhenAsked(ui, rig.DL2());
  for (int rep = 0; rep < reps; ++rep) {
    sim::TSimBootblockConfig power_loss;
    power_loss.PowerLossLine = static_cast<int>(random() % static_cast<unsigned>(lines));
    power_loss.PowerLossMs = 20 + static_cast<int>(random() % 500);
    rig.DL2()->SetBootblockFaults(power_loss);
    ui.Clear();
    auto* port = new TRS232o;
    ASSERT_TRUE(port->Open(rig.PortNumber(), 1200, 'N', 1024, 1024));
    port->SetBreak(true);
    rig.DL2()->PowerCycle();
    Delay(50);
    std::istringstream image(CarriedFirmwareImage());
    ReprogramInterface(*port, image, "DL2");
    ASSERT_EQ(ui.MessageTexts(), std::vector<std::string>{failed}) << "rep " << rep;
    EXPECT_FALSE(rig.Line().PortBreak());
    EXPECT_FALSE(rig.DL2()->FlashGood()) << "rep " << rep;

    // As the message asks, the user switches the device off and on: the adapter is detected as
    // badly programmed, and the repair the detection offers programs it.
    rig.DL2()->SetBootblockFaults({});  // the power stays on from now on
    rig.DL2()->PowerCycle();
    Delay(300);
    std::int32_t version = 0;
    std::uint8_t mode = 0;
    EXPECT_EQ(IdentifyInterface(*port, version, mode), ikBadDL2) << "rep " << rep;
    ui.Clear();
    ui.AnswerNext(TModalResult::mrYes);
    image.clear();
    EXPECT_EQ(DetectInterface(port, true, &image, CarriedFirmwareVersion()), nullptr);
    const auto boxes = ui.MessageTexts();
    ASSERT_EQ(boxes.size(), 3u) << "rep " << rep;
    EXPECT_EQ(boxes[0], bad_question);
    EXPECT_EQ(boxes[2].rfind("DL2 programmed.", 0), 0u) << "rep " << rep << ": " << boxes[2];
    EXPECT_TRUE(rig.DL2()->FlashGood()) << "rep " << rep;
    EXPECT_EQ(rig.DL2()->FirmwareVersion(), CarriedFirmwareVersion());

    // Switched off and on once more, it is an up-to-date DL2 that is driven without a question.
    ui.Clear();
    TBusDriver* driver = DetectInterface(port, true, &image, CarriedFirmwareVersion());
    ASSERT_NE(driver, nullptr) << "rep " << rep;
    EXPECT_TRUE(ui.MessageTexts().empty());
    driver->SafeTerminate(true, true, true);  // it owns the port
  }
}

// With no adapter answering, the bus thread detects again and again with a 100 ms pause after
// each detection that found nothing, so that it does not keep the main thread busy.
TEST(NoAdapter, DetectionRepeatsAfterAPauseOf100Ms) {
  VirtualRig rig;
  rig.DL2()->SetSilent(true);
  SettingsModel model;
  double detection_ms = 0;
  {
    TRS232o port;
    ASSERT_TRUE(port.Open(rig.PortNumber(), 1200, 'N', 1024, 1024));
    detection_ms = VirtualMs([&] { EXPECT_EQ(DetectInterface(&port, true, nullptr, 0), nullptr); });
  }
  // Each detection asks once for a DL2's version.
  std::mutex mutex;
  std::vector<TimePoint> requests;
  rig.Line().SetTap([&](bool FromPort, std::uint8_t Value, std::int32_t Baud, char, TimePoint At) {
    std::lock_guard<std::mutex> lock(mutex);
    if (FromPort && Value == 'V' && Baud == DL2Baud) requests.push_back(At);
  });
  {
    BusUnderTest bus(rig);
    PumpFor(5 * detection_ms);
  }
  rig.Line().SetTap(nullptr);
  // The first request is the detection of the port's opening, which the thread follows with its
  // own at once; from then on one detection and the pause make each interval.
  ASSERT_GE(requests.size(), 4u);
  for (std::size_t i = 2; i < requests.size(); ++i)
    EXPECT_NEAR(MillisecondsBetween(requests[i - 1], requests[i]), detection_ms + 100, 1) << i;
}

// The 'S' frame before an update that gets no good answer is sent once more, and only once.
TEST(NoAdapter, TheSFrameBeforeAnUpdateIsSentOnceMoreWhenUnanswered) {
  VirtualRig rig;
  ScriptedUi ui;
  rig.DL2()->SetSilent(true);
  std::mutex mutex;
  std::vector<std::uint8_t> sent;
  rig.Line().SetTap([&](bool FromPort, std::uint8_t Value, std::int32_t Baud, char, TimePoint) {
    std::lock_guard<std::mutex> lock(mutex);
    if (FromPort && Baud == DL2Baud) sent.push_back(Value);
  });
  TRS232o port;
  ASSERT_TRUE(port.Open(rig.PortNumber(), 1200, 'N', 1024, 1024));
  std::istringstream image(CarriedFirmwareImage());
  TInterfaceKind kind = ikDL2NewBootblock;
  ui.AnswerNext(TModalResult::mrYes);
  CheckInterfaceFirmware(port, &image, 1130118, kind, 1130110, 1);
  rig.Line().SetTap(nullptr);
  const std::vector<std::uint8_t> s_frame{0x07, 0xFF, 'S', 0, 0, 0, 0, 0x04, 0xA3};
  int frames = 0;
  for (auto at = sent.begin();
       (at = std::search(at, sent.end(), s_frame.begin(), s_frame.end())) != sent.end(); ++at)
    ++frames;
  EXPECT_EQ(frames, 2);
  EXPECT_EQ(kind, ikNone);
}

// The live values over time, while the device falls silent for a few reads: the recording holds,
// column by column, exactly the texts the status labels showed, in order; a read that failed is
// an empty field and a gap in the chart's samples, never a zero or the previous value.
TEST(LiveRecording, HoldsWhatTheStatusPanelShowsWithGapsWhereReadsFailed) {
  VirtualRig rig;
  SettingsModel model;
  ASSERT_TRUE(SelectVersion(kVersion));
  RecordedMonitors recorded;
  auto& labels = recorded.Labels;
  TLiveHistory history;  // outlives the bus thread
  BusUnderTest bus(rig);
  ASSERT_TRUE(bus.WaitConnected());
  bus.Pause();
  bus.Bus().SetLiveHistory(&history);
  for (auto& label : labels)
    label->Shown.clear();
  bus.Resume();
  PumpFor(3000);
  rig.Device().SetSilent(true);
  PumpFor(1600);  // a few reads fail: fewer than the eleven that lose the target
  rig.Device().SetSilent(false);
  PumpFor(3000);
  bus.Pause();  // completes the unfinished cycle's row
  PumpFor(100);
  ASSERT_EQ(bus.Bus().EffectiveVersion(), kVersion);

  std::uint64_t next = 0;
  const std::vector<TLiveRow> rows = history.RowsAfter(next);
  ASSERT_GE(rows.size(), 5u);
  const std::string path = model.Folder().File("live.csv");
  {
    TLiveCsvWriter csv;
    ASSERT_TRUE(csv.Open(path)) << csv.Error();
    for (const TLiveRow& row : rows)
      ASSERT_TRUE(csv.Write(row, history));
    ASSERT_TRUE(csv.Close());
  }
  std::ifstream in(path);
  std::string line;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_EQ(line + "\n", TLiveCsvWriter::HeaderText());
  EXPECT_EQ(line,
            "time,seconds,UMains (V),IMains (A),UInverter (V),IInverter (A),Udc (V),"
            "Udc ripple (V),Idc (A),device");
  std::array<std::vector<std::string>, LiveValueCount> columns;
  int empty = 0;
  double last_seconds = -1;
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::stringstream split(line);
    for (std::string field; std::getline(split, field, ',');)
      fields.push_back(field);
    if (!line.empty() && line.back() == ',') fields.emplace_back();
    ASSERT_EQ(fields.size(), 3u + LiveValueCount) << line;
    EXPECT_EQ(fields[0].size(), 29u) << fields[0];  // 2026-12-09T11:15:03.250+01:00
    EXPECT_EQ(fields[0][10], 'T');
    EXPECT_EQ(fields[0][19], '.');
    const double seconds = std::stod(fields[1]);
    EXPECT_GE(seconds, last_seconds);
    last_seconds = seconds;
    for (int i = 0; i < LiveValueCount; ++i) {
      const std::string& field = fields[static_cast<std::size_t>(2 + i)];
      if (field.empty())
        ++empty;
      else
        columns[static_cast<std::size_t>(i)].push_back(field);
    }
  }
  EXPECT_GT(empty, 0);
  std::size_t gaps = 0;
  for (std::size_t e = 0; e < MonitorList.size(); ++e) {
    const int index = LiveValueIndex(MonitorList[e]->LabelName);
    ASSERT_GE(index, 0);
    std::vector<std::string> shown;
    for (const auto& s : labels[e]->Shown)
      shown.push_back(s.Text);
    EXPECT_EQ(columns[static_cast<std::size_t>(index)], shown) << MonitorList[e]->LabelName;
    // The chart's samples: the same values, with a gap for each failed read.
    std::vector<TLiveSample> samples;
    history.Samples(index, history.Start(), 0, samples);
    std::vector<std::string> drawn;
    for (const TLiveSample& s : samples) {
      if (std::isnan(s.Value)) {
        ++gaps;
        continue;
      }
      char text[32];
      std::snprintf(text, sizeof text, "%.3f", static_cast<double>(s.Value));
      drawn.push_back(text);
    }
    std::vector<std::string> expected;
    for (const std::string& t : shown) {
      char text[32];
      std::snprintf(text, sizeof text, "%.3f", static_cast<double>(std::stof(t)));
      expected.push_back(text);
    }
    EXPECT_EQ(drawn, expected) << MonitorList[e]->LabelName;
  }
  EXPECT_GT(gaps, 0u);
  bus.Resume();
}

}  // namespace
}  // namespace zo::test
