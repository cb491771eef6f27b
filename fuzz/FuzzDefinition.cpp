// Definition strings on any text: parsing, then every use of the variable it describes (display
// texts of extreme raw values, entry of extreme engineering values, replies, reads and writes
// through a driver that answers at once).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

#include "settings/variable.h"

using namespace zo;

namespace {

// Answers every request at once with a fixed reply; records nothing. Its thread never runs.
class InstantDriver final : public TBusDriver {
 public:
  InstantDriver() : TBusDriver(true) {}
  bool Send(TBusFrame&) override { return true; }
  bool Request(TBusFrame& Frame) override {
    Frame[0] = 0x84;
    Frame[1] = 0xA5;
    Frame[2] = 0x5A;
    return true;
  }
  bool PutFrame(const TBusFrame&) override { return true; }
  bool GetFrame(TBusFrame&) override { return false; }
  std::uint8_t GetPortNumber() override { return 1; }

 protected:
  void Execute() override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::string definition(reinterpret_cast<const char*>(Data), Size);
  TVariable v(definition);
  if (v.Kind < TVariable::KindByte || v.Kind > TVariable::KindNone) std::abort();
  v.ReadFailed = false;
  static const std::int32_t raws[] = {0,
                                      1,
                                      -1,
                                      255,
                                      65535,
                                      std::numeric_limits<std::int32_t>::min(),
                                      std::numeric_limits<std::int32_t>::max()};
  for (std::int32_t raw : raws) {
    v.Value = raw;
    (void)v.AsText();
  }
  static const long double inputs[] = {0.0L,
                                       0.5L,
                                       14.4L,
                                       -1e30L,
                                       1e30L,
                                       1e4000L,
                                       std::numeric_limits<long double>::quiet_NaN(),
                                       std::numeric_limits<long double>::infinity()};
  for (long double x : inputs) {
    v.SetEngineeringValue(x);
    (void)v.AsText();
  }
  v.DecodeReply(TBusFrame{0x84, 0xFF, 0xFF, 0});
  InstantDriver driver;
  v.ReadFrom(&driver);
  (void)v.AsText();
  CommitAfterWrite = (Size & 1) != 0;
  v.WriteTo(&driver);
  return 0;
}
