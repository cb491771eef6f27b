#include "settings/VersionFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/settings/SettingsTestSupport.h"
#include "tests/support/ScriptedUi.h"

namespace zo::test {
namespace {

std::string Record(const TVersion::TRecord& r) {
  std::string data = EncodeVersionFile({r});
  return data.substr(VersionRecordBytes);  // the record without its check record
}

TVersion::TRecord Plus(TVersion::TRecord r, std::int32_t k) {
  for (auto& item : r)
    item =
        static_cast<std::int32_t>(static_cast<std::uint32_t>(item) + static_cast<std::uint32_t>(k));
  return r;
}

// What a start made of the folder's VERSION.DAT.
struct Outcome {
  std::string Error;
  std::string FileAfter;
  std::vector<std::string> Messages;
  std::vector<std::string> FilesAfter;
};

class VersionFileTest : public ::testing::Test {
 protected:
  void TearDown() override {
    SetAtomicWriteFailureHook(nullptr);
    DoneSettings();
    SetVersionFileFolder("");
  }

  Outcome Start(const std::string& name = "VERSION.DAT") {
    ui.Clear();
    SetVersionFileFolder(folder.Path());
    Outcome o;
    InitSettings(o.Error);
    o.FileAfter = ReadBytes(folder.File(name));
    o.Messages = ui.MessageTexts();
    o.FilesAfter = folder.Files();
    return o;
  }

