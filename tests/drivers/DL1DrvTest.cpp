// The DL1 driver: its receive path fed byte by byte with exact error flags by a scripted port,
// and its transmitter and receiver on the simulated line with the test as the other station.
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <mutex>
#include <random>
#include <utility>
#include <vector>

#include "drivers/DL1Drv.h"
#include "serial/RS232o.h"
#include "serial/SerialBackend.h"
#include "serial/SimLine.h"
#include "tests/support/VirtualClock.h"
#include "threads/Clock.h"

namespace zo {
namespace {

struct TRxIn {
  std::uint8_t Value;
  std::uint32_t Errors;
};

TRxIn M(std::uint8_t v) {
  return {v, ceRxParity};  // the ninth bit, as a port at space parity reports it
}
TRxIn S(std::uint8_t v) {
  return {v, 0};
}

// What the test shares with the port it gave away: the bytes still to be read, and how many reads
// found the line idle.
struct TScript {
  std::mutex mutex;
  Condition changed;
  std::deque<TRxIn> input;
  std::uint32_t errors = 0;
  int empty_reads = 0;
  int feed_mark = 0;
  std::uint32_t read_ms = 100;
  bool echo = false;                      // written bytes come back at once
  std::deque<std::uint32_t> echo_errors;  // error flags for the next echoed bytes
  std::deque<std::uint8_t> echo_changes;  // bits flipped in the next echoed bytes
};

// A port whose received bytes come from the test; written bytes are echoed only when asked.
class ScriptedBackend final : public SerialBackend {
 public:
  explicit ScriptedBackend(std::shared_ptr<TScript> Script) : s_(std::move(Script)) {}
  bool GetLine(TLineSettings& Line) override {
    Line = line_;
    return true;
  }
  bool SetLine(const TLineSettings& Line) override {
    line_ = Line;
    return true;
  }
  bool SetTimeouts(const TTimeouts& Timeouts) override {
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->read_ms = Timeouts.ReadMultiplier;
    return true;
  }
  bool SetQueueSizes(int, int) override { return true; }
  int Read(std::uint8_t* Buffer, int Count) override {
    std::unique_lock<std::mutex> lock(s_->mutex);
    const TimePoint deadline = DeadlineAfter(static_cast<long long>(s_->read_ms) * Count);
    int n = 0;
    while (n < Count && s_->changed.WaitUntil(lock, deadline, [&] { return !s_->input.empty(); })) {
      Buffer[n++] = s_->input.front().Value;
      s_->errors |= s_->input.front().Errors;
      s_->input.pop_front();
    }
    if (n == 0) {
      ++s_->empty_reads;
      s_->changed.NotifyAll();
    }
    return n;
  }
  int Write(const std::uint8_t* Buffer, int Count) override {
    std::lock_guard<std::mutex> lock(s_->mutex);
    for (int i = 0; s_->echo && i < Count; ++i) {
      std::uint32_t e = 0;
      if (!s_->echo_errors.empty()) {
        e = s_->echo_errors.front();
        s_->echo_errors.pop_front();
      }
      std::uint8_t change = 0;
      if (!s_->echo_changes.empty()) {
        change = s_->echo_changes.front();
        s_->echo_changes.pop_front();
      }
      s_->input.push_back({static_cast<std::uint8_t>(Buffer[i] ^ change), e});
    }
    s_->changed.NotifyAll();
    return Count;
  }
  std::uint32_t TakeErrors() override {
    std::lock_guard<std::mutex> lock(s_->mutex);
    return std::exchange(s_->errors, 0u);
  }
  bool Purge() override {
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->input.clear();
    return true;
  }
  bool SetBreak(bool) override { return true; }
  bool SetRts(bool) override { return true; }
  bool SetDtr(bool) override { return true; }
  std::string Describe() const override { return "scripted"; }

 private:
  std::shared_ptr<TScript> s_;
  TLineSettings line_;
};

// A TDL1Driver on a scripted port, stopped in order at the end of the test.
class DL1Scripted : public ::testing::Test {
 protected:
  void SetUp() override {
    auto port = std::make_unique<TRS232o>();
    ASSERT_TRUE(
        port->OpenBackend(std::make_unique<ScriptedBackend>(script_), 1, 1200, 'N', 1024, 1024));
    driver_ = new TDL1Driver(port.release());
  }
  void TearDown() override {
    if (driver_) driver_->SafeTerminate(true, true, true);
  }

