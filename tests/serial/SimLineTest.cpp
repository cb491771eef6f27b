#include "serial/SimLine.h"

#include <gtest/gtest.h>

#include <bit>
#include <chrono>

#include "threads/Clock.h"

namespace zo {
namespace {

struct Line {
  explicit Line(std::int32_t Baud = 1200, char PortParity = 'N', char PeerParity = 'N',
                std::uint32_t ReadMs = 30) {
    line = SimLine::Create("test");
    port = line->OpenPortSide();
    port->SetLine({Baud, PortParity, false, false});
    TTimeouts t;
    t.ReadInterval = ReadMs;
    t.ReadMultiplier = ReadMs;
    port->SetTimeouts(t);
    line->PeerSetLine(Baud, PeerParity);
  }
  // One byte at the port, with the error bits that came with it; -1 for none.
  int PortByte(std::uint32_t& Errors) {
    std::uint8_t b = 0;
    const int n = port->Read(&b, 1);
    Errors = port->TakeErrors();
    return n == 1 ? b : -1;
  }
  TSimByte PeerByte() {
    TSimByte b;
    EXPECT_TRUE(line->PeerRead(b, DeadlineAfter(2000)));
    return b;
  }
  std::shared_ptr<SimLine> line;
  std::unique_ptr<SerialBackend> port;
};

TEST(SimLine, BytesTakeTheirWireTimeBackToBack) {
  Line l(9600, 'E', 'E');
  const std::uint8_t out[] = {1, 2, 3, 4};
  const TimePoint before = Now();
  EXPECT_EQ(l.port->Write(out, 4), 4);  // queued: returns before the bytes have left
  std::vector<TSimByte> got;
  for (int i = 0; i < 4; ++i)
    got.push_back(l.PeerByte());
  const auto byte_time = std::chrono::nanoseconds(11 * 1000000000LL / 9600);  // start+8+parity+stop
  EXPECT_GE(got[0].Arrival - before, byte_time);
  for (int i = 1; i < 4; ++i) {
    EXPECT_EQ(got[i].Arrival - got[i - 1].Arrival, byte_time);
    EXPECT_EQ(got[i].Value, i + 1);
    EXPECT_EQ(got[i].SentBaud, 9600);
  }
  EXPECT_GE(Now(), got[3].Arrival);  // a byte is readable only once its stop bit is in

  // The peer's transmission at 1200 baud without parity: 4 x 10 bits.
  const TimePoint start = Now();
  l.line->PeerSetLine(1200, 'N');
  l.line->PeerWrite({5, 6, 7, 8});
  const TimePoint end = l.line->PeerTransmitEnd();
  EXPECT_GE(end - start, std::chrono::nanoseconds(4 * 10 * 1000000000LL / 1200));
  EXPECT_LE(end - Now(), std::chrono::nanoseconds(4 * 10 * 1000000000LL / 1200));
}

TEST(SimLine, NinthBitAndParityErrors) {
  struct Case {
    char Sent, Received;
    std::uint8_t Value;
    bool Parity, Framing, Ninth;
  };
  const Case cases[] = {
      {'M', 'S', 0x05, true, false, true},    // the DL1's marked first byte
      {'S', 'S', 0x05, false, false, false},  // the following bytes
      {'M', 'M', 0x05, false, false, true},   // the sender's own setting
      {'E', 'O', 0x01, true, false, true},   {'E', 'E', 0x01, false, false, true},
      {'O', 'O', 0x03, false, false, true},  {'N', 'S', 0x05, true, false, true},  // stop bit
      {'N', 'M', 0x05, false, false, true},  {'S', 'N', 0x05, false, true, false},
      {'M', 'N', 0x05, false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "sent " << c.Sent << " received " << c.Received);
    Line l(1200, c.Received, c.Received);
    // Peer to port, checked through the port's error bits...
    l.line->PeerWriteWithParity(&c.Value, 1, c.Sent);
    std::uint32_t errors = 0;
    EXPECT_EQ(l.PortByte(errors), c.Value);
    EXPECT_EQ(errors, (c.Parity ? ceRxParity : 0u) | (c.Framing ? ceFrame : 0u));
    // ... and port to peer, through the decoded byte.
    l.port->SetLine({1200, c.Sent, false, false});
    l.port->Write(&c.Value, 1);
    const TSimByte b = l.PeerByte();
    EXPECT_EQ(b.Value, c.Value);
    EXPECT_EQ(b.ParityError, c.Parity);
    EXPECT_EQ(b.FramingError, c.Framing);
    EXPECT_EQ(b.NinthBit, c.Ninth);
  }
}

TEST(SimLine, AnotherBaudRateGarblesWithAFramingError) {
  Line l(2400);
  const std::uint8_t probe[] = {0x11, 'H'};
  std::uint32_t errors = 0;
  l.line->PeerSetLine(1200, 'N');  // slower sender: the receiver sees zeros
  l.line->PeerWrite(probe, 2);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(l.PortByte(errors), 0x00);
    EXPECT_EQ(errors, ceFrame);
  }
  l.line->PeerSetLine(9600, 'N');  // faster sender: ones
  l.line->PeerWrite(probe, 2);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(l.PortByte(errors), 0xFF);
    EXPECT_EQ(errors, ceFrame);
  }
  // The peer decodes what the port sends at its own speed in the same way.
  l.port->Write(probe, 1);
  const TSimByte b = l.PeerByte();
  EXPECT_EQ(b.Value, 0x00);
  EXPECT_TRUE(b.FramingError);
  EXPECT_EQ(b.SentBaud, 2400);
}

