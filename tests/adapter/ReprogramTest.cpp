// The DL2 firmware check and reprogram dialogue end to end on the simulated DL2 and its bootblock,
// on the virtual clock.
#include <gtest/gtest.h>

#include <sstream>

#include "adapter/AdapterLog.h"
#include "adapter/DlxTools.h"
#include "adapter/Updater.h"
#include "data/CarriedFirmware.h"
#include "drivers/Bustools.h"
#include "drivers/SimpleDL2Drv.h"
#include "tests/adapter/SimRig.h"
#include "tests/support/VirtualClock.h"

namespace zo {
namespace {

using sim::TDL2Variant;
using sim::TVersionFrameFault;
using test::LogHas;
using test::SimRig;

constexpr std::int32_t kImageVersion = 1130118;
constexpr int kImageLines = 71;

const char kUpdateQuestion[] =
    "The software version in the DL2 is not up to date!\rThis program might not work "
    "correct!\rWe strongly advice you to select 'Yes' below to update the DL2.\r\rWould you like "
    "to update the Dl2 now?";
const char kBadQuestion[] =
    "The DL2 seems to be badly programmed!\rA reprogram must be performed!\rDo you want to "
    "reprogram the Dl2 now?";
const char kPowerCycle[] =
    "Please switch the device off and on again to reset the DL2!\rPress ok when done.";
const char kProgrammed[] =
    "DL2 programmed.\rPlease switch the device off and on again to reset!\rPress OK when done.";
const char kFailed[] =
    "Reprogram failed\rPlease retry!\rSwitch the device off and on again to reset!";
const char kNoConnection[] = "Error establishing connection with DL2\rPlease retry.";
const char kBadImage[] = "Error in the firmware data!\rPlease contact Tarnelo";

std::vector<int> ExpectedPositions(int Lines) {
  std::vector<int> positions;
  for (int i = 0; i < Lines; ++i)
    positions.push_back(ProgressPercent(i, kImageLines));
  return positions;
}

// A simulated DL2 on an open port, the carried image, the log, and a user who switches the device
// off and on when asked to.
class Reprogram : public ::testing::Test {
 protected:
  void Start(const sim::TSimDL2Config& Config, bool UserPowerCycles = true) {
    adapter_ = &rig_.StartDL2(Config);
    port_ = rig_.OpenPort();
    if (UserPowerCycles) ui_.OnMessage(kPowerCycle, [this] { adapter_->PowerCycle(); });
  }
  void TearDown() override {
    if (driver_) driver_->SafeTerminate(true, true, true);
  }
  TBusDriver* Detect(std::istream* Image = nullptr) {
    if (Image == nullptr) Image = &image_;
    TBusDriver* d = DetectInterface(port_.get(), true, Image, kImageVersion);
    if (d != nullptr) {
      port_.release();
      driver_ = d;
    }
    return d;
  }
  std::vector<std::string> Texts() { return ui_.MessageTexts(); }

  // On the virtual clock: the bootblock's 18 s and 25 s time-outs pass in no time, and exactly.
  test::VirtualClock clock_{60};
  SimRig rig_;
  test::ScriptedUi ui_;
  sim::SimDL2Adapter* adapter_ = nullptr;
  std::unique_ptr<TRS232o> port_;
  TBusDriver* driver_ = nullptr;
  std::istringstream image_{CarriedFirmwareImage()};
};

TEST_F(Reprogram, AnOutOfDateDL2IsUpdatedAndThenDrivenWithoutAQuestion) {
  Start(test::DL2Of(1130110, TDL2Variant::NewBootblock));
  ui_.AnswerNext(TModalResult::mrYes);
  EXPECT_EQ(Detect(), nullptr);  // no driver after a reprogram
  const auto messages = ui_.Messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].Text, kUpdateQuestion);
  EXPECT_EQ(messages[0].Type, TMsgDlgType::mtWarning);
  EXPECT_EQ(messages[0].Buttons, static_cast<TMsgDlgButtons>(mbYes | mbNo));
  EXPECT_EQ(messages[1].Text, kProgrammed);
  EXPECT_EQ(messages[1].Type, TMsgDlgType::mtConfirmation);
  EXPECT_EQ(adapter_->CommandsAnswered('S'), 1);
  EXPECT_EQ(adapter_->LinesAccepted(), kImageLines);
  EXPECT_EQ(adapter_->FirmwareVersion(), kImageVersion);
  EXPECT_FALSE(rig_.Line().PortBreak());
  EXPECT_TRUE(LogHas("Reprogram procedure for DL2 started"));
  EXPECT_TRUE(LogHas("Bootblock reprogramversion frame: 05 56 01 03 32 74 "));