  // Hands the bytes to the port and waits until the driver has read all of them and then found
  // the line idle, so that every frame they hold has been queued.
  void Feed(const std::vector<TRxIn>& bytes) {
    std::unique_lock<std::mutex> lock(script_->mutex);
    script_->input.insert(script_->input.end(), bytes.begin(), bytes.end());
    script_->feed_mark = script_->empty_reads;
    script_->changed.NotifyAll();
    ASSERT_TRUE(script_->changed.WaitUntil(lock, DeadlineAfter(10000), [&] {
      return script_->input.empty() && script_->empty_reads > script_->feed_mark;
    }));
  }

  std::vector<std::array<std::uint8_t, 3>> Queued() {
    std::vector<std::array<std::uint8_t, 3>> frames;
    TBusFrame f{};
    while (driver_->GetFrame(f))
      frames.push_back({f[0], f[1], f[2]});
    return frames;
  }

  std::shared_ptr<TScript> script_ = std::make_shared<TScript>();
  TDL1Driver* driver_ = nullptr;
};

using Frames = std::vector<std::array<std::uint8_t, 3>>;

TEST_F(DL1Scripted, OnlyAMarkedByteStartsAFrameAndAMarkedByteAlwaysRestartsOne) {
  // An unmarked frame is ignored; the marked one right behind it is taken.
  Feed({S(0x82), S(0x04), S(0x51), S(0x29), M(0x82), S(0x04), S(0x51), S(0x29)});
  EXPECT_EQ(Queued(), (Frames{{0x82, 0x04, 0x51}}));
  // A marked byte as the third byte of a frame starts a new frame with it as byte 0.
  Feed({M(0x10), S(0x20), M(0x83), S(0x71), S(0x01), S(0x0B)});
  EXPECT_EQ(Queued(), (Frames{{0x83, 0x71, 0x01}}));
  // A marked byte as the fourth byte too (here it would also have completed a good sum).
  Feed({M(0x81), S(0x00), S(0x00), M(0x7F), S(0x01), S(0x00), S(0x80)});
  EXPECT_EQ(Queued(), (Frames{{0x7F, 0x01, 0x00}}));
}

TEST_F(DL1Scripted, FramesWithABadSumAnErrorOrAnIdleGapAreNotQueued) {
  Feed({M(0x81), S(0x01), S(0x00), S(0x7F)});  // sum 1
  Feed({M(0x81), S(0x01), {0x00, ceFrame}, S(0x7E)});
  Feed({M(0x81), S(0x01), {0x00, ceRxParity | ceOverrun}, S(0x7E)});
  Feed({{0x81, ceRxParity | ceFrame}, S(0x01), S(0x00), S(0x7E)});  // a garbled start
  EXPECT_TRUE(Queued().empty());
  // An idle tick between the bytes of a frame ends it.
  Feed({M(0x81), S(0x01)});
  Feed({S(0x00), S(0x7E)});
  EXPECT_TRUE(Queued().empty());
  // The receiver is back in step for the next good frame; $FF and $00 are plain data.
  Feed({M(0xFF), S(0x00), S(0xFF), S(0x02)});
  EXPECT_EQ(Queued(), (Frames{{0xFF, 0x00, 0xFF}}));
}

TEST_F(DL1Scripted, AnEchoWithAnErrorFlagOrAnotherValueAbortsTheFrame) {
  {
    std::lock_guard<std::mutex> lock(script_->mutex);
    script_->echo = true;
    script_->echo_errors = {0, ceFrame};  // the echo of byte 1 comes back garbled
  }
  TBusFrame f{5, 0, 0, 0xFF};
  EXPECT_FALSE(driver_->Send(f));
  EXPECT_TRUE(driver_->TxFailed());
  EXPECT_TRUE(driver_->Send(f));  // the next echoes are clean
  EXPECT_FALSE(driver_->TxFailed());
  {
    std::lock_guard<std::mutex> lock(script_->mutex);
    script_->echo_changes = {0, 0, 0x01};  // byte 2 comes back as another value, without error
  }
  EXPECT_FALSE(driver_->Send(f));
  EXPECT_TRUE(driver_->TxFailed());
  EXPECT_TRUE(Queued().empty());
}

// The frames a stream must yield: every 4-byte window whose first byte carries the ninth bit and
// no other error, whose other bytes carry no error at all, and whose sum is 0.
Frames ValidWindows(const std::vector<TRxIn>& bytes) {
  Frames frames;
  for (std::size_t i = 0; i + 4 <= bytes.size(); ++i) {
    if (bytes[i].Errors != ceRxParity) continue;
    bool clean = true;
    std::uint8_t sum = bytes[i].Value;
    for (std::size_t k = 1; k < 4; ++k) {
      clean = clean && bytes[i + k].Errors == 0;
      sum = static_cast<std::uint8_t>(sum + bytes[i + k].Value);
    }
    if (clean && sum == 0)
      frames.push_back({bytes[i].Value, bytes[i + 1].Value, bytes[i + 2].Value});
  }
  return frames;
}

TEST_F(DL1Scripted, SeededNoiseYieldsExactlyTheValidFramesItHolds) {
  std::mt19937 random(20240517);
  std::uniform_int_distribution<int> byte(0, 255), percent(0, 99);
  const std::uint32_t kErrors[] = {ceFrame,  ceRxParity | ceFrame, ceOverrun,
                                   ceRxOver, ceBreak | ceFrame,    ceRxParity | ceOverrun};
  int total_bytes = 0;
  int total_frames = 0;
  for (int chunk = 0; chunk < 120; ++chunk) {
    std::vector<TRxIn> bytes;
    while (bytes.size() < 32) {
      if (percent(random) < 25) {
        // A good frame, sometimes damaged in one byte's value or flags.
        const auto a = static_cast<std::uint8_t>(byte(random));
        const auto b = static_cast<std::uint8_t>(byte(random));
        const auto c = static_cast<std::uint8_t>(byte(random));
        std::vector<TRxIn> f = {M(a), S(b), S(c), S(static_cast<std::uint8_t>(0 - a - b - c))};
        if (percent(random) < 40) {
          TRxIn& hit = f[static_cast<std::size_t>(percent(random) % 4)];
          if (percent(random) < 50)
            hit.Value ^= static_cast<std::uint8_t>(1 << (percent(random) % 8));
          else
            hit.Errors = kErrors[percent(random) % 6];
        }
        bytes.insert(bytes.end(), f.begin(), f.end());
      } else {
        const int p = percent(random);
        const std::uint32_t e = p < 55 ? 0 : p < 80 ? ceRxParity : kErrors[p % 6];
        bytes.push_back({static_cast<std::uint8_t>(byte(random)), e});
      }
    }
    Feed(bytes);
    const Frames expected = ValidWindows(bytes);
    ASSERT_EQ(Queued(), expected) << "chunk " << chunk;
    total_bytes += static_cast<int>(bytes.size());
    total_frames += static_cast<int>(expected.size());
  }
  EXPECT_GE(total_bytes, 3000);
  EXPECT_GT(total_frames, 100);  // the stream did exercise the good path
}

TEST(DL1Driver, OnAClosedPortTheDriverOnlyIdlesAndADirectDeleteIsSafe) {
  auto* driver = new TDL1Driver(new TRS232o());  // never opened
  EXPECT_TRUE(driver->PortClosed());
  EXPECT_EQ(driver->GetPortNumber(), 0);
  TBusFrame f{5, 0, 0, 0xFF};
  EXPECT_TRUE(driver->PutFrame(f));
  EXPECT_FALSE(driver->GetFrame(f));
  driver->SafeTerminate(true, true, true);
  delete new TDL1Driver(nullptr);
  // A driver freed directly, while its thread reads the port, stops the thread before the port
  // goes.
  auto line = SimLine::Create("dl1-delete");
  auto* port = new TRS232o();
  ASSERT_TRUE(port->OpenBackend(line->OpenPortSide(), 1, 1200, 'N', 1024, 1024));
  auto* open = new TDL1Driver(port);
  Delay(40);
  delete open;
  EXPECT_FALSE(line->PortOpen());
}

// --- On the simulated line ------------------------------------------------------------------

// One byte at 1200 baud with the ninth bit: start bit, 8 data bits, ninth bit, stop bit.
constexpr double kByteMs = 11 * 1000.0 / 1200;

struct TTapped {
  std::uint8_t Value;
  std::int32_t Baud;
  char Parity;
  TimePoint Start;
  bool Rts;  // the PC's RTS as the line showed it when the byte went out
};

// On the virtual clock: the bytes the test writes keep their spacing, and the driver's idle ticks
// and echo window hold exactly, however busy the machine is.
class DL1Line : public ::testing::Test {
 protected:
  test::VirtualClock clock_{60};  // first: it outlives the driver's thread

