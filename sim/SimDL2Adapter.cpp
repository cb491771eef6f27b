#include "sim/SimDL2Adapter.h"

#include <algorithm>
#include <chrono>

namespace zo::sim {

namespace {

constexpr std::int32_t kFrameBaud = 2400;
constexpr std::int32_t kCommandBaud = 19200;
constexpr std::int32_t kSyncBaud = 115200;
constexpr int kXonPeriodMs = 50;
// A frame whose next byte does not come within this gap is abandoned.
constexpr int kInterByteGapMs = 50;
// Consecutive sync bytes the auto-baud detector needs before it wakes the bootblock.
constexpr int kSyncBytesNeeded = 3;
// The longest sleep of the worker, so that a Stop is seen soon even if a wake-up is lost.
constexpr int kLongestWaitMs = 100;

std::uint8_t Sum(const std::vector<std::uint8_t>& Bytes, std::size_t Count) {
  unsigned s = 0;
  for (std::size_t i = 0; i < Count; ++i)
    s += Bytes[i];
  return static_cast<std::uint8_t>(s);
}

std::uint8_t Nibbles(std::uint8_t B) {
  return static_cast<std::uint8_t>((B << 4) | (B >> 4));
}

// [N, body..., checksum] with the plain checksum; `LedFlag` sets bit 7 of the length byte.
std::vector<std::uint8_t> FrameOf(const std::vector<std::uint8_t>& Body, bool LedFlag = false) {
  std::vector<std::uint8_t> frame(Body.size() + 1);
  frame[0] = static_cast<std::uint8_t>(Body.size() | (LedFlag ? 0x80 : 0x00));
  std::copy(Body.begin(), Body.end(), frame.begin() + 1);
  frame.push_back(static_cast<std::uint8_t>(-Sum(frame, frame.size())));
  return frame;
}

TimePoint After(TimePoint From, int Ms) {
  return From + std::chrono::milliseconds(Ms);
}

}  // namespace

class SimDL2Adapter::Worker final : public TThread {
 public:
  explicit Worker(SimDL2Adapter* Owner) : TThread(true), owner_(Owner) {}
  ~Worker() override { WaitFor(); }

 protected:
  void Execute() override { owner_->Run(); }

 private:
  SimDL2Adapter* owner_;
};

const char* ToString(TDL2SimState State) {
  switch (State) {
    case TDL2SimState::Off:
      return "off";
    case TDL2SimState::Bootblock:
      return "bootblock";
    case TDL2SimState::BootblockCommand:
      return "bootblock command";
    case TDL2SimState::Starting:
      return "starting";
    case TDL2SimState::Application:
      return "application";
    case TDL2SimState::ApplicationHung:
      return "application hung";
    case TDL2SimState::BadFirmware:
      return "badly programmed";
  }
  return "?";
}

SimDL2Adapter::SimDL2Adapter(std::shared_ptr<SimLine> Line, SimDevice* Device,
                             const TSimDL2Config& Config)
    : line_(std::move(Line)), device_(Device), config_(Config), random_(Config.Seed) {}

SimDL2Adapter::~SimDL2Adapter() {
  Stop();
}

void SimDL2Adapter::Start() {
  if (worker_) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    PowerOn();
  }
  worker_ = std::make_unique<Worker>(this);
  worker_->Resume();
}

void SimDL2Adapter::Stop() {
  if (!worker_) return;
  worker_->Terminate();
  line_->Wake();
  worker_->WaitFor();
  worker_.reset();
}

void SimDL2Adapter::SetSilent(bool Value) {
  std::lock_guard<std::mutex> lock(mutex_);
  silent_ = Value;
  pending_.clear();
  rx_.clear();
}

void SimDL2Adapter::HangApplication() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (state_ == TDL2SimState::Application || state_ == TDL2SimState::Starting) {
    state_ = TDL2SimState::ApplicationHung;
    state_due_.reset();
    traffic_due_.reset();
    pending_.clear();
    rx_.clear();
  }
}

