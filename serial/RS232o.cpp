#include "serial/RS232o.h"

#include <cctype>

#include "serial/PortNames.h"

namespace zo {

TRS232o::TRS232o() = default;

TRS232o::~TRS232o() {
  Close();
}

bool TRS232o::Open(std::uint8_t Port, std::int32_t Baud, char Parity, std::int32_t InQueue,
                   std::int32_t OutQueue) {
  Close();
  PortNumber = 0;
  open_failure_.clear();
  if (Port == 0) {
    open_failure_ = "there is no port 0";
    return false;
  }
  std::unique_ptr<SerialBackend> backend = OpenSerialDevice(Port, open_failure_);
  if (!backend) return false;
  return OpenBackend(std::move(backend), Port, Baud, Parity, InQueue, OutQueue);
}

bool TRS232o::OpenBackend(std::unique_ptr<SerialBackend> Backend, std::uint8_t Port,
                          std::int32_t Baud, char Parity, std::int32_t InQueue,
                          std::int32_t OutQueue) {
  Close();
  PortNumber = 0;
  if (!Backend || Port == 0) return false;
  backend_ = std::move(Backend);
  if (!Configure(Baud, Parity, InQueue, OutQueue)) {
    open_failure_ = "the line settings of " + backend_->Describe() + " could not be programmed";
    Close();
    return false;
  }
  open_failure_.clear();
  PortNumber = Port;
  return true;
}

bool TRS232o::Configure(std::int32_t BaudRate, char Parity, std::int32_t InQueue,
                        std::int32_t OutQueue) {
  if (!SetLine(BaudRate, Parity)) return false;
  timeouts_ = TTimeouts{};
  timeouts_.ReadInterval = 100;
  timeouts_.ReadMultiplier = 100;
  if (!backend_->SetTimeouts(timeouts_)) return false;
  return backend_->SetQueueSizes(InQueue, OutQueue);
}

void TRS232o::Close() {
  backend_.reset();
}

bool TRS232o::SetLine(std::int32_t BaudRate, char Parity) {
  if (!backend_ || !backend_->GetLine(line_)) return false;
  line_.RtsEnabled = !RtsCleared;
  line_.DtrEnabled = !DtrCleared;
  line_.BaudRate = BaudRate;
  const char p = static_cast<char>(std::toupper(static_cast<unsigned char>(Parity)));
  if (p == 'N' || p == 'O' || p == 'E' || p == 'M' || p == 'S') line_.Parity = p;
  if (!backend_->SetLine(line_)) return false;
  Baud = BaudRate;
  return true;
}

bool TRS232o::SetReadTimeout(std::int32_t Ms) {
  if (!backend_) return false;
  timeouts_.ReadInterval = static_cast<std::uint32_t>(Ms);
  timeouts_.ReadMultiplier = static_cast<std::uint32_t>(Ms);
  timeouts_.ReadConstant = 0;
  return backend_->SetTimeouts(timeouts_);
}

bool TRS232o::SetBreak(bool On) {
  return backend_ && backend_->SetBreak(On);
}

bool TRS232o::SetRtsCleared(bool Value) {
  RtsCleared = Value;
  return backend_ && backend_->SetRts(!Value);
}

bool TRS232o::SetDtrCleared(bool Value) {
  DtrCleared = Value;
  return backend_ && backend_->SetDtr(!Value);
}

bool TRS232o::ClearErrors() {
  if (!backend_) return false;
  LastErrors = backend_->TakeErrors();
  return true;
}

bool TRS232o::Purge() {
  return backend_ && backend_->Purge();
}

bool TRS232o::StartRead(void* Buffer, std::int32_t Count) {
  read_buffer_ = Buffer;
  read_count_ = Count;
  return backend_ != nullptr;
}

std::int32_t TRS232o::FinishRead() {
  if (!backend_ || read_count_ <= 0) return 0;
  const int n = backend_->Read(static_cast<std::uint8_t*>(read_buffer_), read_count_);
  read_count_ = 0;
  return n < 0 ? 0 : n;
}

std::int32_t TRS232o::Read(void* Buffer, std::int32_t Count) {
  if (Count == 0) return 0;
  if (!StartRead(Buffer, Count)) return 0;
  return FinishRead();
}

bool TRS232o::StartWrite(const void* Buffer, std::int32_t Count) {
  write_buffer_ = Buffer;
  write_count_ = Count;
  return backend_ != nullptr;
}

std::int32_t TRS232o::FinishWrite() {
  if (!backend_ || write_count_ <= 0) return 0;
  const int n = backend_->Write(static_cast<const std::uint8_t*>(write_buffer_), write_count_);
  write_count_ = 0;
  return n < 0 ? 0 : n;
}

std::int32_t TRS232o::Write(const void* Buffer, std::int32_t Count) {
  if (!StartWrite(Buffer, Count)) return 0;
  return FinishWrite();
}

std::string TRS232o::DeviceName() const {
  return backend_ ? backend_->Describe() : std::string();
}

bool TRS232o::Vanished() const {
  return backend_ && backend_->Vanished();
}

std::string TRS232o::OpenNote() const {
  return backend_ ? backend_->OpenNote() : std::string();
}

}  // namespace zo
