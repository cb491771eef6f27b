#include "settings/AtomicFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "tests/settings/SettingsTestSupport.h"

#ifdef __linux__
// The program is linked with --wrap=fsync and --wrap=rename: while `recording_file_calls` is set,
// each call is noted in `FileCalls` with the inode of the file it flushed or moved, so that the
// order of a save's calls can be checked.
namespace {
bool recording_file_calls = false;
std::vector<std::pair<char, ino_t>> FileCalls;

ino_t InodeOf(int Fd) {
  struct stat st {};
  return fstat(Fd, &st) == 0 ? st.st_ino : 0;
}
}  // namespace

extern "C" int __real_fsync(int Fd);
extern "C" int __real_rename(const char* From, const char* To);
extern "C" int __wrap_fsync(int Fd) {
  if (recording_file_calls) FileCalls.emplace_back('f', InodeOf(Fd));
  return __real_fsync(Fd);
}
extern "C" int __wrap_rename(const char* From, const char* To) {
  struct stat st {};
  if (recording_file_calls && stat(From, &st) == 0) FileCalls.emplace_back('r', st.st_ino);
  return __real_rename(From, To);
}
#endif

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

#ifdef __linux__
// The new file reaches the disk before it replaces the old one: a power cut in between leaves the
// old file or the whole new one, never an empty file.
TEST(AtomicFile, TheNewFileIsFlushedBeforeItReplacesTheOld) {
  TempFolder folder;
  const std::string path = folder.File("a.zsf");
  WriteBytes(path, "old");
  FileCalls.clear();
  recording_file_calls = true;
  ASSERT_TRUE(AtomicWriteFile(path, "new"));
  recording_file_calls = false;
  const auto rename = std::find_if(FileCalls.begin(), FileCalls.end(),
                                   [](const auto& Call) { return Call.first == 'r'; });
  ASSERT_NE(rename, FileCalls.end());
  EXPECT_NE(std::find(FileCalls.begin(), rename, std::make_pair('f', rename->second)), rename)
      << "renamed before it was flushed";
}
#endif

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
