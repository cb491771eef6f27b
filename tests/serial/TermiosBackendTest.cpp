#include "serial/TermiosBackend.h"

#include <gtest/gtest.h>
#include <termios.h>

#include <cerrno>
#include <cstdio>
#include <fstream>

#include "serial/RS232o.h"
#include "tests/serial/PtyPair.h"
#include "threads/Clock.h"

namespace zo {
namespace {

using test::PtyPair;

// Generous: the machine may be loaded; only the lower bounds are tight.
constexpr double kSlackMs = 1500.0;

std::unique_ptr<TermiosBackend> OpenSlave(const PtyPair& Pty, std::uint32_t Interval,
                                          std::uint32_t Multiplier, std::uint32_t Constant) {
  int error = 0;
  auto port = TermiosBackend::Open(Pty.SlavePath(), error);
  EXPECT_TRUE(port) << "errno " << error;
  if (port) {
    TTimeouts t;
    t.ReadInterval = Interval;
    t.ReadMultiplier = Multiplier;
    t.ReadConstant = Constant;
    port->SetTimeouts(t);
  }
  return port;
}

TEST(ParityMarkDecoder, SplitsErroredBytesFromDoubledFF) {
  TParityMarkDecoder d;
  const std::uint8_t a[] = {0x41, 0xFF, 0x00, 0x42, 0xFF};
  const std::uint8_t b[] = {0xFF, 0xFF, 0x00};  // the marking continues across reads
  const std::uint8_t c[] = {0x00, 0x43};
  d.Feed(a, 5);
  d.Feed(b, 3);
  d.Feed(c, 2);
  const std::vector<std::pair<int, bool>> want = {
      {0x41, false}, {0x42, true}, {0xFF, false}, {0x00, true}, {0x43, false}};
  for (const auto& [value, errored] : want) {
    ASSERT_FALSE(d.Empty());
    const auto got = d.Take();
    EXPECT_EQ(got.Value, value);
    EXPECT_EQ(got.Errored, errored) << "byte " << value;
  }
  EXPECT_TRUE(d.Empty());
  // Clear forgets a half-received marking: the next byte is plain.
  const std::uint8_t half[] = {0xFF, 0x00};
  const std::uint8_t next[] = {0x44};
  d.Feed(half, 2);
  d.Clear();
  d.Feed(next, 1);
  ASSERT_FALSE(d.Empty());
  EXPECT_FALSE(d.Take().Errored);
}

TEST(ParityMarkDecoder, TheDriversErrorCountersTellParityFromFramingErrors) {
  // (parity, framing) of the errored bytes decoded, in order.
  TParityMarkDecoder d;
  const auto errored = [&d] {
    std::vector<std::pair<bool, bool>> kinds;
    while (!d.Empty())
      if (const auto b = d.Take(); b.Errored) kinds.emplace_back(b.Parity, b.Framing);
    return kinds;
  };
  using Kinds = std::vector<std::pair<bool, bool>>;
  const std::uint8_t marked[] = {0xFF, 0x00, 0x82}, plain[] = {0x41};
  d.Baseline({7, 30});
  // One errored byte per read, as a DL1 at 1200 baud delivers them: the counter that rose says.
  d.Feed(marked, 3);
  d.Counted({8, 30});
  d.Feed(marked, 3);
  d.Counted({8, 31});
  EXPECT_EQ(errored(), (Kinds{{true, false}, {false, true}}));
  // A rise counted one read before its byte, whose marking is split across reads.
  d.Feed(plain, 1);
  d.Counted({8, 32});
  d.Feed(marked, 2);
  d.Counted({8, 32});
  d.Feed(marked + 2, 1);
  d.Counted({8, 32});
  EXPECT_EQ(errored(), (Kinds{{false, true}}));
  // Errored bytes of one read share the kind that rose (a USB converter counts a packet once);
  // where both rose, each may have both; without a rise the counters say nothing.
  d.Feed(marked, 3);
  d.Feed(marked, 3);
  d.Counted({9, 32});
  d.Feed(marked, 3);
  d.Counted({10, 33});
  d.Feed(marked, 3);
  d.Counted({10, 33});
  EXPECT_EQ(errored(), (Kinds{{true, false}, {true, false}, {true, true}, {false, false}}));
  // A purge's baseline: what was counted of the bytes thrown away is no later byte's.
  d.Counted({10, 34});
  d.Clear();
  d.Baseline({10, 35});
  d.Feed(marked, 3);
  d.Counted({11, 35});
  EXPECT_EQ(errored(), (Kinds{{true, false}}));
}

TEST(TermiosBackend, CarriesBytesBothWaysIncludingFF) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  auto port = OpenSlave(pty, 200, 200, 0);
  ASSERT_TRUE(port);
  EXPECT_EQ(port->Describe(), pty.SlavePath());
  // A pseudo-terminal keeps no error counters: said once, for the text log.
  EXPECT_NE(port->OpenNote().find("\nno error counters on " + pty.SlavePath()), std::string::npos)
      << port->OpenNote();

