// The DL2 driver's receive path: bytes from the line into frame assembly and processing, with a
// client request in flight so that echoes, sequence numbers and reply matching are exercised.
//
// Input: byte 0 chooses the mode (bits 0-1) and whether a request is put (bit 2) and with which
// device address (bits 3-7); the rest is what the line delivers (FuzzPort.h).
#include <cstddef>
#include <cstdint>

#include "drivers/DL2DRV.h"
#include "fuzz/FuzzPort.h"
#include "tests/support/VirtualClock.h"
#include "threads/MainThread.h"

using namespace zo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  if (Size < 1) return 0;
  static PlainMainThread main_thread;
  SetMainThread(&main_thread);
  test::VirtualClock clock;
  const std::uint8_t control = Data[0];
  fuzz::FuzzBackend* backend = nullptr;
  TRS232o* port = fuzz::OpenFuzzPort(Data + 1, Size - 1, backend);
  auto* driver = new TDL2Driver(port, control & 3);
  if ((control & 4) != 0) {
    TBusFrame frame{7, 0x10, 0x00, static_cast<std::uint8_t>(control >> 3)};
    driver->Request(frame);
  }
  backend->Drained().WaitFor(-1);
  TBusFrame frame{};
  while (driver->GetFrame(frame)) {
  }
  driver->SafeTerminate(true, true, true);
  return 0;
}
