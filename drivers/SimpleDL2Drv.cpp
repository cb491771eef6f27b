#include "drivers/SimpleDL2Drv.h"

namespace zo {

TSimpleDL2Driver::TSimpleDL2Driver(TRS232o* Port, std::uint8_t Mode)
    : TDL2Driver(Port, Mode, false) {
  StartDriverThread();
}

bool TSimpleDL2Driver::PutFrame(const TBusFrame& Frame) {
  const TBusFrame to_default{Frame[0], Frame[1], Frame[2], 0xFF};
  return TDL2Driver::PutFrame(to_default);
}

}  // namespace zo
