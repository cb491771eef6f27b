#include "adapter/DlxTools.h"

#include "adapter/Progress.h"
#include "adapter/Textlogger.h"
#include "adapter/Updater.h"
#include "drivers/DL1Drv.h"
#include "drivers/DL2DRV.h"
#include "drivers/SimpleDL2Drv.h"
#include "threads/MainThread.h"
#include "threads/Sema.h"
#include "threads/UiServices.h"

namespace zo {

namespace {

// SendDL2Frame's drain of pending input reads at most this many bytes (about a second at 2400
// baud).
constexpr int kMaxDrainBytes = 256;

bool ProbeXon(TRS232o& Port) {
  Port.SetLine(19200, 'N');
  Port.Purge();
  std::uint8_t byte = 0;
  for (int i = 0; i < 10; ++i) {
    byte = 0;
    if (Port.Read(&byte, 1) == 1 && byte == 0x11) return true;
  }
  return byte == 0x11;
}

bool ProbeEcho(TRS232o& Port) {
  Port.SetLine(2400, 'N');
  Port.Purge();
  Port.SetReadTimeout(150);
  std::uint8_t byte = 'A';
  for (int attempt = 0; attempt < 3; ++attempt) {
    Port.SetRtsCleared(false);
    const std::uint8_t h = 'H';
    Port.Write(&h, 1);
    byte = 'A';
    Port.Read(&byte, 1);
    Port.SetRtsCleared(true);
    if (byte == 'H') break;
  }
  return byte == 'H';
}

int ProbeInterface(TRS232o& Port, std::int32_t& Version, std::uint8_t& Mode) {
  if (ProbeXon(Port)) return 1;
  if (ProbeEcho(Port)) return 2;
  if (ReadDL2Version(Port, Version, Mode)) return 3;
  return 0;
}

}  // namespace

void StartDL2Application(TRS232o& Port) {
  RunDL2StartSequence(Port);
}

void SendDL2Frame(TRS232o& Port, const std::vector<std::uint8_t>& Data) {
  std::vector<std::uint8_t> frame{0, 0xFF};
  frame.insert(frame.end(), Data.begin(), Data.end());
  if (!Data.empty() && Data.back() == 0xFF) frame.push_back(0x00);
  frame[0] = static_cast<std::uint8_t>(frame.size() - 1);
  std::uint8_t sum = 0;
  for (std::uint8_t b : frame)
    sum = static_cast<std::uint8_t>(sum + b);
  frame.push_back(static_cast<std::uint8_t>(-sum));
  Port.SetReadTimeout(20);
  std::uint8_t scratch = 0;
  // Throw away whatever is still pending. A line that never falls quiet (a babbling adapter) ends
  // the drain after the longest answer any adapter gives, many times over, so that detection
  // cannot hang on it; a vanished port reads nothing and ends it at once.
  for (int i = 0; i < kMaxDrainBytes && Port.Read(&scratch, 1) == 1; ++i) {
  }
  Port.Write(frame.data(), static_cast<std::int32_t>(frame.size()));
  Delay(150);
}

bool ReceiveDL2Frame(TRS232o& Port, std::uint8_t* Reply, std::uint8_t BufSize, std::uint8_t MinLen,
                     std::uint8_t MaxLen) {
  if (BufSize == 0) return false;
  if (BufSize <= MaxLen) MaxLen = static_cast<std::uint8_t>(BufSize - 1);
  std::uint8_t h = 0;
  if (Port.Read(&h, 1) != 1) return false;
  const int n = h < 0x82 ? h : h - 0x82;
  if (n < MinLen || n > MaxLen) return false;
  const int count = (h & 0x7F) + 1;
  if (n >= count) return false;  // a length byte of $80 or $81 names more body than it carries
  std::uint8_t rest[128];
  if (Port.Read(rest, count) != count) return false;
  for (int i = 0; i < n; ++i)
    Reply[1 + i] = rest[i];
  Reply[0] = static_cast<std::uint8_t>(n);
  std::uint8_t sum = h;
  for (int i = 0; i < count; ++i)
    sum = static_cast<std::uint8_t>(sum + rest[i]);
  if (sum != 0) return false;
  return n >= 1 && Reply[1] == 0xFF;
}

bool ReadDL2Version(TRS232o& Port, std::int32_t& Version, std::uint8_t& Mode) {
  Mode = 0;
  Port.SetLine(2400, 'N');
  SendDL2Frame(Port, {'V'});
  std::uint8_t reply[10] = {};
  if (!ReceiveDL2Frame(Port, reply, 10, 6, 10) || reply[2] != 'V') return false;
  Version = static_cast<std::int32_t>(
      static_cast<std::uint32_t>(reply[3]) | (static_cast<std::uint32_t>(reply[4]) << 8) |
      (static_cast<std::uint32_t>(reply[5]) << 16) | (static_cast<std::uint32_t>(reply[6]) << 24));
  Mode = 1;
  if (reply[0] >= 7 && reply[7] == 'W') Mode = 2;
  return true;
}

TInterfaceKind IdentifyInterface(TRS232o& Port, std::int32_t& Version, std::uint8_t& Mode) {
  Port.SetReadTimeout(10);
  Port.SetDtrCleared(false);
  Port.SetRtsCleared(true);
  int result = ProbeInterface(Port, Version, Mode);
  bool second_pass = false;
  if (result == 2) {
    StartDL2Application(Port);
    result = ProbeInterface(Port, Version, Mode);
    second_pass = true;
  }
  switch (result) {
    case 1:
      return ikBadDL2;
    case 2:
      return second_pass ? ikDL1 : ikNone;
    case 3:
      return second_pass ? ikDL2OldBootblock : ikDL2NewBootblock;
    default:
      return ikNone;
  }
}

void DL2ModeName(std::uint8_t Mode, std::string& Text) {
  switch (Mode) {
    case 0:
      Text = "Unknown";
      break;
    case 1:
      Text = "ZOBus";
      break;
    case 2:
      Text = "ZO 9 bit";
      break;
    case 3:
      Text = "Transparant";
      break;
    default:
      break;
  }
}

TBusDriver* DetectInterface(TRS232o* Port, bool UseSimpleDriver, std::istream* Firmware,
                            std::int32_t FirmwareVersion, bool* BadDL2Declined) {
  if (Port == nullptr || Port->PortNumber == 0) return nullptr;
  std::int32_t version = 0;
  std::uint8_t mode = 0;
  TInterfaceKind kind = IdentifyInterface(*Port, version, mode);
  if (kind == ikNone) return nullptr;
  switch (kind) {
    case ikDL1:
      LogText("  DL1 detected");
      break;
    case ikBadDL2:
      LogText("  Badly programmed DL2 detected");
      break;
    default: {
      std::string mode_name;
      DL2ModeName(mode, mode_name);
      LogText("  DL2 detected\r    Version: " + std::to_string(version) +
              "\r    mode: " + mode_name +
              (kind == ikDL2NewBootblock ? "\r    New bootblock" : "\r    Old bootblock"));
      break;
    }
  }
  if (Firmware != nullptr)
    CheckInterfaceFirmware(*Port, Firmware, FirmwareVersion, kind, version, mode, BadDL2Declined);
  switch (kind) {
    case ikDL1:
      return new TDL1Driver(Port);
    case ikDL2OldBootblock:
    case ikDL2NewBootblock:
      if (UseSimpleDriver) return new TSimpleDL2Driver(Port, mode);
      return new TDL2Driver(Port, mode);
    default:
      return nullptr;
  }
}

bool SendDL2SFrame(TRS232o& Port) {
  Port.SetLine(2400, 'N');
  SendDL2Frame(Port, {'S', 0, 0, 0, 0, 4});
  std::uint8_t reply[10] = {};
  return ReceiveDL2Frame(Port, reply, 10, 2, 10) && reply[2] == 'S';
}

void CheckInterfaceFirmware(TRS232o& Port, std::istream* Firmware, std::int32_t FirmwareVersion,
                            TInterfaceKind& Kind, std::int32_t AdapterVersion, std::uint8_t,
                            bool* BadDL2Declined) {
  if (Firmware == nullptr) return;
  if (Kind == ikBadDL2) {
    // Asked again every detection cycle, a refused question would come back at once and leave
    // the user no way to reach anything else in the program.
    if (BadDL2Declined && *BadDL2Declined) return;
    if (Ui().CancelRequested()) return;
    auto declined = [BadDL2Declined] {
      if (BadDL2Declined) *BadDL2Declined = true;
    };
    if (Ui().MessageDlg("The DL2 seems to be badly programmed!\rA reprogram must be "
                        "performed!\rDo you want to reprogram the Dl2 now?",
                        TMsgDlgType::mtError, mbYes | mbNo) != TModalResult::mrYes)
      return declined();
    Port.SetBreak(true);
    if (Ui().MessageDlg("Please switch the device off and on again to reset the DL2!\rPress ok "
                        "when done.",
                        TMsgDlgType::mtConfirmation, mbOK | mbCancel) != TModalResult::mrOk)
      return declined();
    ReprogramInterface(Port, *Firmware, "DL2");
    Kind = ikNone;
    return;
  }
  if (Kind != ikDL2OldBootblock && Kind != ikDL2NewBootblock) return;
  const std::int32_t a = AdapterVersion, f = FirmwareVersion;
  if (!(a / 1000 == f / 1000 && f % 1000 > a % 1000 && a % 1000 >= 100)) return;
  if (Ui().CancelRequested() ||
      Ui().MessageDlg("The software version in the DL2 is not up to date!\rThis program might "
                      "not work correct!\rWe strongly advice you to select 'Yes' below to update "
                      "the DL2.\r\rWould you like to update the Dl2 now?",
                      TMsgDlgType::mtWarning, mbYes | mbNo) != TModalResult::mrYes ||
      Ui().CancelRequested())
    return;
  if (!SendDL2SFrame(Port)) SendDL2SFrame(Port);
  Port.SetBreak(true);
  Delay(200);
  ReprogramInterface(Port, *Firmware, "DL2");
  Kind = ikNone;
}

void TStupidObject::UpdateProgress(std::int32_t Percent, std::uint8_t) {
  ++CallCount;
  if (CallCount == 3) Ui().SetProgressInfo("Programming");
  Ui().SetProgressPosition(Percent);
}

void ReprogramInterface(TRS232o& Port, std::istream& Firmware, const std::string& Name) {
  LogText("Reprogram procedure for " + Name + " started");
  TStupidObject progress;
  TUpdater* updater = new TUpdater(&Port);
  // Whatever happens below, the updater is stopped and freed and the break released.
  struct Finally {
    TUpdater*& updater;
    TRS232o& port;
    ~Finally() {
      updater->SafeTerminate(true, true, true);
      port.SetBreak(false);
    }
  } finally{updater, Port};

  Firmware.clear();
  Firmware.seekg(0);
  std::string error;
  updater->LoadFirmware(Firmware, error);
  if (!error.empty()) {
    ShowMessageBox("Error in the firmware data!\rPlease contact Tarnelo", TMsgDlgType::mtError);
    LogText("Error in firmware stream!");
    return;
  }
  // A stop asked for before the first line leaves the adapter's flash as it is.
  const auto stopped = [&Name] {
    if (!Ui().CancelRequested()) return false;
    LogText("Reprogram procedure for " + Name + ReprogramStoppedText);
    return true;
  };
  if (stopped()) return;
  if (!updater->ConnectBootblock()) {
    ShowMessageBox("Error establishing connection with " + Name + "\rPlease retry.",
                   TMsgDlgType::mtError);
    LogText("Error in reprogram connect!");
    return;
  }
  if (stopped()) return;
  ShowProgress("Updating " + Name, "Please wait, erasing", 0, 0, 100);
  // Asked again once the progress is shown: from there on the command line holds every stop over.
  if (stopped()) {
    ShowProgress("", "", -1, 0, 100);
    return;
  }
  updater->SetOnProgress([&progress](std::int32_t Percent, std::uint8_t Status) {
    progress.UpdateProgress(Percent, Status);
  });
  updater->StartProgramming();
  // Serve the updater's progress calls until it is idle again, waiting for them rather than
  // spinning.
  MainThread& main = TheMainThread();
  while (!updater->Idle()) {
    main.ProcessMessages();
    if (!updater->Idle()) main.WaitForMessages(20);
  }
  ShowProgress("", "", -1, 0, 100);
  if (!updater->ErrorText().empty()) {
    LogText(updater->ErrorText());
    ShowMessageBox("Reprogram failed\rPlease retry!\rSwitch the device off and on again to reset!",
                   TMsgDlgType::mtError);
  } else {
    Ui().MessageDlg(Name +
                        " programmed.\rPlease switch the device off and on again to "
                        "reset!\rPress OK when done.",
                    TMsgDlgType::mtConfirmation, mbOK);
  }
}

}  // namespace zo
