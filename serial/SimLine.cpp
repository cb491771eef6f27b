#include "serial/SimLine.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <random>

#include "serial/ReadTimer.h"

namespace zo {

namespace {

constexpr int kPort = 0;
constexpr int kPeer = 1;

// How long a read without any time-out waits on an unplugged line before it returns 0.
constexpr long long kUnpluggedWaitMs = 100;

bool ValidParity(char Parity) {
  return Parity == 'N' || Parity == 'O' || Parity == 'E' || Parity == 'M' || Parity == 'S';
}

char Upper(char Parity) {
  return static_cast<char>(std::toupper(static_cast<unsigned char>(Parity)));
}

// Start bit, 8 data bits, parity bit unless 'N', one stop bit.
Duration ByteTime(std::int32_t Baud, char Parity) {
  const long long bits = Parity == 'N' ? 10 : 11;
  return std::chrono::duration_cast<Duration>(std::chrono::nanoseconds(bits * 1000000000LL / Baud));
}

// What travels on the wire for one byte; shared with the bytes it collided with.
struct TWireCore {
  std::uint8_t Value = 0;
  bool Ninth = true;
  bool Cancelled = false;  // purged before it started
};

struct TWire {
  std::shared_ptr<TWireCore> Core;
  int Sender = kPort;
  std::int32_t Baud = 0;
  char Parity = 'N';
  TimePoint Start{};
  TimePoint End{};
  // Bytes of the other side on the bus at the same time (bus mode).
  std::vector<std::shared_ptr<TWireCore>> Collisions;
};

using TWireRef = std::shared_ptr<TWire>;

struct TReceiver {
  TLineSettings Line;             // the receiving UART's settings (also its own sender's)
  std::deque<TWireRef> InFlight;  // bytes on their way, by arrival
  std::deque<TSimByte> Arrived;   // decoded, not yet read
};

struct TSender {
  std::deque<TWireRef> Queue;  // bytes that have not yet left the line
  TimePoint LastEnd{};
};

struct TTapCall {
  bool FromPort;
  std::uint8_t Value;
  std::int32_t Baud;
  char Parity;
  TimePoint Start;
};

TSimByte Decode(const TWire& Wire, const TLineSettings& Rx) {
  TSimByte b;
  b.SentBaud = Wire.Baud;
  b.Arrival = Wire.End;
  std::uint8_t value = Wire.Core->Value;
  bool ninth = Wire.Core->Ninth;
  for (const auto& other : Wire.Collisions) {
    if (other->Cancelled) continue;
    value &= other->Value;
    ninth = ninth && other->Ninth;
    b.FramingError = true;
  }
  if (Rx.BaudRate != Wire.Baud) {
    // A receiver sampling at another speed sees a start bit and then only zeros (faster) or only
    // ones (slower) before its stop bit fails.
    b.Value = Rx.BaudRate > Wire.Baud ? 0x00 : 0xFF;
    b.FramingError = true;
    b.NinthBit = false;
    return b;
  }
  b.Value = value;
  b.NinthBit = ninth;
  if (Rx.Parity == 'N') {
    if (!ninth) b.FramingError = true;  // a 0 where the stop bit belongs
  } else if (ninth != ParityBitOf(Rx.Parity, value)) {
    b.ParityError = true;
  }
  return b;
}

}  // namespace

struct SimLine::State {
  explicit State(const std::string& LineName) : Name(LineName) {
    Rx[kPort].Line = TLineSettings{};
    Rx[kPeer].Line = TLineSettings{};
  }

  const std::string Name;
  mutable std::mutex Mutex;
  Condition Changed;
  std::uint64_t Changes = 0;   // bumped by everything a waiter may be waiting for
  std::uint64_t Activity = 0;  // what PeerWait reports

  bool PortOpen = false;
  std::uint64_t PortGeneration = 0;  // which opening of the port side is the live one
  bool PortBreak = false;
  bool Plugged = true;
  bool BusMode = false;
  bool Loopback = false;
  long PortBreaksSeen = 0;  // breaks the port's receiver saw in loopback since it opened
  bool RtsKeysTransmitter = false;
  double Corruption = 0.0;
  std::vector<SimLine::TCorruption> Corruptions;
  std::mt19937 Random;
  TapFunction Tap;

