#include "serial/Win32Backend.h"

#include <cstddef>
#include <cstring>

#include "platform/WindowsText.h"
#include "serial/ReadTimer.h"
#include "threads/Clock.h"

namespace zo {

namespace {

// How long a read without any time-out waits on a vanished port before it returns 0.
constexpr long long kVanishedWaitMs = 100;

// The flag word follows DCBlength and BaudRate; wReserved follows it.
constexpr std::size_t kFlagWordOffset = 2 * sizeof(DWORD);
static_assert(offsetof(DCB, wReserved) == kFlagWordOffset + sizeof(DWORD));

std::uint32_t FlagWordOf(const DCB& Dcb) {
  std::uint32_t word = 0;
  std::memcpy(&word, reinterpret_cast<const char*>(&Dcb) + kFlagWordOffset, sizeof word);
  return word;
}

void SetFlagWord(DCB& Dcb, std::uint32_t Word) {
  std::memcpy(reinterpret_cast<char*>(&Dcb) + kFlagWordOffset, &Word, sizeof Word);
}

// The DCB's parity code of a letter; false for any other letter.
bool ParityCode(char Letter, BYTE& Code) {
  switch (Letter) {
    case 'N':
      Code = NOPARITY;
      return true;
    case 'O':
      Code = ODDPARITY;
      return true;
    case 'E':
      Code = EVENPARITY;
      return true;
    case 'M':
      Code = MARKPARITY;
      return true;
    case 'S':
      Code = SPACEPARITY;
      return true;
    default:
      return false;
  }
}

char ParityLetter(BYTE Code) {
  static constexpr char kLetters[] = {'N', 'O', 'E', 'M', 'S'};
  return Code < sizeof kLetters ? kLetters[Code] : 'N';
}

// Errors with which the system answers for a device that has gone.
bool MeansVanished(DWORD Error) {
  switch (Error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_INVALID_HANDLE:
    case ERROR_NOT_READY:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_BROKEN_PIPE:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
      return true;
    default:
      return false;
  }
}

class TSystemCommCalls final : public TCommCalls {
 public:
  TSystemCommCalls() {
    read_.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    write_.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  ~TSystemCommCalls() override {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    CloseHandle(read_.hEvent);
    CloseHandle(write_.hEvent);
  }

  bool Open(const std::wstring& Name, DWORD Access, DWORD Share, DWORD Creation,
            DWORD Flags) override {
    handle_ = CreateFileW(Name.c_str(), Access, Share, nullptr, Creation, Flags, nullptr);
    return Done(handle_ != INVALID_HANDLE_VALUE);
  }
  bool GetCommState(DCB& Dcb) override { return Done(::GetCommState(handle_, &Dcb)); }
  bool SetCommState(DCB& Dcb) override { return Done(::SetCommState(handle_, &Dcb)); }
  bool SetCommTimeouts(COMMTIMEOUTS& Timeouts) override {
    return Done(::SetCommTimeouts(handle_, &Timeouts));
  }
  bool SetupComm(DWORD InQueue, DWORD OutQueue) override {
    return Done(::SetupComm(handle_, InQueue, OutQueue));
  }
  bool PurgeComm(DWORD Flags) override { return Done(::PurgeComm(handle_, Flags)); }
  bool ClearCommError(DWORD& Errors) override {
    return Done(::ClearCommError(handle_, &Errors, nullptr));
  }
  bool EscapeCommFunction(DWORD Function) override {
    return Done(::EscapeCommFunction(handle_, Function));
  }
  bool Read(void* Buffer, DWORD Count, DWORD& Transferred) override {
    return Complete(::ReadFile(handle_, Buffer, Count, nullptr, &read_), read_, Transferred);
  }
  bool Write(const void* Buffer, DWORD Count, DWORD& Transferred) override {
    return Complete(::WriteFile(handle_, Buffer, Count, nullptr, &write_), write_, Transferred);
  }
  DWORD LastError() const override { return error_; }

 private:
  bool Done(BOOL Result) {
    error_ = Result ? 0 : GetLastError();
    return Result != 0;
  }
  // Waits for a transfer that was started on `Request` to complete.
  bool Complete(BOOL Started, OVERLAPPED& Request, DWORD& Transferred) {
    Transferred = 0;
    if (!Started && GetLastError() != ERROR_IO_PENDING) {
      error_ = GetLastError();
      ResetEvent(Request.hEvent);
      return false;
    }
    const bool ok = Done(GetOverlappedResult(handle_, &Request, &Transferred, TRUE));
    ResetEvent(Request.hEvent);
    return ok;
  }

  HANDLE handle_ = INVALID_HANDLE_VALUE;
  OVERLAPPED read_{};
  OVERLAPPED write_{};
  DWORD error_ = 0;
};

}  // namespace

std::unique_ptr<TCommCalls> SystemCommCalls() {
  return std::make_unique<TSystemCommCalls>();
}

std::uint32_t LineFlagWord(std::uint32_t Read, bool RtsEnabled, bool DtrEnabled) {
  std::uint32_t word = (Read & ~std::uint32_t{0x7FFF}) | 0x0001;  // binary transfer
  if (RtsEnabled) word |= std::uint32_t{RTS_CONTROL_ENABLE} << 12;
  if (DtrEnabled) word |= std::uint32_t{DTR_CONTROL_ENABLE} << 4;
  return word;
}

std::unique_ptr<Win32Backend> Win32Backend::Open(const std::string& Path, int& Error,
                                                 std::unique_ptr<TCommCalls> Calls) {
  Error = 0;
  if (!Calls->Open(WideOf(Path), GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING,
                   FILE_FLAG_OVERLAPPED)) {
    Error = static_cast<int>(Calls->LastError());
    return nullptr;
  }
  return std::unique_ptr<Win32Backend>(new Win32Backend(std::move(Calls), Path));
}

Win32Backend::Win32Backend(std::unique_ptr<TCommCalls> Calls, const std::string& Path)
    : calls_(std::move(Calls)), path_(Path) {}

void Win32Backend::Failed() {
  if (MeansVanished(calls_->LastError())) vanished_ = true;
}

bool Win32Backend::GetLine(TLineSettings& Line) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!calls_->GetCommState(dcb)) {
    Failed();
    return false;
  }
  Line = line_;
  Line.BaudRate = static_cast<std::int32_t>(dcb.BaudRate);
  if (!parity_set_) Line.Parity = ParityLetter(dcb.Parity);
  return true;
}

