// The driver of the first-generation interface adapter, the DL1.
//
// The DL1 passes the device bus through to the serial port byte for byte, at 1200 baud, and every
// byte any station puts on the bus (the PC's own included) comes back on the PC's receive line. A
// ninth bit per byte marks the first byte of a frame: the driver sends a marked byte with mark
// parity and every other byte with space parity, and takes a parity error on reception as the
// sign of a marked byte. A bus frame is 4 bytes:
//   [code (marked), data low, data high, checksum]; the four bytes sum to 0 modulo 256.
// The device address of a TBusFrame is not sent. The request [5, 0, 0] goes out as 05 00 00 FB.
//
// The driver sends one frame at a time, only after an idle tick (16 ms without a received byte),
// compares every byte with its echo, and gives the frame up (TxFailed) when an echo is wrong,
// carries an error or does not come within one read time-out. RTS is set while it transmits and
// cleared otherwise; DTR stays set. Every checksum-valid frame of another station is queued; a
// reply is simply the first frame received after a request was put.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "drivers/ExtendedBusdrv.h"
#include "serial/RS232o.h"

namespace zo {

constexpr std::int32_t DL1Baud = 1200;
// The read time-out: each empty one-byte read is one idle tick of the driver loop.
constexpr std::int32_t DL1ReadTimeoutMs = 16;
// The pause after every Send, so that a device has digested a frame that gets no reply.
constexpr std::uint32_t DL1SendPauseMs = 60;

class TDL1Driver final : public TBusDriver {
 public:
  // Takes ownership of `Port` and programs it: 1200 baud, space parity, 16 ms read time-out, RTS
  // cleared, DTR set, buffers purged, errors cleared. A null or closed port (PortNumber 0) makes a
  // driver that only idles. The driver thread runs at once.
  explicit TDL1Driver(TRS232o* Port);
  // Stops the driver thread (if SafeTerminate has not already) and then frees the port.
  ~TDL1Driver() override;

  // The base Send (at most 500 ms for the transmitter), then a further 60 ms pause whatever the
  // outcome. True only when the frame went out and every byte came back as sent.
  bool Send(TBusFrame& Frame) override;
  // Waits up to 500 ms for the transmitter to be idle (False when it does not become idle), then
  // hands bytes 0 to 2 and their checksum to the driver thread, which sends them on the next idle
  // tick.
  bool PutFrame(const TBusFrame& Frame) override;
  // The oldest received frame into bytes 0 to 2 of `Frame`; False when none waits.
  bool GetFrame(TBusFrame& Frame) override;
  // The port's PortNumber; 0 when it is not open.
  std::uint8_t GetPortNumber() override;
  bool PortVanished() override;

 protected:
  void Execute() override;

 private:
  using TRxEntry = std::array<std::uint8_t, 3>;

  void IdleTick();
  void StartTransmission();
  void CheckEcho();
  void ReceiveByte(std::uint32_t Errors);
  void AbortTransmission();
  void EndTransmission();

  std::unique_ptr<TRS232o> Port;

  // Driver thread only.
  std::uint8_t RxByte = 0;
  std::uint8_t ByteIndex = 0;
  std::uint8_t RunningSum = 0;
  TRxEntry RxFrame{};
  bool Transmitting = false;

  // Written by the client only while TxIdleEvent is reset and TxPending is False; published to
  // the driver thread by TxPending.
  std::array<std::uint8_t, 4> TxFrame{};
  std::atomic<bool> TxPending{false};

  TReceiveRing<TRxEntry> ring_{Received};
};

}  // namespace zo
