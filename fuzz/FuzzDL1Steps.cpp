// The DL1 driver's receive steps driven directly, without its thread: every byte of the input,
// with its error flags (a parity error is the ninth bit), goes through echo checking or frame
// assembly, every gap is an idle tick, so that a single process tries tens of thousands of inputs
// a second. fuzz_dl1_receive keeps the whole exchange with the driver's thread.
//
// Input: byte 0 bit 0 says whether a request is put (its transmission starts at the first idle
// tick, and the input may or may not echo it); the rest is what the line delivers (FuzzPort.h).
#include <cstddef>
#include <cstdint>

#include "drivers/DL1Drv.h"
#include "fuzz/FuzzPort.h"

using namespace zo;

namespace {

class StepDriver final : public TDL1Driver {
 public:
  explicit StepDriver(TRS232o* Port) : TDL1Driver(Port, false) {}
  using TDL1Driver::HandleByte;
  using TDL1Driver::IdleTick;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  if (Size < 1) return 0;
  fuzz::FuzzBackend* backend = nullptr;
  StepDriver driver(fuzz::OpenFuzzPort(nullptr, 0, backend));
  if ((Data[0] & 1) != 0) {
    driver.PutFrame(TBusFrame{5, 0, 0, 0xFF});
    driver.IdleTick();
  }
  for (const fuzz::TLineEvent& e : fuzz::ParseLineEvents(Data + 1, Size - 1)) {
    if (e.Gap)
      driver.IdleTick();
    else
      driver.HandleByte(e.Value, e.Errors);
  }
  TBusFrame frame{};
  while (driver.GetFrame(frame)) {
  }
  return 0;
}
