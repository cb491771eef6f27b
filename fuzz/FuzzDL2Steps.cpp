// The DL2 driver's receive steps driven directly, without its thread: every byte of the input
// goes through frame assembly and ProcessFrame, every gap is an idle tick (which sends a request
// that waits), so that a single process tries tens of thousands of inputs a second.
// fuzz_dl2_receive keeps the whole exchange with the driver's thread.
//
// Input: byte 0 chooses the mode (bit 0: 1 ZOBus, or 2 ZO 9 bit) and whether a request is put
// (bit 1) to which device address (bits 3-7); the rest is what the line delivers (FuzzPort.h).
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "drivers/DL2DRV.h"
#include "fuzz/FuzzPort.h"

using namespace zo;

namespace {

class StepDriver final : public TDL2Driver {
 public:
  StepDriver(TRS232o* Port, std::uint8_t Mode) : TDL2Driver(Port, Mode, false) {}
  using TDL2Driver::IdleTick;
  using TDL2Driver::ReceiveByte;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  if (Size < 1) return 0;
  const std::uint8_t control = Data[0];
  fuzz::FuzzBackend* backend = nullptr;
  StepDriver driver(fuzz::OpenFuzzPort(nullptr, 0, backend), (control & 1) != 0 ? 2 : 1);
  if ((control & 2) != 0) {
    driver.PutFrame(TBusFrame{7, 0x10, 0x00, static_cast<std::uint8_t>(control >> 3)});
    driver.IdleTick();  // the line is quiet: the request goes out at once
  }
  for (const fuzz::TLineEvent& e : fuzz::ParseLineEvents(Data + 1, Size - 1)) {
    if (e.Gap)
      driver.IdleTick();
    else
      driver.ReceiveByte(e.Value, e.Errors);
  }
  TBusFrame frame{};
  while (driver.GetFrame(frame)) {
  }
  return 0;
}
