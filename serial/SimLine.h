// An in-process serial line between a port (the PC side, opened through TRS232o) and a peer that
// a simulator drives.
//
// It models what a real line does:
// - each byte takes its wire time at the sender's baud rate and framing (start bit, 8 data bits,
//   a parity bit unless parity is 'N', one stop bit) and the bytes of one sender follow each other
//   back to back; a byte can be read when its stop bit has arrived;
// - the receiver decodes each byte with its own line settings in force when the byte arrives:
//   another baud rate than the sender's gives a garbled value with a framing error; with parity
//   checking on, a parity bit that does not match the receiver's parity gives a parity error (so a
//   receiver set to space parity sees a parity error on a byte sent with mark parity); a byte sent
//   without a parity bit carries the stop bit (1) where a parity bit would be; a parity bit of 0
//   read by a receiver without parity is a framing error;
// - a receiver at another baud rate than the sender decodes one byte per byte sent: 0x00 when
//   the receiver is faster than the sender, 0xFF when it is slower, always with a framing error
//   (so garbage from a wrong speed is never mistaken for 0x11 or 'H');
// - break, RTS and DTR of the port side are visible to the peer;
// - in bus mode (a DL1 adapter on a 9-bit bus) every byte either side sends also reaches the
//   sender's own receiver at the same moment as the other side's (the bus echo), and bytes of the
//   two sides whose wire times overlap collide: both receivers get the bitwise AND of the values
//   (the bus is dominant-low) with a framing error (each colliding byte still arrives, as that
//   AND); the adapter may let the port's bytes onto the bus only while RTS is asserted;
// - bytes the peer sends while the port side is closed or unplugged reach no port (a closed
//   port's receiver hears nothing); opening the port side starts with an empty input.
// Every wait goes through the installed clock.
//
// Thread-safe: the port side is used by one thread at a time (as any port), the peer side by the
// simulator's thread(s).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "serial/SerialBackend.h"
#include "threads/Clock.h"

namespace zo {

// A byte as a receiver decoded it.
struct TSimByte {
  std::uint8_t Value = 0;
  bool ParityError = false;
  bool FramingError = false;
  bool NinthBit = false;      // the bit received in the parity position (1 for a stop bit)
  std::int32_t SentBaud = 0;  // the sender's baud rate, what an auto-baud detector measures
  TimePoint Arrival{};        // when its stop bit arrived
};

class SimLine : public std::enable_shared_from_this<SimLine> {
 public:
  static std::shared_ptr<SimLine> Create(const std::string& Name);
  ~SimLine();

  const std::string& Name() const;

  // --- The PC side ---
  // Opens the port side (exclusively, as a real port). Null while it is already open or while
  // the line is unplugged. The backend keeps the line alive.
  std::unique_ptr<SerialBackend> OpenPortSide();

  // --- The peer side (the simulator's UART) ---
  void PeerSetLine(std::int32_t Baud, char Parity);
  std::int32_t PeerBaud() const;
  char PeerParity() const;
  // Queues bytes for transmission with the peer's current settings (or with `Parity` for the
  // ...WithParity form: how a 9-bit bus marks single bytes). Returns at once.
  void PeerWrite(const std::uint8_t* Bytes, int Count);
  void PeerWrite(const std::vector<std::uint8_t>& Bytes);
  void PeerWriteWithParity(const std::uint8_t* Bytes, int Count, char Parity);
  // When the peer's last queued byte will have left the line.
  TimePoint PeerTransmitEnd() const;
  // Takes the next byte that has arrived at the peer, decoded with the peer's settings; false at
  // the deadline (or at once for TryRead when none has arrived).
  bool PeerRead(TSimByte& Byte, TimePoint Deadline);
  bool PeerTryRead(TSimByte& Byte);
  // Discards what has arrived at the peer and what it has not yet transmitted.
  void PeerPurge();

  // The port side's line states as the peer sees them (false while the port is closed).
  bool PortRts() const;
  bool PortDtr() const;
  bool PortBreak() const;
  bool PortOpen() const;

  // Blocks until something happens on the line (a byte arrives at the peer, RTS, DTR or break
  // change, the port opens or closes, Wake is called) or the deadline passes. `Seen` is the value
  // this returned last time (0 at first); the result is the new activity count.
  std::uint64_t PeerWait(std::uint64_t Seen, TimePoint Deadline);
  // Ends every PeerWait at once (to stop a simulator thread).
  void Wake();

  // Bus mode, see above. Off by default (a point-to-point line, as to a DL2).
  void SetBusMode(bool On);
  // Loopback: what the port side sends comes back to its own receiver, as through a plug that
  // bridges TX and RX, and the peer hears none of it; a break the port side sends is counted by
  // its own receiver. Off by default.
  void SetLoopback(bool On);
  // In bus mode: the port's bytes reach the bus (the stations behind the adapter and the port's
  // own echo) only while the port asserts RTS, as through a line driver that RTS switches on. A
  // byte sent with RTS cleared still takes its wire time and reaches no one. Off by default.
  void SetRtsKeysTransmitter(bool On);

  // --- Faults ---
  // Unplugged: the port side's reads and writes fail as those of a vanished USB device (they
  // return 0; a read still waits out its time-out), and the port cannot be opened until Replug.
  void Unplug();
  void Replug();
  bool Plugged() const;
  // Corrupts each byte crossing the line, in either direction, with this probability (a random
  // bit flipped), from a seeded generator. 0 turns it off.
  void SetCorruption(double Probability, std::uint32_t Seed);
  // The bytes corrupted since the last call, in the order they were sent (for tests that tell
  // corruptions a frame check can catch from those it cannot).
  struct TCorruption {
    bool FromPort;
    std::uint8_t Sent;
    std::uint8_t Received;
    TimePoint Start;
  };
  std::vector<TCorruption> TakeCorruptions();

  // --- Observation ---
  // Called for every byte put on the line by either side, with the sender's settings (for traces
  // and tests). `FromPort` tells the direction. Runs on the sender's thread.
  using TapFunction = std::function<void(bool FromPort, std::uint8_t Value, std::int32_t Baud,
                                         char Parity, TimePoint Start)>;
  void SetTap(TapFunction Tap);

 private:
  friend class SimPortSide;  // the port side's backend, in SimLine.cpp
  explicit SimLine(const std::string& Name);
  struct State;
  std::unique_ptr<State> state_;
};

// Binds port numbers to simulated lines, so that TRS232o::Open(n, ...) reaches a simulator.
class SimPortRegistry {
 public:
  static void Bind(std::uint8_t Port, std::shared_ptr<SimLine> Line);
  static void Unbind(std::uint8_t Port);
  static void UnbindAll();
  static std::shared_ptr<SimLine> Find(std::uint8_t Port);
};

}  // namespace zo