  TReceiver Rx[2];
  TSender Tx[2];

  void Notify() {
    ++Changes;
    Changed.NotifyAll();
  }

  bool PortAlive(std::uint64_t Generation) const {
    return PortOpen && Plugged && PortGeneration == Generation;
  }

  // Decodes the bytes that have arrived at `Side` by `Now` with the settings in force now.
  void Settle(int Side, TimePoint Now) {
    TReceiver& rx = Rx[Side];
    while (!rx.InFlight.empty() && rx.InFlight.front()->End <= Now) {
      const TWireRef w = rx.InFlight.front();
      rx.InFlight.pop_front();
      if (w->Core->Cancelled) continue;
      rx.Arrived.push_back(Decode(*w, rx.Line));
      if (Side == kPeer) ++Activity;
    }
  }

  TimePoint NextArrival(int Side) const {
    const auto& q = Rx[Side].InFlight;
    return q.empty() ? TimePoint::max() : q.front()->End;
  }

  static void Deliver(TReceiver& Rx, const TWireRef& Wire) {
    auto at = std::upper_bound(Rx.InFlight.begin(), Rx.InFlight.end(), Wire->End,
                               [](TimePoint t, const TWireRef& w) { return t < w->End; });
    Rx.InFlight.insert(at, Wire);
  }

  std::uint8_t Corrupt(std::uint8_t Value) {
    if (Corruption <= 0.0) return Value;
    const double draw = static_cast<double>(Random()) / 4294967296.0;
    if (draw >= Corruption) return Value;
    return static_cast<std::uint8_t>(Value ^ (1u << (Random() % 8)));
  }

  // Queues bytes from `Side` behind what it is already sending, and returns the tap calls to
  // make once the lock is released.
  std::vector<TTapCall> Transmit(int Side, const std::uint8_t* Bytes, int Count, char Parity) {
    std::vector<TTapCall> taps;
    const TimePoint now = zo::Now();
    TSender& tx = Tx[Side];
    TSender& other_tx = Tx[1 - Side];
    while (!tx.Queue.empty() && tx.Queue.front()->End <= now)
      tx.Queue.pop_front();
    while (!other_tx.Queue.empty() && other_tx.Queue.front()->End <= now)
      other_tx.Queue.pop_front();
    const std::int32_t baud = Rx[Side].Line.BaudRate;
    const bool port_reachable = PortOpen && Plugged;
    const bool looped = Loopback && Side == kPort;
    const bool keyed_off =
        Side == kPort && BusMode && RtsKeysTransmitter && !Rx[kPort].Line.RtsEnabled;
    const bool to_other = !looped && !keyed_off && (Side == kPort ? Plugged : port_reachable);
    const bool to_self =
        looped ? port_reachable : !keyed_off && BusMode && (Side == kPeer || port_reachable);
    for (int i = 0; i < Count; ++i) {
      auto w = std::make_shared<TWire>();
      w->Core = std::make_shared<TWireCore>();
      w->Core->Value = Corrupt(Bytes[i]);
      if (w->Core->Value != Bytes[i])
        Corruptions.push_back({Side == kPort, Bytes[i], w->Core->Value, std::max(now, tx.LastEnd)});
      w->Core->Ninth = ParityBitOf(Parity, w->Core->Value);
      w->Sender = Side;
      w->Baud = baud;
      w->Parity = Parity;
      w->Start = std::max(now, tx.LastEnd);
      w->End = w->Start + ByteTime(baud, Parity);
      tx.LastEnd = w->End;
      tx.Queue.push_back(w);
      if (BusMode && !keyed_off) {
        for (const TWireRef& o : other_tx.Queue) {
          if (o->Core->Cancelled || o->Start >= w->End || w->Start >= o->End) continue;
          w->Collisions.push_back(o->Core);
          o->Collisions.push_back(w->Core);
        }
      }
      if (to_other) Deliver(Rx[1 - Side], w);
      if (to_self) Deliver(Rx[Side], w);
      taps.push_back({Side == kPort, Bytes[i], baud, Parity, w->Start});
    }
    Notify();
    return taps;
  }

