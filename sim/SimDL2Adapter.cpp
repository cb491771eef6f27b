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
// A programming line: 'W', a 74-byte block, a check byte.
constexpr std::size_t kLineSize = 76;
// A line whose next byte does not come within this gap is abandoned.
constexpr int kLineGapMs = 100;
// The header of block 0 of a DL2 image, after the block number and flash address.
constexpr std::size_t kHeaderAt = 1 + 4;  // in a line, behind its 'W'
constexpr char kHeaderTag[] = "ZODL2";
constexpr std::uint8_t kHardwareId = '2';
// The bootblock's own version, reported in its version frame.
constexpr std::uint8_t kBootblockMajor = 1, kBootblockMinor = 3;
// The 'S' frame body that precedes an update.
const std::vector<std::uint8_t> kUpdateRequest{0xFF, 'S', 0x00, 0x00, 0x00, 0x00, 0x04};

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
    case TDL2SimState::Programming:
      return "programming";
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
    : line_(std::move(Line)),
      device_(Device),
      config_(Config),
      random_(Config.Seed),
      flash_good_(Config.Variant != TDL2Variant::BadlyProgrammed && !Config.FlashBad),
      firmware_version_(Config.FirmwareVersion) {}

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

void SimDL2Adapter::PowerCycle() {
  std::lock_guard<std::mutex> lock(mutex_);
  PowerOn();
  line_->Wake();
}

void SimDL2Adapter::SwitchOff() {
  std::lock_guard<std::mutex> lock(mutex_);
  state_ = TDL2SimState::Off;
  state_due_.reset();
  traffic_due_.reset();
  xon_due_.reset();
  power_due_.reset();
  finish_due_.reset();
  pending_.clear();
  rx_.clear();
}

void SimDL2Adapter::SwitchOn() {
  PowerCycle();
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

void SimDL2Adapter::SetBootblockFaults(const TSimBootblockConfig& Faults) {
  std::lock_guard<std::mutex> lock(mutex_);
  config_.Bootblock = Faults;
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

std::int32_t SimDL2Adapter::FirmwareVersion() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return firmware_version_;
}

bool SimDL2Adapter::FlashGood() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return flash_good_;
}

int SimDL2Adapter::BootblockConnections() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connections_;
}

int SimDL2Adapter::LinesAccepted() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_accepted_;
}

int SimDL2Adapter::ProgrammingsCompleted() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return programmings_completed_;
}

void SimDL2Adapter::PowerOn() {
  const TimePoint now = Now();
  pending_.clear();
  rx_.clear();
  line_rx_.clear();
  sync_run_ = 0;
  state_due_.reset();
  traffic_due_.reset();
  xon_due_.reset();
  power_due_.reset();
  finish_due_.reset();
  update_armed_ = false;
  // The bootblock runs first; it keeps control while the port holds the break.
  break_held_ = line_->PortBreak();
  if (break_held_) {
    EnterBootblock(true);
  } else if (config_.Variant == TDL2Variant::OldBootblock) {
    EnterBootblock(false);
  } else {
    StartApplication(now);
  }
}

void SimDL2Adapter::OnBreak(bool Held, TimePoint) {
  // An application that has answered the update request hands over to its bootblock on break.
  if (Held && update_armed_ && state_ == TDL2SimState::Application) EnterBootblock(true);
}

