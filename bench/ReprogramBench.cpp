// A whole reprogram run of the carried DL2 image on the simulated bootblock, against its floor:
// the connect sequence's pauses (100 ms after the break, 50 ms after the wake-up bytes, and the
// 250 ms of quiet that ends the version frame) plus the wire time of the program request, the
// version frame, and every line and its one-byte answer at 19200 baud (10 bits per byte). Also the
// process's CPU time during the run divided by its wall time. Prints figures; asserts nothing.
#include <time.h>

#include <cstdio>
#include <memory>
#include <sstream>

#include "adapter/DlxTools.h"
#include "adapter/Updater.h"
#include "data/CarriedFirmware.h"
#include "serial/SimLine.h"
#include "sim/SimDL2Adapter.h"
#include "sim/SimDevice.h"
#include "threads/MainThread.h"

using namespace zo;

namespace {

constexpr double kByteMs = 10.0 * 1000.0 / 19200.0;
constexpr int kLineBytes = 76;
constexpr int kVersionFrameBytes = 6;
// The carried image's records before its blocks: signature (30 bytes), format version (2), data
// total (4), image text (40), the empty record that ends the messages (2).
constexpr std::size_t kImageHeaderBytes = 78;

double CpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

}  // namespace

int main() {
  PlainMainThread main_thread;
  SetMainThread(&main_thread);

  sim::TSimDeviceConfig device_config;
  device_config.Record.fill(-1);
  device_config.Record[0] = 2600008;
  sim::SimDevice device(device_config);
  sim::TSimDL2Config adapter_config;
  adapter_config.FirmwareVersion = 1130110;
  auto line = SimLine::Create("bench-reprogram");
  TRS232o port;
  if (!port.OpenBackend(line->OpenPortSide(), 1, 2400, 'N', 1024, 1024)) {
    std::printf("cannot open the simulated line\n");
    return 1;
  }
  sim::SimDL2Adapter adapter(line, &device, adapter_config);
  adapter.Start();

  const int lines =
      static_cast<int>((CarriedFirmwareImage().size() - kImageHeaderBytes) / FirmwareBlockSize);
  const double floor =
      100 + 50 + 250 + (1 + kVersionFrameBytes) * kByteMs + lines * (kLineBytes + 1) * kByteMs;

  constexpr int kRuns = 3;
  double wall_sum = 0, cpu_sum = 0, best = 1e9;
  for (int run = 0; run < kRuns; ++run) {
    // The device switched off and on with the break held: its bootblock waits.
    port.SetBreak(true);
    adapter.PowerCycle();
    Delay(50);
    std::istringstream image(CarriedFirmwareImage());
    const int completed = adapter.ProgrammingsCompleted();
    const double cpu_start = CpuMs();
    const TimePoint start = Now();
    ReprogramInterface(port, image, "DL2");
    const double wall = MillisecondsBetween(start, Now());
    const double cpu = CpuMs() - cpu_start;
    if (adapter.ProgrammingsCompleted() != completed + 1) std::printf("  run %d failed\n", run + 1);
    wall_sum += wall;
    cpu_sum += cpu;
    best = std::min(best, wall);
  }
  const double mean = wall_sum / kRuns;
  std::printf("DL2 reprogram of the carried image (%d lines), mean of %d runs\n", lines, kRuns);
  std::printf(
      "whole run          measured %8.1f ms (best %8.1f)   floor %8.1f ms   "
      "measured/floor %.3f (target <= 1.10)\n",
      mean, best, floor, mean / floor);
  std::printf("process CPU time   %8.1f ms over %8.1f ms wall   cpu/wall %.3f (target <= 0.10)\n",
              cpu_sum / kRuns, mean, cpu_sum / wall_sum);

  adapter.Stop();
  SetMainThread(nullptr);
  return 0;
}
