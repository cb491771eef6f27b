// What TRS232o needs of a serial device: one small interface with two implementations, termios
// for real ports (TermiosBackend) and the in-process simulated line (SimLine).
#pragma once

#include <bit>
#include <cstdint>
#include <memory>
#include <string>

namespace zo {

// Communication-error bits, as TRS232o::LastErrors reports them.
constexpr std::uint32_t ceRxOver = 0x0001;    // input buffer overflow
constexpr std::uint32_t ceOverrun = 0x0002;   // character lost by the receiver
constexpr std::uint32_t ceRxParity = 0x0004;  // parity error
constexpr std::uint32_t ceFrame = 0x0008;     // framing error
constexpr std::uint32_t ceBreak = 0x0010;     // break condition

// Line settings: 8 data bits and 1 stop bit always.
struct TLineSettings {
  std::int32_t BaudRate = 9600;
  char Parity = 'N';        // 'N' none, 'O' odd, 'E' even, 'M' mark, 'S' space
  bool RtsEnabled = false;  // RTS asserted while the settings are in force
  bool DtrEnabled = false;  // DTR asserted while the settings are in force
};

// Read time-outs in milliseconds, with the semantics of TRS232o::SetReadTimeout: a read of N bytes
// returns when N bytes came, when Constant + Multiplier x N ms have passed in all, or when more
// than Interval ms pass between two bytes (the interval only counts after the first byte). A zero
// Multiplier and Constant mean no total limit; a zero Interval means no interval limit.
struct TTimeouts {
  std::uint32_t ReadInterval = 0;
  std::uint32_t ReadMultiplier = 0;
  std::uint32_t ReadConstant = 0;
  std::uint32_t WriteMultiplier = 0;
  std::uint32_t WriteConstant = 0;
};

// The bit a sender with `Parity` puts in the parity position of `Value`; without parity the
// stop bit (1) stands there.
inline bool ParityBitOf(char Parity, std::uint8_t Value) {
  const bool odd_count = (std::popcount(Value) & 1) != 0;
  switch (Parity) {
    case 'O':
      return !odd_count;
    case 'E':
      return odd_count;
    case 'S':
      return false;
    default:
      return true;  // 'M', and the stop bit of 'N'
  }
}

class SerialBackend {
 public:
  virtual ~SerialBackend() = default;

  virtual bool GetLine(TLineSettings& Line) = 0;
  virtual bool SetLine(const TLineSettings& Line) = 0;
  virtual bool SetTimeouts(const TTimeouts& Timeouts) = 0;
  virtual bool SetQueueSizes(int InQueue, int OutQueue) = 0;  // advisory

  // Blocking reads and writes. Read honours the time-outs and returns 0..Count. A vanished device
  // (unplugged USB adapter, closed pseudo-terminal master) makes both return 0; Read then still
  // waits out its time-out, so that a caller's loop never turns into a hot spin.
  virtual int Read(std::uint8_t* Buffer, int Count) = 0;
  virtual int Write(const std::uint8_t* Buffer, int Count) = 0;

  // The error bits of the bytes delivered by Read since the last call, then cleared. A byte that
  // carried a parity error sets ceRxParity; the DL1 driver reads one byte at a time and relies on
  // the bits belonging to that byte.
  virtual std::uint32_t TakeErrors() = 0;

  // Discards unread input and untransmitted output.
  virtual bool Purge() = 0;

  virtual bool SetBreak(bool On) = 0;
  virtual bool SetRts(bool Asserted) = 0;
  virtual bool SetDtr(bool Asserted) = 0;

  // The device path or the simulated line's name, for logs and traces.
  virtual std::string Describe() const = 0;

  // For port diagnostics. Breaks the port's receiver has counted since the device was opened;
  // -1 where the device does not count them (a pseudo-terminal).
  virtual long BreaksReceived() { return -1; }
  // The RTS and DTR states the device reports it holds; false where it cannot tell (a
  // pseudo-terminal has no modem lines).
  virtual bool GetModemLines(bool& Rts, bool& Dtr) {
    (void)Rts;
    (void)Dtr;
    return false;
  }

  // True once the device has gone (USB adapter pulled, pseudo-terminal master closed, simulated
  // line unplugged): it stays gone, and only a new opening of its path can reach it again.
  virtual bool Vanished() const { return false; }

  // What opening the device did beyond the line settings, for the text log (for a USB adapter,
  // whether its low-latency mode is on or why not; whether its driver counts line errors), a line
  // per note; empty when there is nothing to say.
  virtual std::string OpenNote() const { return {}; }
};

}  // namespace zo
