// Seeded random inputs: definition strings, VERSION.DAT variants and settings files. Nothing may
// crash or hang, every case ends in one of the designed messages, and reading never damages a
// file.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <random>
#include <set>

#include "adapter/TextTool.h"
#include "settings/SettingsFile.h"
#include "tests/settings/SettingsTestSupport.h"
#include "tests/support/ScriptedUi.h"

namespace zo::test {
namespace {

constexpr std::uint32_t Seed = 0x5EED2611;

// A text of `min_length` to `max_length` characters of `alphabet`.
std::string RandomText(std::mt19937& rng, const std::string& alphabet, std::size_t min_length,
                       std::size_t max_length) {
  std::string text(std::uniform_int_distribution<std::size_t>(min_length, max_length)(rng), ' ');
  for (char& c : text)
    c = alphabet[std::uniform_int_distribution<std::size_t>(0, alphabet.size() - 1)(rng)];
  return text;
}

TEST(Robustness, DefinitionStrings) {
  std::mt19937 rng(Seed);
  const std::string alphabet = " ,\t$%^0123456789.-+eExXBbDdIiWwSsOoQz";
  for (int i = 0; i < 3000; ++i) {
    const std::string definition = RandomText(rng, alphabet, 0, 24);
    SCOPED_TRACE("definition \"" + definition + "\"");
    ScriptedUi ui;
    TVariable v(definition);
    for (const auto& m : ui.Messages()) {
      ASSERT_EQ(m.Text.rfind("Error interpreting: ", 0), 0u);
      EXPECT_NE(definition.find(m.Text.substr(20)), std::string::npos);
      EXPECT_EQ(m.Type, TMsgDlgType::mtError);
    }
    ASSERT_GE(v.Kind, 1);
    ASSERT_LE(v.Kind, 5);
    EXPECT_NE(std::string("D0123456789HB").find(v.DisplayFormat), std::string::npos);

    v.ReadFailed = false;
    v.Value = static_cast<std::int32_t>(rng());
    const std::string text = v.AsText();
    EXPECT_EQ(text.empty(), v.Kind == TVariable::KindNone);
    v.SetEngineeringValue(std::uniform_real_distribution<double>(-1e6, 1e6)(rng));

    ScriptDriver driver;
    driver.OnRequest = [&](const TBusFrame&) {
      return TBusFrame{0x84, static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()), 0};
    };
    v.ReadFrom(&driver);
    v.WriteTo(&driver);
    EXPECT_LE(driver.Sent().size(), 3u);
  }
}

TEST(Robustness, VersionFileVariants) {
  std::mt19937 rng(Seed);
  const std::set<std::string> fatal = {CannotFindVersionFileText, VersionFileCorruptedText,
                                       VersionFileUpdateFailedText};
  const std::string valid = EncodeVersionFile(BuiltInRecords());
  // The older kind: the check record one less in every item.
  TVersion::TRecord check = VersionCheckRecord(BuiltInRecords());
  for (auto& item : check)
    item = static_cast<std::int32_t>(static_cast<std::uint32_t>(item) - 1);
  const std::string older =
      EncodeVersionFile({check}).substr(VersionRecordBytes) + valid.substr(VersionRecordBytes);

  ScriptedUi ui;
  TempFolder folder;
  const std::string path = folder.File("VERSION.DAT");
  SetVersionFileFolder(folder.Path());
  int valid_files = 0, converted = 0, fatal_files = 0;
  for (int i = 0; i < 160; ++i) {
    std::string data = (i % 4 == 3) ? older : valid;
    switch (i % 5 == 4 ? 3 : i % 3) {
      case 0:  // truncated anywhere
        data.resize(std::uniform_int_distribution<std::size_t>(0, data.size())(rng));
        break;
      case 1:  // one to three bytes changed
        for (int k = std::uniform_int_distribution<int>(1, 3)(rng); k > 0; --k)
          data[std::uniform_int_distribution<std::size_t>(0, data.size() - 1)(rng)] ^=
              static_cast<char>(std::uniform_int_distribution<int>(1, 255)(rng));
        break;
      case 2:  // bytes appended
        data += RandomText(rng, std::string("\x00\x01\xFF\x7F", 4), 1, 400);
        break;
      default:  // as it is
        break;
    }
    SCOPED_TRACE(i);
    WriteBytes(path, data);
    ui.Clear();
    std::string error;
    InitSettings(error);
    const std::string after = ReadBytes(path);
    if (error.empty()) {
      if (ui.Messages().empty()) {
        ++valid_files;
        EXPECT_EQ(after, data);
      } else {
        ++converted;
        // Converted: the same records under the current kind's check record.
        EXPECT_EQ(ui.MessageTexts(), std::vector<std::string>{VersionFileUpdatedText});
        EXPECT_EQ(after.substr(VersionRecordBytes), data.substr(VersionRecordBytes));
        std::string again;
        InitSettings(again);
        EXPECT_EQ(again, "");
      }
    } else {
      ++fatal_files;
      EXPECT_EQ(fatal.count(error), 1u) << error;
      EXPECT_EQ(after, data);
    }
    EXPECT_EQ(folder.Files(), std::vector<std::string>{"VERSION.DAT"});
  }
  // The variants reached every outcome.
  EXPECT_GT(valid_files, 0);
  EXPECT_GT(converted, 0);
  EXPECT_GT(fatal_files, 0);
  DoneSettings();
  SetVersionFileFolder("");
}

// The messages a load may end with (an existing file always opens).
bool IsDesigned(const std::string& message) {
  if (message.empty() || message == "EFile corrupted!\rSettings set to default!" ||
      message == "IThere was 1 setting out of bounds.\rThis setting is changed to a valid value.")
    return true;
  const std::string head = "IThere were ";
  const std::string tail = " settings out of bounds.\rThese settings are changed to valid values.";
  if (message.size() <= head.size() + tail.size() || message.rfind(head, 0) != 0 ||
      message.compare(message.size() - tail.size(), tail.size(), tail) != 0)
    return false;
  const std::string count = message.substr(head.size(), message.size() - head.size() - tail.size());
  std::int32_t n = 0;
  return count.find_first_not_of("0123456789") == std::string::npos && TryStrToInt(count, n) &&
         n >= 2 && n <= 30;
}

class RobustSettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    SettingsModel::Select(1711107);
    SetDefaults();
    std::string message;
    SaveSettingsFile(file, message);
    ASSERT_EQ(message, "");
    valid = ReadBytes(file);
    ASSERT_EQ(valid.size(), SettingsFileBytes);
  }

  // Loads `data` and checks the designed messages and that the file stayed as it was.
  std::string Load(const std::string& data) {
    WriteBytes(file, data);
    std::string message;
    LoadSettingsFile(file, message);
    EXPECT_EQ(ReadBytes(file), data);
    EXPECT_TRUE(IsDesigned(message)) << message;
    return message;
  }

  bool AtDefaults() {
    for (int n = 8; n <= 23; ++n) {
      if (n == 19) continue;
      GetBounds(static_cast<std::uint8_t>(n));
      if (SettingTable[n].Value != BoundDefault) return false;
    }
    return true;
  }

  SettingsModel model;
  std::string file = model.Folder().File("fuzz.zsf");
  std::string valid;
};