  const std::vector<std::uint8_t> in = {0x01, 0xFF, 0x00, 0xFF, 0xFF, 0x7E};
  pty.Send(in);
  std::vector<std::uint8_t> got(in.size());
  // One byte at a time, as the drivers read: the doubled 0xFF never shows and never errs.
  for (auto& b : got) {
    ASSERT_EQ(port->Read(&b, 1), 1);
    EXPECT_EQ(port->TakeErrors(), 0u);
  }
  EXPECT_EQ(got, in);

  const std::vector<std::uint8_t> out = {0xFF, 0x00, 0x55, 0x0D, 0x0A};
  EXPECT_EQ(port->Write(out.data(), 5), 5);
  EXPECT_EQ(pty.Receive(out.size()), out);  // raw: no doubling, no newline translation
}

TEST(TermiosBackend, SilentOneByteReadTimesOut) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  auto port = OpenSlave(pty, 10, 10, 0);
  ASSERT_TRUE(port);
  std::uint8_t b = 0;
  const TimePoint start = Now();
  EXPECT_EQ(port->Read(&b, 1), 0);
  const double ms = MillisecondsBetween(start, Now());
  EXPECT_GE(ms, 9.5);
  EXPECT_LT(ms, 10 + kSlackMs);
}

TEST(TermiosBackend, TotalAndIntervalTimeouts) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  // Total limit: constant 30 + 20 x 5 = 130 ms; no interval limit, so two early bytes do not end
  // the read.
  auto port = OpenSlave(pty, 0, 20, 30);
  ASSERT_TRUE(port);
  std::uint8_t buf[10] = {};
  pty.Send({1, 2});
  TimePoint start = Now();
  EXPECT_EQ(port->Read(buf, 5), 2);
  double ms = MillisecondsBetween(start, Now());
  EXPECT_GE(ms, 129.5);
  EXPECT_LT(ms, 130 + kSlackMs);

  // Interval only counts after the first byte: a silent line waits out the total (200 ms), a
  // byte that came ends the read one interval (30 ms) later.
  TTimeouts t;
  t.ReadInterval = 30;
  t.ReadConstant = 200;
  port->SetTimeouts(t);
  start = Now();
  EXPECT_EQ(port->Read(buf, 10), 0);
  EXPECT_GE(MillisecondsBetween(start, Now()), 199.5);
  pty.Send({3});
  start = Now();
  EXPECT_EQ(port->Read(buf, 10), 1);
  EXPECT_EQ(buf[0], 3);
  ms = MillisecondsBetween(start, Now());
  EXPECT_GE(ms, 29.5);
  EXPECT_LT(ms, 200.0 + kSlackMs);
}

TEST(TermiosBackend, PurgeDropsUnreadInput) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  auto port = OpenSlave(pty, 50, 50, 0);
  ASSERT_TRUE(port);
  pty.Send({1, 2, 3, 4});
  std::uint8_t b = 0;
  ASSERT_EQ(port->Read(&b, 1), 1);  // the rest now waits in the kernel or the decoder
  EXPECT_TRUE(port->Purge());
  EXPECT_EQ(port->Read(&b, 1), 0);
  pty.Send({9});
  ASSERT_EQ(port->Read(&b, 1), 1);
  EXPECT_EQ(b, 9);
}

TEST(TermiosBackend, LineSettingsOnAPseudoTerminal) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  auto port = OpenSlave(pty, 10, 10, 0);
  ASSERT_TRUE(port);
  for (const char p : {'N', 'O', 'E', 'M', 'S'}) {
    EXPECT_TRUE(port->SetLine({1200, p, true, true})) << p;
    TLineSettings line;
    ASSERT_TRUE(port->GetLine(line));
    EXPECT_EQ(line.Parity, p);
    EXPECT_EQ(line.BaudRate, 1200);
  }
  EXPECT_TRUE(port->SetLine({115200, 'N', false, false}));
  EXPECT_FALSE(port->SetLine({12345, 'N', false, false}));  // not a standard speed
  // Modem lines and break are refused by a pty: harmless.
  EXPECT_TRUE(port->SetRts(true));
  EXPECT_TRUE(port->SetDtr(false));
  EXPECT_TRUE(port->SetBreak(true));
  EXPECT_TRUE(port->SetBreak(false));
}

