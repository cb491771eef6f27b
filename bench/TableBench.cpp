// The benchmark table: every operation the technician waits for, measured in real time on the
// simulators against its protocol floor (the wire time of every byte at the adapter's baud rate
// plus the pauses the protocol mandates, with a device that answers at once), and the program's
// CPU use while connected and polling and its peak memory. Prints one table; asserts nothing.
//
// The CPU figures are taken with the simulated DL2 in a process of its own (zo-sim on a
// pseudo-terminal, beside this program), so that only this process's own work counts; the
// window's start-up comes from bench_window.
#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "adapter/DlxTools.h"
#include "adapter/Updater.h"
#include "connection/BusThread.h"
#include "data/CarriedFirmware.h"
#include "data/VersionTable.h"
#include "drivers/Bustools.h"
#include "drivers/DL1Drv.h"
#include "drivers/DL2DRV.h"
#include "drivers/SimpleDL2Drv.h"
#include "serial/SimLine.h"
#include "settings/Settings.h"
#include "settings/VersionFile.h"
#include "sim/SimDL1Adapter.h"
#include "sim/SimDL2Adapter.h"
#include "sim/SimDevice.h"
#include "tests/support/ScriptedUi.h"
#include "threads/MainThread.h"

using namespace zo;

namespace {

constexpr std::int32_t kVersion = 1711104;
constexpr double kDL2ByteMs = 10.0 * 1000.0 / DL2Baud;
constexpr double kDL1ByteMs = 11.0 * 1000.0 / DL1Baud;

struct TRow {
  std::string Operation;
  double Measured = 0;  // ms, or the figure in its own unit
  double Floor = 0;     // 0: no floor (a figure against its target)
  std::string Unit = "ms";
  std::string Target;  // the target, as text
  std::string Note;
};

std::vector<TRow> rows;
// Answers the questions of the firmware check (and records every box) instead of a user.
test::ScriptedUi test_ui;

void Row(const std::string& Operation, double Measured, double Floor, const std::string& Target) {
  rows.push_back({Operation, Measured, Floor, "ms", Target, ""});
}

double Ms(const std::function<void()>& Body) {
  const TimePoint start = Now();
  Body();
  return MillisecondsBetween(start, Now());
}

// Counts the frames of every Send and Request it passes on (to know a write's floor).
class CountingDriver final : public TBusDriver {
 public:
  explicit CountingDriver(TBusDriver* Inner) : TBusDriver(true), inner_(Inner) {}
  bool Request(TBusFrame& Frame) override {
    ++Requests;
    return inner_->Request(Frame);
  }
  bool Send(TBusFrame& Frame) override {
    ++Sends;
    return inner_->Send(Frame);
  }
  bool PutFrame(const TBusFrame& Frame) override { return inner_->PutFrame(Frame); }
  bool GetFrame(TBusFrame& Frame) override { return inner_->GetFrame(Frame); }
  std::uint8_t GetPortNumber() override { return inner_->GetPortNumber(); }
  std::uint8_t GetAddress() override { return inner_->GetAddress(); }
  void SetAddress(std::uint8_t Value) override { inner_->SetAddress(Value); }
  int Requests = 0, Sends = 0;

 protected:
  void Execute() override {}