TEST_F(RobustSettingsFile, EveryLengthUpTo200Bytes) {
  std::mt19937 rng(Seed);
  const std::string longer = valid + RandomText(rng, std::string("\x00\xAA\x55\xFF", 4), 200, 200);
  for (std::size_t length = 0; length <= 200; ++length) {
    SCOPED_TRACE(length);
    SettingTable[SettingAbsorptionVoltage].Value = 1;
    const std::string message = Load(longer.substr(0, length));
    if (length < SettingsFileBytes) {
      EXPECT_EQ(message, "EFile corrupted!\rSettings set to default!");
      EXPECT_TRUE(AtDefaults());
    } else {
      EXPECT_EQ(message, "");
    }
    // Random content of the same length ends in a designed message too.
    Load(RandomText(rng, std::string("\x00\x01\xAA\x55\xFF\x80", 6), length, length));
  }
}

TEST_F(RobustSettingsFile, EverySingleByteChanged) {
  for (std::size_t at = 0; at < SettingsFileBytes; ++at) {
    for (std::uint8_t change : {0x01, 0x80, 0xFF}) {
      SCOPED_TRACE(at * 1000 + change);
      std::string data = valid;
      data[at] = static_cast<char>(data[at] ^ change);
      SettingTable[SettingAbsorptionVoltage].Value = 1;
      EXPECT_EQ(Load(data), "EFile corrupted!\rSettings set to default!");
      EXPECT_TRUE(AtDefaults());
    }
  }
}

}  // namespace
}  // namespace zo::test
