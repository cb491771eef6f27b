#include "serial/PortCheck.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "serial/SimLine.h"
#include "serial/TermiosBackend.h"
#include "tests/serial/PtyPair.h"
#include "tests/support/VirtualClock.h"

namespace zo {
namespace {

// A port with the faults real adapters have, over the looped simulated line.
class FaultyPort final : public SerialBackend {
 public:
  explicit FaultyPort(std::shared_ptr<SimLine> Line) : line_(Line), inner_(Line->OpenPortSide()) {}

  bool SmearErrors = false;   // an error flag also lands on the next byte (flags per USB packet)
  bool OddForMark = false;    // mark and space sent as odd and even (a driver without CMSPAR)
  long long ReadDelayMs = 0;  // every byte comes back this much later (a USB latency timer)
  int SlowEvery = 0;          // every n-th byte comes back 20 ms later still (a late USB packet)
  int UnplugAfterWrites = -1;
  bool NoBreak = false;   // the break is never sent
  bool StuckRts = false;  // RTS stays as it is

  bool GetLine(TLineSettings& L) override { return inner_->GetLine(L); }
  bool SetLine(const TLineSettings& L) override {
    TLineSettings l = L;
    if (OddForMark && (l.Parity == 'M' || l.Parity == 'S')) l.Parity = l.Parity == 'M' ? 'O' : 'E';
    return inner_->SetLine(l);
  }
  bool SetTimeouts(const TTimeouts& T) override { return inner_->SetTimeouts(T); }
  bool SetQueueSizes(int In, int Out) override { return inner_->SetQueueSizes(In, Out); }
  int Read(std::uint8_t* Buffer, int Count) override {
    const int n = inner_->Read(Buffer, Count);
    if (ReadDelayMs > 0) SleepFor(ReadDelayMs);
    if (n > 0 && SlowEvery > 0 && ++bytes_read_ % SlowEvery == 0) SleepFor(20);
    return n;
  }
  int Write(const std::uint8_t* Buffer, int Count) override {
    if (UnplugAfterWrites >= 0 && writes_++ == UnplugAfterWrites) line_->Unplug();
    return inner_->Write(Buffer, Count);
  }
  std::uint32_t TakeErrors() override {
    const std::uint32_t e = inner_->TakeErrors();
    const std::uint32_t taken = e | (SmearErrors ? carried_ : 0);
    carried_ = e;
    return taken;
  }
  bool Purge() override { return inner_->Purge(); }
  bool SetBreak(bool On) override { return NoBreak || inner_->SetBreak(On); }
  bool SetRts(bool A) override { return StuckRts || inner_->SetRts(A); }
  bool SetDtr(bool A) override { return inner_->SetDtr(A); }
  std::string Describe() const override { return inner_->Describe(); }
  long BreaksReceived() override { return inner_->BreaksReceived(); }
  bool GetModemLines(bool& Rts, bool& Dtr) override { return inner_->GetModemLines(Rts, Dtr); }

