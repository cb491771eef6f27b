// Saving files on Windows: the temporary file beside the target, moved over it in one step, and
// the same rules as on Linux for what else in the folder may be touched.
#include <windows.h>

#include <gtest/gtest.h>

#include "platform/WindowsText.h"
#include "settings/AtomicFile.h"
#include "tests/settings/SettingsTestSupport.h"

namespace zo::test {
namespace {

DWORD Attributes(const std::string& Path) {
  return GetFileAttributesW(WideOf(Path).c_str());
}

TEST(AtomicFileOnWindows, ReplacesKeepingAttributesRefusesReadOnlyAndTakesUtf8Names) {
  TempFolder folder;
  const std::string path = folder.File("Überspannung Ω.zsf");
  ASSERT_TRUE(AtomicWriteFile(path, "new file"));
  std::string data;
  ASSERT_EQ(ReadWholeFile(path, 100, data), TReadResult::Ok);
  EXPECT_EQ(data, "new file");

  ASSERT_TRUE(SetFileAttributesW(WideOf(path).c_str(), FILE_ATTRIBUTE_ARCHIVE));
  ASSERT_TRUE(AtomicWriteFile(path, std::string("second\0x", 8)));
  ASSERT_EQ(ReadWholeFile(path, 100, data), TReadResult::Ok);
  EXPECT_EQ(data, std::string("second\0x", 8));
  EXPECT_NE(Attributes(path) & FILE_ATTRIBUTE_ARCHIVE, 0u);

  ASSERT_TRUE(SetFileAttributesW(WideOf(path).c_str(), FILE_ATTRIBUTE_READONLY));
  std::string error;
  EXPECT_FALSE(AtomicWriteFile(path, "third", &error));
  EXPECT_NE(error.find("read-only"), std::string::npos) << error;
  SetFileAttributesW(WideOf(path).c_str(), FILE_ATTRIBUTE_NORMAL);
  ASSERT_EQ(ReadWholeFile(path, 100, data), TReadResult::Ok);
  EXPECT_EQ(data, std::string("second\0x", 8));
  EXPECT_EQ(folder.Files().size(), 1u);  // no temporary left
  EXPECT_EQ(ReadWholeFile(folder.Path(), 10, data), TReadResult::CannotOpen);
}

TEST(AtomicFileOnWindows, FailureLeavesTheTargetAndOnlyDeadWritersLeftoversGo) {
  TempFolder folder;
  const std::string path = folder.File("a.zsf");
  WriteBytes(path, "old");
  for (TAtomicStep failing :
       {TAtomicStep::Create, TAtomicStep::Write, TAtomicStep::Sync, TAtomicStep::Rename}) {
    FailAtomicStep(failing);
    EXPECT_FALSE(AtomicWriteFile(path, "new"));
    EXPECT_EQ(ReadBytes(path), "old");
    EXPECT_EQ(folder.Files(), std::vector<std::string>{"a.zsf"});
  }
  SetAtomicWriteFailureHook(nullptr);

  wchar_t host[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  ASSERT_TRUE(GetComputerNameW(host, &size));
  const std::string stem = "a.zsf.tmp-" + Utf8Of(std::wstring(host, size)) + "-";
  // A process id that runs (this one) and one that cannot (ids are multiples of 4).
  const std::string alive = stem + std::to_string(GetCurrentProcessId()) + "-Ab12Cd";
  const std::string dead = stem + "4000001-Ab12Cd";
  const std::string other_host = "a.zsf.tmp-elsewhere-4000001-Ab12Cd";
  const std::string not_ours = stem + "4000001-Ab12C";
  for (const std::string& name : {alive, dead, other_host, not_ours})
    WriteBytes(folder.File(name), "x");
  ASSERT_TRUE(AtomicWriteFile(path, "new"));
  EXPECT_EQ(ReadBytes(path), "new");
  std::vector<std::string> expected = {"a.zsf", alive, other_host, not_ours};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(folder.Files(), expected);
}

}  // namespace
}  // namespace zo::test
