// A serial port opened through the Windows communications calls: \\.\COM1 and up, opened for
// reading and writing, not shared, in overlapped mode. Every transfer is started overlapped and
// completed at once with GetOverlappedResult, so each call blocks for its caller while the port
// itself stays in overlapped mode; reads and writes have requests and events of their own.
//
// The line settings are the port's device-control record (DCB), read from the port and written
// back on every change: of its flag word the low 15 bits are cleared and then the binary flag
// (bit 0) set, RTS control (bits 12-13) enabled or disabled and DTR control (bits 4-5) likewise,
// so parity checking, flow control, error-character replacement, null stripping and abort on
// error are all off; the upper 17 bits stay as read. 8 data bits, one stop bit, the parity of
// the letter.
//
// Time-outs are the port's own (SetCommTimeouts), in milliseconds as TTimeouts gives them. A read
// that times out without a byte returns 0 (some drivers, and Wine, report it as ERROR_TIMEOUT).
// ClearCommError is asked after each read that received bytes, so that a one-byte read's error
// flags (parity bit 4) belong to that byte; TakeErrors hands them on.
//
// A port whose device has gone (USB adapter pulled) fails its transfers: Read and Write return 0
// from then on and Vanished() is true; Read still waits out its time-out (at most 100 ms when it
// has none), so a caller's loop never spins.
//
// Windows only. The calls go through TCommCalls, the seam through which tests reach what Wine
// cannot show over a pseudo-terminal: per-byte parity errors, the modem lines, break and the
// exclusive opening.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "serial/SerialBackend.h"

namespace zo {

// The Windows calls on one port, one for one. False on failure; LastError then tells why.
class TCommCalls {
 public:
  virtual ~TCommCalls() = default;
  // CreateFileW.
  virtual bool Open(const std::wstring& Name, DWORD Access, DWORD Share, DWORD Creation,
                    DWORD Flags) = 0;
  virtual bool GetCommState(DCB& Dcb) = 0;
  virtual bool SetCommState(DCB& Dcb) = 0;
  virtual bool SetCommTimeouts(COMMTIMEOUTS& Timeouts) = 0;
  virtual bool SetupComm(DWORD InQueue, DWORD OutQueue) = 0;
  virtual bool PurgeComm(DWORD Flags) = 0;
  // Reads and resets the port's error flags (the queue status is not asked for).
  virtual bool ClearCommError(DWORD& Errors) = 0;
  virtual bool EscapeCommFunction(DWORD Function) = 0;
  // ReadFile and WriteFile on the read or write request, completed with GetOverlappedResult
  // (waiting); `Done` is the number of bytes transferred, also on failure.
  virtual bool Read(void* Buffer, DWORD Count, DWORD& Done) = 0;
  virtual bool Write(const void* Buffer, DWORD Count, DWORD& Done) = 0;
  virtual DWORD LastError() const = 0;
};

// The system's calls: kernel32, with a read and a write request each on a manual-reset event of
// its own (created unsignalled, reset after each transfer).
std::unique_ptr<TCommCalls> SystemCommCalls();

// The DCB's flag word as SetLine writes it, from the word read from the port.
std::uint32_t LineFlagWord(std::uint32_t Read, bool RtsEnabled, bool DtrEnabled);

class Win32Backend final : public SerialBackend {
 public:
  // Opens `Path` ("\\.\COM3"): reading and writing, not shared, existing device only,
  // overlapped. Null on failure, with GetLastError's code in `Error` (ERROR_FILE_NOT_FOUND: no
  // such port; ERROR_ACCESS_DENIED: another program has it open).
  static std::unique_ptr<Win32Backend> Open(const std::string& Path, int& Error,
                                            std::unique_ptr<TCommCalls> Calls = SystemCommCalls());

  // The line settings read from the port. Parity is the letter this object last programmed (the
  // port's own, read back, before that): some drivers, Wine's among them, read back mark and
  // space parity wrongly.
  bool GetLine(TLineSettings& Line) override;
  // Parity 'N', 'O', 'E', 'M' (mark), 'S' (space); any other letter keeps the port's parity.
  bool SetLine(const TLineSettings& Line) override;
  bool SetTimeouts(const TTimeouts& Timeouts) override;
  bool SetQueueSizes(int InQueue, int OutQueue) override;  // SetupComm
  int Read(std::uint8_t* Buffer, int Count) override;
  int Write(const std::uint8_t* Buffer, int Count) override;
  // The port's communication-error bits collected since the last call (ceRxParity = 4, ...).
  std::uint32_t TakeErrors() override;
  // PurgeComm with all four actions: pending reads and writes aborted, both queues discarded.
  bool Purge() override;
  // EscapeCommFunction. A port that has no such line (a pseudo-terminal under Wine answers
  // ERROR_NOT_SUPPORTED) takes the call as done.
  bool SetBreak(bool On) override;
  bool SetRts(bool Asserted) override;
  bool SetDtr(bool Asserted) override;
  std::string Describe() const override { return path_; }
  bool Vanished() const override { return vanished_; }

 private:
  Win32Backend(std::unique_ptr<TCommCalls> Calls, const std::string& Path);
  bool Escape(DWORD Function);
  // Notes a failed call: an error that means the device has gone marks the port vanished.
  void Failed();
  void WaitOutTimeout(int Count);

  std::unique_ptr<TCommCalls> calls_;
  std::string path_;
  TLineSettings line_;
  bool parity_set_ = false;  // line_.Parity was programmed by this object
  TTimeouts timeouts_;
  std::uint32_t errors_ = 0;
  // Set by the reading thread, looked at by the bus thread to notice an unplugged adapter.
  std::atomic<bool> vanished_{false};
};

}  // namespace zo
