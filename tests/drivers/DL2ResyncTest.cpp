// The DL2 driver after a length byte garbled on the line: the partial frame is given up once the
// line has been quiet for three idle ticks, so that the next frame is read from its length byte.
// On the virtual clock: the ticks are counted exactly, however busy the machine is.
#include <gtest/gtest.h>

#include <future>
#include <vector>

#include "drivers/DL2DRV.h"
#include "serial/SimLine.h"
#include "tests/support/VirtualClock.h"

namespace zo {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(DL2Resync, AFrameCutShortByNoiseDoesNotSwallowTheNextReply) {
  test::VirtualClock clock(60);
  auto line = SimLine::Create("dl2-resync");
  line->PeerSetLine(DL2Baud, 'N');
  auto* port = new TRS232o;
  ASSERT_TRUE(port->OpenBackend(line->OpenPortSide(), 1, DL2Baud, 'N', 1024, 1024));
  auto* driver = new TDL2Driver(port, 1);
  auto reply = test::StartClientCall(clock, [driver] {
    TBusFrame f{5, 0, 0, 0xFF};
    const bool ok = driver->Request(f);
    return std::make_pair(ok, f);
  });
  // The request [5, 0, 5, 0, 0, 1, checksum] reaches the adapter.
  TSimByte b;
  for (int i = 0; i < 7; ++i)
    ASSERT_TRUE(line->PeerRead(b, DeadlineAfter(2000)));
  // A reply whose length byte noise turned from 5 into 15: its bytes end long before the frame
  // they announce would.
  line->PeerWrite(Bytes{0x0F, 0x00, 0x01, 0x82, 0x04, 0x51, 0x23});
  Delay(60);
  // The adapter's next frame, the reply as it should be.
  line->PeerWrite(Bytes{0x05, 0x00, 0x01, 0x82, 0x04, 0x51, 0x23});
  const auto [ok, frame] = test::AwaitClientCall(reply);
  EXPECT_TRUE(ok);
  EXPECT_EQ((Bytes{frame[0], frame[1], frame[2]}), (Bytes{0x82, 0x04, 0x51}));
  driver->SafeTerminate(true, true, true);
}

}  // namespace
}  // namespace zo