void SimDL2Adapter::EnterBootblock(bool ProgrammingAllowed) {
  state_ = TDL2SimState::Bootblock;
  programming_allowed_ = ProgrammingAllowed;
  update_armed_ = false;
  state_due_.reset();
  traffic_due_.reset();
  xon_due_.reset();
  pending_.clear();
  rx_.clear();
  line_->PeerSetLine(kFrameBaud, 'N');
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
    const bool held = line_->PortBreak();
    if (held != break_held_) {
      break_held_ = held;
      if (!silent_ && state_ != TDL2SimState::Off) OnBreak(held, Now());
    }
    TSimByte byte;
    while (line_->PeerTryRead(byte)) {
      // A line held in break carries no bytes.
      if (!silent_ && !break_held_) OnByte(byte);
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
  if (power_due_) next = std::min(next, *power_due_);
  if (finish_due_) next = std::min(next, *finish_due_);
  return next;
}

void SimDL2Adapter::RunDue(TimePoint Now) {
  if (power_due_ && *power_due_ <= Now) {
    power_due_.reset();
    PowerOn();
  }
  if (silent_) return;
  while (!pending_.empty() && pending_.front().Due <= Now) {
    line_->PeerWrite(pending_.front().Frame);
    pending_.pop_front();
  }
  if (finish_due_ && *finish_due_ <= Now) {
    finish_due_.reset();
    FinishProgramming();
  }
  if (state_due_ && *state_due_ <= Now) {
    state_due_.reset();
    if (state_ == TDL2SimState::Starting && config_.ApplicationHangs) {
      state_ = TDL2SimState::ApplicationHung;
      ++application_starts_;
    } else if (state_ == TDL2SimState::Starting) {
      state_ = TDL2SimState::Application;
      ++application_starts_;
      line_->PeerSetLine(kFrameBaud, 'N');
      // The application announces itself (unless told not to) with its 'V' answer.
      if (config_.AnnounceOnStart) line_->PeerWrite(FrameOf(VersionAnswer()));
      if (config_.BusTraffic) ScheduleTraffic(Now);
    } else if (state_ == TDL2SimState::BootblockCommand) {
      // No letter came: back to what ran before, at its speed.
      state_ = resume_state_;
      const bool fast = state_ == TDL2SimState::BadFirmware || state_ == TDL2SimState::Programming;
      line_->PeerSetLine(fast ? kCommandBaud : kFrameBaud, 'N');
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
      // 'A' starts the application. 'P' opens the programming protocol, but only in a bootblock
      // that was entered with the break held; any other letter is ignored.
      if (clean && Byte.Value == 'A') StartApplication(now);
      if (clean && Byte.Value == 'P' && programming_allowed_) AnswerProgramRequest();
      break;
    case TDL2SimState::Programming:
      OnLineByte(Byte, now);
      break;
    case TDL2SimState::Application:
      // Its receiver listens only with DTR asserted and RTS cleared, as detection leaves them.
      if (line_->PortDtr() && !line_->PortRts()) OnApplicationByte(Byte);
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
  programming_allowed_ = false;
  update_armed_ = false;
  if (!flash_good_) {
    EnterBadFirmware(Now);
    return;
  }
  state_ = TDL2SimState::Starting;
  state_due_ = After(Now, config_.BootMs);
  traffic_due_.reset();
  pending_.clear();
  rx_.clear();
  line_->PeerSetLine(kFrameBaud, 'N');
}

void SimDL2Adapter::EnterBadFirmware(TimePoint Now) {
  state_ = TDL2SimState::BadFirmware;
  state_due_.reset();
  traffic_due_.reset();
  pending_.clear();
  line_->PeerSetLine(kCommandBaud, 'N');
  xon_due_ = After(Now, kXonPeriodMs);
}

void SimDL2Adapter::AnswerProgramRequest() {
  const TSimBootblockConfig& bb = config_.Bootblock;
  if (bb.VersionFrame == TVersionFrameFault::Silent) return;
  ++connections_;
  // [count of the bytes that follow, 'V', bootblock version, hardware id, check byte]; bytes 1
  // to n-1 add up to 0.
  std::vector<std::uint8_t> frame{0x05, 'V', kBootblockMajor, kBootblockMinor, kHardwareId};
  if (bb.VersionFrame == TVersionFrameFault::WithoutV) frame[1] = 'v';
  frame.push_back(static_cast<std::uint8_t>(-Sum(frame, frame.size()) + frame[0]));
  if (bb.VersionFrame == TVersionFrameFault::BadSum) ++frame.back();
  if (bb.VersionFrame == TVersionFrameFault::SingleByte) frame.resize(1);
  line_->PeerWrite(frame);
  state_ = TDL2SimState::Programming;
  state_due_.reset();
  line_rx_.clear();
  lines_received_ = 0;
  lines_accepted_ = 0;
  image_blocks_ = 0;
}

void SimDL2Adapter::OnLineByte(const TSimByte& Byte, TimePoint Now) {
  if (!line_rx_.empty() && Now - last_line_byte_ > std::chrono::milliseconds(kLineGapMs))
    line_rx_.clear();
  last_line_byte_ = Now;
  if (line_rx_.empty()) line_garbled_ = false;
  if (Byte.FramingError || Byte.ParityError) line_garbled_ = true;
  line_rx_.push_back(Byte.Value);
  if (line_rx_.size() < kLineSize) return;
  std::vector<std::uint8_t> line;
  line.swap(line_rx_);
  OnLine(line, lines_received_++, Now);
}

void SimDL2Adapter::OnLine(const std::vector<std::uint8_t>& Line, int Index, TimePoint Now) {
  const TSimBootblockConfig& bb = config_.Bootblock;
  if (Index == bb.PowerLossLine) {
    // Writing had begun: what is in flash now is no complete firmware.
    state_ = TDL2SimState::Off;
    flash_good_ = false;
    pending_.clear();
    power_due_ = After(Now, bb.PowerLossMs);
    return;
  }
  if (Index == bb.FaultLine) {
    if (!bb.FaultSilent) Reply(bb.FaultReply, Now);
    return;
  }
  const std::uint8_t answer = ProgramLine(Line, Index);
  const int delay = Index == bb.SlowLine ? bb.SlowLineMs : 0;
  Reply(answer, After(Now, delay));
  if (answer == 'N' && lines_accepted_ == image_blocks_)
    finish_due_ = After(Now, delay);  // once the answer has gone out
}

std::uint8_t SimDL2Adapter::ProgramLine(const std::vector<std::uint8_t>& Line, int Index) {
  if (Line[0] != 'W') return 'U';
  if (line_garbled_ || Sum(std::vector<std::uint8_t>(Line.begin() + 1, Line.end()), 75) != 0)
    return 'T';
  if (Index == 0) {
    const bool header = std::equal(kHeaderTag, kHeaderTag + 5, Line.begin() + kHeaderAt) &&
                        Line[kHeaderAt + 11] == kHardwareId;
    if (!header) return 'D';
    image_version_ = 0;
    for (int i = 3; i >= 0; --i)
      image_version_ = (image_version_ << 8) | Line[kHeaderAt + 5 + static_cast<std::size_t>(i)];
    image_blocks_ = Line[kHeaderAt + 9] | (Line[kHeaderAt + 10] << 8);
    flash_good_ = false;  // erased
  }
  if (Index >= image_blocks_) return 'E';
  ++lines_accepted_;
  return 'N';
}

void SimDL2Adapter::Reply(std::uint8_t Byte, TimePoint Due) {
  if (Due <= Now()) {
    line_->PeerWrite(&Byte, 1);
  } else {
    pending_.push_back({Due, {Byte}});
  }
}

void SimDL2Adapter::FinishProgramming() {
  if (state_ != TDL2SimState::Programming) return;
  flash_good_ = true;
  firmware_version_ = image_version_;
  ++programmings_completed_;
  // The new firmware runs: at once behind the new bootblock, after the start sequence behind
  // the old one.
  if (config_.Variant == TDL2Variant::OldBootblock) {
    EnterBootblock(false);
  } else {
    StartApplication(Now());
  }
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
    if (config_.EchoAdapterCommands) line_->PeerWrite(Frame);
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

std::vector<std::uint8_t> SimDL2Adapter::VersionAnswer() const {
  std::vector<std::uint8_t> body{0xFF, 'V'};
  for (int shift = 0; shift < 32; shift += 8)
    body.push_back(static_cast<std::uint8_t>(firmware_version_ >> shift));
  if (config_.NineBit) body.push_back('W');
  return body;
}

void SimDL2Adapter::SendAnswer(std::vector<std::uint8_t> Body) {
  ++answered_[Body[1] & 0x7F];
  line_->PeerWrite(FrameOf(Body));
}

void SimDL2Adapter::OnAdapterCommand(const std::vector<std::uint8_t>& Body) {
  const std::uint8_t letter = Body[1];
  if (letter == 'V') {
    SendAnswer(VersionAnswer());
  } else if (letter == 'L') {
    SendAnswer({0xFF, 'L', config_.LedOn, config_.LedBlink});
  } else if (letter == 'S') {
    last_state_command_.assign(Body.begin() + 2, Body.end());
    if (Body == kUpdateRequest) update_armed_ = true;
    SendAnswer({0xFF, 'S'});
    if (update_armed_ && config_.BreakInvisible) EnterBootblock(true);
  } else if (letter == 'W' && config_.NineBit && Body.size() >= 5) {
    ++requests_passed_;
    const auto reply = device_ ? device_->Handle(device_->BusAddress(), {Body[2], Body[3], Body[4]})
                               : std::nullopt;
    if (!reply) return;
    ++answered_[static_cast<unsigned char>('W')];
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
