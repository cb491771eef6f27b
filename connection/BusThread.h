// The one background thread that holds the connection to the target device.
//
// While the window does not need the bus it loops: get a driver by interface detection (on the
// main thread, through a synchronised call, since detection may ask questions), read the target's
// software version, then poll the monitor values one per pass, each cycle ending with a
// keep-alive frame. More than ten failures without a successful read forget the version, so that
// it is read again. The monitor values are read only while the settings model has the target's
// version selected (the window selects it when it shows the target): until then the model's
// addresses may be another device's, and only keep-alives go out.
//
// When the port vanishes (a USB adapter pulled) the thread closes it and opens the same device
// again once it is back, checking twice a second, then finds the adapter and the target through
// the normal detection; the text log records each step. The port chosen stays chosen.
//
// The window borrows the bus with the pause handshake: it sets PauseRequested and waits until
// Paused; the thread acknowledges at the top of its next pass (after its current transaction)
// and then looks again every 20 ms. While paused, only the window uses Driver, OpenPort and
// ResetVersion.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "connection/LiveHistory.h"
#include "drivers/ExtendedBusdrv.h"
#include "serial/RS232o.h"
#include "settings/Settings.h"
#include "threads/Sema.h"

namespace zo {

// The monitor values to poll, in polling order.
using TMonitorList = std::vector<std::unique_ptr<TMonitorSetting>>;

// The thread's states, as its fields make them. NoInterface includes a port that has vanished
// and is waited for.
enum class TBusState { Paused, NoInterface, NoTarget, Monitoring };

// Opens the device of a port again after it vanished: null while it is not back (with the reason
// in the argument).
using TReopenDevice = std::function<std::unique_ptr<SerialBackend>(std::string& Why)>;

// How often the thread looks for a vanished port's device.
constexpr int ReopenIntervalMs = 500;

class TBusThread : public TSafeThread {
 public:
  // The thread runs when the constructor returns, with a closed port (so it stays without
  // interface until OpenPort). The monitor list and the firmware image belong to the caller and
  // must outlive the thread; `FirmwareStream` may be null (no firmware check).
  TBusThread(TMonitorList* MonitorList, std::istream* FirmwareStream, std::int32_t FirmwareVersion);
  // Stops and frees the driver (which frees its port), or frees the port. The owner ends the
  // thread with SafeTerminate(True, True, True) on the main thread, which cancels a pending
  // detection or label update, waits for the thread while serving the main thread's calls, and
  // then deletes it.
  ~TBusThread() override;

  // OverruledVersion when it is >= 0, else DetectedVersion; -1 when none.
  std::int32_t EffectiveVersion() const;
  // The pause was requested and the thread has acknowledged it.
  bool Paused() const;
  // Forgets the detected version (only while paused).
  void ResetVersion() { detected_version_.store(-1); }

  // Only while paused: stops the driver, replaces the port with a new one opened as
  // Open(PortNumber, 1200 baud, 'N', 1024, 1024) and, when it opened, runs detection at once and
  // returns True (whether or not an adapter was found). A port that cannot be opened shows
  // "Cannot open port: COM<n>" and returns False. False without doing anything when not paused.
  bool OpenPort(std::uint8_t PortNumber);
  // As OpenPort, on a device the caller opened (the command line's device paths). `Reopen`, when
  // given, opens the device again after it has vanished; without it a vanished port stays closed.
  bool OpenPortBackend(std::unique_ptr<SerialBackend> Backend, std::uint8_t PortNumber,
                       TReopenDevice Reopen = {});

  // True while the chosen port has vanished and the thread waits for its device.
  bool PortGone() const { return port_gone_.load(); }

  void SetPauseRequested(bool Value);
  bool PauseRequested() const;
  bool PauseAcknowledged() const;

  std::int32_t OverruledVersion() const { return overruled_version_.load(); }
  void SetOverruledVersion(std::int32_t Value) { overruled_version_.store(Value); }
  std::int32_t DetectedVersion() const { return detected_version_.load(); }

  // The driver; the window uses it directly, only while paused.
  TBusDriver* Driver() const { return driver_.load(); }

  TBusState State() const;

  // Every monitor read, each polling cycle's end and every pass that cannot poll go to `History`
  // as well (null: nowhere). The history must outlive the thread.
  void SetLiveHistory(TLiveHistory* History) { live_history_.store(History); }

 protected:
  void Execute() override;

 private:
  void CreateDriver();
  // The settings model has the effective version selected: its monitor addresses are this
  // target's.
  bool VersionSelected() const;
  void UpdateMonitorLabel();
  void StopDriver();
  // Takes a freshly opened port: remembers how to open it again and logs what opening it did.
  void PortOpened(TReopenDevice Reopen);
  // Whether the port (or the driver's) has vanished.
  bool PortVanished();
  // On the main thread: stops the driver, closes the vanished port and starts waiting for it.
  void ClosePortGone();
  // Opens the vanished port's device again when it is due and back.
  void TryReopen();
  // "COM7 (/dev/ttyUSB0)", for the text log.
  std::string PortLabel() const;
  void LogDriverScheduling(TBusDriver* Driver);

  std::uint8_t ErrorCount = 0;
  std::istream* FirmwareStream;
  std::int32_t FirmwareVersion;
  TMonitorList* MonitorList;
  std::int32_t MonitorIndex = 0;
  TBusFrame KeepAliveFrame{3, 3, 0, 0};

  std::atomic<std::int32_t> detected_version_{-1};
  std::atomic<std::int32_t> overruled_version_{-1};
  // The user refused to reprogram the badly programmed DL2 on this port: detection goes on
  // without asking until a port is opened again. Main thread only (detection runs there).
  bool bad_dl2_declined_ = false;
  std::unique_ptr<TRS232o> port_;
  std::atomic<TBusDriver*> driver_{nullptr};
  std::atomic<TLiveHistory*> live_history_{nullptr};

  // The chosen port, for opening it again after it vanished. Written by OpenPort (while paused)
  // and by the thread.
  std::uint8_t port_number_ = 0;
  std::string port_device_;
  TReopenDevice reopen_;
  std::atomic<bool> port_gone_{false};
  TimePoint next_reopen_{};
  TBusDriver* scheduling_logged_for_ = nullptr;  // thread only

  // The two handshake flags change together under this lock, so the thread can never have read
  // "no pause requested" while the window already sees a stale acknowledgement.
  mutable std::mutex pause_mutex_;
  bool pause_requested_ = false;
  bool pause_acknowledged_ = false;
};

}  // namespace zo