TEST(SimLine, BytesDecodeWithTheSettingsInForceOnArrival) {
  Line l(1200, 'S', 'M');
  const std::uint8_t early = 0x01;
  l.line->PeerWrite(&early, 1);
  SleepUntil(l.line->PeerTransmitEnd());
  // Arrived under space parity: reading it after the change to mark still shows the error.
  l.port->SetLine({1200, 'M', false, false});
  std::uint32_t errors = 0;
  EXPECT_EQ(l.PortByte(errors), 0x01);
  EXPECT_EQ(errors, ceRxParity);
  // Sent while the port is on mark, arriving after its change to space (110 ms of bytes).
  const std::uint8_t late[12] = {};
  l.line->PeerWrite(late, 12);
  l.port->SetLine({1200, 'S', false, false});
  for (int i = 0; i < 12; ++i)
    EXPECT_EQ(l.PortByte(errors), 0);
  EXPECT_EQ(errors, ceRxParity);  // the last byte surely came after the change
}

TEST(SimLine, ModemLinesBreakAndOpenStateReachThePeer) {
  Line l;
  std::uint64_t seen = l.line->PeerWait(0, Now());
  EXPECT_TRUE(l.line->PortOpen());
  EXPECT_FALSE(l.line->PortRts());
  l.port->SetRts(true);
  seen = l.line->PeerWait(seen, DeadlineAfter(2000));
  EXPECT_TRUE(l.line->PortRts());
  l.port->SetLine({1200, 'N', false, true});  // RTS negated, DTR asserted with the line settings
  EXPECT_FALSE(l.line->PortRts());
  EXPECT_TRUE(l.line->PortDtr());
  l.port->SetBreak(true);
  EXPECT_NE(l.line->PeerWait(seen, DeadlineAfter(2000)), seen);
  EXPECT_TRUE(l.line->PortBreak());
  EXPECT_EQ(l.line->OpenPortSide(), nullptr);  // exclusive
  l.port.reset();
  EXPECT_FALSE(l.line->PortOpen());
  EXPECT_FALSE(l.line->PortDtr());
  EXPECT_FALSE(l.line->PortBreak());
  EXPECT_NE(l.line->OpenPortSide(), nullptr);
}

TEST(SimLine, PeerWaitWakesOnArrivalAndOnWake) {
  Line l;
  const std::uint64_t seen = l.line->PeerWait(0, Now());
  EXPECT_EQ(l.line->PeerWait(seen, DeadlineAfter(20)), seen);  // nothing happened
  const std::uint8_t b = 0x42;
  l.port->Write(&b, 1);
  const std::uint64_t after = l.line->PeerWait(seen, DeadlineAfter(2000));
  EXPECT_NE(after, seen);
  TSimByte got;
  EXPECT_TRUE(l.line->PeerTryRead(got));
  EXPECT_EQ(got.Value, 0x42);
  EXPECT_FALSE(l.line->PeerTryRead(got));
  l.line->Wake();
  EXPECT_NE(l.line->PeerWait(after, TimePoint::max()), after);
}

