// A serial device opened through termios: a real serial port (/dev/ttyS*, /dev/ttyUSB*,
// /dev/ttyACM*) or the slave side of a pseudo-terminal.
//
// The device is opened non-blocking and exclusively (TIOCEXCL) in raw mode with 8 data bits and
// one stop bit. Received bytes are parity-marked by the kernel (PARMRK): a byte that carried a
// parity or framing error is flagged, and the flag stays with that byte, so TakeErrors after a
// one-byte Read gives the errors of exactly that byte. Breaks from the line are ignored (IGNBRK).
//
// Read time-outs are kept in milliseconds against the installed clock's deadlines (poll(), not
// VTIME's 100 ms steps). Writes block until the kernel has taken every byte.
//
// On a pseudo-terminal the kernel ignores baud rate and parity and refuses the modem-line calls
// (ENOTTY): these calls then succeed without effect.
//
// Opening asks the serial driver for low-latency mode (ASYNC_LOW_LATENCY): a USB converter then
// hands on received bytes within about 1 ms instead of its default 16 ms, which keeps the DL1's
// ninth-bit errors on the right byte and the DL2's frames whole. A refusal (a pseudo-terminal, a
// driver without the mode) is no failure: OpenNote says why. Closing restores the previous mode.
//
// When the device vanishes (USB adapter pulled, pseudo-terminal master closed) Read and Write
// return 0 from then on; Read still waits out its time-out (at most 100 ms when it has none), so
// a caller's loop never spins.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "serial/SerialBackend.h"

namespace zo {

// Turns the parity-marked byte stream of the kernel back into bytes with their error flags:
// 0xFF 0x00 x is the byte x received with an error, 0xFF 0xFF is a valid 0xFF, anything else is
// a valid byte. The state survives between reads, since a marked sequence can be split.
class TParityMarkDecoder {
 public:
  struct TByte {
    std::uint8_t Value = 0;
    bool Errored = false;
  };

  // Decodes `Count` raw bytes and appends the complete bytes to the output queue.
  void Feed(const std::uint8_t* Raw, int Count);
  bool Empty() const { return decoded_.empty(); }
  // The oldest decoded byte; only when not Empty.
  TByte Take();
  // Drops the decoded bytes and any half-received marking.
  void Clear();

 private:
  enum class TState { Plain, Marked, MarkedZero };
  TState state_ = TState::Plain;
  std::deque<TByte> decoded_;
};

class TermiosBackend final : public SerialBackend {
 public:
  // Opens `Path` (O_RDWR | O_NOCTTY | O_NONBLOCK), takes it exclusively and programs raw mode at
  // 9600 baud, no parity. Null on failure, with the errno in `Error` (ENOTTY when the path is not
  // a terminal, EBUSY when another program holds it exclusively).
  static std::unique_ptr<TermiosBackend> Open(const std::string& Path, int& Error);
  ~TermiosBackend() override;  // closes the device

  bool GetLine(TLineSettings& Line) override;
  // Baud rate must be one of the standard speeds (50 to 4000000); any other fails. Parity 'N',
  // 'O', 'E', 'M' (mark), 'S' (space). RTS and DTR follow Line.RtsEnabled / DtrEnabled.
  bool SetLine(const TLineSettings& Line) override;
  bool SetTimeouts(const TTimeouts& Timeouts) override;
  bool SetQueueSizes(int InQueue, int OutQueue) override;  // advisory: always true
  int Read(std::uint8_t* Buffer, int Count) override;
  int Write(const std::uint8_t* Buffer, int Count) override;
  // ceRxParity for an errored byte received with parity on, ceFrame with parity off (the
  // kernel's marking does not tell the two apart).
  std::uint32_t TakeErrors() override;
  bool Purge() override;
  bool SetBreak(bool On) override;
  bool SetRts(bool Asserted) override;
  bool SetDtr(bool Asserted) override;
  std::string Describe() const override { return path_; }
  // TIOCGICOUNT's break count and TIOCMGET's RTS and DTR.
  long BreaksReceived() override;
  bool GetModemLines(bool& Rts, bool& Dtr) override;
  std::string OpenNote() const override { return open_note_; }

  bool Vanished() const override { return vanished_; }

 private:
  TermiosBackend(int Fd, const std::string& Path);
  bool ModemLine(int Bit, bool Asserted);
  // Asks for low-latency mode and notes the outcome; remembers what to restore.
  void RequestLowLatency();
  void RestoreLatency();
  // Reads what the kernel holds into the decoder after poll() reported the device readable;
  // false when the device has vanished.
  bool Drain();

  int fd_;
  std::string path_;
  TLineSettings line_;
  TTimeouts timeouts_;
  TParityMarkDecoder decoder_;
  std::uint32_t errors_ = 0;
  // Set by the reading thread, looked at by the bus thread to notice an unplugged adapter.
  std::atomic<bool> vanished_{false};
  std::string open_note_;
  bool restore_latency_ = false;  // low-latency mode was off before and is to be switched off
};

}  // namespace zo
