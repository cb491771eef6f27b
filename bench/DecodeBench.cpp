// Decoding a one-hour trace: the trace of an hour of polling (the seven monitor values read over
// and over through a DL2, as the bus thread reads them while connected) is written as the trace
// backend writes it, then `zocfg decode` reads it with its output thrown away. Target: under 2 s.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "drivers/DL2DRV.h"
#include "settings/VersionFile.h"

using namespace zo;

namespace {

void Put(std::FILE* F, double Ms, const char* Direction, const std::vector<std::uint8_t>& Frame) {
  for (std::uint8_t b : Frame)
    std::fprintf(F, "%12.3f %-4s %02X  2400 8N1\n", Ms, Direction, b);
}

}  // namespace

int main() {
  const std::string folder = ExecutableFolder();
  char path[] = "/tmp/zo-decode-bench-XXXXXX";
  const int fd = ::mkstemp(path);
  std::FILE* f = fd >= 0 ? ::fdopen(fd, "w") : nullptr;
  if (f == nullptr) return 1;

  // The monitor values of family 17 at $2000 to $2006; a read every 135 ms as measured.
  std::fprintf(f, "%12.3f open /dev/ttyUSB0\n%12.3f line 2400 8N1 RTS off DTR on\n", 0.0, 0.1);
  std::uint8_t seq = 0;
  long lines = 2;
  for (double ms = 100; ms < 3600.0 * 1000; ms += 135) {
    seq = seq + 1 == 250 ? 0 : static_cast<std::uint8_t>(seq + 1);
    const auto address = static_cast<std::uint8_t>(seq % 7);
    const std::vector<std::uint8_t> request = BuildDL2AddressedRequest(0, 7, address, 0x20, seq);
    std::vector<std::uint8_t> reply{5, 0, seq, 0x84, static_cast<std::uint8_t>(seq * 3), 0x09};
    unsigned sum = 0;
    for (std::uint8_t b : reply)
      sum += b;
    reply.push_back(static_cast<std::uint8_t>(-sum));
    Put(f, ms, "PC>", request);
    Put(f, ms + 34.2, "<DEV", request);
    Put(f, ms + 63.9, "<DEV", reply);
    lines += 21;
  }
  const long bytes = std::ftell(f);
  std::fclose(f);

  const std::string command = "'" + folder + "/zocfg' decode " + path + " > /dev/null";
  const auto start = std::chrono::steady_clock::now();
  const int status = std::system(command.c_str());
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ::unlink(path);
  std::printf("decode a one-hour trace (%.1f MB, %ld lines): %.2f s (target < 2 s)%s\n",
              bytes / 1e6, lines, seconds, status == 0 ? "" : "  [zocfg failed]");
  return status == 0 ? 0 : 1;
}
