// A recording that the disk stops taking: the file ends with the last whole row. The full disk is
// a file-size limit of this process (RLIMIT_FSIZE), which fails the write that crosses it as a
// full disk would, at a byte the test chooses.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "connection/LiveCsv.h"

namespace zo {
namespace {

TEST(LiveCsv, ARowTheDiskDoesNotTakeWholeIsTakenBack) {
  const TimePoint start{};
  TLiveHistory history(start);
  for (int k = 0; k < 3; ++k) {
    for (const TLiveValueInfo& value : LiveValues())
      history.ValueRead(value.LabelName, true, "27.125", start + std::chrono::seconds(k));
    history.CycleEnded(start + std::chrono::seconds(k) + std::chrono::milliseconds(900));
  }
  std::uint64_t next = 0;
  const std::vector<TLiveRow> rows = history.RowsAfter(next);
  ASSERT_EQ(rows.size(), 3u);
  const std::string header = TLiveCsvWriter::HeaderText();
  const std::string first = TLiveCsvWriter::RowText(rows[0], history);

  char path[] = "/tmp/zo-live-csv-XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  ::close(fd);
  // The limit falls in the middle of the second row.
  const rlim_t limit = header.size() + first.size() + first.size() / 2;
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto saved_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit lowered = saved;
  lowered.rlim_cur = limit;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &lowered), 0);
  bool wrote[3] = {};
  std::string error;
  {
    TLiveCsvWriter csv;
    const bool opened = csv.Open(path);
    for (int k = 0; k < 3; ++k)
      wrote[k] = csv.Write(rows[static_cast<std::size_t>(k)], history);
    csv.Close();
    error = csv.Error();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, saved_handler);
    ASSERT_TRUE(opened);
  }
  EXPECT_TRUE(wrote[0]);
  EXPECT_FALSE(wrote[1]);
  EXPECT_FALSE(wrote[2]);
  EXPECT_EQ(error, std::string("Cannot write file: ") + path + " (File too large)");
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  EXPECT_EQ(text.str(), header + first);
  ::unlink(path);
}

}  // namespace
}  // namespace zo
