// The DL2 driver against a simulated line whose peer side the test drives as the adapter, on the
// virtual clock: idle ticks and hold-offs are counted exactly, however busy the machine is.
#include <gtest/gtest.h>

#include <future>
#include <random>
#include <utility>
#include <vector>

#include "drivers/DL2DRV.h"
#include "drivers/SimpleDL2Drv.h"
#include "serial/SimLine.h"
#include "tests/support/VirtualClock.h"

namespace zo {
namespace {

using Bytes = std::vector<std::uint8_t>;

// [N, body, plain checksum]; `Leds` flags the last two body bytes as LED bytes.
Bytes Framed(const Bytes& Body, bool Leds = false) {
  Bytes f{static_cast<std::uint8_t>(Body.size() | (Leds ? 0x80 : 0))};
  f.insert(f.end(), Body.begin(), Body.end());
  unsigned sum = 0;
  for (std::uint8_t b : f)
    sum += b;
  f.push_back(static_cast<std::uint8_t>(-sum));
  return f;
}

struct TestDL2Driver : TDL2Driver {
  TestDL2Driver(TRS232o* Port, std::uint8_t Mode) : TDL2Driver(Port, Mode, false) {
    StartDriverThread();
  }
  void SetSeqCounter(std::uint8_t Value) { SeqCounter.store(Value); }
};

using Reply = std::pair<bool, TBusFrame>;

class DL2Driver : public ::testing::Test {
 protected:
  void Start(std::uint8_t Mode = 1, std::int32_t Baud = DL2Baud, bool Simple = false) {
    line_ = SimLine::Create("dl2-driver-test");
    line_->PeerSetLine(Baud, 'N');
    auto* port = new TRS232o;
    ASSERT_TRUE(port->OpenBackend(line_->OpenPortSide(), 1, Baud, 'N', 1024, 1024));
    if (Simple)
      driver_ = new TSimpleDL2Driver(port, Mode);
    else
      driver_ = test_driver_ = new TestDL2Driver(port, Mode);
  }
  void TearDown() override {
    if (driver_) driver_->SafeTerminate(true, true, true);
  }

  // The next frame the PC sends, as the adapter hears it; empty when none comes within 1 s.
  Bytes PcFrame() {
    Bytes f;
    TSimByte b;
    const TimePoint deadline = DeadlineAfter(1000);
    while (line_->PeerRead(b, deadline)) {
      if (f.empty() && (b.Value & 0x7F) > 17) continue;
      f.push_back(b.Value);
      if (f.size() == (f[0] & 0x7Fu) + 2u) return f;
    }
    return {};
  }
  void Send(const Bytes& Wire) { line_->PeerWrite(Wire); }

  // A Request on a client thread, while the test answers as the adapter.
  std::future<Reply> Request(TBusFrame Frame) {
    return test::StartClientCall(clock_, [this, Frame]() mutable {
      const bool ok = driver_->Request(Frame);
      return Reply{ok, Frame};
    });
  }
  // Another call of the driver's on a client thread.
  template <class Call>
  auto OnClient(Call Body) {
    return test::StartClientCall(clock_, Body);
  }
  void WaitReceived(std::uint32_t Count) {
    for (int i = 0; i < 2000 && driver_->BytesReceived() < Count; ++i)
      Delay(2);
    ASSERT_GE(driver_->BytesReceived(), Count);
  }
  template <class Pred>
  bool WaitUntil(Pred Condition, int Ms = 2000) {
    for (int i = 0; i < Ms / 5 && !Condition(); ++i)
      Delay(5);
    return Condition();
  }

