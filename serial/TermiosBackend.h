// A serial device opened through termios: a real serial port (/dev/ttyS*, /dev/ttyUSB*,
// /dev/ttyACM*) or the slave side of a pseudo-terminal.
//
// The device is opened non-blocking and exclusively (TIOCEXCL) in raw mode with 8 data bits and
// one stop bit. Received bytes are parity-marked by the kernel (PARMRK): a byte that carried a
// parity or framing error is flagged, and the flag stays with that byte, so TakeErrors after a
// one-byte Read gives the errors of exactly that byte. Breaks from the line are ignored (IGNBRK).
// The marking is the same for both errors; where the serial driver keeps error counters
// (TIOCGICOUNT's `parity` and `frame`), their change across each read tells which it was. Where
// it keeps none (a pseudo-terminal, some USB drivers), an errored byte counts as a parity error
// with parity on and as a framing error without, and OpenNote says so.
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

// The serial driver's counts of received bytes with a parity or a framing error since it was
// loaded (TIOCGICOUNT).
struct TLineErrorCounts {
  long Parity = 0;
  long Frame = 0;
};

// Turns the parity-marked byte stream of the kernel back into bytes with their error flags:
// 0xFF 0x00 x is the byte x received with an error, 0xFF 0xFF is a valid 0xFF, anything else is
// a valid byte. The state survives between reads, since a marked sequence can be split.
class TParityMarkDecoder {
 public:
  struct TByte {
    std::uint8_t Value = 0;
    bool Errored = false;
    // What the driver's counters tell of an errored byte: a parity error, a framing error, both
    // (the counters rose for both and cannot say which byte had which), or neither (no counters,
    // or they did not rise).
    bool Parity = false;
    bool Framing = false;
  };

  // Decodes `Count` raw bytes and appends the complete bytes to the output queue.
  void Feed(const std::uint8_t* Raw, int Count);
  // The counters as read after the raw bytes of the last Feed calls: the errored bytes those
  // calls decoded get the kind of error whose counter rose since the last Counted or Baseline
  // (both kinds where both rose). The kernel counts a byte before it can be read, so a rise that
  // comes before its byte is kept for the next errored byte.
  void Counted(const TLineErrorCounts& Now);
  // The counters as they stand, counted from from now on (after opening, after a purge).
  void Baseline(const TLineErrorCounts& Now);
  bool Empty() const { return decoded_.empty(); }
  // The oldest decoded byte; only when not Empty.
  TByte Take();
  // Drops the decoded bytes, any half-received marking and the counters' rise not yet shared out.
  void Clear();

 private:
  enum class TState { Plain, Marked, MarkedZero };
  void Push(const TByte& Byte);

  TState state_ = TState::Plain;
  std::deque<TByte> decoded_;
  std::size_t uncounted_ = 0;  // the newest decoded bytes that Counted has not seen
  TLineErrorCounts last_;
  TLineErrorCounts unshared_;  // the counters' rise not yet given to an errored byte
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
  // The errors of the bytes read since the last call, as the counters tell them (see above).
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
  // TIOCGICOUNT's parity and framing counts; false where the driver keeps none.
  bool ReadErrorCounts(TLineErrorCounts& Counts) const;

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
  bool error_counts_ = false;     // the driver keeps error counters
};

}  // namespace zo
