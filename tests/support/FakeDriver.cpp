#include "tests/support/FakeDriver.h"

namespace zo::test {

FakeDriver::FakeDriver(Device DeviceModel) : TBusDriver(true), device_(std::move(DeviceModel)) {
  SetPortClosed(false);
  Resume();
}

FakeDriver::~FakeDriver() = default;

void FakeDriver::Stop() {
  SafeTerminate(true, true, true);
}

bool FakeDriver::PutFrame(const TBusFrame& Frame) {
  if (!TxIdleEvent.WaitFor(SendTimeoutMs)) return false;
  TxIdleEvent.Reset();
  TBusFrame f = Frame;
  if (f[3] == 0xFF) f[3] = GetAddress();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_ = f;
  }
  work_.Set();
  return true;
}

bool FakeDriver::GetFrame(TBusFrame& Frame) {
  TBusFrame f{};
  if (!ring_.Get(f)) return false;
  Frame[0] = f[0];
  Frame[1] = f[1];
  Frame[2] = f[2];
  return true;
}

void FakeDriver::Inject(const TBusFrame& Frame) {
  ring_.Put(Frame);
}

std::vector<TBusFrame> FakeDriver::Sent() {
  std::lock_guard<std::mutex> lock(mutex_);
  return sent_;
}

void FakeDriver::SetDevice(Device DeviceModel) {
  std::lock_guard<std::mutex> lock(mutex_);
  device_ = std::move(DeviceModel);
}

void FakeDriver::SetStalled(bool Value) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stalled_ = Value;
  }
  work_.Set();
}

void FakeDriver::Execute() {
  while (!Terminated()) {
    work_.WaitFor(20);
    std::optional<TBusFrame> frame;
    Device device;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      work_.Reset();
      if (!pending_ || stalled_) continue;
      frame = pending_;
      pending_.reset();
      sent_.push_back(*frame);
      device = device_;
    }
    std::optional<TBusFrame> reply = device ? device(*frame) : std::nullopt;
    TxIdleEvent.Set();
    if (reply) ring_.Put(*reply);
  }
}

}  // namespace zo::test
