// Times Requests and a Send through the DL1 driver and the simulated DL1 at 1200 baud, with a
// device that answers at once, against the protocol's floor:
// - a Request: the idle tick before the frame (16 ms), then 4 bytes out and 4 bytes back;
// - a Send: the idle tick, 4 bytes out, and the 60 ms pause after it.
// Prints measured / floor; asserts nothing.
#include <cstdio>
#include <memory>

#include "drivers/DL1Drv.h"
#include "serial/RS232o.h"
#include "serial/SimLine.h"
#include "sim/SimDL1Adapter.h"
#include "sim/SimDevice.h"
#include "threads/Clock.h"
#include "threads/MainThread.h"

namespace {

using namespace zo;

// Start bit, 8 data bits, the ninth bit and the stop bit at 1200 baud.
constexpr double kByteMs = 11 * 1000.0 / DL1Baud;

void Report(const char* what, double measured, double floor) {
  std::printf("%-24s measured %9.2f ms  floor %9.2f ms  ratio %.3f (target <= 1.15)\n", what,
              measured, floor, measured / floor);
}

}  // namespace

int main() {
  PlainMainThread main_thread;
  SetMainThread(&main_thread);

  auto line = SimLine::Create("bench-dl1");
  sim::TSimDeviceConfig config;
  config.Record.fill(-1);
  config.Record[0] = 2600008;
  config.TurnaroundMs = 0;
  auto device = std::make_shared<sim::SimDevice>(config);
  auto adapter = std::make_unique<sim::SimDL1Adapter>(line, device);
  adapter->Start();

  auto* port = new TRS232o();
  if (!port->OpenBackend(line->OpenPortSide(), 1, 1200, 'N', 1024, 1024)) {
    std::printf("bench_dl1: the simulated port did not open\n");
    return 1;
  }
  auto* driver = new TDL1Driver(port);

  const double request_floor = DL1ReadTimeoutMs + 8 * kByteMs;
  const double send_floor = DL1ReadTimeoutMs + 4 * kByteMs + DL1SendPauseMs;
  int failures = 0;
  auto request = [&] {
    TBusFrame f{5, 0, 0, 0xFF};
    if (!driver->Request(f) || f[0] != 0x82) ++failures;
  };

  // Every timed frame follows a reply, so that the full idle tick lies ahead of it.
  request();
  TimePoint t0 = Now();
  request();
  Report("1 Request", MillisecondsBetween(t0, Now()), request_floor);

  t0 = Now();
  for (int i = 0; i < 18; ++i)
    request();
  Report("18 Requests in a row", MillisecondsBetween(t0, Now()), 18 * request_floor);

  TBusFrame send{4, 0, 0, 0xFF};
  t0 = Now();
  if (!driver->Send(send)) ++failures;
  Report("1 Send", MillisecondsBetween(t0, Now()), send_floor);

  if (failures != 0) std::printf("bench_dl1: %d frames failed\n", failures);
  driver->SafeTerminate(true, true, true);
  adapter->Stop();
  SetMainThread(nullptr);
  return 0;
}