void SimDL2Adapter::SetBusTraffic(bool On) {
  std::lock_guard<std::mutex> lock(mutex_);
  config_.BusTraffic = On;
  if (!On) traffic_due_.reset();
  if (On && state_ == TDL2SimState::Application) ScheduleTraffic(Now());
  line_->Wake();
}

void SimDL2Adapter::SetLeds(std::uint8_t On, std::uint8_t Blink) {
  std::lock_guard<std::mutex> lock(mutex_);
  config_.LedOn = On;
  config_.LedBlink = Blink;
}

TDL2SimState SimDL2Adapter::State() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

int SimDL2Adapter::ApplicationStarts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return application_starts_;
}

int SimDL2Adapter::RequestsPassed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_passed_;
}

int SimDL2Adapter::CommandsAnswered(char Letter) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto i = static_cast<unsigned char>(Letter);
  return i < 128 ? answered_[i] : 0;
}

std::vector<std::uint8_t> SimDL2Adapter::LastStateCommand() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return last_state_command_;
}

int SimDL2Adapter::TrafficFrames() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return traffic_frames_;
}

void SimDL2Adapter::PowerOn() {
  const TimePoint now = Now();
  switch (config_.Variant) {
    case TDL2Variant::NewBootblock:
      StartApplication(now);
      break;
    case TDL2Variant::OldBootblock:
      state_ = TDL2SimState::Bootblock;
      line_->PeerSetLine(kFrameBaud, 'N');
      break;
    case TDL2Variant::BadlyProgrammed:
      state_ = TDL2SimState::BadFirmware;
      line_->PeerSetLine(kCommandBaud, 'N');
      xon_due_ = After(now, kXonPeriodMs);
      break;
  }
}

void SimDL2Adapter::Run() {
  std::uint64_t seen = 0;
  while (!worker_->Terminated()) {
    TimePoint next;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const TimePoint now = Now();
      RunDue(now);
      next = NextDue(now);
    }
    seen = line_->PeerWait(seen, next);
    std::lock_guard<std::mutex> lock(mutex_);
    TSimByte byte;
    while (line_->PeerTryRead(byte)) {
      if (!silent_) OnByte(byte);
    }
  }
}

TimePoint SimDL2Adapter::NextDue(TimePoint Now) const {
  TimePoint next = After(Now, kLongestWaitMs);
  if (silent_) return next;
  if (!pending_.empty()) next = std::min(next, pending_.front().Due);
  if (state_due_) next = std::min(next, *state_due_);
  if (traffic_due_) next = std::min(next, *traffic_due_);
  if (xon_due_) next = std::min(next, *xon_due_);
  return next;
}

void SimDL2Adapter::RunDue(TimePoint Now) {
  if (silent_) return;
  while (!pending_.empty() && pending_.front().Due <= Now) {
    line_->PeerWrite(pending_.front().Frame);
    pending_.pop_front();
  }
  if (state_due_ && *state_due_ <= Now) {
    state_due_.reset();
    if (state_ == TDL2SimState::Starting) {
      state_ = TDL2SimState::Application;
      ++application_starts_;
      // The application announces itself: the driver leaves mode 0 only on a 'V' answer.
      std::vector<std::uint8_t> body{0xFF, 'V'};
      for (int shift = 0; shift < 32; shift += 8)
        body.push_back(static_cast<std::uint8_t>(config_.FirmwareVersion >> shift));
      if (config_.NineBit) body.push_back('W');
      line_->PeerWrite(FrameOf(body));
      if (config_.BusTraffic) ScheduleTraffic(Now);
    } else if (state_ == TDL2SimState::BootblockCommand) {
      // No letter came: back to what ran before, at its speed.
      state_ = resume_state_;
      line_->PeerSetLine(state_ == TDL2SimState::BadFirmware ? kCommandBaud : kFrameBaud, 'N');
    }
  }
  if (traffic_due_ && *traffic_due_ <= Now) {
    traffic_due_.reset();
    if (state_ == TDL2SimState::Application && config_.BusTraffic) {
      line_->PeerWrite(TrafficFrame());
      ++traffic_frames_;
      ScheduleTraffic(Now);
    }
  }
  if (xon_due_ && *xon_due_ <= Now) {
    if (state_ == TDL2SimState::BadFirmware) {
      const std::uint8_t xon = 0x11;
      line_->PeerWrite(&xon, 1);
      xon_due_ = After(Now, kXonPeriodMs);
    } else {
      xon_due_.reset();
    }
  }
}