TEST(SimLine, PurgeDropsArrivedInputAndUnsentOutputOnEitherSide) {
  Line l(1200);
  const std::uint8_t three[] = {1, 2, 3};
  l.line->PeerWrite(three, 3);
  SleepUntil(l.line->PeerTransmitEnd());
  EXPECT_TRUE(l.port->Purge());
  std::uint32_t errors = 0;
  EXPECT_EQ(l.PortByte(errors), -1);

  // 20 bytes at 300 baud take 667 ms; the purge leaves at most the byte on the wire.
  l.port->SetLine({300, 'N', false, false});
  l.line->PeerSetLine(300, 'N');
  const std::uint8_t many[20] = {};
  l.port->Write(many, 20);
  l.port->Purge();
  TSimByte b;
  int reached = 0;
  while (l.line->PeerRead(b, DeadlineAfter(100)))
    ++reached;
  EXPECT_LT(reached, 10);

  l.line->PeerWrite(many, 20);
  l.line->PeerPurge();
  EXPECT_LT(l.line->PeerTransmitEnd() - Now(), std::chrono::milliseconds(40));
}

TEST(SimLine, UnpluggedPortFailsLikeAVanishedAdapter) {
  Line l(1200, 'N', 'N', 40);
  l.line->Unplug();
  EXPECT_FALSE(l.line->Plugged());
  EXPECT_FALSE(l.line->PortOpen());
  std::uint8_t b = 0;
  const TimePoint start = Now();
  EXPECT_EQ(l.port->Read(&b, 1), 0);
  EXPECT_GE(MillisecondsBetween(start, Now()), 39.5);  // waited out its time-out
  EXPECT_EQ(l.port->Write(&b, 1), 0);
  EXPECT_EQ(l.line->OpenPortSide(), nullptr);
  l.line->Replug();
  auto again = l.line->OpenPortSide();
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(l.port->Write(&b, 1), 0);  // the old handle stays dead
  again->SetLine({1200, 'N', false, false});
  EXPECT_EQ(again->Write(&b, 1), 1);
}

TEST(SimLine, SeededCorruptionFlipsOneBitPerByte) {
  auto run = [](std::uint32_t Seed) {
    Line l(9600);
    l.line->SetCorruption(1.0, Seed);
    std::vector<std::uint8_t> sent(16, 0x5A), got;
    l.line->PeerWrite(sent);
    for (size_t i = 0; i < sent.size(); ++i) {
      std::uint32_t errors = 0;
      const int v = l.PortByte(errors);
      EXPECT_EQ(std::popcount(static_cast<unsigned>(v ^ 0x5A)), 1);
      got.push_back(static_cast<std::uint8_t>(v));
    }
    l.line->SetCorruption(0, 0);
    const std::uint8_t clean = 0x5A;
    l.port->Write(&clean, 1);
    EXPECT_EQ(l.PeerByte().Value, 0x5A);
    return got;
  };
  EXPECT_EQ(run(7), run(7));
  EXPECT_NE(run(7), run(8));
}

TEST(SimLine, BusModeEchoesEveryByteToItsSender) {
  Line l(1200, 'M', 'S');
  l.line->SetBusMode(true);
  const std::uint8_t first = 0x05;
  l.port->Write(&first, 1);
  std::uint32_t errors = 0;
  EXPECT_EQ(l.PortByte(errors), 0x05);  // the echo, decoded with mark parity: clean
  EXPECT_EQ(errors, 0u);
  TSimByte b = l.PeerByte();
  EXPECT_EQ(b.Value, 0x05);
  EXPECT_TRUE(b.ParityError);  // the ninth bit, to a receiver on space parity

  const std::uint8_t reply = 0x81;
  l.line->PeerWrite(&reply, 1);
  EXPECT_EQ(l.PeerByte().Value, 0x81);  // the peer hears itself too
  EXPECT_EQ(l.PortByte(errors), 0x81);
}

TEST(SimLine, BusModeCollisionsAreDominantLow) {
  Line l(1200, 'S', 'S', 40);
  l.line->SetBusMode(true);
  // The peer's 20 bytes hold the bus for 183 ms: the port's byte surely overlaps one of them.
  const std::vector<std::uint8_t> talk(20, 0xF3);
  l.line->PeerWrite(talk);
  const std::uint8_t mine = 0x0F;
  l.port->Write(&mine, 1);
  bool collided = false;
  std::uint32_t errors = 0;
  for (int v; (v = l.PortByte(errors)) >= 0;) {
    if (errors & ceFrame) {
      EXPECT_EQ(v, 0x03);  // 0xF3 AND 0x0F
      collided = true;
    } else {
      EXPECT_EQ(v, 0xF3);
    }
  }
  EXPECT_TRUE(collided);
  // Apart in time, nothing collides.
  l.port->Write(&mine, 1);
  EXPECT_EQ(l.PortByte(errors), 0x0F);
  EXPECT_EQ(errors, 0u);
}

}  // namespace
}  // namespace zo