  // Drops what `Side` has not begun to send.
  void PurgeOutput(int Side, TimePoint Now) {
    TSender& tx = Tx[Side];
    while (!tx.Queue.empty() && tx.Queue.back()->Start > Now) {
      tx.Queue.back()->Core->Cancelled = true;
      tx.Queue.pop_back();
    }
    tx.LastEnd = tx.Queue.empty() ? std::min(tx.LastEnd, Now) : tx.Queue.back()->End;
  }

  // Drops what has arrived at `Side` and not been read.
  void PurgeInput(int Side, TimePoint Now) {
    Settle(Side, Now);
    Rx[Side].Arrived.clear();
  }

  void CallTaps(std::unique_lock<std::mutex>& Lock, const std::vector<TTapCall>& Calls) {
    TapFunction tap = Tap;
    Lock.unlock();
    if (!tap) return;
    for (const TTapCall& c : Calls)
      tap(c.FromPort, c.Value, c.Baud, c.Parity, c.Start);
  }
};

// The PC side of a simulated line, as a serial device.
class SimPortSide final : public SerialBackend {
 public:
  SimPortSide(std::shared_ptr<SimLine> Line, std::uint64_t Generation)
      : line_(std::move(Line)), s_(*line_->state_), generation_(Generation) {}

  ~SimPortSide() override {
    std::lock_guard<std::mutex> lock(s_.Mutex);
    if (!s_.PortOpen || s_.PortGeneration != generation_) return;
    s_.PortOpen = false;
    s_.PortBreak = false;
    s_.Rx[kPort].InFlight.clear();
    s_.Rx[kPort].Arrived.clear();
    ++s_.Activity;
    s_.Notify();
  }

  bool GetLine(TLineSettings& Line) override {
    std::lock_guard<std::mutex> lock(s_.Mutex);
    if (!s_.PortAlive(generation_)) return false;
    Line = s_.Rx[kPort].Line;
    return true;
  }

  bool SetLine(const TLineSettings& Line) override {
    const char parity = Upper(Line.Parity);
    if (Line.BaudRate <= 0 || !ValidParity(parity)) return false;
    std::lock_guard<std::mutex> lock(s_.Mutex);
    if (!s_.PortAlive(generation_)) return false;
    s_.Settle(kPort, Now());
    TLineSettings& mine = s_.Rx[kPort].Line;
    const bool lines_changed =
        mine.RtsEnabled != Line.RtsEnabled || mine.DtrEnabled != Line.DtrEnabled;
    mine = Line;
    mine.Parity = parity;
    if (lines_changed) ++s_.Activity;
    s_.Notify();
    return true;
  }

  bool SetTimeouts(const TTimeouts& Timeouts) override {
    std::lock_guard<std::mutex> lock(s_.Mutex);
    timeouts_ = Timeouts;
    return true;
  }

  bool SetQueueSizes(int, int) override { return true; }

  int Read(std::uint8_t* Buffer, int Count) override {
    if (Count <= 0 || Buffer == nullptr) return 0;
    std::unique_lock<std::mutex> lock(s_.Mutex);
    TReadTimer timer(timeouts_, Count, Now());
    int got = 0;
    for (;;) {
      const TimePoint now = Now();
      if (!s_.PortAlive(generation_)) {
        const TimePoint until = timer.Unlimited()
                                    ? now + std::chrono::milliseconds(kUnpluggedWaitMs)
                                    : timer.NextDeadline();
        s_.Changed.WaitUntil(lock, until, [] { return false; });
        return got;
      }
      s_.Settle(kPort, now);
      auto& arrived = s_.Rx[kPort].Arrived;
      while (got < Count && !arrived.empty() && timer.Accepts(arrived.front().Arrival)) {
        const TSimByte& b = arrived.front();
        Buffer[got++] = b.Value;
        if (b.ParityError) errors_ |= ceRxParity;
        if (b.FramingError) errors_ |= ceFrame;
        timer.ByteTaken(b.Arrival);
        arrived.pop_front();
      }
      if (got == Count || !arrived.empty()) return got;  // done, or the next byte came too late
      const TimePoint deadline = timer.NextDeadline();
      if (now >= deadline) return got;
      const std::uint64_t seen = s_.Changes;
      s_.Changed.WaitUntil(lock, std::min(deadline, s_.NextArrival(kPort)),
                           [&] { return s_.Changes != seen; });
    }
  }

