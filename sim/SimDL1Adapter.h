// A simulated DL1 adapter on a device bus, with one device and, optionally, another station.
//
// The DL1 is a level converter: it passes every byte through at any speed, and the bus gives every
// station (the PC included) the echo of its own bytes. Its transmitter onto the bus is switched on
// by the PC's RTS: bytes the PC sends with RTS cleared reach neither the bus nor the echo. The
// simulated line in bus mode does both (the echo and the collisions of overlapping bytes), so this
// simulator only plays the stations behind the adapter:
// - the device: its UART listens at 1200 baud with space parity and the ninth bit; it assembles
//   4-byte frames (a marked first byte, three unmarked bytes, the four summing to 0 modulo 256)
//   and hands each frame of the PC to the SimDevice, with the device's own address (the DL1 bus
//   carries none). A reply goes out after the device's turnaround delay as a 4-byte frame whose
//   first byte is marked, so that it is the first frame on the bus after the request. Bytes with a
//   framing error, at another speed, or without a marked start are ignored.
// - another station, which can chatter (its own valid frames now and then, when the bus has been
//   quiet for a while) and can be told to collide with the PC's next transmission: when the PC's
//   RTS rises it puts a byte on the bus at once, so that the PC's echo is corrupted.
// Nothing else is sent unprompted. It reacts only to what hardware could see: bytes as its UART
// decodes them and the PC's RTS.
//
// The simulator thread waits only through the line (PeerWait) and the clock, and stops cleanly.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <random>

#include "serial/SimLine.h"
#include "sim/SimDevice.h"
#include "threads/Thread.h"

namespace zo::sim {

struct TSimDL1Config {
  bool Chatter = false;           // the other station sends frames now and then
  int ChatterIntervalMs = 1000;   // mean time between its frames (each gap 0.5 to 1.5 times it)
  int QuietBeforeChatterMs = 20;  // it waits for this much silence on the bus before sending
  std::uint32_t Seed = 1;         // for the chatter's timing and contents
};

class SimDL1Adapter final : public TThread {
 public:
  // Puts `Line` into bus mode with RTS keying the PC's transmitter, and the peer's UART at 1200
  // baud, space parity. Start runs it.
  SimDL1Adapter(std::shared_ptr<SimLine> Line, std::shared_ptr<SimDevice> Device,
                const TSimDL1Config& Config = {});
  // Stops the thread.
  ~SimDL1Adapter() override;

  void Start();
  // Ends the thread and waits for it; safe to call more than once.
  void Stop();

  void SetChatter(bool On);
  // The other station puts `Byte` (marked) on the bus as soon as the PC's RTS is (or next goes)
  // up. On the dominant-low bus a $FF leaves the PC's byte as it was, apart from the framing error.
  void CollideWithNextTransmission(std::uint8_t Byte = 0x00);
  // The same for each of the PC's next `Count` transmissions (one collision per time RTS is up).
  void CollideWithNextTransmissions(int Count, std::uint8_t Byte = 0x00);

  // Observation for tests and traces.
  int RequestsSeen() const { return requests_seen_.load(); }  // valid frames of the PC
  int RepliesSent() const { return replies_sent_.load(); }
  int ChatterSent() const { return chatter_sent_.load(); }
  int CollisionsMade() const { return collisions_made_.load(); }

  // A bus frame of four bytes with its first byte marked; its checksum makes the sum 0.
  static void WriteFrame(SimLine& Line, std::uint8_t Code, std::uint8_t Low, std::uint8_t High);

 protected:
  void Execute() override;

 private:
  void Take(const TSimByte& Byte);
  void FrameReceived(TimePoint End);
  // Notes the bytes just queued (from `WriteTime` on) as our own, so that their echo is skipped.
  void Transmitted(TimePoint WriteTime);
  void SendReply();
  void MaybeChatter(TimePoint Now);
  void ScheduleChatter(TimePoint From);

  std::shared_ptr<SimLine> line_;
  std::shared_ptr<SimDevice> device_;
  TSimDL1Config config_;
  std::atomic<bool> chatter_on_;
  std::atomic<int> collisions_armed_{0};
  std::atomic<std::uint8_t> collide_byte_{0};
  std::atomic<bool> chatter_changed_{false};
  std::mutex stop_mutex_;
  bool stopped_ = false;

  // Simulator thread only.
  std::mt19937 random_;
  std::array<std::uint8_t, 4> frame_{};
  int frame_index_ = 0;  // bytes of the frame being assembled; 0: waiting for a mark
  // Bytes arriving after own_from_ and until own_until_ are the echo of our own.
  TimePoint own_from_{};
  TimePoint own_until_{};
  TimePoint last_activity_{};        // arrival of the last byte on the bus
  bool collided_while_rts_ = false;  // one collision per transmission
  std::optional<TReplyBytes> reply_;
  TimePoint reply_at_{};
  TimePoint next_chatter_{};

  std::atomic<int> requests_seen_{0};
  std::atomic<int> replies_sent_{0};
  std::atomic<int> chatter_sent_{0};
  std::atomic<int> collisions_made_{0};
};

}  // namespace zo::sim
