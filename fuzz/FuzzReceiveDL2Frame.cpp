// ReceiveDL2Frame on any bytes, with any buffer size and length limits. The reply buffer has
// exactly BufSize bytes, so that a write past it is caught.
//
// Input: BufSize, MinLen, MaxLen, then what the line delivers (FuzzPort.h).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "adapter/DlxTools.h"
#include "fuzz/FuzzPort.h"
#include "tests/support/VirtualClock.h"

using namespace zo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  if (Size < 3) return 0;
  const std::uint8_t buf_size = Data[0], min_len = Data[1], max_len = Data[2];
  test::VirtualClock clock;  // a read that gets nothing waits out its time-out at once
  fuzz::FuzzBackend* backend = nullptr;
  TRS232o* port = fuzz::OpenFuzzPort(Data + 3, Size - 3, backend);
  std::vector<std::uint8_t> reply(buf_size);
  const bool ok = ReceiveDL2Frame(*port, reply.data(), buf_size, min_len, max_len);
  if (ok) {
    // A frame that was accepted lies within the buffer and the limits, and starts with $FF.
    const std::uint8_t n = reply[0];
    if (n < min_len || n >= buf_size || reply[1] != 0xFF) std::abort();
  }
  delete port;
  return 0;
}
