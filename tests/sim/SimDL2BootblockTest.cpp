// The simulated DL2's bootblock on raw bytes, on the virtual clock: how it is entered and how it
// judges lines.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "data/CarriedFirmware.h"
#include "drivers/DL2DRV.h"
#include "serial/SimLine.h"
#include "sim/SimDL2Adapter.h"
#include "sim/SimDevice.h"
#include "tests/support/VirtualClock.h"

namespace zo::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Line `Index` of the carried image: 'W', the block, the check byte.
Bytes ImageLine(int Index) {
  const std::string& image = CarriedFirmwareImage();
  const std::size_t at = image.size() - 71 * 74 + static_cast<std::size_t>(Index) * 74;
  Bytes line{'W'};
  std::uint8_t sum = 0;
  for (std::size_t i = at; i < at + 74; ++i) {
    line.push_back(static_cast<std::uint8_t>(image[i]));
    sum = static_cast<std::uint8_t>(sum + line.back());
  }
  line.push_back(static_cast<std::uint8_t>(-sum));
  return line;
}

class Bootblock : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(port_.OpenBackend(line_->OpenPortSide(), 1, 2400, 'N', 1024, 1024));
    port_.SetDtrCleared(false);  // as detection leaves it: the application takes frames
    device_config_.Record.fill(-1);
    adapter_.Start();
    while (adapter_.State() != TDL2SimState::Application)
      Delay(5);
  }
  // The wake-up and program request of the programmer; the version frame (six bytes) that came
  // back, or less.
  Bytes Connect(int Expect = 6) {
    port_.SetLine(115200, 'N');
    const Bytes sync(5, 0x55);
    port_.Write(sync.data(), 5);
    Delay(50);
    port_.SetLine(19200, 'N');
    port_.Purge();
    return Send({'P'}, Expect);
  }
  // Writes `Out` and reads up to `Expect` bytes, allowing 300 ms for each.
  Bytes Send(const Bytes& Out, int Expect) {
    port_.SetReadTimeout(300);
    port_.Write(Out.data(), static_cast<int>(Out.size()));
    Bytes in(static_cast<std::size_t>(Expect));
    in.resize(static_cast<std::size_t>(std::max(0, port_.Read(in.data(), Expect))));
    return in;
  }

  test::VirtualClock clock_{60};  // first: it outlives the adapter's thread
  std::shared_ptr<SimLine> line_ = SimLine::Create("bootblock");
  TRS232o port_;
  TSimDeviceConfig device_config_;
  SimDevice device_{device_config_};
  SimDL2Adapter adapter_{line_, &device_, TSimDL2Config{}};
};

TEST_F(Bootblock, ProgrammingIsOpenOnlyAfterTheUpdateRequestAndBreak) {
  EXPECT_EQ(Connect(1), Bytes{});  // the running application's restart ignores 'P'
  EXPECT_EQ(adapter_.BootblockConnections(), 0);
  while (adapter_.State() != TDL2SimState::Application)
    Delay(5);
  port_.SetLine(2400, 'N');
  const Bytes update{0x07, 0xFF, 'S', 0, 0, 0, 0, 4, 0xA3};
  EXPECT_EQ(Send(update, 4), (Bytes{0x02, 0xFF, 'S', 0xAC}));
  port_.SetBreak(true);
  Delay(50);
  EXPECT_EQ(adapter_.State(), TDL2SimState::Bootblock);
  port_.SetBreak(false);
  EXPECT_EQ(Connect(), (Bytes{0x05, 'V', 0x01, 0x03, '2', 0x74}));
  EXPECT_EQ(adapter_.State(), TDL2SimState::Programming);
}

TEST_F(Bootblock, EachLineIsJudgedByItsOwnContent) {
  port_.SetBreak(true);
  adapter_.PowerCycle();  // switched off and on with the break held: the bootblock stays
  Delay(50);
  EXPECT_EQ(adapter_.State(), TDL2SimState::Bootblock);
  port_.SetBreak(false);
  ASSERT_EQ(Connect().size(), 6u);
  EXPECT_EQ(Send(ImageLine(0), 1), Bytes{'N'});
  EXPECT_FALSE(adapter_.FlashGood());  // erased by block 0
  Bytes bad = ImageLine(1);
  ++bad[40];
  EXPECT_EQ(Send(bad, 1), Bytes{'T'});
  Bytes not_w = ImageLine(2);
  not_w[0] = 'w';
  EXPECT_EQ(Send(not_w, 1), Bytes{'U'});
  EXPECT_EQ(adapter_.LinesAccepted(), 1);
  adapter_.PowerCycle();  // an incomplete flash: bad firmware
  EXPECT_EQ(adapter_.State(), TDL2SimState::BadFirmware);
}

}  // namespace
}  // namespace zo::sim