  int Write(const std::uint8_t* Buffer, int Count) override {
    if (Count <= 0 || Buffer == nullptr) return 0;
    std::unique_lock<std::mutex> lock(s_.Mutex);
    if (!s_.PortAlive(generation_)) return 0;
    const auto taps = s_.Transmit(kPort, Buffer, Count, s_.Rx[kPort].Line.Parity);
    s_.CallTaps(lock, taps);
    return Count;
  }

  std::uint32_t TakeErrors() override {
    std::lock_guard<std::mutex> lock(s_.Mutex);
    const std::uint32_t e = errors_;
    errors_ = 0;
    return e;
  }

  bool Purge() override {
    std::lock_guard<std::mutex> lock(s_.Mutex);
    if (!s_.PortAlive(generation_)) return false;
    const TimePoint now = Now();
    s_.PurgeInput(kPort, now);
    s_.PurgeOutput(kPort, now);
    s_.Notify();
    return true;
  }

  bool SetBreak(bool On) override {
    std::lock_guard<std::mutex> lock(s_.Mutex);
    if (!s_.PortAlive(generation_)) return false;
    if (s_.PortBreak != On) ++s_.Activity;
    if (On && !s_.PortBreak && s_.Loopback) ++s_.PortBreaksSeen;
    s_.PortBreak = On;
    s_.Notify();
    return true;
  }

  bool SetRts(bool Asserted) override { return SetModemLine(&TLineSettings::RtsEnabled, Asserted); }
  bool SetDtr(bool Asserted) override { return SetModemLine(&TLineSettings::DtrEnabled, Asserted); }

  std::string Describe() const override { return "simulated line " + line_->Name(); }

  long BreaksReceived() override {
    std::lock_guard<std::mutex> lock(s_.Mutex);
    return s_.PortAlive(generation_) ? s_.PortBreaksSeen : -1;
  }

  bool GetModemLines(bool& Rts, bool& Dtr) override {
    std::lock_guard<std::mutex> lock(s_.Mutex);
    if (!s_.PortAlive(generation_)) return false;
    Rts = s_.Rx[kPort].Line.RtsEnabled;
    Dtr = s_.Rx[kPort].Line.DtrEnabled;
    return true;
  }

  bool Vanished() const override {
    std::lock_guard<std::mutex> lock(s_.Mutex);
    return !s_.PortAlive(generation_);
  }

 private:
  bool SetModemLine(bool TLineSettings::*Field, bool Asserted) {
    std::lock_guard<std::mutex> lock(s_.Mutex);
    if (!s_.PortAlive(generation_)) return false;
    bool& state = s_.Rx[kPort].Line.*Field;
    if (state != Asserted) ++s_.Activity;
    state = Asserted;
    s_.Notify();
    return true;
  }