TEST(TermiosBackend, OpeningANonTerminalFails) {
  int error = 0;
  EXPECT_FALSE(TermiosBackend::Open("/dev/null", error));
  EXPECT_EQ(error, ENOTTY);
  const std::string file = ::testing::TempDir() + "zo_not_a_tty";
  std::ofstream(file) << "x";
  EXPECT_FALSE(TermiosBackend::Open(file, error));
  EXPECT_EQ(error, ENOTTY);
  std::remove(file.c_str());
  EXPECT_FALSE(TermiosBackend::Open("/dev/zo-no-such-port", error));
  EXPECT_EQ(error, ENOENT);
}

TEST(TermiosBackend, VanishedDeviceReturnsZeroWithoutSpinning) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  auto port = OpenSlave(pty, 40, 40, 0);
  ASSERT_TRUE(port);
  pty.CloseMaster();
  std::uint8_t b = 0x5A;
  const TimePoint start = Now();
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(port->Read(&b, 1), 0);
  EXPECT_GE(MillisecondsBetween(start, Now()), 3 * 40 - 0.5);  // each read waited out 40 ms
  EXPECT_TRUE(port->Vanished());
  EXPECT_EQ(port->Write(&b, 1), 0);
  // A read without any time-out still comes back.
  port->SetTimeouts(TTimeouts{});
  EXPECT_EQ(port->Read(&b, 1), 0);
}

// Every line setting the adapters need, programmed through TRS232o and read back from the
// kernel on the terminal's other side. A pseudo-terminal keeps every flag as set except PARENB,
// which the kernel clears (and forces CS8); the parity kind (CMSPAR, PARODD) and the input flags
// that make per-byte parity errors visible are kept, so they are checked here.
TEST(TermiosBackend, TheKernelHoldsEveryLineSettingTheAdaptersUse) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  int error = 0;
  TRS232o port;
  ASSERT_TRUE(
      port.OpenBackend(TermiosBackend::Open(pty.SlavePath(), error), 1, 1200, 'N', 1024, 1024));
  struct TCase {
    std::int32_t Baud;
    char Parity;
    std::int32_t TimeoutMs;
    speed_t Speed;
  };
  // DL1 (mark for the first byte of a frame, space for the rest), DL2, its start sequence and its
  // bootblock.
  const TCase cases[] = {{1200, 'M', 16, B1200},     {1200, 'S', 16, B1200},
                         {2400, 'N', 10, B2400},     {19200, 'N', 150, B19200},
                         {115200, 'N', 20, B115200}, {1200, 'm', 16, B1200}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(1, c.Parity) + " at " + std::to_string(c.Baud));
    ASSERT_TRUE(port.SetLine(c.Baud, c.Parity));
    ASSERT_TRUE(port.SetReadTimeout(c.TimeoutMs));
    termios t{};
    ASSERT_EQ(::tcgetattr(pty.MasterFd(), &t), 0);
    const bool parity = c.Parity != 'N';
    const bool mark = c.Parity == 'M' || c.Parity == 'm';
    EXPECT_EQ((t.c_cflag & CMSPAR) != 0, parity);
    EXPECT_EQ((t.c_cflag & PARODD) != 0, mark);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
    EXPECT_NE(t.c_cflag & CREAD, 0u);
    EXPECT_NE(t.c_cflag & CLOCAL, 0u);
    // Errored bytes marked, a valid $FF doubled, breaks ignored, nothing stripped or dropped.
    EXPECT_NE(t.c_iflag & INPCK, 0u);
    EXPECT_NE(t.c_iflag & PARMRK, 0u);
    EXPECT_NE(t.c_iflag & IGNBRK, 0u);
    EXPECT_EQ(t.c_iflag & (IGNPAR | ISTRIP | BRKINT | IXON | IXOFF | INLCR | ICRNL | IGNCR), 0u);
    // Raw: no echo, no line editing, no signals, no output processing.
    EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    EXPECT_EQ(::cfgetispeed(&t), c.Speed);
    EXPECT_EQ(::cfgetospeed(&t), c.Speed);
  }
}

}  // namespace
}  // namespace zo
