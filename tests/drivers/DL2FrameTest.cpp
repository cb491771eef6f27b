#include <gtest/gtest.h>

#include <vector>

#include "drivers/DL2DRV.h"

namespace zo {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The wire examples of adapter commands and requests are checked byte for byte through the driver
// (DL2DriverTest); these are the rules the driver tests do not reach.

TEST(DL2Frame, AddressedRequestsUseTheSwapRuleAndNeverAFiller) {
  EXPECT_EQ(Swap(0x12), 0x21);
  const Bytes high_ff = BuildDL2AddressedRequest(3, 7, 0xFF, 0xFF, 9);
  EXPECT_EQ(high_ff.size(), 7u);
  // Its echo fails the plain test, except when the Swap terms add up to 0 modulo 256.
  EXPECT_FALSE(DL2PlainChecksumValid(high_ff.data(), 7));
  const Bytes self_valid = BuildDL2AddressedRequest(0, 7, 0x09, 0, 7);
  EXPECT_TRUE(DL2PlainChecksumValid(self_valid.data(), 7));
}

TEST(DL2Frame, PanelLevelRoundsHalvesToEvenAndKeepsTheLowByte) {
  EXPECT_EQ(DL2LevelFromValue(1), 0);
  EXPECT_EQ(DL2LevelFromValue(2), 2);     // 1.61
  EXPECT_EQ(DL2LevelFromValue(80), 128);  // 127.5
  EXPECT_EQ(DL2LevelFromValue(159), 255);
  EXPECT_EQ(DL2LevelFromValue(160), 1);  // 256.6 rounds to 257
}

TEST(DL2Frame, LedBitsAreRearrangedAndBlinkingOnesAlternate) {
  const int from_on_bit[8] = {5, 7, 6, 8, 4, 0, 1, 2};  // result bit of each bit of B
  for (int bit = 0; bit < 8; ++bit)
    EXPECT_EQ(DecodeDL2Leds(static_cast<std::uint8_t>(1 << bit), 0, false), 1 << from_on_bit[bit])
        << "bit " << bit;
  EXPECT_EQ(DecodeDL2Leds(0xFF, 0, true), 0x1F7);  // bit 3 and bits 9 to 15 stay 0
  EXPECT_EQ(DecodeDL2Leds(0x01, 0x20, true), (1 << 5) | 1);
  EXPECT_EQ(DecodeDL2Leds(0x01, 0x20, false), 1 << 5);
}

}  // namespace
}  // namespace zo
