#include "settings/AtomicFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/settings/SettingsTestSupport.h"

namespace zo::test {
namespace {

TEST(AtomicFile, ReplacesKeepingPermissionsAndFollowingLinks) {
  TempFolder folder;
  const std::string path = folder.File("a.zsf");
  ASSERT_TRUE(AtomicWriteFile(path, "new file"));
  EXPECT_EQ(ReadBytes(path), "new file");

  chmod(path.c_str(), 0640);
  ASSERT_TRUE(AtomicWriteFile(path, std::string("second\0x", 8)));
  EXPECT_EQ(ReadBytes(path), std::string("second\0x", 8));
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  ASSERT_EQ(symlink("a.zsf", folder.File("link.zsf").c_str()), 0);
  ASSERT_TRUE(AtomicWriteFile(folder.File("link.zsf"), "through the link"));
  EXPECT_EQ(ReadBytes(path), "through the link");
  struct stat lst {};
  ASSERT_EQ(lstat(folder.File("link.zsf").c_str(), &lst), 0);
  EXPECT_TRUE(S_ISLNK(lst.st_mode));
  unlink(folder.File("link.zsf").c_str());
  EXPECT_EQ(folder.Files(), std::vector<std::string>{"a.zsf"});
}

TEST(AtomicFile, FailureLeavesTheTargetAndNoTemporary) {
  TempFolder folder;
  const std::string path = folder.File("a.zsf");
  WriteBytes(path, "old");
  for (TAtomicStep failing :
       {TAtomicStep::Create, TAtomicStep::Write, TAtomicStep::Sync, TAtomicStep::Rename}) {
    FailAtomicStep(failing);
    std::string error;
    EXPECT_FALSE(AtomicWriteFile(path, "new", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(ReadBytes(path), "old");
    EXPECT_EQ(folder.Files(), std::vector<std::string>{"a.zsf"});
  }
  SetAtomicWriteFailureHook(nullptr);

  EXPECT_FALSE(AtomicWriteFile(folder.File("missing/a.zsf"), "x"));
  EXPECT_FALSE(AtomicWriteFile(folder.Path(), "x"));  // a folder is no file
  EXPECT_FALSE(AtomicWriteFile("", "x"));
  // A read-only file stays, although its folder is writable, also for root.
  chmod(path.c_str(), 0444);
  EXPECT_FALSE(AtomicWriteFile(path, "new"));
  EXPECT_EQ(ReadBytes(path), "old");
  chmod(path.c_str(), 0644);
  EXPECT_EQ(folder.Files(), std::vector<std::string>{"a.zsf"});
}

TEST(AtomicFile, ReadsOnlyRegularFilesWithinTheLimit) {
  TempFolder folder;
  const std::string path = folder.File("f");
  WriteBytes(path, "0123456789");
  std::string data;
  EXPECT_EQ(ReadWholeFile(path, 10, data), TReadResult::Ok);
  EXPECT_EQ(data, "0123456789");
  EXPECT_EQ(ReadWholeFile(path, 9, data), TReadResult::TooLarge);
  EXPECT_EQ(ReadFileStart(path, 4, data), TReadResult::Ok);
  EXPECT_EQ(data, "0123");
  EXPECT_EQ(ReadFileStart(path, 40, data), TReadResult::Ok);
  EXPECT_EQ(data, "0123456789");
  EXPECT_EQ(ReadWholeFile(folder.File("none"), 10, data), TReadResult::CannotOpen);
  EXPECT_EQ(ReadWholeFile(folder.Path(), 10, data), TReadResult::CannotOpen);
  ASSERT_EQ(mkfifo(folder.File("pipe").c_str(), 0600), 0);
  EXPECT_EQ(ReadFileStart(folder.File("pipe"), 10, data), TReadResult::CannotOpen);
}

}  // namespace
}  // namespace zo::test
