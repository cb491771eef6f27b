#include "drivers/ExtendedBusdrv.h"

namespace zo {

TBusDriver::TBusDriver(bool CreateSuspended) : TSafeThread(CreateSuspended) {}

TBusDriver::~TBusDriver() = default;

void TBusDriver::DoReceive() {
  if (on_receive_) on_receive_(this);
}

void TBusDriver::SetOnReceive(TNotifyEvent Handler) {
  // Only installed while the driver thread cannot be in DoReceive (no part of the program
  // installs one while the driver runs).
  handler_set_.store(false, std::memory_order_release);
  on_receive_ = std::move(Handler);
  handler_set_.store(static_cast<bool>(on_receive_), std::memory_order_release);
}

bool TBusDriver::Send(TBusFrame& Frame) {
  if (!PutFrame(Frame)) return false;
  if (!TxIdleEvent.WaitFor(SendTimeoutMs)) return false;
  return !TxFailed();
}

bool TBusDriver::Request(TBusFrame& Frame) {
  FlushReceived();
  if (!PutFrame(Frame)) return false;
  return WaitReceive(Frame);
}

bool TBusDriver::WaitReceive(TBusFrame& Frame) {
  if (!Received.NonZeroEvent().WaitFor(ReplyTimeoutMs)) return false;
  return GetFrame(Frame);
}

void TBusDriver::FlushReceived() {
  TBusFrame scratch{};
  while (GetFrame(scratch)) {
  }
}

std::uint8_t TBusDriver::GetAddress() {
  return DefaultAddress.load();
}

void TBusDriver::SetAddress(std::uint8_t) {}

bool TBusDriver::SetLevel(std::uint8_t Value) {
  TBusFrame frame{4, Value, 0, 0xFF};
  return Send(frame);
}

bool TBusDriver::SetState(std::uint8_t Value) {
  TBusFrame frame{3, Value, 0, 0xFF};
  return Send(frame);
}

std::int32_t TBusDriver::GetLedState() {
  TBusFrame frame{2, 0, 0, 0xFF};
  if (!Request(frame) || frame[0] != 0x81) return -1;
  return frame[1] | (frame[2] << 8);
}

}  // namespace zo
