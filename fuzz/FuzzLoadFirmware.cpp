// LoadFirmware on any bytes: the first error wins, and the lines it builds are whole.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "adapter/Updater.h"
#include "fuzz/FuzzPort.h"
#include "tests/support/VirtualClock.h"
#include "threads/MainThread.h"

using namespace zo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  static PlainMainThread main_thread;
  SetMainThread(&main_thread);
  test::VirtualClock clock;
  fuzz::FuzzBackend* backend = nullptr;
  TRS232o* port = fuzz::OpenFuzzPort(nullptr, 0, backend);
  auto* updater = new TUpdater(port);
  std::istringstream image(std::string(reinterpret_cast<const char*>(Data), Size));
  std::string error;
  updater->LoadFirmware(image, error);
  if (error.empty()) {
    // A good image gives one 76-byte line per block: 'W', the block, and a check byte that makes
    // the block's sum 0.
    for (const std::string& line : updater->Lines()) {
      if (line.size() != 76 || line[0] != 'W') std::abort();
      unsigned sum = 0;
      for (std::size_t i = 1; i < line.size(); ++i)
        sum += static_cast<std::uint8_t>(line[i]);
      if ((sum & 0xFF) != 0) std::abort();
    }
  }
  updater->SafeTerminate(true, true, true);
  delete port;
  return 0;
}
