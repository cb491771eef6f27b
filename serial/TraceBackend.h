// A serial device that writes everything that crosses it to a trace file, for bug reports.
//
// Each byte gets one line: the time in milliseconds since the trace began, its direction ("PC>"
// sent by this program, "<DEV" received from the adapter), the byte in hexadecimal, and the line
// settings in force (baud rate, data bits, parity, stop bits), with "parity error" or "framing
// error" when the byte arrived with one. Changes of the line settings, purges, break, RTS and
// DTR get lines of their own. Received bytes are stamped when the read that delivered them
// returned.
//
//        0.000 open /dev/pts/3
//       12.204 line 2400 8N1 RTS off DTR on
//      103.518 PC>  02  2400 8N1
//      255.931 <DEV 02  2400 8N1
//
// Otherwise it behaves exactly as the device it wraps: every call is passed on and its result
// returned. Thread-safe as far as the wrapped device is.
//
// Every write and flush of the file is checked: the first that fails (a full disk) ends the
// trace, and TraceWriteFailure says why from then on, so the program stops with a file error
// rather than leave an incomplete trace behind unannounced.
#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "serial/SerialBackend.h"
#include "threads/Clock.h"

namespace zo {

class TTraceBackend final : public SerialBackend {
 public:
  // Takes over `Inner` and the open file `Trace` (closed by the destructor). Writes the "open"
  // line.
  TTraceBackend(std::unique_ptr<SerialBackend> Inner, std::FILE* Trace);
  ~TTraceBackend() override;

  bool GetLine(TLineSettings& Line) override;
  bool SetLine(const TLineSettings& Line) override;
  bool SetTimeouts(const TTimeouts& Timeouts) override;
  bool SetQueueSizes(int InQueue, int OutQueue) override;
  int Read(std::uint8_t* Buffer, int Count) override;
  int Write(const std::uint8_t* Buffer, int Count) override;
  std::uint32_t TakeErrors() override;
  bool Purge() override;
  bool SetBreak(bool On) override;
  bool SetRts(bool Asserted) override;
  bool SetDtr(bool Asserted) override;
  std::string Describe() const override;
  long BreaksReceived() override { return inner_->BreaksReceived(); }
  bool GetModemLines(bool& Rts, bool& Dtr) override { return inner_->GetModemLines(Rts, Dtr); }
  bool Vanished() const override { return inner_->Vanished(); }
  std::string OpenNote() const override { return inner_->OpenNote(); }

 private:
  void Event(const std::string& Text);
  // After a write to the file: notes a failure and ends the trace. Under the lock.
  void Check(bool Ok);
  void Bytes(const char* Direction, const std::uint8_t* Buffer, int Count, std::uint32_t Errors);
  std::string Stamp() const;
  std::string LineText() const;

  std::unique_ptr<SerialBackend> inner_;
  std::FILE* trace_;
  TimePoint start_;
  std::mutex mutex_;  // guards the file and the fields below
  TLineSettings line_;
  bool line_known_ = false;
  std::uint32_t errors_ = 0;
};

// The window's --trace: every port opened by number from now on (TRS232o::Open) is traced to
// `Path`. The first open starts the file anew, later ones append to it, each with its "open" line
// and its own time stamps. False when the file cannot be created (nothing is traced then); an
// empty path ends tracing.
bool TraceOpenedPorts(const std::string& Path);

// `Backend` wrapped in a trace backend while TraceOpenedPorts is in force, else as it is.
std::unique_ptr<SerialBackend> TracedIfAsked(std::unique_ptr<SerialBackend> Backend);

// Empty while every trace file written so far took every write; otherwise why the first failure
// happened ("No space left on device"). For the whole process.
std::string TraceWriteFailure();

// "2400 8N1": the baud rate, 8 data bits, the parity letter, 1 stop bit.
std::string LineSettingsText(const TLineSettings& Line);

}  // namespace zo
