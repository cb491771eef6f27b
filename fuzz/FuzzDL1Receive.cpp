// The DL1 driver's receive path: bytes with their per-byte error flags (a parity error is the
// ninth bit) into frame assembly, with a client request whose echo the input may or may not give.
//
// Input: byte 0 bit 0 says whether a request is put; the rest is what the line delivers
// (FuzzPort.h).
#include <cstddef>
#include <cstdint>

#include "drivers/DL1Drv.h"
#include "fuzz/FuzzPort.h"
#include "tests/support/VirtualClock.h"
#include "threads/MainThread.h"

using namespace zo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  if (Size < 1) return 0;
  static PlainMainThread main_thread;
  SetMainThread(&main_thread);
  test::VirtualClock clock;
  fuzz::FuzzBackend* backend = nullptr;
  TRS232o* port = fuzz::OpenFuzzPort(Data + 1, Size - 1, backend);
  auto* driver = new TDL1Driver(port);
  if ((Data[0] & 1) != 0) {
    TBusFrame frame{5, 0, 0, 0xFF};
    driver->Request(frame);
  }
  backend->Drained().WaitFor(-1);
  TBusFrame frame{};
  while (driver->GetFrame(frame)) {
  }
  driver->SafeTerminate(true, true, true);
  return 0;
}
