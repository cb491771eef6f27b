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
#include "data/VersionTable.h"
#include "fuzz/FuzzSupport.h"
#include "settings/Settings.h"
#include "settings/VersionFile.h"
#include "tests/support/VirtualClock.h"
#include "threads/MainThread.h"

using namespace zo;

namespace {

void BuildModel() {
  static PlainMainThread main_thread;
  SetMainThread(&main_thread);
  test::VirtualClock clock;
  const auto& table = BuiltInVersionRecords();
  const std::string file =
      EncodeVersionFile(std::vector<TVersion::TRecord>(table.begin(), table.end()));
  SetVersionFileFolder(fuzz::Folder());
  fuzz::WriteFile(fuzz::File("VERSION.DAT"), file.data(), file.size());
  std::string error;
  InitSettings(error);
  if (!error.empty() || VersionList.empty()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  static const bool built = (BuildModel(), true);
  (void)built;
  int frames = 0, flags = 0, warnings = 0;
  TTraceDecoder decoder(
      [&](const TDecodedFrame& F) {
        if (!F.Direction.empty()) ++frames;
        flags += static_cast<int>(F.Flags.size());
      },
      [&](const std::string&) { ++warnings; });
  const std::string_view text(reinterpret_cast<const char*>(Data), Size);
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    decoder.Line(text.substr(at, end - at));
    at = end + 1;
  }
  decoder.Finish();
  const TDecodeSummary& s = decoder.Summary();
  int counted = 0;
  for (int f = 0; f < tfFlagCount; ++f)
    counted += s.Flags[f];
  if (s.Warnings != warnings || s.Frames != frames || counted != flags) std::abort();
  return 0;
}
