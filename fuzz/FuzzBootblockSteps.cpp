// The bootblock's answers checked directly, without the updater's thread or the line: the version
// frame as ConnectBootblock reads it (checked, and its log line made; the log itself stays off,
// as keeping it costs far more than the check), then one answer byte per programming
// line until the first that ends the run, with the progress the updater would report. Tens of
// thousands of inputs a second; fuzz_bootblock keeps the whole run with its thread.
//
// Input: byte 0 gives the version frame's length (1 to 100, modulo 100 plus 1), then the frame,
// then the answers to the carried image's lines.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "adapter/Updater.h"

using namespace zo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  if (Size < 1) return 0;
  constexpr int kLines = 71;
  const std::size_t length = std::min<std::size_t>(Data[0] % 100 + 1, Size - 1);
  if (length == 0 || !CheckBootblockVersionFrame(Data + 1, static_cast<int>(length))) return 0;
  const std::uint8_t* answers = Data + 1 + length;
  const std::size_t count = std::min<std::size_t>(Size - 1 - length, kLines);
  for (std::size_t line = 0; line < count; ++line) {
    const std::int32_t percent = ProgressPercent(static_cast<std::int32_t>(line), kLines);
    if (percent < 0 || percent > 100) std::abort();
    std::uint8_t status = 0xFF;
    const char* error = BootblockReplyError(answers[line], status);
    if ((error == nullptr) != (status == usRunning)) std::abort();
    if (error != nullptr && std::strlen(error) == 0) std::abort();
    if (error != nullptr) break;
  }
  return 0;
}
