// Saves and the conversion of an older VERSION.DAT in folders shared with other files and other
// users: only a leftover that is certainly ours is removed, and a writable file in a folder this
// user may not write is written in place.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "settings/SettingsFile.h"
#include "tests/settings/SettingsTestSupport.h"
#include "tests/support/ScriptedUi.h"

namespace zo::test {
namespace {

constexpr std::int32_t kSharedVersion = 1711104;

std::string Host() {
  char buffer[256] = {};
  gethostname(buffer, sizeof buffer - 1);
  return buffer;
}

// The id of a process that has ended.
std::string EndedProcess() {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  return std::to_string(child);
}

std::vector<std::string> Sorted(std::vector<std::string> Names) {
  std::sort(Names.begin(), Names.end());
  return Names;
}

// Runs `Body` in a child process as an ordinary user (nobody, when the tests run as root: the
// kernel lets root write into any folder); its exit status, 90 when privileges could not be
// dropped.
int AsOrdinaryUser(const std::function<int()>& Body) {
  const pid_t child = fork();
  if (child == 0) {
    if (geteuid() == 0) {
      const passwd* nobody = getpwnam("nobody");
      const uid_t uid = nobody != nullptr ? nobody->pw_uid : 65534;
      const gid_t gid = nobody != nullptr ? nobody->pw_gid : 65534;
      if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) _exit(90);
    }
    _exit(Body());
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SharedFolder, ASaveAndAConversionRemoveOnlyTheirOwnLeftovers) {
  ScriptedUi ui;
  SettingsModel model;
  ASSERT_TRUE(model.Error().empty());
  SettingsModel::Select(kSharedVersion);
  const std::string host = Host(), ended = EndedProcess();
  for (const std::string target : {"r.zsf", "VERSION.DAT"}) {
    SCOPED_TRACE(target);
    const TempFolder& folder = model.Folder();
    const std::string tmp = target + ".tmp-";
    const std::vector<std::string> neighbours{
        tmp + "backup",                            // a user's own file
        tmp + ended,                               // no host, no tag
        tmp + ended + "-Ab12cd",                   // no host
        tmp + "other-host-" + ended + "-Ab12cd",   // another machine's save in progress
        tmp + host + "-" + ended + "-Ab12cd.bak",  // more after the tag
        tmp + host + "-" + ended + "-Ab12c",       // a short tag
        tmp + host + "-0" + ended + "-Ab12cd",     // not a process id
        tmp + host + "-1-Ab12cd",                  // a process that runs
        tmp + host + "-" + std::to_string(getpid()) + "-Ab12cd",  // this process
    };
    for (const std::string& name : neighbours)
      WriteBytes(folder.File(name), "keep");
    WriteBytes(folder.File(tmp + host + "-" + ended + "-Ab12cd"), "leftover");

    if (target == "r.zsf") {
      std::string message;
      SaveSettingsFile(folder.File(target), message);
      EXPECT_EQ(message, "");
    } else {
      WriteBytes(model.VersionFile(), OlderKind(BuiltInRecords()));
      std::string error;
      InitSettings(error);
      EXPECT_EQ(error, "");
      EXPECT_EQ(ReadBytes(model.VersionFile()), EncodeVersionFile(BuiltInRecords()));
    }
    std::vector<std::string> expected = neighbours;
    expected.insert(expected.end(), {"VERSION.DAT", "r.zsf"});
    EXPECT_EQ(Sorted(folder.Files()), Sorted(expected));
    for (const std::string& name : neighbours) {
      EXPECT_EQ(ReadBytes(folder.File(name)), "keep") << name;
      unlink(folder.File(name).c_str());
    }
  }
}

TEST(SharedFolder, AWritableFileInAFolderThisUserCannotWriteIsWrittenInPlace) {
  ScriptedUi ui;
  SettingsModel model;
  ASSERT_TRUE(model.Error().empty());
  SettingsModel::Select(kSharedVersion);
  TempFolder folder;
  chmod(folder.Path().c_str(), 0755);
  const std::string shared = folder.File("shared");
  ASSERT_EQ(mkdir(shared.c_str(), 0755), 0);
  const std::string mine = shared + "/r.zsf", theirs = shared + "/theirs.zsf",
                    version_file = shared + "/VERSION.DAT";
  WriteBytes(mine, "old");
  WriteBytes(theirs, "theirs");
  WriteBytes(version_file, OlderKind(BuiltInRecords()));
  chmod(mine.c_str(), 0666);
  chmod(theirs.c_str(), 0644);
  chmod(version_file.c_str(), 0666);
  chmod(shared.c_str(), 0555);

  const int status = AsOrdinaryUser([&] {
    if (open((shared + "/new").c_str(), O_WRONLY | O_CREAT, 0644) >= 0) return 91;
    std::string message, error;
    SaveSettingsFile(mine, message);
    if (!message.empty()) return 1;
    SaveSettingsFile(theirs, message);
    if (message != "Error creating file: " + theirs) return 2;
    ReadVersionFile(version_file, error);
    return error.empty() ? 0 : 3;
  });
  chmod(shared.c_str(), 0755);
  ASSERT_NE(status, 90) << "cannot drop root's privileges";
  ASSERT_NE(status, 91) << "the folder does not refuse new files to an ordinary user";
  EXPECT_EQ(status, 0);

  std::string message;
  SaveSettingsFile(folder.File("expected.zsf"), message);
  EXPECT_EQ(ReadBytes(mine), ReadBytes(folder.File("expected.zsf")));
  EXPECT_EQ(ReadBytes(theirs), "theirs");
  EXPECT_EQ(ReadBytes(version_file), EncodeVersionFile(BuiltInRecords()));
  for (const char* name : {"r.zsf", "theirs.zsf", "VERSION.DAT"})
    unlink((shared + "/" + name).c_str());
  EXPECT_EQ(rmdir(shared.c_str()), 0) << "the save left a file behind";
}

TEST(SharedFolder, AnInPlaceWriteThatFailsPutsThePreviousBytesBack) {
  TempFolder folder;
  const std::string path = folder.File("a.zsf");
  WriteBytes(path, "previous");
  // The folder refuses the temporary file: the file is written in place.
  SetAtomicWriteFailureHook([](TAtomicStep At) { return At != TAtomicStep::Create; });
  EXPECT_TRUE(AtomicWriteFile(path, "new"));
  EXPECT_EQ(ReadBytes(path), "new");
  // ... and when that write fails after the truncation, the previous bytes come back.
  for (TAtomicStep step : {TAtomicStep::Write, TAtomicStep::Sync, TAtomicStep::InPlace}) {
    SetAtomicWriteFailureHook(
        [step](TAtomicStep At) { return At != TAtomicStep::Create && At != step; });
    std::string error;
    EXPECT_FALSE(AtomicWriteFile(path, "newer", &error)) << static_cast<int>(step);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(ReadBytes(path), "new") << static_cast<int>(step);
  }
  SetAtomicWriteFailureHook(nullptr);
  EXPECT_EQ(folder.Files(), std::vector<std::string>{"a.zsf"});
}

}  // namespace
}  // namespace zo::test