  // Progress: shown with the bar at 0, one report per line (the third changes the text), hidden.
  const auto shown = ui_.ProgressCalls();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].Caption, "Updating DL2");
  EXPECT_EQ(shown[0].Info, "Please wait, erasing");
  EXPECT_EQ((std::vector<int>{shown[0].Position, shown[0].Min, shown[0].Max}),
            (std::vector<int>{0, 0, 100}));
  EXPECT_EQ(shown[1].Caption + shown[1].Info, "");
  EXPECT_EQ(shown[1].Position, -1);
  EXPECT_EQ(ui_.ProgressInfos(), std::vector<std::string>{"Programming"});
  std::vector<int> expected = ExpectedPositions(kImageLines);
  expected.push_back(100);  // the final report arrives before the dialogue stops waiting
  EXPECT_EQ(ui_.ProgressPositions(), expected);

  ui_.Clear();
  TBusDriver* d = Detect();
  ASSERT_NE(d, nullptr);
  EXPECT_TRUE(Texts().empty());
  EXPECT_TRUE(LogHas("  DL2 detected\r    Version: 1130118\r    mode: ZOBus\r    New bootblock"));
  EXPECT_EQ(ReadSoftwareVersion(*d), rig_.Device().Record()[0]);
}

TEST_F(Reprogram, ABadlyProgrammedDL2IsRepaired) {
  Start(test::DL2Of(0, TDL2Variant::BadlyProgrammed));
  ui_.AnswerNext(TModalResult::mrYes);
  EXPECT_EQ(Detect(), nullptr);
  EXPECT_EQ(Texts(), (std::vector<std::string>{kBadQuestion, kPowerCycle, kProgrammed}));
  EXPECT_EQ(ui_.Messages()[0].Type, TMsgDlgType::mtError);
  EXPECT_EQ(ui_.Messages()[1].Buttons, static_cast<TMsgDlgButtons>(mbOK | mbCancel));
  EXPECT_TRUE(adapter_->FlashGood());
  ui_.Clear();
  ASSERT_NE(Detect(), nullptr);
  EXPECT_TRUE(Texts().empty());
  EXPECT_EQ(adapter_->FirmwareVersion(), kImageVersion);
}

// A refused question is not remembered; declining an update leaves the adapter in use.
TEST_F(Reprogram, DeclinedQuestionsCreateNoDriverAndComeBack) {
  Start(test::DL2Of(0, TDL2Variant::BadlyProgrammed), false);
  ui_.AnswerNext(TModalResult::mrNo);
  EXPECT_EQ(Detect(), nullptr);
  EXPECT_FALSE(rig_.Line().PortBreak());
  ui_.AnswerNext(TModalResult::mrYes);
  ui_.AnswerNext(TModalResult::mrCancel);  // at the power-cycle request
  EXPECT_EQ(Detect(), nullptr);
  EXPECT_TRUE(rig_.Line().PortBreak());  // stays on until a later reprogram or a new port
  ui_.AnswerNext(TModalResult::mrNo);
  EXPECT_EQ(Detect(), nullptr);
  EXPECT_EQ(Texts(),
            (std::vector<std::string>{kBadQuestion, kBadQuestion, kPowerCycle, kBadQuestion}));
  EXPECT_EQ(adapter_->BootblockConnections(), 0);
}

TEST_F(Reprogram, DecliningTheUpdateKeepsTheOldFirmwareInUse) {
  Start(test::DL2Of(1130110, TDL2Variant::OldBootblock));
  ui_.AnswerNext(TModalResult::mrNo);
  TBusDriver* d = Detect();
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(Texts(), std::vector<std::string>{kUpdateQuestion});
  EXPECT_EQ(adapter_->CommandsAnswered('S'), 0);
  EXPECT_EQ(ReadSoftwareVersion(*d), rig_.Device().Record()[0]);
}

