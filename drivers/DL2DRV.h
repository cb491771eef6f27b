// The driver of the second-generation interface adapter, the DL2.
//
// The PC and the DL2 exchange length-prefixed, checksummed frames at 2400 baud:
//   [L, body (N = L and $7F bytes, 0 to 17), checksum]
// Bit 7 of L (frames from the adapter only) marks the last two body bytes as the LED-on and
// LED-blink bytes. A body starting with $FF is an adapter command or answer ($FF, letter, data);
// the PC's addressed requests are [address, command, data low, data high, sequence number]; the
// devices' replies are [address, sequence number, groups of 3 reply bytes]. Other bodies are bus
// traffic of other stations.
//
// Checksums: adapter commands of the PC and every frame from the adapter sum to 0 modulo 256 over
// all their bytes; addressed requests of the PC sum to 0 only together with Swap(address) +
// Swap(data low) + Swap(sequence number), so that the adapter's echo of them fails the plain test.
//
// Modes: 0 "Unknown" (nothing can be sent), 1 "ZOBus" (addressed requests, replies matched by
// address and sequence number), 2 "ZO 9 bit" (requests wrapped in adapter command 'W'), 3
// "Transparant" (the adapter seems lost: the next transmission first restarts its application).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "drivers/ExtendedBusdrv.h"
#include "serial/RS232o.h"
#include "threads/Clock.h"
#include "threads/Event.h"

namespace zo {

constexpr std::int32_t DL2Baud = 2400;
// Read time-out of the driver loop: one empty read is one idle tick.
constexpr std::int32_t DL2ReadTimeoutMs = 10;
// Idle ticks that must pass before a transmission: after any received byte, after the PC's own
// transmission, and after a checksum-valid received frame.
constexpr std::uint8_t DL2HoldoffAfterByte = 20;
constexpr std::uint8_t DL2HoldoffAfterTx = 6;
// Driver-loop passes without a sign of life before the adapter is taken as lost.
constexpr std::uint16_t DL2SilencePasses = 500;
// After a restart an adapter may start without announcing itself: when no 'V' answer has come
// this long after the restart, the driver asks with the 'V' command, and again after each
// interval while the mode stays 0.
constexpr int DL2VersionQueryAfterRestartMs = 500;
constexpr int DL2VersionQueryIntervalMs = 1000;
// Idle ticks in a row after which a partly received frame is abandoned and the next byte is read
// as a length byte. A frame's bytes follow each other at wire speed (a USB adapter may hold them
// back for up to 16 ms); between the reply to one request and the echo of the next lie at least
// 39 ms. Without this, a length byte corrupted by line noise would make the receiver take bytes of
// the following frames for the rest of that frame, and it could stay out of step for many frames.
constexpr std::uint8_t DL2AbandonFrameTicks = 3;
// The largest body of a frame and the largest frame.
constexpr int DL2MaxBody = 17;
constexpr int DL2MaxFrame = DL2MaxBody + 2;

// Exchanges the two 4-bit halves of a byte: Swap($12) = $21.
std::uint8_t Swap(std::uint8_t Value);

// True when the bytes add up to 0 modulo 256 (the test applied to every received frame).
bool DL2PlainChecksumValid(const std::uint8_t* Bytes, int Count);

// The wire form of an adapter command: [N, $FF, letter, data..., ($00 when the last body byte
// would be $FF), checksum by the plain rule]. `Count` is 0 to 6.
std::vector<std::uint8_t> BuildDL2AdapterCommand(char Letter, const std::uint8_t* Data, int Count);

// The wire form of an addressed request: [5, address, command, data low, data high, sequence
// number, checksum by the Swap rule]. Never gets a filler byte.
std::vector<std::uint8_t> BuildDL2AddressedRequest(std::uint8_t Address, std::uint8_t Command,
                                                   std::uint8_t DataLow, std::uint8_t DataHigh,
                                                   std::uint8_t Sequence);

// The panel level byte for SetLevel(Value), Value 1 to 255: the low byte of (Value - 1) x 255 /
// 158 rounded to the nearest integer, halves to even (1 gives 0, 80 gives 128, 159 gives 255).
std::uint8_t DL2LevelFromValue(std::uint8_t Value);

// The 16-bit LED state from the adapter's LED-on and LED-blink bytes. B := On, exclusive-or Blink
// when BlinkOn; result bits 0, 1, 2, 4, 5, 6, 7, 8 are B's bits 5, 6, 7, 4, 0, 2, 1, 3; the other
// result bits are 0.
std::int32_t DecodeDL2Leds(std::uint8_t On, std::uint8_t Blink, bool BlinkOn);

// The DL2 application start sequence, shared with interface detection: 115200 baud, purge, five
// $55, Delay(50), 19200 baud, 'A', Delay(50). Nothing is read back; the port is left at 19200
// baud. Takes about 100 ms.
void RunDL2StartSequence(TRS232o& Port);

// One received reply as the ring keeps it: the tag (the sequence number of an addressed reply, 0
// for a 'W' answer) and bytes 0 to 2 of the reply frame.
struct TDL2RingEntry {
  std::uint8_t Tag = 0;
  std::array<std::uint8_t, 3> Bytes{};
};

class TDL2Driver : public TBusDriver {
 public:
  // Takes ownership of `Port` (null or not open: the driver only idles). In mode 0 or 3 the
  // adapter's application is restarted first (about 100 ms). Then read time-out 10 ms, purge,
  // error state cleared, and the driver thread starts at time-critical priority.
  TDL2Driver(TRS232o* Port, std::uint8_t Mode);
  // Stops the driver thread and frees the port.
  ~TDL2Driver() override;

