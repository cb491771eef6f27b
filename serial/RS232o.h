// One PC serial port, opened by number.
//
// Every call blocks until it is done. The port offers what the adapter protocols need: baud rate
// and parity changed on the fly, short read time-outs that make a one-byte read a probe of whether
// the line is idle, per-byte error flags (a parity error marks the first byte of a DL1 frame), and
// direct control of RTS, DTR and break.
//
// Port numbers map to devices in this order:
//   1. a simulated line bound to the number (SimPortRegistry, tests and the built-in simulator);
//   2. the environment variable ZO_COM<n> (for example ZO_COM7=/dev/ttyUSB0, or a pseudo-terminal);
//   3. the serial ports that exist, numbered from 1: UART ports (/dev/ttyS*, without the nodes the
//      kernel creates without hardware), then /dev/ttyUSB*, then /dev/ttyACM*, each by its number.
// Port 0 never exists.
//
// A TRS232o is used by one thread at a time; it has no lock of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "serial/SerialBackend.h"

namespace zo {

class TRS232o {
 public:
  TRS232o();
  ~TRS232o();  // closes the port
  TRS232o(const TRS232o&) = delete;
  TRS232o& operator=(const TRS232o&) = delete;

  // Opens port `Port` for reading and writing, exclusively; then SetLine(Baud, Parity); read
  // time-outs interval 100 ms, multiplier 100 ms, constant 0, no write time-out; queue sizes. On
  // success PortNumber := Port. On any failure the port is closed, PortNumber := 0 and the result
  // is False (a lack of permission is explained in the text log).
  bool Open(std::uint8_t Port, std::int32_t Baud, char Parity, std::int32_t InQueue,
            std::int32_t OutQueue);

  // As Open, on a device that the caller has opened (a device path named by the user, for
  // example). `Port` is the number the port reports as PortNumber (not 0).
  bool OpenBackend(std::unique_ptr<SerialBackend> Backend, std::uint8_t Port, std::int32_t Baud,
                   char Parity, std::int32_t InQueue, std::int32_t OutQueue);

  // Closes the device if one is open. PortNumber is not changed.
  void Close();

  // Programs baud rate, 8 data bits, 1 stop bit and the parity letter (upper or lower case: N, O,
  // E, M, S; any other letter keeps the current parity). RTS and DTR are programmed asserted
  // unless RtsCleared / DtrCleared. On success Baud := Baud.
  bool SetLine(std::int32_t Baud, char Parity);

  // Read interval := Ms, per-byte multiplier := Ms, constant 0: a read of N bytes returns when N
  // bytes came, after Ms x N ms in all, or when more than Ms ms pass between two bytes.
  bool SetReadTimeout(std::int32_t Ms);

  bool SetBreak(bool On);
  // True clears (negates) the line, False sets (asserts) it; the value is kept for SetLine.
  bool SetRtsCleared(bool Value);
  bool SetDtrCleared(bool Value);

  // Reads and resets the error state into LastErrors.
  bool ClearErrors();
  // Aborts pending transfers and discards both buffers.
  bool Purge();

  bool StartRead(void* Buffer, std::int32_t Count);
  std::int32_t FinishRead();
  // 0 at once for Count 0; otherwise the bytes read within the time-outs (0..Count). 0 on a port
  // that is not open.
  std::int32_t Read(void* Buffer, std::int32_t Count);

  bool StartWrite(const void* Buffer, std::int32_t Count);
  std::int32_t FinishWrite();
  std::int32_t Write(const void* Buffer, std::int32_t Count);

  // What the port is attached to (device path or simulated line), empty while closed.
  std::string DeviceName() const;

  // True when the open device has gone (an adapter unplugged): reads and writes do nothing from
  // then on, and only closing and opening the port again can reach the device once it is back.
  bool Vanished() const;
  // What opening the device did beyond the line settings (low-latency mode), for the text log.
  std::string OpenNote() const;

  // Why the last Open failed (missing device, lack of permission, ...), for the text log; empty
  // after a successful Open.
  const std::string& OpenFailure() const { return open_failure_; }

  bool RtsCleared = true;
  bool DtrCleared = true;
  std::int32_t Baud = 0;
  std::uint8_t PortNumber = 0;
  std::uint32_t LastErrors = 0;

 private:
  bool Configure(std::int32_t Baud, char Parity, std::int32_t InQueue, std::int32_t OutQueue);

  std::unique_ptr<SerialBackend> backend_;
  std::string open_failure_;
  TLineSettings line_;
  TTimeouts timeouts_;
  void* read_buffer_ = nullptr;
  std::int32_t read_count_ = 0;
  const void* write_buffer_ = nullptr;
  std::int32_t write_count_ = 0;
};

}  // namespace zo
