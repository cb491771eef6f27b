// The typed-number rule (TryStrToInt) and the real numbers of definition strings (TryStrToFloat)
// on any text: a failed conversion leaves the value unchanged, and a converted integer reads back
// the same from its decimal text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "adapter/TextTool.h"

using namespace zo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::string text(reinterpret_cast<const char*>(Data), Size);
  std::int32_t value = 12345;
  if (TryStrToInt(text, value)) {
    std::int32_t again = 0;
    if (!TryStrToInt(std::to_string(value), again) || again != value) std::abort();
  } else if (value != 12345) {
    std::abort();
  }
  long double real = 1.5L;
  if (!TryStrToFloat(text, real) && real != 1.5L) std::abort();
  return 0;
}
