// One run of zocfg against a device: the same core, in the same order, as the window uses it.
//
//   LoadVersions   InitSettings (the settings model and VERSION.DAT), the text log on with 256
//                  lines, the bus thread with the monitor list and the carried firmware image;
//   OpenAdapter    the pause handshake, then the bus thread reopens the port and detects the
//                  adapter at once (as choosing a port in the window does); while no adapter
//                  answers, the resumed bus thread keeps detecting until the time-out;
//   ConnectTarget  waits until the bus thread has read the target's software version, then the
//                  new-target sequence: pause handshake, SelectVersion, command 4 (160 for family
//                  14, else 0; up to 3 tries), ReadSettings, GetDeviceTypeName.
//
// While a session holds the bus (AcquireBus), the bus thread is parked and the driver is used on
// the main thread, as the window's target operations use it. Every wait pumps the plain
// main-thread queue, which serves the bus thread's synchronised calls (detection, monitor
// labels), and ends early when the program is interrupted (SIGINT, SIGTERM).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "adapter/AdapterLog.h"
#include "adapter/Includebinary.h"
#include "cli/Interrupt.h"
#include "cli/Options.h"
#include "cli/TerminalUi.h"
#include "connection/BusThread.h"

namespace zo {

// True once the run is to stop before its next frame: Ctrl+C (SIGINT, SIGTERM) or a trace file
// that could not be written. Every wait of a session ends early then.
bool StopRequested();

class TSession {
 public:
  TSession(TTerminalUi& Ui, const TOptions& Options);
  // Stops the bus thread (which stops the driver and frees the port), then frees the model.
  ~TSession();
  TSession(const TSession&) = delete;
  TSession& operator=(const TSession&) = delete;

  // InitSettings and the text log. ExitOk, or ExitFile after showing the fatal message.
  int LoadVersions();

  // Starts the bus thread, opens the port of --port (with the trace when asked) and detects the
  // adapter. ExitOk once a driver exists; ExitCommunication when the port cannot be opened or no
  // usable adapter answered within the time-out (or a question about it was declined); ExitFile
  // when the trace file cannot be created. Leaves the bus thread running.
  int OpenAdapter();

  // Waits (up to the time-out, counted from OpenAdapter) for the target's software version and
  // runs the new-target sequence. ExitOk with the bus held and every setting read;
  // ExitCommunication otherwise, after showing the window's message.
  int ConnectTarget();

  // The pause handshake: true once the bus thread is parked (up to 10 s; it parks after its
  // current transaction). ReleaseBus lets it resume polling.
  bool AcquireBus();
  void ReleaseBus();

  // Pumps the main-thread queue until `Done` holds, `Ms` milliseconds pass, or the program is
  // interrupted; the result is Done().
  bool PumpUntil(const std::function<bool()>& Done, long long Ms);
  // After StopRequested ended a step: says why (the trace file's error, or "Interrupted.") and
  // then `Done` (what had been done, when not empty), and gives the status: ExitFile for the
  // trace, else ExitCommunication.
  int Stopped(const std::string& Done);
  // What a stop before the command's first change of the device or a file leaves undone:
  // "Nothing was sent to the device." (write), "Nothing was programmed." (update-firmware),
  // "Nothing was saved." (read with --out or --text), or empty.
  std::string NothingDone() const;
  // Milliseconds left of the time-out begun by OpenAdapter (at least 0).
  long long TimeLeftMs() const;

  TBusThread& Bus() { return *bus_; }
  TBusDriver* Driver() const { return bus_ ? bus_->Driver() : nullptr; }
  TTerminalUi& Ui() { return ui_; }
  const TOptions& Options() const { return options_; }

  // Valid after OpenAdapter / ConnectTarget.
  const TAdapterInfo& Adapter() const { return adapter_; }
  const std::string& PortName() const { return port_name_; }
  std::int32_t TargetVersion() const { return target_version_; }
  const std::string& DeviceType() const { return device_type_; }

 private:
  int OpenPort();
  void StartBusThread();

  TTerminalUi& ui_;
  const TOptions& options_;
  TBinaryIncluder firmware_;
  TBusThread* bus_ = nullptr;
  bool settings_built_ = false;
  TimePoint deadline_{};
  TAdapterInfo adapter_;
  std::string port_name_;
  std::int32_t target_version_ = -1;
  std::string device_type_;
};

}  // namespace zo
