#include "adapter/TextTool.h"

#include <gtest/gtest.h>

#include <vector>

namespace zo {
namespace {

std::vector<std::string> Tokens(std::string text) {
  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back('\0');
  char* cursor = buffer.data();
  std::vector<std::string> tokens;
  for (int i = 0; i < 10; ++i) {
    std::string token = NextToken(cursor);
    tokens.push_back(token);
    if (token.empty()) {
      EXPECT_EQ(*cursor, '\0');
      break;
    }
  }
  return tokens;
}

TEST(NextToken, SkipsRunsOfDelimitersAndEndsWithAnEmptyToken) {
  EXPECT_EQ(Tokens("  a,b"), (std::vector<std::string>{"a", "b", ""}));
  EXPECT_EQ(Tokens(",,"), (std::vector<std::string>{""}));
  EXPECT_EQ(Tokens("$FFFF  W,,S0.01 , 2"),
            (std::vector<std::string>{"$FFFF", "W", "S0.01", "2", ""}));
  EXPECT_EQ(Tokens("\tx\t"), (std::vector<std::string>{"x", ""}));
}

TEST(TypedNumbers, DecimalAndEveryHexadecimalPrefix) {
  struct Case {
    const char* text;
    bool ok;
    std::int32_t value;
  } cases[] = {
      {"12", true, 12},
      {"  12", true, 12},
      {"+7", true, 7},
      {"-5", true, -5},
      {"$1F", true, 31},
      {"x1f", true, 31},
      {"X10", true, 16},
      {"0x10", true, 16},
      {"0X10", true, 16},
      {"-$10", true, -16},
      {"$FFFFFFFF", true, -1},
      {"0", true, 0},
      {"2147483647", true, 2147483647},
      {"-2147483648", true, INT32_MIN},
      {"2147483648", false, 0},
      {"12 ", false, 0},
      {"1a", false, 0},
      {"", false, 0},
      {"   ", false, 0},
      {"-", false, 0},
      {"$", false, 0},
      {"0x", false, 0},
      {"$100000000", false, 0},
      {"1.5", false, 0},
      {"abc", false, 0},
      {"$G", false, 0},
  };
  for (const Case& c : cases) {
    std::int32_t v = 12345;
    EXPECT_EQ(TryStrToInt(c.text, v), c.ok) << c.text;
    EXPECT_EQ(v, c.ok ? c.value : 12345) << c.text;
  }
}

TEST(RealNumbers, DotIsTheDecimalPointWhateverTheLocale) {
  long double v = 0;
  ASSERT_TRUE(TryStrToFloat("14.404", v));
  EXPECT_NEAR(static_cast<double>(v), 14.404, 1e-12);
  ASSERT_TRUE(TryStrToFloat(" -1.5e2", v));
  EXPECT_EQ(v, -150.0L);
  ASSERT_TRUE(TryStrToFloat("0.01", v));
  EXPECT_EQ(v, 0.01L);  // the nearest extended value, as a literal gives it
  ASSERT_TRUE(TryStrToFloat(".5", v));
  EXPECT_EQ(v, 0.5L);
  ASSERT_TRUE(TryStrToFloat("3.", v));
  EXPECT_EQ(v, 3.0L);
  for (const char* bad : {"14,4", "", "-", ".", "1e", "1e+", "1.2.3", "1 ", "abc", "1e99999"}) {
    long double w = 7;
    EXPECT_FALSE(TryStrToFloat(bad, w)) << bad;
    EXPECT_EQ(w, 7.0L);
  }
}

}  // namespace
}  // namespace zo