 private:
  TBusDriver* inner_;
};

sim::TSimDeviceConfig DeviceConfig() {
  sim::TSimDeviceConfig config;
  config.Record = *FindBuiltInVersion(kVersion);
  config.TurnaroundMs = 0;
  return config;
}

int PresentSettings() {
  int n = 0;
  for (int s = 8; s <= 25; ++s)
    if (SettingTable[s].IsPresent()) ++n;
  return n;
}

int PresentMonitors() {
  int n = 0;
  for (const auto& entry : MonitorList)
    if (entry->Setting->IsPresent()) ++n;
  return n;
}

bool GetSettings(TBusDriver& Driver) {
  bool sent = false;
  for (int i = 0; i < 3 && !sent; ++i)
    sent = SendCommand4(Driver, 0);
  return sent && ReadSettings(&Driver);
}

// The polling cycle as the bus thread runs it: each present monitor value, then the keep-alive.
void MonitorCycle(TBusDriver& Driver) {
  for (const auto& entry : MonitorList)
    if (entry->Setting->IsPresent()) entry->Setting->ReadFrom(&Driver);
  TBusFrame keep_alive{3, 3, 0, 0};
  Driver.Send(keep_alive);
}

void Quiet() {
  Delay(300);  // a quiet line: the next frame waits for no hold-off
}

void DL2Operations() {
  sim::SimDevice device(DeviceConfig());
  sim::TSimDL2Config config;
  config.LedBytesEvery = 0;
  auto line = SimLine::Create("bench-table-dl2");
  auto* port = new TRS232o;
  port->OpenBackend(line->OpenPortSide(), 1, DL2Baud, 'N', 1024, 1024);
  port->SetDtrCleared(false);
  sim::SimDL2Adapter adapter(line, &device, config);
  adapter.Start();
  Delay(400);
  auto* driver = new TSimpleDL2Driver(port, 1);
  CountingDriver counting(driver);
  TBusFrame warm{5, 0, 0, 0xFF};
  driver->Request(warm);

  Quiet();
  Row("DL2: one request", Ms([&] {
        TBusFrame f{5, 0, 0, 0xFF};
        driver->Request(f);
      }),
      21 * kDL2ByteMs, "<= 1.10");
  Quiet();
  const int reads = PresentSettings();
  Row("DL2: \"Get settings\" (" + std::to_string(reads) + " reads)",
      Ms([&] { GetSettings(*driver); }),
      14 * kDL2ByteMs + DL2HoldoffAfterByte * DL2ReadTimeoutMs + reads * 21 * kDL2ByteMs +
          (reads - 1) * DL2ReadTimeoutMs,
      "<= 1.10");
  Quiet();
  counting.Sends = 0;
  const double write_ms = Ms([&] { WriteSettings(&counting); });
  // Each frame after the first waits for its predecessor and that one's echo, which fails the
  // plain checksum, and then for 20 quiet idle ticks.
  Row("DL2: \"Send settings\" (" + std::to_string(counting.Sends) + " frames)", write_ms,
      (counting.Sends - 1) * (14 * kDL2ByteMs + DL2HoldoffAfterByte * DL2ReadTimeoutMs), "<= 1.10");
  Quiet();
  MonitorCycle(*driver);
  const int monitors = PresentMonitors();
  // From the first read of one cycle to that of the next: every read, the idle tick after each,
  // the keep-alive and its echo, and the 20 idle ticks after that echo.
  Row("DL2: monitor cycle (" + std::to_string(monitors) + " values)",
      Ms([&] { MonitorCycle(*driver); }),
      monitors * (21 * kDL2ByteMs + DL2ReadTimeoutMs) + 14 * kDL2ByteMs +
          DL2HoldoffAfterByte * DL2ReadTimeoutMs,
      "<= 1.10");
  driver->SafeTerminate(true, true, true);
  adapter.Stop();
}

void DL1Operations() {
  auto line = SimLine::Create("bench-table-dl1");
  auto device = std::make_shared<sim::SimDevice>(DeviceConfig());
  sim::SimDL1Adapter adapter(line, device);
  adapter.Start();
  auto* port = new TRS232o;
  port->OpenBackend(line->OpenPortSide(), 1, 1200, 'N', 1024, 1024);
  auto* driver = new TDL1Driver(port);
  CountingDriver counting(driver);
  TBusFrame warm{5, 0, 0, 0xFF};
  driver->Request(warm);

  Row("DL1: one request", Ms([&] {
        TBusFrame f{5, 0, 0, 0xFF};
        driver->Request(f);
      }),
      DL1ReadTimeoutMs + 8 * kDL1ByteMs, "<= 1.15");
  const int reads = PresentSettings();
  Row("DL1: \"Get settings\" (" + std::to_string(reads) + " reads)",
      Ms([&] { GetSettings(*driver); }),
      DL1ReadTimeoutMs + 4 * kDL1ByteMs + DL1SendPauseMs + reads * 8 * kDL1ByteMs +
          (reads - 1) * DL1ReadTimeoutMs,
      "<= 1.15");
  counting.Sends = 0;
  const double write_ms = Ms([&] { WriteSettings(&counting); });
  // Each frame: four bytes and the 60 ms pause after every Send; the idle tick a frame needs lies
  // within the pause after the one before, so only the first frame waits for its own.
  Row("DL1: \"Send settings\" (" + std::to_string(counting.Sends) + " frames)", write_ms,
      DL1ReadTimeoutMs + counting.Sends * (4 * kDL1ByteMs + DL1SendPauseMs), "<= 1.15");
  const int monitors = PresentMonitors();
  Row("DL1: monitor cycle (" + std::to_string(monitors) + " values)",
      Ms([&] { MonitorCycle(*driver); }),
      monitors * 8 * kDL1ByteMs + (monitors - 1) * DL1ReadTimeoutMs +
          (DL1ReadTimeoutMs + 4 * kDL1ByteMs + DL1SendPauseMs),
      "<= 1.15");
  driver->SafeTerminate(true, true, true);
  adapter.Stop();
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Starts zo-sim serving device kVersion; its process id, and in `Device` the terminal it serves.
// -1 when it did not start.
pid_t StartZoSim(std::string& Device, const std::string& Firmware = "") {
  const std::string sim = ExecutableFolder() + "/zo-sim";
  int out[2];
  if (pipe(out) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    close(out[0]);
    close(out[1]);
    const std::string version = std::to_string(kVersion);
    if (Firmware.empty()) {
      execl(sim.c_str(), sim.c_str(), "--device", version.c_str(), static_cast<char*>(nullptr));
    } else {
      execl(sim.c_str(), sim.c_str(), "--device", version.c_str(), "--firmware", Firmware.c_str(),
            static_cast<char*>(nullptr));
    }
    _exit(127);
  }
  close(out[1]);
  if (pid < 0) {
    close(out[0]);
    return -1;
  }
  char c = 0;
  while (read(out[0], &c, 1) == 1 && c != '\n')
    Device += c;
  close(out[0]);
  if (Device.empty()) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return -1;
  }
  return pid;
}

// Connected to zo-sim and polling for `Seconds`: the share of one core this process used.
void CpuWhilePolling(int Seconds) {
  std::string device;
  const pid_t sim = StartZoSim(device);
  if (sim < 0) {
    rows.push_back({"CPU while connected and polling", 0, 0, "%", "<= 2 % of one core",
                    "not measured: zo-sim did not start"});
    return;
  }
  setenv("ZO_COM9", device.c_str(), 1);
  auto* bus = new TBusThread(&MonitorList, nullptr, 0);
  MainThread& main = TheMainThread();
  auto pump_until = [&](const std::function<bool()>& Done, double LimitMs) {
    const TimePoint start = Now();
    while (!Done() && MillisecondsBetween(start, Now()) < LimitMs) {
      main.ProcessMessages();
      main.WaitForMessages(50);
    }
    return Done();
  };
  bus->SetPauseRequested(true);
  pump_until([&] { return bus->Paused(); }, 2000);
  bus->OpenPort(9);
  bus->SetPauseRequested(false);
  const bool connected = pump_until([&] { return bus->EffectiveVersion() == kVersion; }, 15000);
  if (connected) {
    const double cpu0 = CpuSeconds();
    const TimePoint t0 = Now();
    pump_until([] { return false; }, Seconds * 1000.0);
    const double share = 100.0 * (CpuSeconds() - cpu0) / (MillisecondsBetween(t0, Now()) / 1000.0);
    rows.push_back({"CPU while connected and polling", share, 0, "%", "<= 2 % of one core",
                    "DL2 through zo-sim on a pseudo-terminal, " + std::to_string(Seconds) + " s"});
  } else {
    rows.push_back({"CPU while connected and polling", 0, 0, "%", "<= 2 % of one core",
                    "not measured: no connection to zo-sim"});
  }
  bus->SafeTerminate(true, true, true);
  kill(sim, SIGTERM);
  waitpid(sim, nullptr, 0);
}

// A whole reprogram run of the carried image on the simulated bootblock (in this process, on the
// simulated line, whose byte times are those of 19200 baud), against its floor: the connect
// sequence's pauses (100 ms after the break, 50 ms after the wake-up bytes, the 250 ms of quiet
// that ends the version frame) and the wire time of the program request, the version frame and
// every line with its one-byte answer.
void ReprogramRun() {
  constexpr double kByteMs = 10.0 * 1000.0 / 19200.0;
  sim::SimDevice device(DeviceConfig());
  sim::TSimDL2Config config;
  config.FirmwareVersion = 1130110;
  auto line = SimLine::Create("bench-table-reprogram");
  TRS232o port;
  port.OpenBackend(line->OpenPortSide(), 1, 2400, 'N', 1024, 1024);
  sim::SimDL2Adapter adapter(line, &device, config);
  adapter.Start();
  const int lines = static_cast<int>((CarriedFirmwareImage().size() - 78) / FirmwareBlockSize);
  const double floor = 100 + 50 + 250 + (1 + 6) * kByteMs + lines * 77 * kByteMs;
  port.SetBreak(true);
  adapter.PowerCycle();  // switched off and on with the break held: the bootblock waits
  Delay(50);
  std::istringstream image(CarriedFirmwareImage());
  const double ms = Ms([&] { ReprogramInterface(port, image, "DL2"); });
  if (adapter.ProgrammingsCompleted() == 1) {
    Row("whole reprogram run (" + std::to_string(lines) + " lines)", ms, floor, "<= 1.10");
  } else {
    rows.push_back({"whole reprogram run", 0, 0, "ms", "<= 1.10", "not measured: the run failed"});
  }
  adapter.Stop();
}

// The update of an out-of-date DL2 served by zo-sim, as detection offers it and the user accepts:
// the share of one core this process used meanwhile.
void CpuDuringReprogram() {
  std::string device;
  const pid_t sim = StartZoSim(device, "1130110");
  if (sim < 0) {
    rows.push_back({"CPU during a reprogram", 0, 0, "%", "<= 10 % of one core",
                    "not measured: zo-sim did not start"});
    return;
  }
  setenv("ZO_COM9", device.c_str(), 1);
  auto* port = new TRS232o;
  std::string note = "not measured: the port did not open";
  double share = 0;
  if (port->Open(9, 1200, 'N', 1024, 1024)) {
    test_ui.AnswerNext(TModalResult::mrYes);  // "Would you like to update the Dl2 now?"
    std::istringstream image(CarriedFirmwareImage());
    const double cpu0 = CpuSeconds();
    const TimePoint t0 = Now();
    TBusDriver* driver = DetectInterface(port, true, &image, CarriedFirmwareVersion());
    const double wall = MillisecondsBetween(t0, Now()) / 1000.0;
    share = 100.0 * (CpuSeconds() - cpu0) / wall;
    const auto boxes = test_ui.MessageTexts();
    if (!boxes.empty() && boxes.back().rfind("DL2 programmed.", 0) == 0) {
      char text[128];
      std::snprintf(text, sizeof text, "through zo-sim on a pseudo-terminal, %.1f s", wall);
      note = text;
    } else {
      note = "not measured: the update did not complete";
    }
    if (driver != nullptr) {
      driver->SafeTerminate(true, true, true);
      port = nullptr;
    }
  }
  delete port;
  rows.push_back({"CPU during a reprogram", share, 0, "%", "<= 10 % of one core", note});
  kill(sim, SIGTERM);
  waitpid(sim, nullptr, 0);
}

// Rows measured by a window benchmark beside this program (offscreen where no display is
// attached): bench_window (the window's start-up) and bench_live_chart (the live chart).
void WindowRows(const std::string& Name, const std::string& Arguments,
                const std::string& FirstOperation) {
  const std::string bench = ExecutableFolder() + "/" + Name;
  if (access(bench.c_str(), X_OK) != 0) {
    rows.push_back(
        {FirstOperation, 0, 0, "ms", "-", "not measured: the window is not in this build"});
    return;
  }
  const char* display = std::getenv("DISPLAY");
  const std::string command =
      (display == nullptr || *display == '\0' ? "QT_QPA_PLATFORM=offscreen " : "") + bench + " " +
      Arguments + " 2>/dev/null";
  FILE* out = popen(command.c_str(), "r");
  char line[256] = {};
  bool any = false;
  while (out != nullptr && std::fgets(line, sizeof line, out) != nullptr) {
    // ROW|operation|value|unit|note, optionally |target
    std::vector<std::string> f;
    std::string field;
    for (const char* p = line; *p != '\0' && *p != '\n'; ++p) {
      if (*p == '|') {
        f.push_back(field);
        field.clear();
      } else {
        field += *p;
      }
    }
    f.push_back(field);
    if (f.size() < 5 || f.size() > 6 || f[0] != "ROW" || f[2] == "-") continue;
    rows.push_back({f[1], std::atof(f[2].c_str()), 0, f[3], f.size() == 6 ? f[5] : "-", f[4]});
    any = true;
  }
  if (out != nullptr) pclose(out);
  if (!any)
    rows.push_back({FirstOperation, 0, 0, "ms", "-", "not measured: " + Name + " gave no figure"});
}

void Print() {
  std::printf("| %-40s | %12s | %12s | %8s | %-20s | %s\n", "operation", "measured", "floor",
              "ratio", "target", "note");
  std::printf("|%s|%s|%s|%s|%s|------\n", std::string(42, '-').c_str(),
              std::string(14, '-').c_str(), std::string(14, '-').c_str(),
              std::string(10, '-').c_str(), std::string(22, '-').c_str());
  for (const TRow& r : rows) {
    char measured[32], floor[32], ratio[32];
    if (r.Note.rfind("not measured", 0) == 0) {
      std::snprintf(measured, sizeof measured, "-");
    } else {
      std::snprintf(measured, sizeof measured, "%.1f %s", r.Measured, r.Unit.c_str());
    }
    if (r.Floor > 0) {
      std::snprintf(floor, sizeof floor, "%.1f %s", r.Floor, r.Unit.c_str());
      std::snprintf(ratio, sizeof ratio, "%.3f", r.Measured / r.Floor);
    } else {
      std::snprintf(floor, sizeof floor, "-");
      std::snprintf(ratio, sizeof ratio, "-");
    }
    std::printf("| %-40s | %12s | %12s | %8s | %-20s | %s\n", r.Operation.c_str(), measured, floor,
                ratio, r.Target.c_str(), r.Note.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int cpu_seconds = argc > 1 ? std::atoi(argv[1]) : 20;
  PlainMainThread main_thread;
  SetMainThread(&main_thread);
  std::string error;
  InitSettings(error);  // VERSION.DAT beside this program
  if (!error.empty() || !SelectVersion(kVersion)) {
    std::fprintf(stderr, "bench_table: the version table is not usable: %s\n", error.c_str());
    return 1;
  }
  std::string name;
  GetDeviceTypeName(name);
  SetDefaults();

  DL2Operations();
  DL1Operations();
  ReprogramRun();
  CpuWhilePolling(cpu_seconds);
  CpuDuringReprogram();
  WindowRows("bench_window", "", "window start-up to first paint");
  WindowRows("bench_live_chart", std::to_string(cpu_seconds), "live chart: extra CPU");
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  rows.push_back({"peak memory of this benchmark (resident)",
                  static_cast<double>(usage.ru_maxrss) / 1024.0, 0, "MB", "-",
                  "the core without the window, simulators of the DL2 and DL1 included"});
  Print();
  DoneSettings();
  SetMainThread(nullptr);
  return 0;
}