  void SetUp() override {
    line_->SetBusMode(true);
    line_->PeerSetLine(1200, 'S');
    line_->SetTap(
        [this](bool FromPort, std::uint8_t Value, std::int32_t Baud, char Parity, TimePoint Start) {
          const bool rts = line_->PortRts();
          std::lock_guard<std::mutex> lock(tap_mutex_);
          (FromPort ? from_port_ : from_peer_).push_back({Value, Baud, Parity, Start, rts});
        });
    auto port = std::make_unique<TRS232o>();
    ASSERT_TRUE(port->OpenBackend(line_->OpenPortSide(), 1, 1200, 'N', 1024, 1024));
    driver_ = new TDL1Driver(port.release());
  }
  void TearDown() override {
    if (driver_) driver_->SafeTerminate(true, true, true);
    line_->SetTap({});
  }

  // The bytes the PC put on the line so far, with its settings for each.
  std::vector<TTapped> FromPort() {
    std::lock_guard<std::mutex> lock(tap_mutex_);
    return from_port_;
  }

  // The next `n` bytes that reached the other station (fewer when they do not come within 2 s).
  std::vector<TSimByte> AtPeer(int n) {
    std::vector<TSimByte> bytes;
    TSimByte b;
    while (static_cast<int>(bytes.size()) < n && line_->PeerRead(b, DeadlineAfter(2000)))
      bytes.push_back(b);
    return bytes;
  }

