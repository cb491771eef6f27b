// The bootblock's answers: its version frame to ConnectBootblock and, when the frame is good, its
// reply byte to each programming line of the carried image.
//
// Input: byte 0 bit 0 says whether the carried image is loaded (else there are no lines); the
// rest is what the line delivers (FuzzPort.h), the version frame first.
#include <cstddef>
#include <cstdint>
#include <sstream>

#include "adapter/Textlogger.h"
#include "adapter/Updater.h"
#include "data/CarriedFirmware.h"
#include "fuzz/FuzzPort.h"
#include "tests/support/VirtualClock.h"
#include "threads/MainThread.h"

using namespace zo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  if (Size < 1) return 0;
  static PlainMainThread main_thread;
  SetMainThread(&main_thread);
  static const bool log_on = SetLogSize(256);
  (void)log_on;
  test::VirtualClock clock;
  fuzz::FuzzBackend* backend = nullptr;
  TRS232o* port = fuzz::OpenFuzzPort(Data + 1, Size - 1, backend);
  auto* updater = new TUpdater(port);
  if ((Data[0] & 1) != 0) {
    std::istringstream image(CarriedFirmwareImage());
    std::string error;
    updater->LoadFirmware(image, error);
  }
  if (updater->ConnectBootblock() && !updater->Lines().empty()) {
    int reports = 0;
    updater->SetOnProgress([&reports](std::int32_t, std::uint8_t) { ++reports; });
    updater->StartProgramming();
    MainThread& main = TheMainThread();
    while (!updater->Idle()) {
      main.ProcessMessages();
      if (!updater->Idle()) main.WaitForMessages(20);
    }
  }
  updater->SafeTerminate(true, true, true);
  delete port;
  return 0;
}
