// The trace decoder on any text, line by line, with the settings model built so that traces that
// show a software version get their settings named: it never crashes, every line that is not
// understood is warned about once, and every flag it counts stands on a frame it put out.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "cli/TraceDecoder.h"
#include "fuzz/FuzzModel.h"
#include "settings/Settings.h"

using namespace zo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  fuzz::BuildSettingsModel();
  int frames = 0, flags = 0, warnings = 0;
  TTraceDecoder decoder(
      [&](const TDecodedFrame& F) {
        if (!F.Direction.empty()) ++frames;
        flags += static_cast<int>(F.Flags.size());
      },
      [&](const std::string&) { ++warnings; });
  decoder.Text(std::string_view(reinterpret_cast<const char*>(Data), Size));
  const TDecodeSummary& s = decoder.Summary();
  int counted = 0;
  for (int f = 0; f < tfFlagCount; ++f)
    counted += s.Flags[f];
  if (s.Warnings != warnings || s.Frames != frames || counted != flags) std::abort();
  return 0;
}