// A stop the user asks for (the command line's Ctrl+C) before the first line is sent leaves the
// firmware as it was, at whichever step it comes: before the question, with the answer, or once
// the bootblock is connected.
TEST_F(Reprogram, AStopBeforeTheFirstLineProgramsNothing) {
  Start(test::DL2Of(1130110, TDL2Variant::NewBootblock));
  const auto again = [this] {
    driver_->SafeTerminate(true, true, true);
    driver_ = nullptr;
    port_ = rig_.OpenPort();
    ui_.Clear();
  };
  ui_.CancelWhen([] { return true; });
  ASSERT_NE(Detect(), nullptr);  // the old firmware stays in use
  EXPECT_TRUE(Texts().empty());

  again();
  bool stop = false;
  ui_.CancelWhen([&stop] { return stop; });
  ui_.OnMessage(kUpdateQuestion, [&stop] { stop = true; });
  ui_.AnswerNext(TModalResult::mrYes);
  ASSERT_NE(Detect(), nullptr);
  EXPECT_EQ(adapter_->CommandsAnswered('S'), 0);

  again();
  ui_.CancelWhen([this] { return adapter_->BootblockConnections() > 0; });
  ui_.AnswerNext(TModalResult::mrYes);
  EXPECT_EQ(Detect(), nullptr);
  EXPECT_EQ(Texts(), std::vector<std::string>{kUpdateQuestion});
  EXPECT_TRUE(ui_.ProgressCalls().empty());
  EXPECT_TRUE(LogHas("Reprogram procedure for DL2 stopped before programming"));
  EXPECT_TRUE(AdapterFromLog(test::Log()).ReprogramStopped);
  EXPECT_EQ(adapter_->BootblockConnections(), 1);
  EXPECT_EQ(adapter_->LinesAccepted(), 0);
  EXPECT_EQ(adapter_->FirmwareVersion(), 1130110);
  EXPECT_TRUE(adapter_->FlashGood());
  EXPECT_FALSE(rig_.Line().PortBreak());
}

// The update is offered only for the image's major version, a newer minor revision, and an
// adapter revision of at least 100; never without an image or for anything but a DL2.
TEST(FirmwareCheck, TheVersionRuleDecidesTheQuestion) {
  test::ScriptedUi ui;
  TRS232o closed;  // declining touches no port
  std::istringstream image(CarriedFirmwareImage());
  auto asks = [&](std::int32_t adapter, TInterfaceKind kind, std::istream* firmware) {
    ui.Clear();
    ui.AnswerNext(TModalResult::mrNo);
    TInterfaceKind k = kind;
    CheckInterfaceFirmware(closed, firmware, kImageVersion, k, adapter, 1);
    EXPECT_EQ(k, kind);
    return !ui.Messages().empty();
  };
  EXPECT_TRUE(asks(1130110, ikDL2NewBootblock, &image));
  EXPECT_TRUE(asks(1130110, ikDL2OldBootblock, &image));
  EXPECT_FALSE(asks(1130118, ikDL2NewBootblock, &image));  // the same
  EXPECT_FALSE(asks(1130200, ikDL2NewBootblock, &image));  // newer than the image
  EXPECT_FALSE(asks(1131100, ikDL2NewBootblock, &image));  // another major part
  EXPECT_FALSE(asks(1130050, ikDL2NewBootblock, &image));  // minor part below 100
  EXPECT_TRUE(asks(1130100, ikDL2NewBootblock, &image));   // ... and at 100
  EXPECT_FALSE(asks(1130099, ikDL2NewBootblock, &image));
  EXPECT_FALSE(asks(1130110, ikDL1, &image));
  EXPECT_FALSE(asks(1130110, ikDL2NewBootblock, nullptr));
  EXPECT_FALSE(asks(0, ikBadDL2, nullptr));
  EXPECT_TRUE(asks(0, ikBadDL2, &image));
}

// "Please wait, erasing" stays until the third line's report; every report moves the bar.
TEST(FirmwareCheck, TheThirdProgressReportSaysProgramming) {
  test::ScriptedUi ui;
  TStupidObject progress;
  for (std::size_t call = 1; call <= 4; ++call) {
    progress.UpdateProgress(static_cast<std::int32_t>(10 * call), usRunning);
    EXPECT_EQ(ui.ProgressInfos().size(), call < 3 ? 0u : 1u) << call;
  }
  EXPECT_EQ(ui.ProgressInfos(), std::vector<std::string>{"Programming"});
  EXPECT_EQ(ui.ProgressPositions(), (std::vector<int>{10, 20, 30, 40}));
}

// One reprogram run against a bootblock with a fault.
struct Fault {
  const char* Name;
  std::function<void(sim::TSimBootblockConfig&)> Configure;
  const char* Box;     // the error box shown
  const char* Logged;  // the log entry that names the cause
  int Reports;         // progress reports (-1: programming never started)
  std::string (*Image)() = [] { return CarriedFirmwareImage(); };
};

void PrintTo(const Fault& f, std::ostream* os) {
  *os << f.Name;
}

std::function<void(sim::TSimBootblockConfig&)> ReplyAtLine2(std::uint8_t Byte) {
  return [Byte](sim::TSimBootblockConfig& b) {
    b.FaultLine = 2;
    b.FaultReply = Byte;
  };
}