  std::shared_ptr<SimLine> line_;
  SimLine::State& s_;
  const std::uint64_t generation_;
  TTimeouts timeouts_;
  std::uint32_t errors_ = 0;
};

std::shared_ptr<SimLine> SimLine::Create(const std::string& Name) {
  return std::shared_ptr<SimLine>(new SimLine(Name));
}

SimLine::SimLine(const std::string& Name) : state_(std::make_unique<State>(Name)) {}

SimLine::~SimLine() = default;

const std::string& SimLine::Name() const {
  return state_->Name;
}

std::unique_ptr<SerialBackend> SimLine::OpenPortSide() {
  std::uint64_t generation = 0;
  {
    std::lock_guard<std::mutex> lock(state_->Mutex);
    State& s = *state_;
    if (s.PortOpen || !s.Plugged) return nullptr;
    s.PortOpen = true;
    generation = ++s.PortGeneration;
    s.PortBreak = false;
    s.PortBreaksSeen = 0;
    s.Rx[kPort].Line = TLineSettings{};
    s.Rx[kPort].InFlight.clear();
    s.Rx[kPort].Arrived.clear();
    ++s.Activity;
    s.Notify();
  }
  return std::make_unique<SimPortSide>(shared_from_this(), generation);
}

void SimLine::PeerSetLine(std::int32_t Baud, char Parity) {
  std::lock_guard<std::mutex> lock(state_->Mutex);
  State& s = *state_;
  s.Settle(kPeer, Now());
  TLineSettings& line = s.Rx[kPeer].Line;
  if (Baud > 0) line.BaudRate = Baud;
  const char parity = Upper(Parity);
  if (ValidParity(parity)) line.Parity = parity;
  s.Notify();
}

std::int32_t SimLine::PeerBaud() const {
  std::lock_guard<std::mutex> lock(state_->Mutex);
  return state_->Rx[kPeer].Line.BaudRate;
}

char SimLine::PeerParity() const {
  std::lock_guard<std::mutex> lock(state_->Mutex);
  return state_->Rx[kPeer].Line.Parity;
}

void SimLine::PeerWrite(const std::uint8_t* Bytes, int Count) {
  PeerWriteWithParity(Bytes, Count, '\0');  // not a parity letter: the peer's own
}

void SimLine::PeerWrite(const std::vector<std::uint8_t>& Bytes) {
  PeerWrite(Bytes.data(), static_cast<int>(Bytes.size()));
}

void SimLine::PeerWriteWithParity(const std::uint8_t* Bytes, int Count, char Parity) {
  if (Bytes == nullptr || Count <= 0) return;
  std::unique_lock<std::mutex> lock(state_->Mutex);
  State& s = *state_;
  char parity = Upper(Parity);
  if (!ValidParity(parity)) parity = s.Rx[kPeer].Line.Parity;
  const auto taps = s.Transmit(kPeer, Bytes, Count, parity);
  s.CallTaps(lock, taps);
}

TimePoint SimLine::PeerTransmitEnd() const {
  std::lock_guard<std::mutex> lock(state_->Mutex);
  return std::max(state_->Tx[kPeer].LastEnd, Now());
}

bool SimLine::PeerRead(TSimByte& Byte, TimePoint Deadline) {
  std::unique_lock<std::mutex> lock(state_->Mutex);
  State& s = *state_;
  for (;;) {
    const TimePoint now = Now();
    s.Settle(kPeer, now);
    auto& arrived = s.Rx[kPeer].Arrived;
    if (!arrived.empty()) {
      Byte = arrived.front();
      arrived.pop_front();
      return true;
    }
    if (now >= Deadline) return false;
    const std::uint64_t seen = s.Changes;
    s.Changed.WaitUntil(lock, std::min(Deadline, s.NextArrival(kPeer)),
                        [&] { return s.Changes != seen; });
  }
}

bool SimLine::PeerTryRead(TSimByte& Byte) {
  return PeerRead(Byte, TimePoint::min());
}

void SimLine::PeerPurge() {
  std::lock_guard<std::mutex> lock(state_->Mutex);
  const TimePoint now = Now();
  state_->PurgeInput(kPeer, now);
  state_->PurgeOutput(kPeer, now);
  state_->Notify();
}

bool SimLine::PortRts() const {
  std::lock_guard<std::mutex> lock(state_->Mutex);
  return state_->PortOpen && state_->Rx[kPort].Line.RtsEnabled;
}

bool SimLine::PortDtr() const {
  std::lock_guard<std::mutex> lock(state_->Mutex);
  return state_->PortOpen && state_->Rx[kPort].Line.DtrEnabled;
}

bool SimLine::PortBreak() const {
  std::lock_guard<std::mutex> lock(state_->Mutex);
  return state_->PortOpen && state_->PortBreak;
}

bool SimLine::PortOpen() const {
  std::lock_guard<std::mutex> lock(state_->Mutex);
  return state_->PortOpen;
}

std::uint64_t SimLine::PeerWait(std::uint64_t Seen, TimePoint Deadline) {
  std::unique_lock<std::mutex> lock(state_->Mutex);
  State& s = *state_;
  for (;;) {
    const TimePoint now = Now();
    s.Settle(kPeer, now);
    if (s.Activity != Seen || now >= Deadline) return s.Activity;
    const std::uint64_t seen = s.Changes;
    s.Changed.WaitUntil(lock, std::min(Deadline, s.NextArrival(kPeer)),
                        [&] { return s.Changes != seen; });
  }
}

void SimLine::Wake() {
  std::lock_guard<std::mutex> lock(state_->Mutex);
  ++state_->Activity;
  state_->Notify();
}

void SimLine::SetBusMode(bool On) {
  std::lock_guard<std::mutex> lock(state_->Mutex);
  state_->BusMode = On;
}

void SimLine::SetLoopback(bool On) {
  std::lock_guard<std::mutex> lock(state_->Mutex);
  state_->Loopback = On;
}

void SimLine::SetRtsKeysTransmitter(bool On) {
  std::lock_guard<std::mutex> lock(state_->Mutex);
  state_->RtsKeysTransmitter = On;
}

void SimLine::Unplug() {
  std::lock_guard<std::mutex> lock(state_->Mutex);
  State& s = *state_;
  if (!s.Plugged) return;
  s.Plugged = false;
  if (s.PortOpen) {
    s.PortOpen = false;
    s.PortBreak = false;
    ++s.Activity;
  }
  // What was on its way through the cable is lost with it.
  const TimePoint now = Now();
  s.Settle(kPeer, now);
  auto& to_peer = s.Rx[kPeer].InFlight;
  to_peer.erase(std::remove_if(to_peer.begin(), to_peer.end(),
                               [](const TWireRef& w) { return w->Sender == kPort; }),
                to_peer.end());
  for (const TWireRef& w : s.Tx[kPort].Queue)
    if (w->End > now) w->Core->Cancelled = true;
  s.Tx[kPort].Queue.clear();
  s.Tx[kPort].LastEnd = now;
  s.Rx[kPort].InFlight.clear();
  s.Rx[kPort].Arrived.clear();
  s.Notify();
}

void SimLine::Replug() {
  std::lock_guard<std::mutex> lock(state_->Mutex);
  state_->Plugged = true;
  state_->Notify();
}

bool SimLine::Plugged() const {
  std::lock_guard<std::mutex> lock(state_->Mutex);
  return state_->Plugged;
}

void SimLine::SetCorruption(double Probability, std::uint32_t Seed) {
  std::lock_guard<std::mutex> lock(state_->Mutex);
  state_->Corruption = Probability;
  state_->Random.seed(Seed);
}

std::vector<SimLine::TCorruption> SimLine::TakeCorruptions() {
  std::lock_guard<std::mutex> lock(state_->Mutex);
  std::vector<TCorruption> taken;
  taken.swap(state_->Corruptions);
  return taken;
}

void SimLine::SetTap(TapFunction Tap) {
  std::lock_guard<std::mutex> lock(state_->Mutex);
  state_->Tap = std::move(Tap);
}

namespace {

struct TRegistry {
  std::mutex Mutex;
  std::map<std::uint8_t, std::shared_ptr<SimLine>> Lines;
};

TRegistry& Registry() {
  static TRegistry registry;
  return registry;
}

}  // namespace

void SimPortRegistry::Bind(std::uint8_t Port, std::shared_ptr<SimLine> Line) {
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> lock(r.Mutex);
  if (Line) {
    r.Lines[Port] = std::move(Line);
  } else {
    r.Lines.erase(Port);
  }
}

void SimPortRegistry::Unbind(std::uint8_t Port) {
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> lock(r.Mutex);
  r.Lines.erase(Port);
}

void SimPortRegistry::UnbindAll() {
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> lock(r.Mutex);
  r.Lines.clear();
}

std::shared_ptr<SimLine> SimPortRegistry::Find(std::uint8_t Port) {
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> lock(r.Mutex);
  const auto it = r.Lines.find(Port);
  return it == r.Lines.end() ? nullptr : it->second;
}

}  // namespace zo
