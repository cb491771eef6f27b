// Numbers given as text in the --json documents: the number they spell, printed without noise,
// or the text itself.
#include <gtest/gtest.h>

#include "cli/Json.h"

namespace zo {
namespace {

TEST(Json, NumberTextBecomesItsNumberOrStaysText) {
  const std::pair<const char*, const char*> numbers[] = {
      {"14.40", "14.4"}, {"28.00", "28.0"}, {"52", "52"},           {"-5", "-5"},
      {"0.1", "0.1"},    {"0.7", "0.7"},    {"589.185", "589.185"}, {"12.345000", "12.345"}};
  for (const auto& [text, printed] : numbers) {
    const TJson value = NumberOrText(text);
    EXPECT_TRUE(value.is_number()) << text;
    EXPECT_EQ(JsonText(value), std::string(printed) + "\n") << text;
  }
  for (const char* text : {"", " 5", "5 ", "05", "1.", "+1", "Error during read", "$FF", "nan",
                           "1e999", "[1]", "\"5\""})
    EXPECT_EQ(NumberOrText(text), TJson(text)) << text;
}

}  // namespace
}  // namespace zo
