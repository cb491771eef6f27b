#include "adapter/Textlogger.h"

#include "adapter/AdapterLog.h"

#include <gtest/gtest.h>

#include <thread>

namespace zo {
namespace {

std::string Log() {
  std::string text;
  GetLogText(text);
  return text;
}

int Lines(const std::string& text) {
  int n = 0;
  for (std::size_t p = text.find("\r\n"); p != std::string::npos; p = text.find("\r\n", p + 2))
    ++n;
  return n;
}

class TextloggerTest : public ::testing::Test {
 protected:
  void TearDown() override { SetLogSize(0); }
};

TEST_F(TextloggerTest, OffUntilSizedAndAfterSizeZero) {
  LogText("lost");
  EXPECT_EQ(Log(), "");
  ASSERT_TRUE(SetLogSize(10));
  LogText("kept");
  EXPECT_NE(Log().find("kept"), std::string::npos);
  ASSERT_TRUE(SetLogSize(0));
  LogText("lost again");
  EXPECT_EQ(Log(), "");
}

TEST_F(TextloggerTest, EntryIsEmptyLineSeparatorAndMessageLines) {
  SetLogSize(100);
  LogText("one\rtwo\nthree\r\nfour");
  const std::string text = Log();
  EXPECT_EQ(text.rfind("\r\n_______  ", 0), 0u);  // leading empty line, then the separator
  EXPECT_NE(text.find("\r\none\r\ntwo\r\nthree\r\nfour\r\n"), std::string::npos);
  EXPECT_EQ(Lines(text), 6);
}

TEST_F(TextloggerTest, TrimmingRemovesWholeEntries) {
  SetLogSize(2);
  LogText("single");
  std::string text = Log();
  EXPECT_EQ(Lines(text), 2);  // only the leading empty line went
  EXPECT_EQ(text.rfind("_______  ", 0), 0u);
  EXPECT_NE(text.find("single"), std::string::npos);

  SetLogSize(0);
  SetLogSize(2);
  LogText("two\rlines");  // three lines for a limit of two: nothing stays
  EXPECT_EQ(Log(), "");

  SetLogSize(0);
  SetLogSize(4);
  LogText("first");
  LogText("second");  // 6 lines: the leading empty line goes, then the oldest entry whole
  text = Log();
  EXPECT_EQ(text.find("first"), std::string::npos);
  EXPECT_NE(text.find("second"), std::string::npos);
  EXPECT_EQ(text.rfind("_______  ", 0), 0u);
}

TEST_F(TextloggerTest, MessageLineThatLooksLikeASeparatorIsAnEntryBoundary) {
  SetLogSize(3);
  LogText("a\r_______  fake");  // "", separator, a, fake: the empty line goes
  EXPECT_EQ(Log().rfind("_______  ", 0), 0u);
  SetLogSize(5);
  LogText("b");  // six lines: the trim stops at the message line that looks like a separator
  EXPECT_EQ(Log().rfind("_______  fake\r\n\r\n_______  ", 0), 0u);
}

TEST_F(TextloggerTest, NewLimitKeepsLinesUntilTheNextEntry) {
  SetLogSize(100);
  for (int i = 0; i < 5; ++i)
    LogText("entry " + std::to_string(i));
  const int before = Lines(Log());
  SetLogSize(3);
  EXPECT_EQ(Lines(Log()), before);
  LogText("last");
  EXPECT_LE(Lines(Log()), 3);
}

// A detection repeated every cycle must not push everything else out of the log: the entry counts
// the repeats on its last line, and readers of the log still see the line it was.
TEST_F(TextloggerTest, ARepeatedMessageIsCountedInItsEntry) {
  SetLogSize(16);
  LogText("Port opened");
  LogText("  DL2 detected\r    mode: ZOBus");
  LogText("  Badly programmed DL2 detected");
  LogText("  Badly programmed DL2 detected");
  EXPECT_NE(Log().find("\r\n  Badly programmed DL2 detected (repeated once)\r\n"),
            std::string::npos);
  for (int i = 0; i < 39; ++i)
    LogText("  Badly programmed DL2 detected");
  std::string text = Log();
  EXPECT_NE(text.find("Port opened"), std::string::npos);
  EXPECT_EQ(Lines(text), 10);
  EXPECT_NE(text.find("\r\n  Badly programmed DL2 detected (repeated 40 times)\r\n"),
            std::string::npos);
  EXPECT_EQ(text.find("Badly programmed DL2 detected\r\n"), std::string::npos);
  EXPECT_EQ(AdapterFromLog(text).Kind, "badly programmed DL2");
  EXPECT_EQ(WithoutRepeatCount("  mode: ZOBus (repeated 3 times)"), "  mode: ZOBus");
  EXPECT_EQ(WithoutRepeatCount("(repeated often)"), "(repeated often)");

  // Another message ends the count; the same one after it is an entry of its own again.
  LogText("  DL2 detected\r    mode: ZOBus");
  LogText("  DL2 detected\r    mode: ZOBus");
  LogText("  Badly programmed DL2 detected");
  text = Log();
  EXPECT_NE(text.find("    mode: ZOBus (repeated once)\r\n\r\n_______  "), std::string::npos);
  EXPECT_EQ(AdapterFromLog(text).Kind, "badly programmed DL2");
  EXPECT_EQ(text.rfind("(repeated 40 times)"), text.find("(repeated 40 times)"));
}

TEST_F(TextloggerTest, CallsFromManyThreadsNeverBlockOrCorrupt) {
  SetLogSize(256);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([] {
      for (int i = 0; i < 200; ++i) {
        LogText("x");
        std::string s;
        GetLogText(s);
      }
    });
  for (auto& t : threads)
    t.join();
  // Contending calls give up rather than wait, so under load most entries of the threads may have
  // been dropped; one more, uncontended, must be taken.
  LogText("y");
  const std::string text = Log();
  EXPECT_LE(Lines(text), 256);
  // Whole entries only: the log begins with a separator line once it has been trimmed, and with
  // the first entry's empty line while fewer entries than the limit allows were taken.
  EXPECT_TRUE(text.rfind("_______  ", 0) == 0 || text.rfind("\r\n_______  ", 0) == 0)
      << text.substr(0, 40);
}

}  // namespace
}  // namespace zo