bool SimDL2Adapter::IsSyncByte(const TSimByte& Byte) const {
  // The auto-baud detector measures the bit time of a $55; at another UART speed the byte itself
  // arrives garbled, so only the measured rate counts.
  return Byte.SentBaud == kSyncBaud &&
         (Byte.FramingError || Byte.ParityError || Byte.Value == 0x55);
}

void SimDL2Adapter::OnByte(const TSimByte& Byte) {
  const TimePoint now = Byte.Arrival == TimePoint{} ? Now() : Byte.Arrival;
  if (state_ == TDL2SimState::BadFirmware || state_ == TDL2SimState::Off) return;

  if (IsSyncByte(Byte)) {
    if (++sync_run_ >= kSyncBytesNeeded && state_ != TDL2SimState::BootblockCommand &&
        state_ != TDL2SimState::Starting)
      EnterBootblockCommand(now);
    return;
  }
  sync_run_ = 0;

  const bool clean = !Byte.FramingError && !Byte.ParityError;
  switch (state_) {
    case TDL2SimState::Bootblock:
      if (clean && Byte.Value == 'H') line_->PeerWrite(&Byte.Value, 1);
      break;
    case TDL2SimState::BootblockCommand:
      // 'A' starts the application. 'P' would open the programming protocol, which this adapter
      // does not offer; any other letter is ignored.
      if (clean && Byte.Value == 'A') StartApplication(now);
      break;
    case TDL2SimState::Application:
      OnApplicationByte(Byte);
      break;
    default:
      break;
  }
}

void SimDL2Adapter::EnterBootblockCommand(TimePoint Now) {
  if (state_ != TDL2SimState::BootblockCommand) resume_state_ = state_;
  state_ = TDL2SimState::BootblockCommand;
  state_due_ = After(Now, config_.CommandWaitMs);
  traffic_due_.reset();
  pending_.clear();
  rx_.clear();
  line_->PeerSetLine(kCommandBaud, 'N');
}

void SimDL2Adapter::StartApplication(TimePoint Now) {
  state_ = TDL2SimState::Starting;
  state_due_ = After(Now, config_.BootMs);
  traffic_due_.reset();
  pending_.clear();
  rx_.clear();
  line_->PeerSetLine(kFrameBaud, 'N');
}

void SimDL2Adapter::OnApplicationByte(const TSimByte& Byte) {
  const TimePoint arrival = Byte.Arrival == TimePoint{} ? Now() : Byte.Arrival;
  if (!rx_.empty() && arrival - last_rx_ > std::chrono::milliseconds(kInterByteGapMs)) rx_.clear();
  last_rx_ = arrival;
  if (Byte.FramingError || Byte.ParityError) {
    rx_.clear();
    return;
  }
  if (rx_.empty() && (Byte.Value & 0x7F) > 17) return;  // not a length byte
  rx_.push_back(Byte.Value);
  if (rx_.size() == static_cast<std::size_t>((rx_[0] & 0x7F) + 2)) {
    std::vector<std::uint8_t> frame;
    frame.swap(rx_);
    OnPcFrame(frame);
  }
}

void SimDL2Adapter::OnPcFrame(const std::vector<std::uint8_t>& Frame) {
  if ((Frame[0] & 0x80) != 0) return;  // the PC never flags LED bytes
  const std::size_t n = Frame[0];
  if (n >= 2 && Frame[1] == 0xFF) {
    if (Sum(Frame, Frame.size()) != 0) return;
    OnAdapterCommand(std::vector<std::uint8_t>(Frame.begin() + 1, Frame.begin() + 1 + n));
    return;
  }
  if (n == 5 && Frame[1] < 0x20 && !config_.NineBit) {
    const unsigned swapped =
        Sum(Frame, Frame.size()) + Nibbles(Frame[1]) + Nibbles(Frame[3]) + Nibbles(Frame[5]);
    if ((swapped & 0xFF) != 0) return;
    OnAddressedRequest(Frame);
  }
}