  // Mode 3: restarts the adapter (mode 0). Mode 0: waits 200 ms and fails. Otherwise waits up to
  // 500 ms for the transmitter and prepares the frame: in mode 2 as adapter command 'W' with
  // bytes 0 to 2; otherwise as an addressed request to Frame[3] (or GetAddress for $FF) with the
  // next sequence number. The driver thread sends it on a permitted idle tick.
  bool PutFrame(const TBusFrame& Frame) override;
  // Takes the oldest received reply (bytes 0 to 2) and remembers its tag.
  bool GetFrame(TBusFrame& Frame) override;
  // Throws away earlier replies and puts the frame; then waits (500 ms each time) for a reply. In
  // mode 1 only a reply tagged with the request's sequence number is taken; others are dropped
  // and the wait starts again. False when the frame was not put or no reply came.
  bool Request(TBusFrame& Frame) override;
  std::uint8_t GetPortNumber() override;
  bool PortVanished() override;
  void SetAddress(std::uint8_t Value) override;

  // Mode 1: the adapter's panel through command 'S' (the reply is awaited up to 500 ms but not
  // required); other modes: the base frames 3 and 4.
  bool SetLevel(std::uint8_t Value) override;
  bool SetState(std::uint8_t Value) override;
  // Mode 1: command 'L', up to 500 ms for the answer, then DecodeLeds (-1 if the command could
  // not be put). Blinking LEDs alternate between calls. Other modes: the base request 2.
  std::int32_t GetLedState() override;

  std::uint8_t GetMode() const { return Mode.load(); }
  // The LED-on and LED-blink bytes last received.
  std::uint8_t LedOn() const { return static_cast<std::uint8_t>(LedState.load()); }
  std::uint8_t LedBlink() const { return static_cast<std::uint8_t>(LedState.load() >> 8); }
  std::uint8_t GetRequestSeq() const { return RequestSeq.load(); }
  std::uint8_t GetSeqCounter() const { return SeqCounter.load(); }
  std::uint16_t GetSilenceCount() const { return SilenceCount.load(); }

  // Diagnostics of the transmit timing, counted in loop passes rather than time: the bytes read
  // so far, and how many idle ticks in a row (since the last received byte or the previous
  // transmission) preceded the last transmission, the transmitting tick included.
  std::uint32_t BytesReceived() const { return bytes_received_.load(); }
  std::uint32_t IdleTicksBeforeLastTx() const { return idle_ticks_before_tx_.load(); }
  std::uint32_t Transmissions() const { return transmissions_.load(); }
  // 'V' commands the driver sent by itself in mode 0.
  std::uint32_t VersionQueries() const { return version_queries_.load(); }