bool Win32Backend::SetLine(const TLineSettings& Line) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!calls_->GetCommState(dcb)) {
    Failed();
    return false;
  }
  SetFlagWord(dcb, LineFlagWord(FlagWordOf(dcb), Line.RtsEnabled, Line.DtrEnabled));
  dcb.BaudRate = static_cast<DWORD>(Line.BaudRate);
  dcb.ByteSize = 8;
  dcb.StopBits = ONESTOPBIT;
  BYTE parity = 0;
  const bool known = ParityCode(Line.Parity, parity);
  if (known) dcb.Parity = parity;
  if (!calls_->SetCommState(dcb)) {
    Failed();
    return false;
  }
  line_.BaudRate = Line.BaudRate;
  line_.RtsEnabled = Line.RtsEnabled;
  line_.DtrEnabled = Line.DtrEnabled;
  if (known) {
    line_.Parity = Line.Parity;
    parity_set_ = true;
  }
  return true;
}

bool Win32Backend::SetTimeouts(const TTimeouts& Timeouts) {
  COMMTIMEOUTS t{Timeouts.ReadInterval, Timeouts.ReadMultiplier, Timeouts.ReadConstant,
                 Timeouts.WriteMultiplier, Timeouts.WriteConstant};
  if (!calls_->SetCommTimeouts(t)) {
    Failed();
    return false;
  }
  timeouts_ = Timeouts;
  return true;
}

bool Win32Backend::SetQueueSizes(int InQueue, int OutQueue) {
  if (calls_->SetupComm(static_cast<DWORD>(InQueue), static_cast<DWORD>(OutQueue))) return true;
  Failed();
  return false;
}

void Win32Backend::WaitOutTimeout(int Count) {
  const TimePoint now = Now();
  const TReadTimer timer(timeouts_, Count, now);
  SleepUntil(timer.Unlimited() ? now + std::chrono::milliseconds(kVanishedWaitMs)
                               : timer.NextDeadline());
}

int Win32Backend::Read(std::uint8_t* Buffer, int Count) {
  if (Count <= 0 || Buffer == nullptr) return 0;
  if (vanished_) {
    WaitOutTimeout(Count);
    return 0;
  }
  DWORD done = 0;
  if (!calls_->Read(Buffer, static_cast<DWORD>(Count), done)) {
    const DWORD error = calls_->LastError();
    // A time-out, or a purge that aborted the read: whatever came is the result.
    if (error != ERROR_TIMEOUT && error != ERROR_OPERATION_ABORTED) {
      vanished_ = true;
      WaitOutTimeout(Count);
      return 0;
    }
  }
  if (done > 0) {
    DWORD errors = 0;
    if (calls_->ClearCommError(errors))
      errors_ |= errors;
    else
      Failed();
  }
  return static_cast<int>(done);
}

int Win32Backend::Write(const std::uint8_t* Buffer, int Count) {
  if (Count <= 0 || Buffer == nullptr || vanished_) return 0;
  DWORD done = 0;
  if (!calls_->Write(Buffer, static_cast<DWORD>(Count), done) &&
      calls_->LastError() != ERROR_TIMEOUT && calls_->LastError() != ERROR_OPERATION_ABORTED)
    vanished_ = true;
  return static_cast<int>(done);
}

std::uint32_t Win32Backend::TakeErrors() {
  const std::uint32_t errors = errors_;
  errors_ = 0;
  return errors;
}

bool Win32Backend::Purge() {
  if (calls_->PurgeComm(PURGE_RXABORT | PURGE_TXABORT | PURGE_RXCLEAR | PURGE_TXCLEAR)) return true;
  Failed();
  return false;
}

bool Win32Backend::Escape(DWORD Function) {
  if (calls_->EscapeCommFunction(Function)) return true;
  const DWORD error = calls_->LastError();
  if (error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION) return true;
  Failed();
  return false;
}

bool Win32Backend::SetBreak(bool On) {
  return Escape(On ? SETBREAK : CLRBREAK);
}

bool Win32Backend::SetRts(bool Asserted) {
  if (!Escape(Asserted ? SETRTS : CLRRTS)) return false;
  line_.RtsEnabled = Asserted;
  return true;
}

bool Win32Backend::SetDtr(bool Asserted) {
  if (!Escape(Asserted ? SETDTR : CLRDTR)) return false;
  line_.DtrEnabled = Asserted;
  return true;
}

}  // namespace zo
