#include <gtest/gtest.h>

#include <vector>

#include "drivers/DL2DRV.h"

namespace zo {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(DL2Frame, AdapterCommandsAreBuiltByThePlainRuleWithTheFillerAfterATrailingFF) {
  EXPECT_EQ(BuildDL2AdapterCommand('L', nullptr, 0), (Bytes{0x02, 0xFF, 0x4C, 0xB3}));
  EXPECT_EQ(BuildDL2AdapterCommand('V', nullptr, 0), (Bytes{0x02, 0xFF, 0x56, 0xA9}));
  const std::uint8_t w[] = {0x07, 0x01, 0xFF};
  EXPECT_EQ(BuildDL2AdapterCommand('W', w, 3),
            (Bytes{0x06, 0xFF, 0x57, 0x07, 0x01, 0xFF, 0x00, 0x9D}));
  const std::uint8_t s[] = {0x04, 0x00, 0xFF, 0x01, 0x0A, 0x00};
  EXPECT_EQ(BuildDL2AdapterCommand('S', s, 6),
            (Bytes{0x08, 0xFF, 0x53, 0x04, 0x00, 0xFF, 0x01, 0x0A, 0x00, 0x98}));
}

TEST(DL2Frame, AddressedRequestsUseTheSwapRuleAndNeverAFiller) {
  EXPECT_EQ(Swap(0x12), 0x21);
  EXPECT_EQ(BuildDL2AddressedRequest(0, 5, 0, 0, 1),
            (Bytes{0x05, 0x00, 0x05, 0x00, 0x00, 0x01, 0xE5}));
  EXPECT_EQ(BuildDL2AddressedRequest(1, 7, 0x23, 0, 2),
            (Bytes{0x05, 0x01, 0x07, 0x23, 0x00, 0x02, 0x6C}));
  const Bytes high_ff = BuildDL2AddressedRequest(3, 7, 0xFF, 0xFF, 9);
  EXPECT_EQ(high_ff.size(), 7u);
  // Its echo fails the plain test, except when the Swap terms add up to 0 modulo 256.
  EXPECT_FALSE(DL2PlainChecksumValid(high_ff.data(), 7));
  const Bytes self_valid = BuildDL2AddressedRequest(0, 7, 0x09, 0, 7);
  EXPECT_TRUE(DL2PlainChecksumValid(self_valid.data(), 7));
  const Bytes reply{0x05, 0x00, 0x01, 0x82, 0x04, 0x51, 0x23};
  EXPECT_TRUE(DL2PlainChecksumValid(reply.data(), 7));
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