 protected:
  // For descendants: the same set-up without starting the thread; the descendant calls
  // StartDriverThread at the end of its own constructor, so that the thread never runs on an
  // object still under construction.
  TDL2Driver(TRS232o* Port, std::uint8_t Mode, bool StartThread);
  // Time-critical priority, Resume, and PauseCount := 0.
  void StartDriverThread();

  void Execute() override;

  // Prepares an adapter command ($FF, Letter, Data); the mode rules and the wait as PutFrame.
  // Resets ReplyEvent. `Count` is 0 to 6.
  bool SendAdapterCommand(char Letter, const std::uint8_t* Data, int Count);
  bool SendNineBitFrame(const TBusFrame& Frame);
  bool SendStateCommand();
  std::int32_t DecodeLeds();

  // Parks the driver thread, runs the start sequence, sets the line back to 2400 baud, 10 ms
  // read time-out, DTR asserted, purges; then SilenceCount := 500 and Mode := 0, and the driver
  // thread asks for the 'V' answer 500 ms later unless it came by itself. Called on the client's
  // thread (or in the constructor).
  void RestartAdapter();

  // The complete frame in RxBuffer. False when it is dropped as malformed (bad checksum, or LED
  // bytes flagged on a body too short to carry them).
  bool ProcessFrame();
  void QueueReceived(const std::uint8_t* Bytes, std::uint8_t Tag);

  TRS232o* Port;
  std::atomic<std::uint8_t> Mode;

  // Driver thread only.
  std::uint8_t RxByte = 0;
  std::array<std::uint8_t, DL2MaxFrame> RxBuffer{};
  std::uint8_t RxCount = 0;
  std::array<std::uint8_t, 17> LastTx{};
  std::uint8_t LastAddress = 0;
  std::uint8_t TxHoldoff = 0;

  // The frame waiting for transmission, length byte first. A client writes it only while it
  // holds the transmitter (TxIdleEvent reset by that client) and publishes it by storing its
  // length in TxLength last; the driver thread reads it only while TxLength <> 0 and clears
  // TxLength before it sets TxIdleEvent.
  std::array<std::uint8_t, 17> TxBuffer{};
  std::atomic<std::uint8_t> TxLength{0};

  std::atomic<std::uint8_t> SeqCounter{0};
  std::atomic<std::uint8_t> RequestSeq{0};
  std::atomic<std::uint16_t> SilenceCount{DL2SilencePasses};

  // The pause handshake: a client raises PauseCount; the driver thread, at the top of each pass,
  // sets PauseAck := (PauseCount <> 0) and idles while it is set. Both change under pause_mutex_
  // so that an acknowledgement always answers the count the client raised.
  std::atomic<std::uint16_t> PauseCount{1};
  std::atomic<bool> PauseAck{true};

  TEvent ReplyEvent{false};
  TReceiveRing<TDL2RingEntry> Ring{Received};
  std::uint8_t LastTag = 0;  // client only

  // LED-on byte in bits 0-7, LED-blink byte in bits 8-15.
  std::atomic<std::uint16_t> LedState{0};
  bool BlinkPhase = false;  // client only
  std::uint8_t StateByte = 4;
  std::uint8_t Level = 0;
  std::uint8_t LevelFlag = 0xFF;

 private:
  void CheckPause(bool& Parked);
  void Transmit();
  // Mode 0 on an idle tick that may transmit: sends the 'V' command when it is due.
  void AskVersionWhenDue();

  std::mutex pause_mutex_;
  Condition pause_changed_;
  std::atomic<std::uint32_t> bytes_received_{0};
  std::atomic<std::uint32_t> idle_ticks_before_tx_{0};
  std::atomic<std::uint32_t> transmissions_{0};
  std::atomic<std::uint32_t> version_queries_{0};
  // When the driver thread next sends 'V' while the mode is 0, on the clock's time line;
  // Duration::max() while none is due. Set by a restart, then by the driver thread.
  std::atomic<Duration::rep> version_query_due_{Duration::max().count()};
  std::uint32_t idle_run_ = 0;      // driver thread only
  std::uint8_t rx_idle_ticks_ = 0;  // driver thread only: idle ticks since the last byte
};

}  // namespace zo
