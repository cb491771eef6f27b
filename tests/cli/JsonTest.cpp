// The --json writer: separators, nesting, escaping and numbers given as text.
#include <gtest/gtest.h>

#include "cli/Json.h"

namespace zo {
namespace {

TEST(Json, NestedDocumentWithSeparatorsAndIndentation) {
  TJsonWriter j;
  j.BeginObject();
  j.Member("name", "a\"b\\c\rd\x01");
  j.Key("list");
  j.BeginArray();
  j.Integer(-5);
  j.BeginObject();
  j.MemberBool("on", true);
  j.EndObject();
  j.BeginArray();
  j.EndArray();
  j.Null();
  j.EndArray();
  j.Key("empty");
  j.BeginObject();
  j.EndObject();
  j.EndObject();
  EXPECT_EQ(j.Text(),
            "{\n"
            "  \"name\": \"a\\\"b\\\\c\\rd\\u0001\",\n"
            "  \"list\": [\n"
            "    -5,\n"
            "    {\n"
            "      \"on\": true\n"
            "    },\n"
            "    [],\n"
            "    null\n"
            "  ],\n"
            "  \"empty\": {}\n"
            "}\n");
}

TEST(Json, NumberTextFallsBackToAStringWhenItIsNoNumber) {
  for (const char* number : {"0", "-1", "14.40", "2.5e-3", "1E+9"})
    EXPECT_TRUE(IsJsonNumber(number)) << number;
  for (const char* text :
       {"", "-", "05", "1.", ".5", "+1", "1e", "Error during read", "$FF", "nan"})
    EXPECT_FALSE(IsJsonNumber(text)) << text;
  TJsonWriter j;
  j.BeginArray();
  j.NumberText("28.80");
  j.NumberText("Error during read");
  j.EndArray();
  EXPECT_EQ(j.Text(), "[\n  28.80,\n  \"Error during read\"\n]\n");
}

TEST(Json, TextThatIsNoUtf8BecomesReplacementCharactersAndUtf8PassesUnchanged) {
  // A file name in Latin-1, a stray continuation byte, an overlong "/", a surrogate and a cut-off
  // sequence: each bad byte is replaced, the good characters around them stay.
  EXPECT_EQ(JsonQuote("caf\xE9.zsf"), "\"caf\\ufffd.zsf\"");
  EXPECT_EQ(JsonQuote("a\x80"
                      "b"),
            "\"a\\ufffdb\"");
  EXPECT_EQ(JsonQuote("\xC0\xAF"), "\"\\ufffd\\ufffd\"");
  EXPECT_EQ(JsonQuote("\xED\xA0\x80"), "\"\\ufffd\\ufffd\\ufffd\"");
  EXPECT_EQ(JsonQuote("x\xE2\x82"), "\"x\\ufffd\\ufffd\"");
  EXPECT_EQ(JsonQuote("120\u00B0 \u20AC \U0001F50C"), "\"120\u00B0 \u20AC \U0001F50C\"");
}

}  // namespace
}  // namespace zo
