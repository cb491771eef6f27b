#include "settings/variable.h"

#include <gtest/gtest.h>

#include "tests/settings/SettingsTestSupport.h"
#include "tests/support/ScriptedUi.h"

namespace zo::test {
namespace {

using Frames = std::vector<TBusFrame>;

TEST(VariableDefinition, ExamplesAndTokenRules) {
  ScriptedUi ui;
  struct Case {
    const char* Definition;
    std::uint16_t Address;
    std::uint8_t Kind;
    long double Scale;
    char Format;
  } cases[] = {
      {"$FFFF W,S0.01,2", 0xFFFF, TVariable::KindWord, 0.01L, '2'},
      {"$ffff w,s0.01,2", 0xFFFF, TVariable::KindWord, 0.01L, '2'},
      {"$FFFF  W,,S0.01 , 2", 0xFFFF, TVariable::KindWord, 0.01L, '2'},
      {"\t,$FFFF I,S0.01,0", 0xFFFF, TVariable::KindSignedWord, 0.01L, '0'},
      {"$FFFF S0.25,2", 0xFFFF, TVariable::KindByte, 0.25L, '2'},
      {"$FFFF 0", 0xFFFF, TVariable::KindByte, 1.0L, '0'},
      {"$0150 25", 0x0150, TVariable::KindByte, 1.0L, '2'},  // only the first character counts
      {"336 Wxyz", 336, TVariable::KindWord, 1.0L, 'D'},
      {"0x21 I W $", 0x21, TVariable::KindWord, 1.0L, 'H'},  // a later token replaces
      {"$10 % B d", 0x10, TVariable::KindByte, 1.0L, 'D'},
      {"$12345 0", 0x2345, TVariable::KindByte, 1.0L, '0'},  // 16 bits kept
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Definition);
    TVariable v(c.Definition);
    EXPECT_EQ(v.Address, c.Address);
    EXPECT_EQ(v.Kind, c.Kind);
    EXPECT_EQ(v.Scale, c.Scale);
    EXPECT_EQ(v.DisplayFormat, c.Format);
    EXPECT_EQ(v.Offset, 0.0L);
  }
  TVariable offset("$0010 W S-0.5 O1.5E1");
  EXPECT_EQ(offset.Scale, -0.5L);
  EXPECT_EQ(offset.Offset, 15.0L);
  EXPECT_TRUE(ui.Messages().empty());

  TVariable bit("$0123^3");
  EXPECT_EQ(bit.Kind, TVariable::KindBit);
  EXPECT_EQ(bit.Address, 0x0123);
  EXPECT_EQ(bit.BitNumber, 3);