 private:
  std::shared_ptr<SimLine> line_;
  std::unique_ptr<SerialBackend> inner_;
  std::uint32_t carried_ = 0;
  int writes_ = 0;
  int bytes_read_ = 0;
};

const TCheckItem& ItemOf(const TPortCheckResult& R, const std::string& Key) {
  static const TCheckItem missing{"missing", "", TCheckOutcome::Fail, "", -1, -1, -1};
  for (const TCheckItem& i : R.Items)
    if (i.Key == Key) return i;
  return missing;
}

TCheckOutcome UseOf(const TPortCheckResult& R, const std::string& Key) {
  for (const TUseVerdict& u : R.Uses)
    if (u.Key == Key) return u.Outcome;
  return TCheckOutcome::Fail;
}

struct Looped {
  Looped() {
    line->SetLoopback(true);
    port = std::make_unique<FaultyPort>(line);
  }
  TPortCheckResult Check() { return CheckPortLoopback(*port, {}); }
  test::VirtualClock clock;
  std::shared_ptr<SimLine> line = SimLine::Create("loop");
  std::unique_ptr<FaultyPort> port;
};

TEST(PortCheck, ALoopedLinePassesEveryUse) {
  Looped l;
  const TPortCheckResult r = l.Check();
  for (const TCheckItem& i : r.Items)
    EXPECT_EQ(i.Outcome, TCheckOutcome::Pass) << i.Key << ": " << i.Detail;
  EXPECT_EQ(r.Items.size(), 11u);
  EXPECT_TRUE(r.AllPass()) << r.Aborted;
  // One byte at 1200 baud with a parity bit: 11 bits of wire time, nothing else on this line.
  EXPECT_NEAR(ItemOf(r, "latency_dl1").MaxMs, 11000.0 / 1200, 0.01);
  EXPECT_NEAR(ItemOf(r, "latency_dl2").MedianMs, 10000.0 / 2400, 0.01);
  EXPECT_FALSE(l.line->PortBreak());  // left released
}

TEST(PortCheck, EachAdapterFaultFailsTheUsesThatNeedIt) {
  {
    Looped l;  // error flags for a whole USB packet
    l.port->SmearErrors = true;
    const TPortCheckResult r = l.Check();
    EXPECT_EQ(ItemOf(r, "parity_per_byte").Outcome, TCheckOutcome::Fail);
    EXPECT_EQ(UseOf(r, "dl1"), TCheckOutcome::Fail);
    EXPECT_EQ(UseOf(r, "dl2"), TCheckOutcome::Pass);
    EXPECT_FALSE(r.AllPass());
  }
  {
    Looped l;  // odd and even parity where mark and space were asked
    l.port->OddForMark = true;
    const TPortCheckResult r = l.Check();
    EXPECT_EQ(ItemOf(r, "bytes_1200_mark").Outcome, TCheckOutcome::Pass);
    EXPECT_EQ(ItemOf(r, "mark_space_parity").Outcome, TCheckOutcome::Fail);
    EXPECT_EQ(UseOf(r, "dl1"), TCheckOutcome::Fail);
  }
  {
    Looped l;  // 8 ms late: beyond the DL1's echo window, within the DL2's read time-out
    l.port->ReadDelayMs = 8;
    const TPortCheckResult r = l.Check();
    EXPECT_EQ(ItemOf(r, "latency_dl1").Outcome, TCheckOutcome::Fail);
    EXPECT_EQ(UseOf(r, "dl1"), TCheckOutcome::Fail);
    EXPECT_EQ(UseOf(r, "dl2"), TCheckOutcome::Pass);
    EXPECT_EQ(UseOf(r, "dl2_firmware_update"), TCheckOutcome::Pass);
  }
  {
    Looped l;  // quick as a rule, but now and then a round trip of 29 ms: the echo window is missed
    l.port->SlowEvery = 5;
    const TPortCheckResult r = l.Check();
    EXPECT_LT(ItemOf(r, "latency_dl1").MedianMs, 16.0);
    EXPECT_EQ(ItemOf(r, "latency_dl1").Outcome, TCheckOutcome::Fail);
    EXPECT_EQ(UseOf(r, "dl1"), TCheckOutcome::Fail);
  }
  {
    Looped l;  // a break that never leaves, RTS that does not follow
    l.port->NoBreak = true;
    l.port->StuckRts = true;
    const TPortCheckResult r = l.Check();
    EXPECT_EQ(ItemOf(r, "break").Outcome, TCheckOutcome::Fail);
    EXPECT_EQ(ItemOf(r, "modem_lines").Outcome, TCheckOutcome::Fail);
    EXPECT_EQ(ItemOf(r, "mark_space_parity").Outcome, TCheckOutcome::Pass);
  }
}

TEST(PortCheck, AVanishedOrUnbridgedPortStopsWithAReason) {
  {
    Looped l;
    l.port->UnplugAfterWrites = 6;  // the marked byte of the parity check
    const TPortCheckResult r = l.Check();
    EXPECT_NE(r.Aborted.find("vanished"), std::string::npos) << r.Aborted;
    EXPECT_EQ(ItemOf(r, "bytes_115200_none").Outcome, TCheckOutcome::Pass);
    EXPECT_EQ(ItemOf(r, "parity_per_byte").Key, "missing");
    for (const char* use : {"dl1", "dl2", "dl2_firmware_update"})
      EXPECT_EQ(UseOf(r, use), TCheckOutcome::Fail) << use;
    EXPECT_FALSE(r.AllPass());
  }
  {
    Looped l;
    l.line->SetLoopback(false);
    const double before = l.clock.ElapsedMs();
    const TPortCheckResult r = l.Check();
    EXPECT_NE(r.Aborted.find("bridge TX and RX"), std::string::npos) << r.Aborted;
    EXPECT_EQ(r.Items.size(), 1u);
    EXPECT_LT(l.clock.ElapsedMs() - before, 1000);  // one wait, not one per byte
  }
}

TEST(PortCheck, APseudoTerminalSaysWhatItCannotShow) {
  test::PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  int error = 0;
  auto port = TermiosBackend::Open(pty.SlavePath(), error);
  ASSERT_TRUE(port) << error;
  std::atomic<bool> stop{false};
  std::thread echo([&] {
    while (!stop)
      pty.Send(pty.Receive(1, 20));
  });
  TPortCheckOptions options;
  options.PseudoTerminal = true;
  options.LatencyRounds = 4;
  const TPortCheckResult r = CheckPortLoopback(*port, options);
  stop = true;
  echo.join();
  EXPECT_EQ(r.Aborted, "");
  EXPECT_EQ(ItemOf(r, "bytes_1200_mark").Outcome, TCheckOutcome::Pass)
      << ItemOf(r, "bytes_1200_mark").Detail;
  for (const char* key : {"parity_per_byte", "mark_space_parity", "break", "modem_lines"}) {
    EXPECT_EQ(ItemOf(r, key).Outcome, TCheckOutcome::NotShown) << key;
    EXPECT_NE(ItemOf(r, key).Detail.find("pseudo-terminal"), std::string::npos) << key;
  }
  // The round trips through a pseudo-terminal and the echoing thread take what the machine's
  // scheduling gives: a busy machine fails the uses that need one, otherwise they are not shown
  // either.
  const auto by_latency = [&](const char* Key) {
    return ItemOf(r, Key).Outcome == TCheckOutcome::Fail ? TCheckOutcome::Fail
                                                         : TCheckOutcome::NotShown;
  };
  EXPECT_EQ(UseOf(r, "dl1"), by_latency("latency_dl1"));
  EXPECT_EQ(UseOf(r, "dl2"), by_latency("latency_dl2"));
  EXPECT_EQ(UseOf(r, "dl2_firmware_update"), TCheckOutcome::NotShown);
  EXPECT_FALSE(r.AllPass());
}

}  // namespace
}  // namespace zo
