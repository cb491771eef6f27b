// A bus driver for tests of the layers above the drivers: its thread "transmits" each put frame
// at once, records it, and queues the reply that a scripted device gives (if any).
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "drivers/ExtendedBusdrv.h"

namespace zo::test {

class FakeDriver final : public TBusDriver {
 public:
  // The device: given a transmitted frame (byte 3 resolved to the default address), the reply, or
  // nothing. Runs on the driver thread.
  using Device = std::function<std::optional<TBusFrame>(const TBusFrame& Request)>;

  explicit FakeDriver(Device DeviceModel = {});
  ~FakeDriver() override;

  // Stops the thread and frees the object (SafeTerminate(True, True, True)).
  void Stop();

  bool PutFrame(const TBusFrame& Frame) override;
  bool GetFrame(TBusFrame& Frame) override;
  std::uint8_t GetPortNumber() override { return 1; }
  void SetAddress(std::uint8_t Value) override { DefaultAddress = Value; }

  // Queues a frame as if it had been received.
  void Inject(const TBusFrame& Frame);
  // Every frame transmitted so far.
  std::vector<TBusFrame> Sent();
  void SetDevice(Device DeviceModel);
  // While set, frames are taken but never transmitted (the transmitter hangs).
  void SetStalled(bool Value);

 protected:
  void Execute() override;

 private:
  std::mutex mutex_;
  Device device_;
  std::optional<TBusFrame> pending_;
  std::vector<TBusFrame> sent_;
  bool stalled_ = false;
  TEvent work_;
  TReceiveRing<TBusFrame> ring_{Received};
};

}  // namespace zo::test