  test::VirtualClock clock_{60};  // first: it outlives every thread of the test
  std::shared_ptr<SimLine> line_;
  TDL2Driver* driver_ = nullptr;
  TestDL2Driver* test_driver_ = nullptr;
};

void ExpectReply(std::future<Reply>& Pending, Bytes Expected) {
  const Reply r = test::AwaitClientCall(Pending);
  ASSERT_TRUE(r.first);
  EXPECT_EQ((Bytes{r.second[0], r.second[1], r.second[2]}), Expected);
}

TEST_F(DL2Driver, RequestsGoOutAddressedAndOnlyTheMatchingReplyIsTaken) {
  Start();
  auto r = Request({5, 0, 0, 0xFF});
  EXPECT_EQ(PcFrame(), (Bytes{0x05, 0x00, 0x05, 0x00, 0x00, 0x01, 0xE5}));
  Send({0x05, 0x00, 0x01, 0x82, 0x04, 0x51, 0x23});
  ExpectReply(r, {0x82, 0x04, 0x51});

  r = Request({7, 0x23, 0, 1});
  EXPECT_EQ(PcFrame(), (Bytes{0x05, 0x01, 0x07, 0x23, 0x00, 0x02, 0x6C}));
  Send(Framed({0x00, 0x02, 0x84, 0x66, 0x66}));  // another device
  Send(Framed({0x01, 0x03, 0x84, 0x77, 0x77}));  // another sequence number
  Send(Framed({0xFF, 'W', 0x88, 0x88, 0x88}));   // a 'W' answer, tag 0: skipped
  Send(Framed({0x01, 0x02, 0x84, 0x10, 0x00}));
  ExpectReply(r, {0x84, 0x10, 0x00});
}

TEST_F(DL2Driver, SequenceNumbersWrapAndAnAddressFrom20IsNotCounted) {
  Start();
  test_driver_->SetSeqCounter(248);
  for (std::uint8_t seq : {249, 0, 1}) {
    auto r = Request({5, 0, 0, 0xFF});
    const Bytes pc = PcFrame();
    ASSERT_EQ(pc.size(), 7u);
    EXPECT_EQ(pc[5], seq);
    Send(Framed({0x00, seq, 0x82, seq, 0x00}));
    ExpectReply(r, {0x82, seq, 0x00});
  }
  auto r = Request({5, 0, 0, 0x20});
  const Bytes pc = PcFrame();
  ASSERT_EQ(pc.size(), 7u);
  EXPECT_EQ(pc[1], 0x20);
  EXPECT_EQ(pc[5], 2);
  Send(Framed({0x20, 0x02, 0x82, 0x01, 0x00}));  // cannot match
  EXPECT_FALSE(test::AwaitClientCall(r).first);
  EXPECT_EQ(driver_->GetSeqCounter(), 1);
  r = Request({5, 0, 0, 0});
  EXPECT_EQ(PcFrame().at(5), 2);  // the number is given again
  Send(Framed({0x00, 0x02, 0x82, 0x05, 0x00}));
  ExpectReply(r, {0x82, 0x05, 0x00});
}

TEST_F(DL2Driver, RepliesQueueWholeGroupsOnlyAndLedBytesAreTakenOff) {
  Start();
  auto r = Request({5, 0, 0, 0xFF});
  PcFrame();
  Send(Framed({0x00, 0x01, 0x82, 0x04, 0x51, 0x83, 0x71, 0x01}));  // two groups
  ExpectReply(r, {0x82, 0x04, 0x51});
  TBusFrame f{};
  // The second, same tag, left for the next Request to flush. The Request may return as soon as
  // the first group is queued, before the driver thread has queued the second.
  bool got = false;
  ASSERT_TRUE(WaitUntil([&] { return got = got || driver_->GetFrame(f); }));
  EXPECT_EQ((Bytes{f[0], f[1], f[2]}), (Bytes{0x83, 0x71, 0x01}));

  r = Request({5, 0, 0, 0xFF});
  PcFrame();
  // One group, two bytes of a partial one, and the LED bytes.
  Send(Framed({0x00, 0x02, 0x82, 0x01, 0x02, 0x83, 0x05, 0x21, 0x05}, true));
  ExpectReply(r, {0x82, 0x01, 0x02});
  EXPECT_FALSE(driver_->GetFrame(f));
  EXPECT_EQ(driver_->LedOn(), 0x21);
  EXPECT_EQ(driver_->LedBlink(), 0x05);

  // LED bytes flagged on a one-byte body: dropped, the LED state stays.
  const Bytes short_led = Framed({0x33}, true);
  const std::uint32_t before = driver_->BytesReceived();
  Send(short_led);
  Send(Framed({0x30, 0x01}));
  WaitReceived(before + short_led.size() + 4);
  EXPECT_EQ(driver_->LedOn(), 0x21);
  EXPECT_EQ(driver_->LedBlink(), 0x05);
}

TEST_F(DL2Driver, ModeTwoWrapsRequestsInWAndTakesTheAnswerUnmatched) {
  Start(2);
  auto r = Request({5, 0, 0, 3});
  EXPECT_EQ(PcFrame(), (Bytes{0x05, 0xFF, 0x57, 0x05, 0x00, 0x00, 0xA0}));
  Send(Framed({0xFF, 'W', 0x82, 0x04, 0x51}));
  ExpectReply(r, {0x82, 0x04, 0x51});
  TBusFrame w{7, 1, 0xFF, 0};
  auto sent = OnClient([&] { return driver_->Send(w); });
  EXPECT_EQ(PcFrame(), (Bytes{0x06, 0xFF, 0x57, 0x07, 0x01, 0xFF, 0x00, 0x9D}));
  EXPECT_TRUE(test::AwaitClientCall(sent));
}

TEST_F(DL2Driver, PanelCommandsInModeOne) {
  Start();
  auto answer_s = [&] {
    Bytes pc = PcFrame();
    Send(Framed({0xFF, 'S'}));
    return pc;
  };
  auto state = OnClient([&] { return driver_->SetState(4); });
  EXPECT_EQ(answer_s(), (Bytes{0x08, 0xFF, 0x53, 0x04, 0x00, 0xFF, 0x01, 0x0A, 0x00, 0x98}));
  EXPECT_TRUE(test::AwaitClientCall(state));
  for (auto [value, expect] : {std::pair<int, Bytes>{80, {0x04, 0x80, 0x10}},
                               {0, {0x04, 0x80, 0xFF}},  // the level stays
                               {159, {0x04, 0xFF, 0x10}}}) {
    auto level = OnClient([&] { return driver_->SetLevel(value); });
    const Bytes pc = answer_s();
    ASSERT_EQ(pc.size(), 10u);
    EXPECT_EQ((Bytes{pc[3], pc[4], pc[5]}), expect) << "SetLevel(" << value << ")";
    EXPECT_TRUE(test::AwaitClientCall(level));
  }

  for (int expect : {1, 0, 1}) {  // the blinking LED (B bit 5 -> result bit 0) alternates
    auto leds = OnClient([&] { return driver_->GetLedState(); });
    EXPECT_EQ(PcFrame(), (Bytes{0x02, 0xFF, 0x4C, 0xB3}));
    Send(Framed({0xFF, 'L', 0x00, 0x20}));
    EXPECT_EQ(test::AwaitClientCall(leds), expect);
  }
}

TEST_F(DL2Driver, HoldoffsAreCountedInIdleTicks) {
  Start();
  // 60 bytes that cannot start a frame keep the line busy while the frame is put.
  auto transmit_after = [&](const Bytes& Tail) -> std::uint32_t {
    Bytes stream(60, 0x7F);
    stream.insert(stream.end(), Tail.begin(), Tail.end());
    const std::uint32_t end = driver_->BytesReceived() + static_cast<std::uint32_t>(stream.size());
    const std::uint32_t sent = driver_->Transmissions();
    Send(stream);
    EXPECT_TRUE(driver_->PutFrame({3, 3, 0, 0}));
    EXPECT_LT(driver_->BytesReceived(), end) << "the frame was put after the stream ended";
    EXPECT_FALSE(PcFrame().empty());
    EXPECT_TRUE(WaitUntil([&] { return driver_->Transmissions() > sent; }));
    return driver_->IdleTicksBeforeLastTx();
  };
  Bytes garbled = Framed({0x30, 0x01, 0x02});
  garbled.back() ^= 0x01;
  EXPECT_EQ(transmit_after(Framed({0x30, 0x01, 0x02})), 1u);  // after a checksum-valid frame
  EXPECT_EQ(transmit_after(garbled), 21u);                    // after 20 idle ticks

  TBusFrame f{3, 3, 0, 0};
  const std::uint32_t sent = driver_->Transmissions();
  ASSERT_TRUE(driver_->Send(f));
  ASSERT_TRUE(driver_->PutFrame(f));  // right behind the PC's own transmission
  EXPECT_TRUE(WaitUntil([&] { return driver_->Transmissions() == sent + 2; }));
  EXPECT_EQ(driver_->IdleTicksBeforeLastTx(), 7u);
}

TEST_F(DL2Driver, RestartSendsTheStartSequenceAndOnlyAVAnswerEndsModeZero) {
  Start(0);  // the constructor restarts the adapter
  std::vector<std::int32_t> bauds;
  TSimByte b;
  while (bauds.size() < 6 && line_->PeerRead(b, DeadlineAfter(1000)))
    bauds.push_back(b.SentBaud);
  EXPECT_EQ(bauds, (std::vector<std::int32_t>{115200, 115200, 115200, 115200, 115200, 19200}));
  EXPECT_EQ(driver_->GetMode(), 0);
  EXPECT_FALSE(driver_->PutFrame({5, 0, 0, 0xFF}));
  Send(Framed({0xFF, 'V', 0x86, 0x3E, 0x11, 0x00}));  // heard at 2400 baud again
  EXPECT_TRUE(WaitUntil([&] { return driver_->GetMode() == 1; }));
  Send(Framed({0xFF, 'V', 0x86, 0x3E, 0x11, 0x00, 'W'}));
  EXPECT_TRUE(WaitUntil([&] { return driver_->GetMode() == 2; }));
}

TEST_F(DL2Driver, TheAdaptersEchoOfTheRequestIsNeverTakenAsItsReply) {
  Start();
  // Address 0, data low $09, sequence number 7: Swap terms $00 + $90 + $70, so the echo passes
  // the plain checksum, and command 7 equals the sequence number.
  for (bool device_answers : {false, true}) {
    test_driver_->SetSeqCounter(6);
    auto r = Request({7, 0x09, 0x00, 0x00});
    const Bytes pc = PcFrame();
    EXPECT_EQ(pc, (Bytes{0x05, 0x00, 0x07, 0x09, 0x00, 0x07, 0xE4}));
    Send(pc);
    if (device_answers) {
      Send(Framed({0x00, 0x07, 0x84, 0x34, 0x12}));
      ExpectReply(r, {0x84, 0x34, 0x12});
    } else {
      EXPECT_FALSE(test::AwaitClientCall(r).first);
    }
  }
}

TEST_F(DL2Driver, SimpleDriverSendsEveryRequestToTheDefaultAddress) {
  Start(1, DL2Baud, true);
  auto address_of = [&](TBusFrame f) {
    EXPECT_TRUE(driver_->PutFrame(f));
    return PcFrame().at(1);
  };
  EXPECT_EQ(address_of({7, 0x10, 0, 3}), 0);
  driver_->SetAddress(3);
  EXPECT_EQ(address_of({7, 0x10, 0, 3}), 3);
  EXPECT_EQ(address_of({7, 0x10, 0, 0xFF}), 3);
  EXPECT_EQ(address_of({7, 0x10, 0, 9}), 3);
}

TEST_F(DL2Driver, NoiseAndBrokenRepliesQueueNothing) {
  Start(1, 115200);
  auto r = Request({5, 0, 0, 0xFF});  // last request: address 0, sequence number 1
  PcFrame();
  Send(Framed({0x00, 0x01, 0x82, 0x00, 0x00}));
  ASSERT_TRUE(test::AwaitClientCall(r).first);
  std::uint32_t total = driver_->BytesReceived();

  std::mt19937 rng(20240611);
  auto any = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  // Broken look-alikes of a reply to that request: a driver that queued any would show it.
  auto send_at = [&](const Bytes& Wire, std::int32_t Baud) {
    line_->PeerSetLine(Baud, 'N');
    Send(Wire);
    total += static_cast<std::uint32_t>(Wire.size());
  };
  while (total < 5000u) {
    Bytes body{0x00, 0x01};
    for (int i = any(0, 15); i > 0; --i)
      body.push_back(static_cast<std::uint8_t>(any(0, 255)));
    Bytes wire = Framed(body, any(0, 3) == 0 && body.size() >= 4);
    switch (any(0, 4)) {
      case 0:  // random bytes
        for (auto& b : wire)
          b = static_cast<std::uint8_t>(any(0, 255));
        send_at(wire, 115200);
        break;
      case 1:  // bad checksum
        wire.back() = static_cast<std::uint8_t>(wire.back() + any(1, 255));
        send_at(wire, 115200);
        break;
      case 2:  // truncated, then a byte at a wrong speed
        wire.resize(static_cast<std::size_t>(any(1, static_cast<int>(wire.size()) - 1)));
        send_at(wire, 115200);
        send_at({0x55}, 9600);
        break;
      case 3:  // one byte at a wrong speed inside it
        send_at(Bytes(wire.begin(), wire.begin() + 2), 115200);
        send_at({wire[2]}, 19200);
        send_at(Bytes(wire.begin() + 3, wire.end()), 115200);
        break;
      default:  // a valid frame whose groups do not fill 3 bytes
        send_at(Framed({0x00, 0x01, 0x82, 0x04}), 115200);
        send_at(Framed({0x00, 0x01, 0x83}), 115200);
        break;
    }
  }
  send_at({0x00}, 9600);  // resynchronise
  send_at(Framed({0x00, 0x01, 0x84, 0x5A, 0xA5}), 115200);
  WaitReceived(total);
  TBusFrame f{};
  ASSERT_TRUE(driver_->GetFrame(f));
  EXPECT_EQ((Bytes{f[0], f[1], f[2]}), (Bytes{0x84, 0x5A, 0xA5}));
  EXPECT_FALSE(driver_->GetFrame(f));
}

}  // namespace
}  // namespace zo