void SimDL2Adapter::SendAnswer(std::vector<std::uint8_t> Body) {
  ++answered_[Body[1] & 0x7F];
  line_->PeerWrite(FrameOf(Body));
}

void SimDL2Adapter::OnAdapterCommand(const std::vector<std::uint8_t>& Body) {
  const std::uint8_t letter = Body[1];
  if (letter == 'V') {
    std::vector<std::uint8_t> answer{0xFF, 'V'};
    for (int shift = 0; shift < 32; shift += 8)
      answer.push_back(static_cast<std::uint8_t>(config_.FirmwareVersion >> shift));
    if (config_.NineBit) answer.push_back('W');
    SendAnswer(answer);
  } else if (letter == 'L') {
    SendAnswer({0xFF, 'L', config_.LedOn, config_.LedBlink});
  } else if (letter == 'S') {
    last_state_command_.assign(Body.begin() + 2, Body.end());
    SendAnswer({0xFF, 'S'});
  } else if (letter == 'W' && config_.NineBit && Body.size() >= 5) {
    ++requests_passed_;
    const auto reply = device_ ? device_->Handle(device_->BusAddress(), {Body[2], Body[3], Body[4]})
                               : std::nullopt;
    if (!reply) return;
    ++answered_['W'];
    const int turnaround = device_->TurnaroundMs();
    pending_.push_back(
        {After(Now(), turnaround), FrameOf({0xFF, 'W', (*reply)[0], (*reply)[1], (*reply)[2]})});
  }
}

void SimDL2Adapter::OnAddressedRequest(const std::vector<std::uint8_t>& Frame) {
  // The request goes onto the bus; the adapter hears it back and passes it on to the PC.
  line_->PeerWrite(Frame);
  ++requests_passed_;
  if (!device_) return;
  const std::uint8_t address = Frame[1], seq = Frame[5];
  const auto reply = device_->Handle(address, {Frame[2], Frame[3], Frame[4]});
  if (!reply) return;
  ++replies_sent_;
  std::vector<std::uint8_t> body{address, seq, (*reply)[0], (*reply)[1], (*reply)[2]};
  const bool leds = config_.LedBytesEvery > 0 && replies_sent_ % config_.LedBytesEvery == 0;
  if (leds) {
    body.push_back(config_.LedOn);
    body.push_back(config_.LedBlink);
  }
  pending_.push_back({After(Now(), device_->TurnaroundMs()), FrameOf(body, leds)});
}

void SimDL2Adapter::ScheduleTraffic(TimePoint Now) {
  const int spread = config_.TrafficIntervalMs * 3 / 10;
  std::uniform_int_distribution<int> jitter(-spread, spread);
  traffic_due_ = After(Now, std::max(1, config_.TrafficIntervalMs + jitter(random_)));
}

std::vector<std::uint8_t> SimDL2Adapter::TrafficFrame() {
  std::uniform_int_distribution<int> length(3, 8), first(0x20, 0xFE), any(0, 255);
  for (;;) {
    std::vector<std::uint8_t> body;
    const int n = length(random_);
    body.push_back(static_cast<std::uint8_t>(first(random_)));
    for (int i = 1; i < n; ++i)
      body.push_back(static_cast<std::uint8_t>(any(random_)));
    std::vector<std::uint8_t> frame = FrameOf(body);
    // A 0x11 or an 'H' would be taken for a badly programmed DL2 or a DL1 by detection.
    if (std::none_of(frame.begin(), frame.end(),
                     [](std::uint8_t b) { return b == 0x11 || b == 'H'; }))
      return frame;
  }
}

}  // namespace zo::sim