  TVariable none("");
  EXPECT_EQ(none.Kind, TVariable::KindNone);
  EXPECT_EQ(none.Address, 0xFFFF);
  EXPECT_TRUE(none.ReadFailed);
}

TEST(VariableDefinition, BadTokensAreReportedAndSkipped) {
  ScriptedUi ui;
  TVariable q("$FFFF Q");
  EXPECT_EQ(ui.MessageTexts(), std::vector<std::string>{"Error interpreting: Q"});
  EXPECT_EQ(ui.Messages()[0].Type, TMsgDlgType::mtError);
  EXPECT_EQ(ui.Messages()[0].Buttons, TMsgDlgButtons{mbOK});
  EXPECT_EQ(q.Kind, TVariable::KindByte);
  EXPECT_EQ(q.Scale, 1.0L);

  ui.Clear();
  TVariable mixed("$0040 S1x W Zed O,,2");
  EXPECT_EQ(ui.MessageTexts(),
            (std::vector<std::string>{"Error interpreting: S1x", "Error interpreting: Zed",
                                      "Error interpreting: O"}));
  EXPECT_EQ(mixed.Kind, TVariable::KindWord);
  EXPECT_EQ(mixed.Scale, 1.0L);
  EXPECT_EQ(mixed.DisplayFormat, '2');
  EXPECT_EQ(mixed.Address, 0x0040);

  ui.Clear();
  TVariable address("12ab W");
  EXPECT_EQ(ui.MessageTexts(), std::vector<std::string>{"Error interpreting: 12ab"});
  EXPECT_EQ(address.Address, 0xFFFF);
  EXPECT_EQ(address.Kind, TVariable::KindWord);

  // The bit form reports nothing; a bad bit number leaves the address as it was.
  ui.Clear();
  TVariable bit("$0123^x");
  EXPECT_EQ(bit.Address, 0xFFFF);
  EXPECT_EQ(bit.Kind, TVariable::KindBit);
  TVariable bad_address("$01G3^2");
  EXPECT_EQ(bad_address.Address, 0xFFFF);
  EXPECT_EQ(bad_address.BitNumber, 2);
  EXPECT_TRUE(ui.Messages().empty());
}

TEST(VariableValue, SnapsToTheNearestRawStepWithHalvesToEven) {
  TVariable v("$FFFF W,S0.01,2");
  v.SetEngineeringValue(14.4L);
  EXPECT_EQ(v.Value, 1440);
  v.SetEngineeringValue(14.404L);
  EXPECT_EQ(v.Value, 1440);
  v.SetEngineeringValue(14.406L);
  EXPECT_EQ(v.Value, 1441);

  TVariable unit("$FFFF I");
  for (auto [x, raw] : {std::pair{2.5L, 2},
                        {3.5L, 4},
                        {-2.5L, -2},
                        {-3.5L, -4},
                        {0.5L, 0},
                        {2.49L, 2},
                        {-0.51L, -1}}) {
    unit.SetEngineeringValue(x);
    EXPECT_EQ(unit.Value, raw) << static_cast<double>(x);
  }

  TVariable offset("$FFFF W S0.5 O10");
  offset.SetEngineeringValue(11.25L);  // (11.25 - 10) / 0.5 = 2.5
  EXPECT_EQ(offset.Value, 2);
  EXPECT_EQ(offset.EngineeringValue(), 11.0L);

  // Out of range and not-a-number values do no harm.
  unit.SetEngineeringValue(1e30L);
  EXPECT_EQ(unit.Value, 2147483647);
  unit.SetEngineeringValue(-1e30L);
  EXPECT_EQ(unit.Value, -2147483647 - 1);
  unit.Value = 7;
  unit.SetEngineeringValue(std::numeric_limits<long double>::quiet_NaN());
  EXPECT_EQ(unit.Value, 7);
  TVariable zero_scale("$FFFF S0");
  zero_scale.Value = 9;
  zero_scale.SetEngineeringValue(3);
  EXPECT_EQ(zero_scale.Value, 9);

  TVariable bit("$0001^0");
  bit.SetEngineeringValue(0.5L);
  EXPECT_EQ(bit.Value, 1);
  bit.SetEngineeringValue(0.49L);
  EXPECT_EQ(bit.Value, 0);
  TVariable none("");
  none.Value = 3;
  none.SetEngineeringValue(10);
  EXPECT_EQ(none.Value, 3);
}

TEST(VariableText, EveryDisplayFormat) {
  auto text = [](const char* definition, std::int32_t raw) {
    TVariable v(definition);
    v.ReadFailed = false;
    v.Value = raw;
    return v.AsText();
  };
  EXPECT_EQ(text("$FFFF W,S0.01,2", 1440), "14.40");
  EXPECT_EQ(text("$FFFF S0.25,2", 4), "1.00");
  EXPECT_EQ(text("$FFFF 0", 230), "230");
  EXPECT_EQ(text("$FFFF I,S0.01,0", -200), "-2");
  EXPECT_EQ(text("$FFFF I,S0.01,1", -1), "0.0");     // rounds to zero: no minus sign
  EXPECT_EQ(text("$FFFF W,S0.01", 1234), "12.340");  // 'D': 3 decimals
  EXPECT_EQ(text("$FFFF W,S0.01,9", 1), "0.010000000");
  EXPECT_EQ(text("$FFFF $", 10), "$0A");
  EXPECT_EQ(text("$FFFF W $", 10), "$000A");
  EXPECT_EQ(text("$FFFF I $", -1), "$FFFF");
  EXPECT_EQ(text("$FFFF W S0.5 $", 0x1235), "$091A");  // integer part of 2330.5
  EXPECT_EQ(text("$FFFF $", 0x1FF), "$1FF");
  EXPECT_EQ(text("$FFFF %", 5), "%00000101");
  EXPECT_EQ(text("$FFFF W %", 0x8001), "%1000000000000001");
  EXPECT_EQ(text("$0001^0", 2), "1");
  EXPECT_EQ(text("$0001^0", 0), "0");
  EXPECT_EQ(text("", 3), "");

  TVariable never_read("$FFFF W,S0.01,2");
  EXPECT_EQ(never_read.AsText(), "Error during read");
}

TEST(VariableRead, FramesRepliesAndFailures) {
  ScriptDriver driver;
  driver.Default = 0x23;
  TVariable v("$0152 I,S0.01,0");
  v.FixedDeviceAddress = 0x05;
  driver.OnRequest = [](const TBusFrame&) { return TBusFrame{0x84, 0x38, 0xFF, 0}; };
  EXPECT_TRUE(v.ReadFrom(&driver));
  ASSERT_EQ(driver.Log.size(), 1u);
  EXPECT_TRUE(driver.Log[0].IsRequest);
  EXPECT_EQ(driver.Log[0].Frame, (TBusFrame{0x07, 0x52, 0x01, 0x05}));
  EXPECT_EQ(v.Value, -200);
  EXPECT_EQ(v.AsText(), "-2");
  EXPECT_EQ(v.DeviceAddress, 0x23);

  TVariable w("$0010 W");
  EXPECT_TRUE(w.ReadFrom(&driver));
  EXPECT_EQ(w.Value, 0xFF38);
  EXPECT_EQ(driver.Log.back().Frame[3], 0xFF);

  driver.OnRequest = nullptr;  // no reply
  EXPECT_FALSE(v.ReadFrom(&driver));
  EXPECT_EQ(v.Value, -200);
  EXPECT_TRUE(v.ReadFailed);
  EXPECT_EQ(v.AsText(), "Error during read");
  EXPECT_FALSE(v.ReadFrom(nullptr));

  TVariable bit("$0020^5");
  driver.OnRequest = [](const TBusFrame&) { return TBusFrame{0x84, 0x20, 0x00, 0}; };
  EXPECT_TRUE(bit.ReadFrom(&driver));
  EXPECT_EQ(bit.Value, 1);
  driver.OnRequest = [](const TBusFrame&) { return TBusFrame{0x84, 0xDF, 0xFF, 0}; };
  EXPECT_TRUE(bit.ReadFrom(&driver));
  EXPECT_EQ(bit.Value, 0);

  // Kind 5 selects device address Value - 1 without traffic.
  TVariable select("");
  select.Value = 3;
  driver.Log.clear();
  EXPECT_TRUE(select.ReadFrom(&driver));
  EXPECT_EQ(driver.Default, 2);
  EXPECT_FALSE(select.ReadFailed);
  EXPECT_TRUE(driver.Log.empty());
  EXPECT_TRUE(select.WriteTo(&driver));
  EXPECT_TRUE(driver.Log.empty());
}

TEST(VariableWrite, FramesByPageAndKind) {
  ScriptDriver driver;
  auto write = [&](const char* definition, std::int32_t value) {
    driver.Log.clear();
    TVariable v(definition);
    v.DeviceAddress = 0x07;
    v.Value = value;
    const bool ok = v.WriteTo(&driver);
    EXPECT_TRUE(ok) << definition;
    return driver.Sent();
  };
  EXPECT_EQ(write("$0150 W", 0x1234), (Frames{{0x09, 0x51, 0x12, 0x07}, {0x09, 0x50, 0x34, 0x07}}));
  EXPECT_EQ(write("$0040 I", -2), (Frames{{0x08, 0x41, 0xFF, 0x07}, {0x08, 0x40, 0xFE, 0x07}}));
  EXPECT_EQ(write("$00FF 0", 0x1AB), (Frames{{0x08, 0xFF, 0xAB, 0x07}}));
  EXPECT_EQ(write("$0210 0", 5), (Frames{{0x12, 0x10, 0x05, 0x07}}));
  EXPECT_EQ(write("$20FF 0", 5), (Frames{{0x30, 0xFF, 0x05, 0x07}}));
  // Bits: data = bit 8 of the address + $10 when set + 2 x bit number.
  EXPECT_EQ(write("$0023^3", 1), (Frames{{0x0A, 0x23, 0x16, 0x07}}));
  EXPECT_EQ(write("$0123^3", 0), (Frames{{0x0A, 0x23, 0x07, 0x07}}));
  EXPECT_EQ(write("$0123^7", 2), (Frames{{0x0A, 0x23, 0x0F, 0x07}}));  // only 1 sets
  EXPECT_EQ(write("$0510^1", 1), (Frames{{0x25, 0x10, 0x13, 0x07}}));

  // A fixed device address wins over the driver's default.
  driver.Log.clear();
  TVariable fixed("$0010 0");
  fixed.FixedDeviceAddress = 0x02;
  fixed.DeviceAddress = 0x07;
  EXPECT_TRUE(fixed.WriteTo(&driver));
  EXPECT_EQ(driver.Sent(), (Frames{{0x08, 0x10, 0x00, 0x02}}));
}

TEST(VariableWrite, CommittedPageAndFailures) {
  ScriptDriver driver;
  TVariable byte("$2105 0");
  byte.DeviceAddress = 0x01;
  byte.Value = 0x42;
  EXPECT_TRUE(byte.WriteTo(&driver));
  EXPECT_EQ(driver.Sent(), (Frames{{0x0B, 0x05, 0x42, 0x01}, {0x0B, 0xFF, 0xFF, 0x01}}));

  driver.Log.clear();
  CommitAfterWrite = false;
  EXPECT_TRUE(byte.WriteTo(&driver));
  CommitAfterWrite = true;
  EXPECT_EQ(driver.Sent(), (Frames{{0x0B, 0x05, 0x42, 0x01}}));

  driver.Log.clear();
  TVariable word("$2110 W");
  word.DeviceAddress = 0x01;
  word.Value = 0x0B40;
  EXPECT_TRUE(word.WriteTo(&driver));
  EXPECT_EQ(driver.Sent(),
            (Frames{{0x0B, 0x11, 0x0B, 0x01}, {0x0B, 0x10, 0x40, 0x01}, {0x0B, 0xFF, 0xFF, 0x01}}));

  // A failed commit is a failed write.
  driver.Log.clear();
  driver.OnSend = [](const TBusFrame& f) { return f[1] != 0xFF; };
  EXPECT_FALSE(byte.WriteTo(&driver));
  EXPECT_EQ(driver.Sent().size(), 2u);

  // The first failing frame ends the write.
  driver.Log.clear();
  driver.OnSend = [](const TBusFrame&) { return false; };
  TVariable low("$0150 W");
  low.Value = 0x1234;
  EXPECT_FALSE(low.WriteTo(&driver));
  EXPECT_EQ(driver.Sent(), (Frames{{0x09, 0x51, 0x12, 0xFF}}));
  EXPECT_EQ(low.Value, 0x1234);

  // Bits of the committed page cannot be written.
  driver.Log.clear();
  driver.OnSend = nullptr;
  TVariable bit("$2105^1");
  EXPECT_FALSE(bit.WriteTo(&driver));
  EXPECT_TRUE(driver.Log.empty());
  EXPECT_FALSE(low.WriteTo(nullptr));
}

}  // namespace
}  // namespace zo::test