// The carried image, with block 0's header naming hardware id '3' and the data total to match.
std::string ImageForOtherHardware() {
  std::string image = CarriedFirmwareImage();
  const std::size_t block0 = image.size() - kImageLines * FirmwareBlockSize;
  ++image[block0 + 15];
  constexpr std::size_t kTotalAt = 1 + 28 + 1 + 2;  // behind the signature and format version
  std::uint32_t total = 0;
  for (int i = 3; i >= 0; --i)
    total = (total << 8) | static_cast<std::uint8_t>(image[kTotalAt + i]);
  ++total;
  for (int i = 0; i < 4; ++i)
    image[kTotalAt + i] = static_cast<char>(total >> (8 * i));
  return image;
}

std::string TruncatedImage() {
  return CarriedFirmwareImage().substr(0, 3000);
}

class ReprogramFault : public Reprogram, public ::testing::WithParamInterface<Fault> {};

TEST_P(ReprogramFault, EndsWithItsMessageAndReleasesTheBreak) {
  const Fault& f = GetParam();
  sim::TSimDL2Config config = test::DL2Of(1130110, TDL2Variant::NewBootblock);
  f.Configure(config.Bootblock);
  Start(config);
  // The device was switched off and on with the break held: the bootblock waits.
  port_->SetBreak(true);
  adapter_->PowerCycle();
  std::istringstream image(f.Image());
  ReprogramInterface(*port_, image, "DL2");
  EXPECT_EQ(Texts(), std::vector<std::string>{f.Box});
  EXPECT_TRUE(LogHas(f.Logged)) << test::Log();
  EXPECT_FALSE(rig_.Line().PortBreak());
  if (f.Reports < 0) {
    EXPECT_TRUE(ui_.ProgressCalls().empty());
  } else {
    EXPECT_EQ(ui_.ProgressPositions(), ExpectedPositions(f.Reports));
    EXPECT_EQ(ui_.ProgressCalls().size(), 2u);  // shown and hidden
  }
  EXPECT_EQ(adapter_->ProgrammingsCompleted(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    EveryFault, ReprogramFault,
    ::testing::Values(
        Fault{"BootstrapOverlap", ReplyAtLine2('B'), kFailed,
              "Bootstrap overlap error in file.\rPlease contact Tarnelo.", 3},
        Fault{"OtherHardware", [](auto&) {}, kFailed,
              "ID error occured.\rFile not suitable for this device!", 1, ImageForOtherHardware},
        Fault{"GeneralError", ReplyAtLine2('E'), kFailed, "General error occured.", 3},
        Fault{"TransmitError", ReplyAtLine2('T'), kFailed, "Error during transmit!", 3},
        Fault{"UnexpectedU", ReplyAtLine2('U'), kFailed, "Unexpected respons from target!", 3},
        Fault{"ReplyX", ReplyAtLine2('X'), kFailed, "No respons from target!", 3},
        Fault{"LowercaseN", ReplyAtLine2('n'), kFailed, "Unexpected respons from target!", 3},
        // The power fails at line 2; the adapter comes back badly programmed and sends 0x11
        // (the next detection then offers the repair).
        Fault{"PowerLost", [](auto& b) { b.PowerLossLine = 2; }, kFailed,
              "Unexpected respons from target!", 3},
        // A slow answer is awaited: the time-out of a line is long.
        Fault{"SlowAnswerAwaited",
              [](auto& b) {
                b.SlowLine = 0;
                b.SlowLineMs = 800;
                b.FaultLine = 1;
                b.FaultReply = 'E';
              },
              kFailed, "General error occured.", 2},
        Fault{"SingleByteVersionFrame",
              [](auto& b) { b.VersionFrame = TVersionFrameFault::SingleByte; }, kNoConnection,
              "Error in reprogram connect!", -1},
        Fault{"VersionFrameWithoutV",
              [](auto& b) { b.VersionFrame = TVersionFrameFault::WithoutV; }, kNoConnection,
              "Error in reprogram connect!", -1},
        Fault{"VersionFrameBadSum", [](auto& b) { b.VersionFrame = TVersionFrameFault::BadSum; },
              kNoConnection, "Error in reprogram connect!", -1},
        Fault{"BadImage", [](auto&) {}, kBadImage, "Error in firmware stream!", -1, TruncatedImage},
        // These two wait out the protocol's own time-outs (18 s for a line, 25 s for the version
        // frame).
        Fault{"NoReplyToALine",
              [](auto& b) {
                b.FaultLine = 2;
                b.FaultSilent = true;
              },
              kFailed, "No respons from target!", 3},
        Fault{"NoVersionFrame", [](auto& b) { b.VersionFrame = TVersionFrameFault::Silent; },
              kNoConnection, "Error in reprogram connect!", -1}),
    [](const ::testing::TestParamInfo<Fault>& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace zo
