// A settings save and the conversion of an older VERSION.DAT, interrupted: by a failing step of
// the write (the disk full, an I/O error), or by the process being killed at any point of it. The
// previous file is intact or the new one complete, never a mix, and no temporary file stays.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <thread>

#include "settings/SettingsFile.h"
#include "tests/settings/SettingsTestSupport.h"
#include "tests/support/Repetitions.h"
#include "tests/support/VirtualClock.h"

namespace zo::test {
namespace {

constexpr std::int32_t kVersion = 1711104;

std::vector<std::string> Temporaries(const TempFolder& Folder) {
  std::vector<std::string> temps;
  for (const std::string& f : Folder.Files())
    if (f.find(".tmp-") != std::string::npos) temps.push_back(f);
  return temps;
}

// The bytes SaveSettingsFile writes for the model as it is now.
std::string SavedBytes(const TempFolder& Folder) {
  std::string message;
  const std::string path = Folder.File("probe.zsf");
  SaveSettingsFile(path, message);
  EXPECT_TRUE(message.empty());
  const std::string bytes = ReadBytes(path);
  unlink(path.c_str());
  return bytes;
}

// A model whose settings differ between the two variants, so that a mix would show.
void Variant(int Which) {
  SetDefaults();
  if (Which == 1) {
    SetBatteryDefaults(1);
    SettingTable[SettingChargeCurrent].Value = 3;
    SetFlag(FlagStorageMode, false);
  }
}

class InterruptedWrite : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(model_.Error().empty());
    SettingsModel::Select(kVersion);
    Variant(0);
    old_ = SavedBytes(folder_);
    Variant(1);
    new_ = SavedBytes(folder_);
    ASSERT_NE(old_, new_);
    ASSERT_EQ(old_.size(), SettingsFileBytes);
  }
  void TearDown() override { SetAtomicWriteFailureHook({}); }

  SettingsModel model_;
  TempFolder folder_;
  std::string old_, new_;
};

TEST_F(InterruptedWrite, SaveFailingAtEveryStepLeavesThePreviousFileAndNoTemporary) {
  const std::string path = folder_.File("settings.zsf");
  for (TAtomicStep step :
       {TAtomicStep::Create, TAtomicStep::Write, TAtomicStep::Sync, TAtomicStep::Rename}) {
    WriteBytes(path, old_);
    FailAtomicStep(step);
    std::string message;
    SaveSettingsFile(path, message);
    EXPECT_EQ(message, "Error creating file: " + path) << static_cast<int>(step);
    EXPECT_EQ(ReadBytes(path), old_) << static_cast<int>(step);
    EXPECT_TRUE(Temporaries(folder_).empty()) << static_cast<int>(step);
  }
  SetAtomicWriteFailureHook({});
  std::string message;
  SaveSettingsFile(path, message);
  EXPECT_TRUE(message.empty());
  EXPECT_EQ(ReadBytes(path), new_);
}

TEST_F(InterruptedWrite, ConversionFailingAtEveryStepLeavesTheOlderFile) {
  const std::vector<TVersion::TRecord> records{BuiltIn(kVersion)};
  const std::string older = OlderKind(records);
  for (TAtomicStep step :
       {TAtomicStep::Create, TAtomicStep::Write, TAtomicStep::Sync, TAtomicStep::Rename}) {
    WriteBytes(model_.VersionFile(), older);
    FailAtomicStep(step);
    std::string error;
    InitSettings(error);
    EXPECT_EQ(error, VersionFileUpdateFailedText) << static_cast<int>(step);
    EXPECT_EQ(ReadBytes(model_.VersionFile()), older) << static_cast<int>(step);
    EXPECT_TRUE(Temporaries(model_.Folder()).empty()) << static_cast<int>(step);
  }
  SetAtomicWriteFailureHook({});
  std::string error;
  InitSettings(error);
  EXPECT_TRUE(error.empty());
  EXPECT_EQ(ReadBytes(model_.VersionFile()), EncodeVersionFile(records));
}

// Runs `Write` in a child process that is killed after a seeded delay, over many repetitions;
// `Check` then judges what the child left. Returns how many kills came before the write was done.
template <class Prepare, class Write, class Check>
int KillWhileWriting(int Repetitions, std::uint32_t Seed, Prepare prepare, Write write,
                     Check check) {
  std::mt19937 random(Seed);
  int interrupted = 0;
  for (int rep = 0; rep < Repetitions; ++rep) {
    prepare();
    const pid_t child = fork();
    if (child == 0) {
      write();
      _exit(0);
    }
    // Spread the kills over the write and a little before and after it.
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 1500));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFSIGNALED(status)) ++interrupted;
    check(rep);
  }
  return interrupted;
}

TEST_F(InterruptedWrite, SaveKilledAtAnyPointLeavesOneWholeFile) {
  const std::string path = folder_.File("settings.zsf");
  int left_behind = 0;
  const int interrupted = KillWhileWriting(
      FaultRepetitions(), 29, [&] { WriteBytes(path, old_); },
      [&] {
        // The model already holds the new settings (variant 1).
        std::string message;
        SaveSettingsFile(path, message);
      },
      [&](int rep) {
        const std::string now = ReadBytes(path);
        ASSERT_TRUE(now == old_ || now == new_)
            << "rep " << rep << ": a mix of " << now.size() << " bytes";
        // A writer killed while its file had a name leaves that file; the next write of the
        // same target takes it away.
        if (!Temporaries(folder_).empty()) {
          ++left_behind;
          std::string message;
          SaveSettingsFile(path, message);
          ASSERT_TRUE(message.empty());
          EXPECT_TRUE(Temporaries(folder_).empty()) << "rep " << rep;
        }
      });
  std::printf(
      "%d saves killed, %d of them before the end; %d left a temporary file that the next "
      "save removed\n",
      FaultRepetitions(), interrupted, left_behind);
  EXPECT_GT(interrupted, 0) << "no kill hit a save: the delays missed the write";
}

TEST_F(InterruptedWrite, ConversionKilledAtAnyPointLeavesTheOlderOrTheConvertedFile) {
  const std::vector<TVersion::TRecord> records{BuiltIn(kVersion), BuiltIn(1711104)};
  const std::string older = OlderKind(records), converted = EncodeVersionFile(records);
  int converted_count = 0;
  const int interrupted = KillWhileWriting(
      FaultRepetitions(), 31, [&] { WriteBytes(model_.VersionFile(), older); },
      [&] {
        VirtualClock clock;  // the child is single-threaded: its 10 ms pause passes at once
        std::string error;
        InitSettings(error);
      },
      [&](int rep) {
        const std::string now = ReadBytes(model_.VersionFile());
        ASSERT_TRUE(now == older || now == converted) << "rep " << rep << ": " << now.size();
        if (now == converted) ++converted_count;
        if (!Temporaries(model_.Folder()).empty()) {
          // The next start converts again (or reads the converted file) and tidies up.
          WriteBytes(model_.VersionFile(), older);
          std::string error;
          InitSettings(error);
          EXPECT_TRUE(error.empty());
          EXPECT_TRUE(Temporaries(model_.Folder()).empty()) << "rep " << rep;
        }
      });
  std::printf("%d conversions killed, %d before the end, %d found converted\n", FaultRepetitions(),
              interrupted, converted_count);
  EXPECT_GT(interrupted, 0);
}

}  // namespace
}  // namespace zo::test
