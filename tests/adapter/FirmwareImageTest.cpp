#include <gtest/gtest.h>

#include <sstream>

#include "adapter/Includebinary.h"
#include "adapter/Textlogger.h"
#include "adapter/Updater.h"
#include "data/CarriedFirmware.h"
#include "tests/support/ScriptedUi.h"
#include "threads/MainThread.h"

namespace zo {
namespace {

// Builds images by hand, independently of the build-time packer.
struct ImageBuilder {
  std::string bytes;
  void Text(const std::string& text, int check_error = 0) {
    bytes += static_cast<char>(text.size());
    std::uint8_t sum = 0;
    for (std::size_t k = 0; k < text.size(); ++k) {
      sum += static_cast<std::uint8_t>(text[k]);
      bytes += static_cast<char>(static_cast<std::uint8_t>(text[k]) + k + 1 + 0x5A);
    }
    bytes += static_cast<char>(sum + check_error);
  }
  void Number(std::uint32_t v, int size) {
    for (int i = 0; i < size; ++i)
      bytes += static_cast<char>(v >> (8 * i));
  }
  static std::string Block(int seed) {
    std::string b;
    for (int i = 0; i < 74; ++i)
      b += static_cast<char>(seed * 31 + i * 7);
    return b;
  }
  static std::uint32_t Sum(const std::string& s) {
    std::uint32_t t = 0;
    for (char c : s)
      t += static_cast<std::uint8_t>(c);
    return t;
  }
  // A complete image with `blocks` data blocks.
  static std::string Image(int blocks, int format = 1, std::vector<std::string> messages = {},
                           int signature_check_error = 0) {
    std::string data;
    for (int i = 0; i < blocks; ++i)
      data += Block(i);
    ImageBuilder b;
    b.Text("Tarnelo Energy firmware file", signature_check_error);
    b.Number(static_cast<std::uint32_t>(format), 2);
    b.Number(Sum(data), 4);
    b.Text("test image");
    for (const auto& m : messages)
      b.Text(m);
    b.Text("");
    return b.bytes + data;
  }
};

// A port that is not open: the updater's set-up calls on it do nothing.
struct UpdaterHolder {
  UpdaterHolder() : updater(new TUpdater(&port)) {}
  ~UpdaterHolder() { updater->SafeTerminate(true, true, true); }
  std::string Load(const std::string& image) {
    std::istringstream in(image);
    std::string error = "stale";
    updater->LoadFirmware(in, error);
    return error;
  }
  TRS232o port;
  TUpdater* updater;
};

TEST(FirmwareImage, TheCarriedImageLoadsIntoCheckedLines) {
  EXPECT_EQ(CarriedFirmwareImage().size(), 5332u);
  EXPECT_EQ(CarriedFirmwareVersion(), 1130118);
  TBinaryIncluder carrier;
  carrier.SetBinarySourceContents(CarriedFirmwareImage());
  UpdaterHolder h;
  std::string error = "stale";
  carrier.Stream().seekg(0);
  h.updater->LoadFirmware(carrier.Stream(), error);
  EXPECT_EQ(error, "");
  ASSERT_EQ(h.updater->Lines().size(), 71u);
  for (const std::string& line : h.updater->Lines()) {
    ASSERT_EQ(line.size(), 76u);
    EXPECT_EQ(line[0], 'W');
    EXPECT_EQ(ImageBuilder::Sum(line.substr(1)) % 256, 0u);
  }
  // The carried blocks name the firmware's version in block 0's header.
  EXPECT_EQ(h.updater->Lines()[0].substr(5, 5), "ZODL2");
}

TEST(FirmwareImage, FirstErrorWins) {
  UpdaterHolder h;
  EXPECT_EQ(h.Load(ImageBuilder::Image(3)), "");
  EXPECT_EQ(h.updater->Lines().size(), 3u);
  EXPECT_EQ(h.Load(ImageBuilder::Image(0)), "");  // no blocks, total 0
  EXPECT_TRUE(h.updater->Lines().empty());
  EXPECT_EQ(h.Load(ImageBuilder::Image(2, 0)), "");  // format 0 is accepted
  EXPECT_EQ(h.Load(ImageBuilder::Image(2, 2)),
            "File format not recognised.\rCheck program version.");
  // A bad check byte on the signature is reported before the signature's text.
  EXPECT_EQ(h.Load(ImageBuilder::Image(2, 1, {}, 1)), "File possible corrupted!");
  std::string other = ImageBuilder::Image(1);
  other[1] = static_cast<char>(other[1] + 1);  // a different first letter, check byte off too
  EXPECT_EQ(h.Load(other), "File possible corrupted!");
}

TEST(FirmwareImage, WrongSignatureTextWithAValidCheck) {
  ImageBuilder b;
  b.Text("Another firmware file");
  b.Number(1, 2);
  b.Number(0, 4);
  b.Text("x");
  b.Text("");
  UpdaterHolder h;
  EXPECT_EQ(h.Load(b.bytes), "Incorrect file format");
}

TEST(FirmwareImage, DataProblemsAreCorruption) {
  UpdaterHolder h;
  std::string image = ImageBuilder::Image(3);
  image[image.size() - 10] ^= 0x01;  // a data byte changed, the total not
  EXPECT_EQ(h.Load(image), "File possible corrupted!");
  EXPECT_EQ(h.updater->Lines().size(), 3u);  // every block was read first
  image = ImageBuilder::Image(3) + "abc";    // a partial trailing block
  EXPECT_EQ(h.Load(image), "Unexpected end of file.\rFile possible corrupted!");
  EXPECT_EQ(h.updater->Lines().size(), 4u);
}

TEST(FirmwareImage, EveryTruncationEndsInAnError) {
  // Cut inside a field, a block, or between blocks (then the data total no longer matches).
  const std::string& image = CarriedFirmwareImage();
  UpdaterHolder h;
  for (std::size_t n = 0; n < image.size(); ++n) {
    EXPECT_NE(h.Load(image.substr(0, n)), "") << n;
  }
}

TEST(FirmwareImage, MessageRecordsAreShownInOrderOncePerLoad) {
  test::ScriptedUi ui;
  UpdaterHolder h;
  EXPECT_EQ(h.Load(ImageBuilder::Image(1, 1, {"first", "second"})), "");
  ASSERT_EQ(ui.Messages().size(), 2u);
  EXPECT_EQ(ui.Messages()[0].Text, "first");
  EXPECT_EQ(ui.Messages()[1].Text, "second");
  EXPECT_EQ(ui.Messages()[0].Type, TMsgDlgType::mtInformation);
  EXPECT_EQ(ui.Messages()[0].Buttons, static_cast<TMsgDlgButtons>(mbOK));
}

TEST(FirmwareImage, AMessageWithABadCheckByteIsNotShown) {
  std::string image = ImageBuilder::Image(0, 1, {"damaged"});
  // Behind the signature, format, total and image text records: the message's check byte.
  constexpr std::size_t kCheckAt = (1 + 28 + 1) + 2 + 4 + (1 + 10 + 1) + (1 + 7);
  ++image[kCheckAt];
  test::ScriptedUi ui;
  UpdaterHolder h;
  EXPECT_EQ(h.Load(image), "File possible corrupted!");
  EXPECT_TRUE(ui.Messages().empty());
}

TEST(FirmwareImage, AnImageWithoutLinesEndsAtOnceWithTheFinalReport) {
  UpdaterHolder h;
  ASSERT_EQ(h.Load(ImageBuilder::Image(0)), "");
  std::vector<std::pair<std::int32_t, std::uint8_t>> reports;
  h.updater->SetOnProgress([&reports](std::int32_t Percent, std::uint8_t Status) {
    reports.push_back({Percent, Status});
  });
  h.updater->StartProgramming();
  MainThread& main = TheMainThread();
  for (int i = 0; i < 1000 && !h.updater->Idle(); ++i) {
    main.ProcessMessages();
    main.WaitForMessages(5);
  }
  main.ProcessMessages();
  ASSERT_TRUE(h.updater->Idle());
  EXPECT_EQ(reports, (std::vector<std::pair<std::int32_t, std::uint8_t>>{{100, usDone}}));
  EXPECT_EQ(h.updater->ErrorText(), "");
}

TEST(FirmwareImage, TheVersionFrameIsCheckedAndItsLogLineCutAt255Characters) {
  SetLogSize(0);
  SetLogSize(16);
  std::uint8_t frame[100] = {0x05, 'V', 0x01, 0x03, 0x32, 0x74};  // the simulated bootblock's
  EXPECT_TRUE(CheckBootblockVersionFrame(frame, 6));
  frame[5] ^= 1;
  EXPECT_FALSE(CheckBootblockVersionFrame(frame, 6));
  EXPECT_FALSE(CheckBootblockVersionFrame(frame, 1));
  for (std::uint8_t& b : frame)
    b = 0xAB;
  EXPECT_FALSE(CheckBootblockVersionFrame(frame, 100));
  std::string log;
  GetLogText(log);
  const std::string line = "Bootblock reprogramversion frame: AB AB";
  const auto at = log.rfind(line);
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(log.find("\r\n", at) - at, 255u);
  SetLogSize(0);
}

TEST(FirmwareImage, ProgressRoundsHalvesToEven) {
  EXPECT_EQ(ProgressPercent(0, 4), 0);
  EXPECT_EQ(ProgressPercent(1, 4), 25);
  EXPECT_EQ(ProgressPercent(3, 4), 75);
  EXPECT_EQ(ProgressPercent(1, 3), 33);
  EXPECT_EQ(ProgressPercent(2, 3), 67);
  EXPECT_EQ(ProgressPercent(1, 8), 12);  // 12.5 goes to the even 12
  EXPECT_EQ(ProgressPercent(3, 8), 38);  // 37.5 goes to the even 38
}

}  // namespace
}  // namespace zo
