// The platform seams that every platform has: local time with its offset, files named in UTF-8,
// held output, the program's folder.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/Files.h"
#include "platform/LocalTime.h"

namespace zo {
namespace {

// Seconds since 1970 of a date and time read as UTC (days from the civil date).
long long AsUtc(const std::tm& T) {
  const int y = T.tm_year + 1900 - (T.tm_mon < 2 ? 1 : 0);
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int mp = (T.tm_mon + 10) % 12;  // March is 0
  const int doy = (153 * mp + 2) / 5 + T.tm_mday - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const long long days = static_cast<long long>(era) * 146097 + doe - 719468;
  return days * 86400 + T.tm_hour * 3600 + T.tm_min * 60 + T.tm_sec;
}

TEST(Platform, LocalTimeIsTheMomentShiftedByItsOffset) {
  // Winter and summer of a year, and now: wherever daylight saving applies, one of them has it.
  for (std::time_t moment :
       {std::time_t{1767225600}, std::time_t{1782864000}, std::time(nullptr)}) {
    const TLocalTime local = LocalTimeOf(moment);
    EXPECT_EQ(AsUtc(local.Fields) - local.OffsetSeconds, static_cast<long long>(moment));
    EXPECT_LE(std::abs(local.OffsetSeconds), 14 * 3600L);
  }
}

TEST(Platform, FilesNamedInUtf8AreWrittenByteForByteAndOutputIsHeld) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("zo-platform-" + std::to_string(std::rand()));
  std::filesystem::create_directories(folder);
  const std::string name = TextOf(folder) + "/Überspannung Ω.csv";
  std::FILE* f = OpenFile(name, "w");
  ASSERT_NE(f, nullptr);
  std::fputs("a\nb\n", f);
  std::fclose(f);
  EXPECT_EQ(std::filesystem::file_size(PathOf(name)), 4u);  // no carriage returns added
  EXPECT_TRUE(std::filesystem::exists(folder / std::u8string(u8"Überspannung Ω.csv")));
  std::filesystem::remove_all(folder);

  THeldOutput held;
  ASSERT_NE(held.Stream(), nullptr);
  std::fputs("{\n  \"ok\": true\n}\n", held.Stream());
  EXPECT_EQ(held.Take(), "{\n  \"ok\": true\n}\n");
  EXPECT_EQ(held.Take(), "");

  EXPECT_TRUE(std::filesystem::is_directory(PathOf(ExecutableFolder())));
}

}  // namespace
}  // namespace zo