  // Another station's frame: marked first byte, then the data and the checksum.
  void PeerFrame(std::uint8_t a, std::uint8_t b, std::uint8_t c) {
    const std::uint8_t bytes[4] = {a, b, c, static_cast<std::uint8_t>(0 - a - b - c)};
    line_->PeerWriteWithParity(&bytes[0], 1, 'M');
    line_->PeerWriteWithParity(&bytes[1], 3, 'S');
  }

  std::shared_ptr<SimLine> line_ = SimLine::Create("dl1-driver-test");
  TDL1Driver* driver_ = nullptr;
  std::mutex tap_mutex_;
  std::vector<TTapped> from_port_;
  std::vector<TTapped> from_peer_;
};

TEST_F(DL1Line, AFrameGoesOutMarkedIsCheckedByItsEchoAndIsNeverQueued) {
  TBusFrame f{2, 0, 0, 0xFF};
  const TimePoint before = Now();
  ASSERT_TRUE(driver_->Send(f));
  const TimePoint after = Now();
  EXPECT_FALSE(driver_->TxFailed());
  EXPECT_FALSE(line_->PortRts());  // cleared again after the transmission

  const std::vector<TSimByte> got = AtPeer(4);
  ASSERT_EQ(got.size(), 4u);
  const std::uint8_t expected[4] = {0x02, 0x00, 0x00, 0xFE};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(got[i].Value, expected[i]) << i;
    EXPECT_EQ(got[i].NinthBit, i == 0) << i;
    EXPECT_FALSE(got[i].FramingError) << i;
  }
  // Send holds its caller for 60 ms after the last echo has come back.
  const std::vector<TTapped> sent = FromPort();
  ASSERT_EQ(sent.size(), 4u);
  for (const TTapped& t : sent)
    EXPECT_TRUE(t.Rts);  // RTS set while transmitting
  const TimePoint last_echo =
      sent.back().Start + std::chrono::microseconds(static_cast<long long>(kByteMs * 1000));
  EXPECT_GE(MillisecondsBetween(last_echo, after), 59.9);
  EXPECT_GE(MillisecondsBetween(before, after), 4 * kByteMs + 59.9);

