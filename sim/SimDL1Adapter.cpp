#include "sim/SimDL1Adapter.h"

#include <algorithm>
#include <chrono>

namespace zo::sim {

namespace {

constexpr std::int32_t kBusBaud = 1200;
// The longest the thread sleeps without anything happening on the line; only a safety net, since
// every change of interest wakes it.
constexpr long long kLongestDL1WaitMs = 250;

TimePoint Later(TimePoint From, long long Ms) {
  return From + std::chrono::milliseconds(Ms);
}

}  // namespace

SimDL1Adapter::SimDL1Adapter(std::shared_ptr<SimLine> Line, std::shared_ptr<SimDevice> Device,
                             const TSimDL1Config& Config)
    : TThread(true),
      line_(std::move(Line)),
      device_(std::move(Device)),
      config_(Config),
      chatter_on_(Config.Chatter),
      random_(Config.Seed) {
  line_->SetBusMode(true);
  // The adapter's line driver is switched on by RTS: the PC's bytes reach the bus, and come back
  // as their echo, only while the PC asserts RTS.
  line_->SetRtsKeysTransmitter(true);
  line_->PeerSetLine(kBusBaud, 'S');
}

SimDL1Adapter::~SimDL1Adapter() {
  Stop();
}

void SimDL1Adapter::Start() {
  Resume();
}

void SimDL1Adapter::Stop() {
  std::lock_guard<std::mutex> lock(stop_mutex_);
  if (stopped_) return;
  stopped_ = true;
  Terminate();
  line_->Wake();
  WaitFor();
}

void SimDL1Adapter::SetChatter(bool On) {
  chatter_on_.store(On);
  chatter_changed_.store(true);
  line_->Wake();
}

void SimDL1Adapter::CollideWithNextTransmission(std::uint8_t Byte) {
  CollideWithNextTransmissions(1, Byte);
}

void SimDL1Adapter::CollideWithNextTransmissions(int Count, std::uint8_t Byte) {
  collide_byte_.store(Byte);
  collisions_armed_.store(Count);
  line_->Wake();
}

void SimDL1Adapter::WriteFrame(SimLine& Line, std::uint8_t Code, std::uint8_t Low,
                               std::uint8_t High) {
  const auto sum = static_cast<std::uint8_t>(Code + Low + High);
  const std::uint8_t bytes[4] = {Code, Low, High, static_cast<std::uint8_t>(0 - sum)};
  Line.PeerWriteWithParity(&bytes[0], 1, 'M');
  Line.PeerWriteWithParity(&bytes[1], 3, 'S');
}

void SimDL1Adapter::Execute() {
  std::uint64_t seen = 0;
  ScheduleChatter(Now());
  while (!Terminated()) {
    TimePoint deadline = DeadlineAfter(kLongestDL1WaitMs);
    if (reply_) deadline = std::min(deadline, reply_at_);
    if (chatter_on_.load()) deadline = std::min(deadline, next_chatter_);
    seen = line_->PeerWait(seen, deadline);
    if (Terminated()) break;

    if (chatter_changed_.exchange(false)) ScheduleChatter(Now());
    // The other station cannot hear the PC's byte before it is complete, but a transmitter that
    // keys up on RTS can: its byte goes out while the PC's first byte is still on the wire.
    const bool rts = line_->PortRts();
    if (!rts) collided_while_rts_ = false;
    if (rts && !collided_while_rts_ && collisions_armed_.load() > 0) {
      collisions_armed_.fetch_sub(1);
      collided_while_rts_ = true;
      const std::uint8_t start = collide_byte_.load();
      const TimePoint at = Now();
      line_->PeerWriteWithParity(&start, 1, 'M');
      Transmitted(at);
      collisions_made_.fetch_add(1);
    }

    TSimByte byte;
    while (line_->PeerTryRead(byte))
      Take(byte);

    const TimePoint now = Now();
    if (reply_ && now >= reply_at_) SendReply();
    if (chatter_on_.load() && now >= next_chatter_) MaybeChatter(now);
  }
}

void SimDL1Adapter::Take(const TSimByte& Byte) {
  last_activity_ = std::max(last_activity_, Byte.Arrival);
  // Our own bytes come back from the bus; they are no request. A PC byte that overlapped one of
  // ours arrives garbled in the same window.
  const bool own = Byte.Arrival > own_from_ && Byte.Arrival <= own_until_;
  if (own || Byte.FramingError) {
    frame_index_ = 0;
    return;
  }
  if (Byte.NinthBit) {
    frame_[0] = Byte.Value;
    frame_index_ = 1;
    return;
  }
  if (frame_index_ == 0) return;  // no marked start yet
  frame_[frame_index_++] = Byte.Value;
  if (frame_index_ < 4) return;
  frame_index_ = 0;
  const auto sum = static_cast<std::uint8_t>(frame_[0] + frame_[1] + frame_[2] + frame_[3]);
  if (sum == 0) FrameReceived(Byte.Arrival);
}

void SimDL1Adapter::FrameReceived(TimePoint End) {
  requests_seen_.fetch_add(1);
  std::optional<TReplyBytes> reply =
      device_->Handle(device_->BusAddress(), TReplyBytes{frame_[0], frame_[1], frame_[2]});
  if (!reply) return;
  reply_ = reply;
  reply_at_ = Later(End, device_->TurnaroundMs());
}

void SimDL1Adapter::Transmitted(TimePoint WriteTime) {
  if (own_until_ < WriteTime) own_from_ = WriteTime;
  own_until_ = line_->PeerTransmitEnd();
}

void SimDL1Adapter::SendReply() {
  const TimePoint at = Now();
  WriteFrame(*line_, (*reply_)[0], (*reply_)[1], (*reply_)[2]);
  Transmitted(at);
  reply_.reset();
  replies_sent_.fetch_add(1);
}

void SimDL1Adapter::ScheduleChatter(TimePoint From) {
  const int mean = std::max(1, config_.ChatterIntervalMs);
  std::uniform_int_distribution<int> gap(mean / 2, mean + mean / 2);
  next_chatter_ = Later(From, gap(random_));
}

void SimDL1Adapter::MaybeChatter(TimePoint Now) {
  // A reply owed to the PC comes first; then the station waits for a quiet bus.
  if (reply_) {
    next_chatter_ = Later(reply_at_, config_.QuietBeforeChatterMs);
    return;
  }
  const TimePoint quiet_from =
      Later(std::max(last_activity_, own_until_), config_.QuietBeforeChatterMs);
  if (Now < quiet_from) {
    next_chatter_ = quiet_from;
    return;
  }
  std::uniform_int_distribution<int> byte(0, 255);
  const auto code = static_cast<std::uint8_t>(0xA0 + byte(random_) % 32);
  const auto low = static_cast<std::uint8_t>(byte(random_));
  const auto high = static_cast<std::uint8_t>(byte(random_));
  WriteFrame(*line_, code, low, high);
  Transmitted(Now);
  chatter_sent_.fetch_add(1);
  ScheduleChatter(Now);
}

}  // namespace zo::sim
