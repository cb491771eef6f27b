// The abstract interface-adapter driver.
//
// A driver is a worker thread that owns one serial port, transmits the request frames that client
// threads hand to it, and queues the frames it receives for clients to collect. Clients see only
// 4-byte bus frames. One client at a time uses a driver (the bus thread, or the main thread while
// the bus thread is paused); the driver does not serialise clients.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>

#include "threads/Event.h"
#include "threads/Sema.h"

namespace zo {

// [command or reply code, data low, data high, device address]. A reply is copied over bytes 0 to
// 2 of the request. Address $FF means the driver's default address.
using TBusFrame = std::array<std::uint8_t, 4>;

// Longest wait for the transmitter to become idle (Send, PutFrame) and for a reply (WaitReceive).
constexpr int SendTimeoutMs = 500;
constexpr int ReplyTimeoutMs = 500;

// The 10-entry receive ring shared by a driver thread (the only writer of the write index) and its
// client (the only writer of the read index), counted by a TSemaphore. At most 9 entries wait: an
// entry stored while 9 wait goes into the free tenth slot without being counted and is overwritten
// by the next arrival.
template <typename Entry>
class TReceiveRing {
 public:
  static constexpr int Size = 10;

  explicit TReceiveRing(TSemaphore& Received) : received_(Received) {}

  // Driver thread: stores `E` at the write index; advances and counts it unless that would reach
  // the read index. True when the entry was counted.
  bool Put(const Entry& E) {
    const int w = write_.load(std::memory_order_relaxed);
    entries_[w] = E;
    const int next = (w + 1) % Size;
    if (next == read_.load(std::memory_order_acquire)) return false;
    write_.store(next, std::memory_order_release);
    received_.Add(1);
    return true;
  }

  // Client: takes the oldest counted entry. False when none waits.
  bool Get(Entry& E) {
    if (received_.GetCount() == 0) return false;
    const int r = read_.load(std::memory_order_relaxed);
    E = entries_[r];
    read_.store((r + 1) % Size, std::memory_order_release);
    received_.Add(-1);
    return true;
  }

 private:
  TSemaphore& received_;
  std::array<Entry, Size> entries_{};
  std::atomic<int> write_{0};
  std::atomic<int> read_{0};
};

class TBusDriver : public TSafeThread {
 public:
  using TNotifyEvent = std::function<void(TBusDriver* Sender)>;

  ~TBusDriver() override;

  // Calls OnReceive with this driver as sender (on the main thread, through SafeSynchronize).
  virtual void DoReceive();
  // Installs the receive handler, or removes it when `Handler` is empty.
  virtual void SetOnReceive(TNotifyEvent Handler);

  // PutFrame, then waits up to 500 ms for the transmitter to finish. True only when the frame was
  // put, transmitted within the time-out and TxFailed is False. No reply is awaited. A frame whose
  // transmission timed out stays waiting and still goes out.
  virtual bool Send(TBusFrame& Frame);
  // Throws away every frame received earlier, puts the frame and waits up to 500 ms for a reply,
  // which overwrites bytes 0 to 2 of `Frame`. False when the frame was not put or no reply came.
  virtual bool Request(TBusFrame& Frame);
  // Waits up to 500 ms for a received frame and takes it.
  virtual bool WaitReceive(TBusFrame& Frame);
  // Takes received frames until none is left.
  virtual void FlushReceived();

  // Waits up to 500 ms for the transmitter to be idle (False if it does not become idle), then
  // hands the frame to the driver thread.
  virtual bool PutFrame(const TBusFrame& Frame) = 0;
  // Takes the oldest received frame (bytes 0 to 2); False when none waits.
  virtual bool GetFrame(TBusFrame& Frame) = 0;
  // The port's PortNumber; 0 when it is not open.
  virtual std::uint8_t GetPortNumber() = 0;
  // True when the driver's port has vanished (the adapter was unplugged); false here.
  virtual bool PortVanished() { return false; }

  // The device address used for frames whose byte 3 is $FF.
  virtual std::uint8_t GetAddress();
  virtual void SetAddress(std::uint8_t Value);  // does nothing here

  virtual bool SetLevel(std::uint8_t Value);  // Send [4, Value, 0, $FF]
  virtual bool SetState(std::uint8_t Value);  // Send [3, Value, 0, $FF]
  // Request [2, 0, 0, $FF]; the reply's 16-bit value when its code is $81, else -1.
  virtual std::int32_t GetLedState();

  bool TxFailed() const { return tx_failed_.load(std::memory_order_acquire); }
  bool PortClosed() const { return port_closed_.load(std::memory_order_acquire); }

 protected:
  // Descendants pass True, configure their port, set the priority and Resume.
  explicit TBusDriver(bool CreateSuspended);

  void SetTxFailed(bool Value) { tx_failed_.store(Value, std::memory_order_release); }
  void SetPortClosed(bool Value) { port_closed_.store(Value, std::memory_order_release); }
  bool HandlerSet() const { return handler_set_.load(std::memory_order_acquire); }

  // Number of received frames waiting in the descendant's ring.
  TSemaphore Received;
  // Signalled while no frame waits for transmission.
  TEvent TxIdleEvent{true};
  // The SetRtsCleared value the DL1 driver applies while it transmits.
  std::atomic<bool> TxRtsCleared{true};
  // Device address for frames whose byte 3 is $FF (kept by the DL2 drivers only).
  std::atomic<std::uint8_t> DefaultAddress{0};

 private:
  std::atomic<bool> handler_set_{false};
  TNotifyEvent on_receive_;
  std::atomic<bool> tx_failed_{false};
  std::atomic<bool> port_closed_{true};
};

}  // namespace zo
