// Request timing through the simulated DL2 at 2400 baud with a device that answers at once,
// against the protocol floor: the wire time of every byte both ways (request, the adapter's
// echo of it, the reply: 7 bytes each, 10 bits per byte) plus the idle tick that must pass after
// each reply before the next request may go out. Prints figures; asserts nothing.
#include <cstdio>
#include <memory>
#include <vector>

#include "drivers/DL2DRV.h"
#include "serial/SimLine.h"
#include "sim/SimDL2Adapter.h"
#include "sim/SimDevice.h"
#include "threads/MainThread.h"

using namespace zo;

namespace {

constexpr double kByteMs = 10.0 * 1000.0 / DL2Baud;
constexpr double kRequestWireMs = 3 * 7 * kByteMs;

double TimeRequests(TDL2Driver& Driver, int Count) {
  const TimePoint start = Now();
  for (int i = 0; i < Count; ++i) {
    TBusFrame f{5, 0, 0, 0xFF};
    if (!Driver.Request(f)) std::printf("  request %d failed\n", i + 1);
  }
  return MillisecondsBetween(start, Now());
}

void Report(const char* What, double Measured, double Floor) {
  std::printf("%-22s measured %8.1f ms   floor %8.1f ms   measured/floor %.3f\n", What, Measured,
              Floor, Measured / Floor);
}

}  // namespace

int main() {
  PlainMainThread main_thread;
  SetMainThread(&main_thread);

  sim::TSimDeviceConfig device_config;
  device_config.Record.fill(-1);
  device_config.Record[0] = 2600008;
  device_config.TurnaroundMs = 0;
  sim::SimDevice device(device_config);
  sim::TSimDL2Config adapter_config;
  adapter_config.LedBytesEvery = 0;
  auto line = SimLine::Create("bench-dl2");
  auto* port = new TRS232o;
  if (!port->OpenBackend(line->OpenPortSide(), 1, DL2Baud, 'N', 1024, 1024)) {
    std::printf("cannot open the simulated line\n");
    return 1;
  }
  port->SetDtrCleared(false);
  auto adapter = std::make_unique<sim::SimDL2Adapter>(line, &device, adapter_config);
  adapter->Start();
  while (adapter->State() != sim::TDL2SimState::Application)
    Delay(10);
  Delay(100);  // let the announcement pass
  auto* driver = new TDL2Driver(port, 1);
  TimeRequests(*driver, 1);  // warm up

  constexpr int kRuns = 5;
  double single = 0, row = 0;
  for (int run = 0; run < kRuns; ++run) {
    Delay(300);  // a quiet line: the request waits for no hold-off
    single += TimeRequests(*driver, 1) / kRuns;
  }
  for (int run = 0; run < kRuns; ++run) {
    Delay(300);
    row += TimeRequests(*driver, 18) / kRuns;
  }
  std::printf("DL2 at %d baud, device turnaround 0 ms, mean of %d runs\n", DL2Baud, kRuns);
  Report("one Request", single, kRequestWireMs);
  Report("18 Requests in a row", row, 18 * kRequestWireMs + 17 * DL2ReadTimeoutMs);

  driver->SafeTerminate(true, true, true);
  adapter->Stop();
  SetMainThread(nullptr);
  return 0;
}
