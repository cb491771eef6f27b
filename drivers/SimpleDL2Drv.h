// The DL2 driver the program uses: every request goes to the driver's default address.
#pragma once

#include "drivers/DL2DRV.h"

namespace zo {

class TSimpleDL2Driver : public TDL2Driver {
 public:
  using TDL2Driver::TDL2Driver;

  // Ignores the client's device address (byte 3) and passes [Frame[0], Frame[1], Frame[2], $FF]
  // to TDL2Driver::PutFrame, so that a request in mode 1 always carries GetAddress (the address
  // last given to SetAddress, initially 0). Results and time-outs as TDL2Driver::PutFrame.
  bool PutFrame(const TBusFrame& Frame) override;
};

}  // namespace zo
