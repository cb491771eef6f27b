// The DL2 driver the program uses: every request goes to the driver's default address.
#pragma once

#include "drivers/DL2DRV.h"

namespace zo {

class TSimpleDL2Driver : public TDL2Driver {
 public:
  // As TDL2Driver's.
  TSimpleDL2Driver(TRS232o* Port, std::uint8_t Mode);

  // Ignores the client's device address (byte 3) and passes [Frame[0], Frame[1], Frame[2], $FF]
  // to TDL2Driver::PutFrame, so that a request in mode 1 always carries GetAddress (the address
  // last given to SetAddress, initially 0). Results and time-outs as TDL2Driver::PutFrame.
  bool PutFrame(const TBusFrame& Frame) override;
};

}  // namespace zo