  ScriptedUi ui;
  TempFolder folder;
  const TVersion::TRecord v1 = BuiltIn(1711104);
  const TVersion::TRecord v2 = BuiltIn(1400012);
};

TEST_F(VersionFileTest, CurrentKindListsTheVersionsInFileOrder) {
  WriteBytes(folder.File("VERSION.DAT"), Record(Plus(v1, 1)) + Record(v1));
  Outcome o = Start();
  EXPECT_EQ(o.Error, "");
  EXPECT_TRUE(o.Messages.empty());
  ASSERT_EQ(VersionList.size(), 1u);
  EXPECT_EQ(VersionList[0]->Record(), v1);
  EXPECT_EQ(CurrentVersion, nullptr);

  // Only a check record: valid, and no version is supported.
  TVersion::TRecord ones;
  ones.fill(1);
  WriteBytes(folder.File("VERSION.DAT"), Record(ones));
  o = Start();
  EXPECT_EQ(o.Error, "");
  EXPECT_TRUE(VersionList.empty());
  EXPECT_FALSE(SelectVersion(1711104));

  // Column sums that overflow 32 bits wrap.
  TVersion::TRecord big;
  big.fill(0x7FFFFFF0);
  WriteBytes(folder.File("VERSION.DAT"), EncodeVersionFile({big, big, big}));
  EXPECT_EQ(Start().Error, "");
  EXPECT_EQ(VersionList.size(), 3u);
}

TEST_F(VersionFileTest, LowerCaseNameIsAccepted) {
  WriteBytes(folder.File("version.dat"), EncodeVersionFile({v1, v2}));
  EXPECT_EQ(Start("version.dat").Error, "");
  EXPECT_EQ(VersionList.size(), 2u);
}

TEST_F(VersionFileTest, OlderKindIsConvertedOnce) {
  WriteBytes(folder.File("VERSION.DAT"), Record(v1) + Record(v1));
  Outcome o = Start();
  EXPECT_EQ(o.Error, "");
  EXPECT_EQ(o.Messages,
            std::vector<std::string>{"Found old type of VERSION.DAT file.\rUpdated succesfully."});
  EXPECT_EQ(ui.Messages()[0].Type, TMsgDlgType::mtInformation);
  EXPECT_EQ(o.FileAfter, Record(Plus(v1, 1)) + Record(v1));
  EXPECT_EQ(o.FilesAfter, std::vector<std::string>{"VERSION.DAT"});  // no temporary left
  ASSERT_EQ(VersionList.size(), 1u);

  o = Start();  // the next start reads it without a message
  EXPECT_EQ(o.Error, "");
  EXPECT_TRUE(o.Messages.empty());
}

TEST_F(VersionFileTest, OlderKindThatCannotBeWrittenStaysAsItWas) {
  for (TAtomicStep failing :
       {TAtomicStep::Create, TAtomicStep::Write, TAtomicStep::Sync, TAtomicStep::Rename}) {
    SCOPED_TRACE(static_cast<int>(failing));
    const std::string file =
        Record(Plus(VersionCheckRecord({v1, v2}), -1)) + Record(v1) + Record(v2);
    WriteBytes(folder.File("VERSION.DAT"), file);
    FailAtomicStep(failing);
    Outcome o = Start();
    EXPECT_EQ(o.Error,
              "Fatal error:\rFound old type of VERSION.DAT file.\rUpdate failed!\r\rVisit Tarnelo "
              "website to download latest VERSION.DAT file.");
    EXPECT_TRUE(o.Messages.empty());
    EXPECT_EQ(o.FileAfter, file);
    EXPECT_EQ(o.FilesAfter, std::vector<std::string>{"VERSION.DAT"});
    EXPECT_EQ(VersionList.size(), 2u);  // read, but not used
  }
}

// A small file written out byte by byte from the record layout: 47 little-endian items per
// record, the check record first, each of its items one more than the column sum (wrapping).
TEST_F(VersionFileTest, ASmallFileWrittenByHand) {
  auto items = [](const char* first, const char* middle, const char* last) {
    std::string r(first, 4);
    for (int j = 1; j < 46; ++j)
      r.append(middle, 4);
    return r.append(last, 4);
  };
  // Version 1711104 ($001A1C00), items 1 to 45 -1, item 46 $7FFFFFFF (its check wraps).
  const std::string check = items("\x01\x1C\x1A\x00", "\x00\x00\x00\x00", "\x00\x00\x00\x80");
  const std::string version = items("\x00\x1C\x1A\x00", "\xFF\xFF\xFF\xFF", "\xFF\xFF\xFF\x7F");
  ASSERT_EQ(check.size() + version.size(), 2 * VersionRecordBytes);
  WriteBytes(folder.File("VERSION.DAT"), check + version);
  const Outcome o = Start();
  EXPECT_EQ(o.Error, "");
  EXPECT_TRUE(o.Messages.empty());
  ASSERT_EQ(VersionList.size(), 1u);
  TVersion::TRecord expected;
  expected.fill(-1);
  expected[0] = 1711104;
  expected[46] = 0x7FFFFFFF;
  EXPECT_EQ(VersionList[0]->Record(), expected);
  EXPECT_EQ(EncodeVersionFile({expected}), check + version);
}

TEST_F(VersionFileTest, OlderKindMarkedReadOnlyStaysAsItWas) {
  const std::string file = Record(v1) + Record(v1);
  WriteBytes(folder.File("VERSION.DAT"), file);
  chmod(folder.File("VERSION.DAT").c_str(), 0444);
  Outcome o = Start();
  EXPECT_NE(o.Error.find("Update failed!"), std::string::npos);
  EXPECT_EQ(o.FileAfter, file);
  EXPECT_EQ(o.FilesAfter, std::vector<std::string>{"VERSION.DAT"});
}

TEST_F(VersionFileTest, DamagedFilesAreCorrupted) {
  const std::string corrupted = "Fatal error:\rVERSION.DAT file corrupted!";
  const std::string good = EncodeVersionFile({v1, v2});
  std::string off_by_one = good;
  off_by_one[4 * 17] = static_cast<char>(off_by_one[4 * 17] + 1);  // one item of the check record
  const std::string cases[] = {
      "",                                                      // empty
      good.substr(0, 100),                                     // shorter than one record
      good.substr(0, good.size() - 1),                         // a partial record at the end
      good + std::string(20, '\0'),                            // trailing bytes
      off_by_one,                                              // sums off in one item
      Record(Plus(VersionCheckRecord({v1}), 1)) + Record(v1),  // every difference 2
  };
  for (const std::string& data : cases) {
    SCOPED_TRACE(data.size());
    WriteBytes(folder.File("VERSION.DAT"), data);
    Outcome o = Start();
    EXPECT_EQ(o.Error, corrupted);
    EXPECT_EQ(o.FileAfter, data);  // reading never changes the file
    EXPECT_TRUE(o.Messages.empty());
    EXPECT_EQ(CurrentVersion, nullptr);
  }
}

TEST_F(VersionFileTest, HugeFileIsCorruptedWithoutReadingIt) {
  const std::string path = folder.File("VERSION.DAT");
  const int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, static_cast<off_t>(MaxVersionFileBytes + VersionRecordBytes)), 0);
  close(fd);
  EXPECT_EQ(Start().Error, VersionFileCorruptedText);
  EXPECT_TRUE(VersionList.empty());
}

TEST_F(VersionFileTest, MissingOrUnreadableFile) {
  const std::string cannot_find = "Fatal error:\rCannot find VERSION.DAT file!";
  EXPECT_EQ(Start().Error, cannot_find);
  EXPECT_TRUE(VersionList.empty());
  EXPECT_TRUE(SettingTable.Built());  // the model is built all the same

  ASSERT_EQ(mkdir(folder.File("VERSION.DAT").c_str(), 0755), 0);  // a folder of that name
  EXPECT_EQ(Start().Error, cannot_find);
  rmdir(folder.File("VERSION.DAT").c_str());

  // A pipe without a writer must not hang the start.
  ASSERT_EQ(mkfifo(folder.File("VERSION.DAT").c_str(), 0644), 0);
  EXPECT_EQ(Start().Error, cannot_find);
  unlink(folder.File("VERSION.DAT").c_str());
}

}  // namespace
}  // namespace zo::test
