#include "drivers/DL1Drv.h"

#include "serial/SerialBackend.h"

namespace zo {

TDL1Driver::TDL1Driver(TRS232o* Port) : TDL1Driver(Port, true) {}

TDL1Driver::TDL1Driver(TRS232o* Port, bool StartThread) : TBusDriver(true), Port(Port) {
  if (!this->Port || this->Port->PortNumber == 0) {
    SetPortClosed(true);
  } else {
    SetPortClosed(false);
    this->Port->SetLine(DL1Baud, 'S');
    this->Port->SetReadTimeout(DL1ReadTimeoutMs);
    TxRtsCleared = false;
    this->Port->SetRtsCleared(true);
    this->Port->SetDtrCleared(false);
    this->Port->Purge();
    this->Port->ClearErrors();
  }
  if (!StartThread) return;
  SetPriority(tpTimeCritical);
  Resume();
}

TDL1Driver::~TDL1Driver() {
  // The thread reads the port until it ends: stop it before the port goes.
  Terminate();
  WaitFor();
}

bool TDL1Driver::Send(TBusFrame& Frame) {
  const bool sent = TBusDriver::Send(Frame);
  Delay(DL1SendPauseMs);
  return sent;
}

bool TDL1Driver::PutFrame(const TBusFrame& Frame) {
  if (!TxIdleEvent.WaitFor(SendTimeoutMs)) return false;
  TxIdleEvent.Reset();
  const auto sum = static_cast<std::uint8_t>(Frame[0] + Frame[1] + Frame[2]);
  TxFrame = {Frame[0], Frame[1], Frame[2], static_cast<std::uint8_t>(0 - sum)};
  TxPending.store(true, std::memory_order_release);
  return true;
}

bool TDL1Driver::GetFrame(TBusFrame& Frame) {
  TRxEntry entry{};
  if (!ring_.Get(entry)) return false;
  Frame[0] = entry[0];
  Frame[1] = entry[1];
  Frame[2] = entry[2];
  return true;
}

std::uint8_t TDL1Driver::GetPortNumber() {
  return Port ? Port->PortNumber : 0;
}

bool TDL1Driver::PortVanished() {
  return Port && Port->Vanished();
}

void TDL1Driver::Execute() {
  while (!Terminated()) {
    if (PortClosed()) {
      Delay(50);
      continue;
    }
    // A one-byte read lasts at most one read time-out; an empty one is an idle tick.
    if (Port->Read(&RxByte, 1) != 1) {
      IdleTick();
      continue;
    }
    Port->ClearErrors();
    HandleByte(RxByte, Port->LastErrors);
  }
}

void TDL1Driver::HandleByte(std::uint8_t Byte, std::uint32_t Errors) {
  RxByte = Byte;
  if (Transmitting)
    CheckEcho(Errors);
  else
    ReceiveByte(Errors);
}

void TDL1Driver::IdleTick() {
  ByteIndex = 0;
  if (Transmitting) {
    AbortTransmission();  // the echo did not come
  } else if (TxPending.load(std::memory_order_acquire)) {
    StartTransmission();
  }
}

void TDL1Driver::StartTransmission() {
  Port->SetRtsCleared(TxRtsCleared);
  SetTxFailed(false);
  Transmitting = true;
  Port->SetLine(Port->Baud, 'M');
  Port->Write(&TxFrame[0], 1);
}

void TDL1Driver::CheckEcho(std::uint32_t Errors) {
  if (Errors != 0 || RxByte != TxFrame[ByteIndex]) {
    AbortTransmission();
    return;
  }
  ++ByteIndex;
  if (ByteIndex == 1) {
    // The marked first byte came back: the rest goes with space parity, in one write.
    Port->SetLine(Port->Baud, 'S');
    Port->Write(&TxFrame[1], 3);
  } else if (ByteIndex == 4) {
    EndTransmission();
  }
}

void TDL1Driver::EndTransmission() {
  Port->SetRtsCleared(!TxRtsCleared);
  Transmitting = false;
  ByteIndex = 0;
  TxPending.store(false, std::memory_order_release);
  TxIdleEvent.Set();
}

void TDL1Driver::AbortTransmission() {
  Port->SetRtsCleared(!TxRtsCleared);
  Port->SetLine(Port->Baud, 'S');
  Port->Purge();
  SetTxFailed(true);
  Transmitting = false;
  ByteIndex = 0;
  TxPending.store(false, std::memory_order_release);
  TxIdleEvent.Set();
}

void TDL1Driver::ReceiveByte(std::uint32_t Errors) {
  // Any error flag ends the frame being collected; a parity error alone is the ninth bit and
  // starts a new one with this byte.
  if (Errors != 0) ByteIndex = 0;
  if (ByteIndex != 3) RxFrame[ByteIndex] = RxByte;
  ++ByteIndex;
  if (Errors != 0 && Errors != ceRxParity) ByteIndex = 0;
  if (ByteIndex == 1) {
    RunningSum = RxByte;
    if (Errors != ceRxParity) ByteIndex = 0;  // an unmarked byte cannot start a frame
  } else if (ByteIndex >= 2) {
    RunningSum = static_cast<std::uint8_t>(RunningSum + RxByte);
    if (ByteIndex == 4) {
      ByteIndex = 0;
      if (RunningSum == 0) {
        ring_.Put(RxFrame);
        if (HandlerSet()) SafeSynchronize([this] { DoReceive(); });
      }
    }
  }
}

}  // namespace zo
