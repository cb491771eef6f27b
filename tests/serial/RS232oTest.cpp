#include "serial/RS232o.h"

#include <gtest/gtest.h>

#include "serial/SimLine.h"
#include "threads/Clock.h"

namespace zo {
namespace {

constexpr std::uint8_t kPort = 5;

class RS232oOnSimLine : public ::testing::Test {
 protected:
  void SetUp() override {
    line = SimLine::Create("rs232o");
    SimPortRegistry::Bind(kPort, line);
    line->SetTap([this](bool FromPort, std::uint8_t, std::int32_t Baud, char Parity, TimePoint) {
      if (FromPort) {
        last_baud = Baud;
        last_parity = Parity;
      }
    });
  }
  void TearDown() override { SimPortRegistry::UnbindAll(); }

  // The baud rate and parity the port sends with now.
  std::pair<int, char> Sending(TRS232o& Port) {
    const std::uint8_t b = 0x55;
    EXPECT_EQ(Port.Write(&b, 1), 1);
    return {last_baud, last_parity};
  }

  std::shared_ptr<SimLine> line;
  int last_baud = 0;
  char last_parity = '?';
};

TEST_F(RS232oOnSimLine, OpenReachesTheBoundLineAndPortZeroNeverExists) {
  TRS232o port;
  EXPECT_FALSE(port.Open(0, 1200, 'N', 1024, 1024));
  EXPECT_EQ(port.PortNumber, 0);
  EXPECT_FALSE(port.OpenFailure().empty());

  ASSERT_TRUE(port.Open(kPort, 1200, 'N', 1024, 1024));
  EXPECT_EQ(port.PortNumber, kPort);
  EXPECT_EQ(port.Baud, 1200);
  EXPECT_NE(port.DeviceName().find("rs232o"), std::string::npos);
  EXPECT_EQ(Sending(port), std::make_pair(1200, 'N'));

  TRS232o second;  // exclusive, as a real port
  EXPECT_FALSE(second.Open(kPort, 1200, 'N', 1024, 1024));
  EXPECT_EQ(second.PortNumber, 0);
  EXPECT_NE(second.OpenFailure().find("in use"), std::string::npos);

  line->Unplug();
  TRS232o third;
  port.Close();
  EXPECT_FALSE(third.Open(kPort, 1200, 'N', 1024, 1024));
  EXPECT_NE(third.OpenFailure().find("unplugged"), std::string::npos);
}

TEST_F(RS232oOnSimLine, ReadOfNothingAndSilentReads) {
  TRS232o port;
  std::uint8_t b = 0;
  EXPECT_EQ(port.Read(&b, 1), 0);  // not open
  ASSERT_TRUE(port.Open(kPort, 2400, 'N', 1024, 1024));
  line->PeerSetLine(2400, 'N');
  line->PeerWrite({0x77});
  SleepUntil(line->PeerTransmitEnd());
  EXPECT_EQ(port.Read(&b, 0), 0);  // does not touch the port: the byte is still there
  ASSERT_TRUE(port.SetReadTimeout(10));
  ASSERT_EQ(port.Read(&b, 1), 1);
  EXPECT_EQ(b, 0x77);

  const TimePoint start = Now();
  EXPECT_EQ(port.Read(&b, 1), 0);
  const double ms = MillisecondsBetween(start, Now());
  EXPECT_GE(ms, 9.5);
  EXPECT_LT(ms, 1500.0);
}

TEST_F(RS232oOnSimLine, ParityLettersOnSetLine) {
  TRS232o port;
  ASSERT_TRUE(port.Open(kPort, 1200, 'N', 1024, 1024));
  ASSERT_TRUE(port.SetLine(1200, 's'));  // taken in upper case
  EXPECT_EQ(Sending(port), std::make_pair(1200, 'S'));
  ASSERT_TRUE(port.SetLine(1200, 'm'));
  ASSERT_TRUE(port.SetLine(2400, 'X'));  // baud changes, parity stays
  EXPECT_EQ(port.Baud, 2400);
  EXPECT_EQ(Sending(port), std::make_pair(2400, 'M'));
}

TEST_F(RS232oOnSimLine, ParityErrorsReachLastErrors) {
  TRS232o port;
  ASSERT_TRUE(port.Open(kPort, 1200, 'S', 1024, 1024));
  line->PeerSetLine(1200, 'S');
  const std::uint8_t frame[] = {0x82, 0x01, 0x02, 0x7B};
  line->PeerWriteWithParity(frame, 1, 'M');
  line->PeerWriteWithParity(frame + 1, 3, 'S');
  std::uint8_t b = 0;
  ASSERT_EQ(port.Read(&b, 1), 1);
  ASSERT_TRUE(port.ClearErrors());
  EXPECT_EQ(port.LastErrors, 4u);
  for (int i = 1; i < 4; ++i) {  // the error went with the marked byte only
    ASSERT_EQ(port.Read(&b, 1), 1);
    EXPECT_EQ(b, frame[i]);
    ASSERT_TRUE(port.ClearErrors());
    EXPECT_EQ(port.LastErrors, 0u);
  }
}

TEST_F(RS232oOnSimLine, ClearedModemLinesSurviveSetLine) {
  TRS232o port;
  ASSERT_TRUE(port.Open(kPort, 1200, 'N', 1024, 1024));
  EXPECT_FALSE(line->PortRts());  // cleared by default
  EXPECT_FALSE(line->PortDtr());
  ASSERT_TRUE(port.SetRtsCleared(false));
  ASSERT_TRUE(port.SetDtrCleared(false));
  ASSERT_TRUE(port.SetLine(1200, 'M'));
  EXPECT_TRUE(line->PortRts());
  EXPECT_TRUE(line->PortDtr());
  ASSERT_TRUE(port.SetRtsCleared(true));
  ASSERT_TRUE(port.SetLine(1200, 'S'));
  EXPECT_FALSE(line->PortRts());
  EXPECT_TRUE(line->PortDtr());
  ASSERT_TRUE(port.SetDtrCleared(true));
  ASSERT_TRUE(port.SetLine(2400, 'N'));
  EXPECT_FALSE(line->PortDtr());
  ASSERT_TRUE(port.SetBreak(true));
  EXPECT_TRUE(line->PortBreak());
  ASSERT_TRUE(port.SetBreak(false));
  EXPECT_FALSE(line->PortBreak());
}

}  // namespace
}  // namespace zo