  // The echo of the PC's own frame is neither queued nor taken as a reply.
  TBusFrame r{};
  EXPECT_FALSE(driver_->GetFrame(r));
  TBusFrame q{5, 0, 0, 0xFF};
  EXPECT_FALSE(driver_->Request(q));
  EXPECT_EQ(q, (TBusFrame{5, 0, 0, 0xFF}));
}

TEST_F(DL1Line, AFrameStartsOnlyAfterAnIdleTickOnTheBus) {
  // Another station's bytes keep the bus busy for about 180 ms; the PC's frame must wait for 16 ms
  // of silence after them.
  const std::vector<std::uint8_t> busy(20, 0x55);
  line_->PeerWriteWithParity(busy.data(), static_cast<int>(busy.size()), 'S');
  TBusFrame f{3, 3, 0, 0xFF};
  ASSERT_TRUE(driver_->Send(f));
  const std::vector<TTapped> sent = FromPort();
  std::vector<TTapped> peer;
  {
    std::lock_guard<std::mutex> lock(tap_mutex_);
    peer = from_peer_;
  }
  ASSERT_FALSE(sent.empty());
  ASSERT_EQ(peer.size(), busy.size());
  const double quiet = MillisecondsBetween(peer.back().Start, sent.front().Start) - kByteMs;
  EXPECT_GE(quiet, DL1ReadTimeoutMs - 0.1);
}

TEST_F(DL1Line, AMissingEchoAbortsTheFrameAndTheDriverRecovers) {
  line_->SetBusMode(false);  // nothing comes back
  TBusFrame f{5, 0, 0, 0xFF};
  EXPECT_FALSE(driver_->Send(f));
  EXPECT_TRUE(driver_->TxFailed());
  EXPECT_FALSE(line_->PortRts());
  ASSERT_EQ(FromPort().size(), 1u);  // given up after the first byte's echo failed to come
  EXPECT_EQ(FromPort()[0].Parity, 'M');

  // Back at space parity: another station's marked frame is recognised.
  PeerFrame(0x82, 0x08, 0x00);
  TBusFrame r{};
  ASSERT_TRUE(driver_->WaitReceive(r));
  EXPECT_EQ(r[0], 0x82);
  EXPECT_EQ(r[1], 0x08);

  line_->SetBusMode(true);
  EXPECT_TRUE(driver_->Send(f));
  EXPECT_FALSE(driver_->TxFailed());
  const std::vector<TTapped> sent = FromPort();
  ASSERT_EQ(sent.size(), 5u);
  EXPECT_EQ(sent[1].Parity, 'M');
  for (std::size_t i = 2; i < 5; ++i)
    EXPECT_EQ(sent[i].Parity, 'S');
}

TEST_F(DL1Line, SeededNoiseAtMixedParityAndSpeedYieldsExactlyItsValidFrames) {
  std::mt19937 random(77);
  std::uniform_int_distribution<int> byte(0, 255), percent(0, 99);
  std::vector<TRxIn> stream;  // as the driver's port must see it
  auto put = [&](std::uint8_t v, char kind) {
    if (kind == 'F') {  // at the wrong speed: garbled, with a framing error
      line_->PeerSetLine(2400, 'S');
      line_->PeerWrite(&v, 1);
      line_->PeerSetLine(1200, 'S');
      stream.push_back({0xFF, ceFrame});
    } else {
      line_->PeerWriteWithParity(&v, 1, kind);
      stream.push_back(kind == 'M' ? M(v) : S(v));
    }
  };
  while (stream.size() < 400) {
    if (percent(random) < 30) {
      const auto a = static_cast<std::uint8_t>(byte(random));
      const auto b = static_cast<std::uint8_t>(byte(random));
      const auto c = static_cast<std::uint8_t>(byte(random));
      std::uint8_t f[4] = {a, b, c, static_cast<std::uint8_t>(0 - a - b - c)};
      char kinds[4] = {'M', 'S', 'S', 'S'};
      if (percent(random) < 40) {
        const int at = percent(random) % 4;
        const int how = percent(random) % 3;
        if (how == 0) f[at] ^= static_cast<std::uint8_t>(1 << (percent(random) % 8));
        if (how == 1) kinds[at] = kinds[at] == 'M' ? 'S' : 'M';
        if (how == 2) kinds[at] = 'F';
      }
      for (int k = 0; k < 4; ++k)
        put(f[k], kinds[k]);
    } else {
      const int p = percent(random);
      put(static_cast<std::uint8_t>(byte(random)), p < 65 ? 'S' : p < 90 ? 'M' : 'F');
    }
  }
  const std::uint8_t end[3] = {0xEE, 0x12, 0x34};
  PeerFrame(end[0], end[1], end[2]);
  for (TRxIn b :
       {M(end[0]), S(end[1]), S(end[2]), S(static_cast<std::uint8_t>(0 - 0xEE - 0x12 - 0x34))})
    stream.push_back(b);

  Frames got;
  const TimePoint deadline = DeadlineAfter(30000);
  while (Now() < deadline) {
    TBusFrame f{};
    if (!driver_->WaitReceive(f)) continue;
    got.push_back({f[0], f[1], f[2]});
    if (f[0] == end[0] && f[1] == end[1] && f[2] == end[2]) break;
  }
  EXPECT_EQ(got, ValidWindows(stream));
}

}  // namespace
}  // namespace zo
