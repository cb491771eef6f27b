// zocfg end to end: the programs run as child processes against zo-sim on a pseudo-terminal, so
// the real termios code, the bus thread, detection, the DL2 driver and the settings model all
// take part.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "data/VersionTable.h"
#include "settings/Settings.h"
#include "settings/SettingsFile.h"
#include "sim/SimDevice.h"
#include "tests/cli/ZocfgFixture.h"

namespace zo::test {
namespace {

// Waits up to 20 s for `Done`; its last answer.
template <class Pred>
bool Eventually(Pred Done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!Done() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return Done();
}

TEST_F(ZocfgEndToEnd, DetectReportsTheAdapterAndTheDeviceAndTracesTheLine) {
  SimProcess sim(folder_, {"--device", "1711104"});
  ASSERT_FALSE(sim.Path().empty());
  const std::string trace = folder_.File("trace.txt");
  const RunResult r = Zocfg(folder_, {"detect", "--port", sim.Path(), "--json", "--trace", trace});
  EXPECT_EQ(r.Status, 0) << r.Err;
  for (const char* part :
       {"\"kind\": \"DL2\"", "\"mode\": \"ZOBus\"", "\"firmware_version\": 1130118",
        "\"bootblock\": \"new\"", "\"software_version\": 1711104",
        "\"device_type\": \"Corvane Multi 230Vac 24H\"", "\"settings_read\": true"})
    EXPECT_TRUE(Contains(r.Out, part)) << part << "\n" << r.Out;

  // The trace shows the version request as sent, the adapter's bytes and the line settings.
  const std::vector<Bytes> sent = SentFrames(ReadFile(trace));
  EXPECT_NE(std::find(sent.begin(), sent.end(), Bytes{0x02, 0xFF, 0x56, 0xA9}), sent.end());
  const std::string text = ReadFile(trace);
  EXPECT_TRUE(Contains(text, "<DEV")) << text.substr(0, 2000);
  EXPECT_TRUE(Contains(text, "line 115200") == false);  // a new bootblock needs no start
  EXPECT_TRUE(Contains(text, "PC>  02  2400 8N1"));

  // zocfg took the terminal exclusively; once it has closed it, the next program (not only
  // root) must be able to open it.
  const int fd = ::open(sim.Path().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  int exclusive = 1;
  for (int i = 0; i < 500 && exclusive != 0; ++i) {
    ASSERT_EQ(::ioctl(fd, TIOCGEXCL, &exclusive), 0);
    if (exclusive != 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::close(fd);
  EXPECT_EQ(exclusive, 0);
}

TEST_F(ZocfgEndToEnd, DetectFindsAnOldBootblockInNineBitMode) {
  // The old bootblock echoes until the start sequence at 115200 and 19200 baud wakes the
  // application: the bridge must carry each byte at the speed it was sent with.
  SimProcess sim(folder_, {"--device", "1410006", "--mode", "2", "--bootblock", "old", "--firmware",
                           "1130200"});
  const RunResult r = Zocfg(folder_, {"detect", "--port", sim.Path()});
  EXPECT_EQ(r.Status, 0) << r.Err;
  for (const char* part :
       {"DL2 mode:          ZO 9 bit", "DL2 firmware:      1130200", "Bootblock:         old",
        "Software version:  1410006", "Device type:       Corvane Charger 24/25"})
    EXPECT_TRUE(Contains(r.Out, part)) << part << "\n" << r.Out;
}

TEST_F(ZocfgEndToEnd, ReadOutWritesTheBytesOfSaveSettingsFile) {
  // A 24 V inverter without charger, with values away from the factory ones.
  sim::TSimDeviceConfig config = Device(1712105);
  config.DeviceKindCode = 100;
  config.InitialValues = {{8, 2900}, {12, 120}, {24, 0x35}, {25, 0x0A}};
  SimProcess sim(folder_, {"--device", "1712105", "--kind", "100", "--set", "8=2900", "--set",
                           "12=120", "--set", "24=0x35", "--set", "25=$0A"});
  const std::string out = folder_.File("read.zsf");
  const RunResult r = Zocfg(folder_, {"read", "--port", sim.Path(), "--out", out, "--json"});
  ASSERT_EQ(r.Status, 0) << r.Err;

  ModelOf(config);
  EXPECT_EQ(ReadFile(out), ReadFile(SaveModel("expected.zsf")));
  EXPECT_EQ(ReadFile(out).size(), SettingsFileBytes);
  for (const char* part :
       {"\"device_type\": \"Corvane Inverter+ 230Vac 24F\"", "\"inverter_only\": true",
        "\"key\": \"absorption_voltage\"", "\"raw\": 2900", "\"value\": 29.0", "\"min\": 24.0",
        "\"max\": 32.0", "\"key\": \"charger_off\""})
    EXPECT_TRUE(Contains(r.Out, part)) << part << "\n" << r.Out;
  // One document, "ok" first and the members in their documented order.
  const auto document = nlohmann::ordered_json::parse(r.Out, nullptr, false);
  std::vector<std::string> keys;
  for (const auto& member : document.items())
    keys.push_back(member.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"ok", "port", "adapter", "target", "settings",
                                            "options", "file"}))
      << r.Out;
}

TEST_F(ZocfgEndToEnd, WriteSendsTheFileKeepsTheUncarriedBitsAndCommitsOnce) {
  // Flag byte A bit 7 is the read-only multi-phase capability and bit 4 is named by no option
  // of this version; bits 6 and 7 of byte B neither. A file carries none of them.
  SimProcess sim(folder_, {"--device", "1711104", "--set", "24=0x90", "--set", "25=0xC0"});
  ModelOf(Device(1711104));
  SettingTable[SettingAbsorptionVoltage].Value = 3500;  // above 32.00 V: clamped to it
  SettingTable[SettingFloatVoltage].Value = 2700;
  SettingTable[SettingSlaves].Value = 2;
  SetFlag(FlagChargerOff, true);   // A.5
  SetFlag(FlagStorageMode, true);  // B.4
  const std::string file = SaveModel("send.zsf");

  const std::string trace = folder_.File("trace.txt");
  const RunResult r = Zocfg(folder_, {"write", "--port", sim.Path(), file, "--trace", trace});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_TRUE(Contains(r.Err, "There was 1 setting out of bounds.")) << r.Err;
  EXPECT_TRUE(Contains(r.Out, "Absorption voltage: 28.80 V -> 32.00 V")) << r.Out;
  EXPECT_TRUE(Contains(r.Out, "Charger: on -> off")) << r.Out;

  std::map<std::string, std::string> state =
      sim.StateWhen([](auto& s) { return s["pending_commit"] == "0" && s["setting 8"] == "3200"; });
  EXPECT_EQ(state["setting 8"], "3200");
  EXPECT_EQ(state["setting 9"], "2700");
  EXPECT_EQ(state["setting 22"], "2");
  EXPECT_EQ(state["setting 24"], std::to_string(0x90 | 0x20));
  EXPECT_EQ(state["setting 25"], std::to_string(0xC0 | 0x10));
  EXPECT_EQ(state["pending_commit"], "0");

  // Family 17 holds the page-$21 writes until one commit frame, after the last setting.
  int commits = 0;
  std::size_t last_write = 0, commit_at = 0;
  const std::vector<Bytes> sent = SentFrames(ReadFile(trace));
  for (std::size_t i = 0; i < sent.size(); ++i) {
    const Bytes& f = sent[i];  // [5, address, command, data low, data high, sequence, check]
    if (f.size() != 7 || f[0] != 5 || f[2] != 0x0B) continue;
    if (f[3] == 0xFF && f[4] == 0xFF) {
      ++commits;
      commit_at = i;
    } else {
      last_write = i;
    }
  }
  EXPECT_EQ(commits, 1);
  EXPECT_GT(commit_at, last_write);
}

TEST_F(ZocfgEndToEnd, DryRunShowsTheChangesAndSendsNothing) {
  SimProcess sim(folder_, {"--device", "1711104"});
  ModelOf(Device(1711104));
  SettingTable[SettingAbsorptionTime].Value = 6;
  const std::string file = SaveModel("dry.zsf");
  const RunResult r = Zocfg(folder_, {"write", "--port", sim.Path(), file, "--dry-run", "--json"});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_TRUE(Contains(r.Out, "\"key\": \"absorption_time\"")) << r.Out;
  EXPECT_TRUE(Contains(r.Out, "\"to\": \"6 Hr\"")) << r.Out;
  EXPECT_TRUE(Contains(r.Out, "\"sent\": false")) << r.Out;
  std::map<std::string, std::string> state = sim.Stop();
  EXPECT_EQ(state["setting 17"], "4");
  EXPECT_EQ(state.count("frames 0B"), 0u);
}

TEST_F(ZocfgEndToEnd, ABadSettingsFileGivesFileErrorAndTheDeviceIsNotWritten) {
  SimProcess sim(folder_, {"--device", "1711104"});
  ModelOf(Device(1711104));
  SettingTable[SettingFloatVoltage].Value = 2700;
  const std::string file = SaveModel("bad.zsf");
  std::string data = ReadFile(file);
  data[4] ^= 0x01;  // the checksum no longer matches
  WriteFile(file, data);

  RunResult r = Zocfg(folder_, {"write", "--port", sim.Path(), file});
  EXPECT_EQ(r.Status, 3) << r.Err;
  EXPECT_TRUE(Contains(r.Err, "File corrupted!\n")) << r.Err;
  EXPECT_TRUE(Contains(r.Err, "Nothing was sent to the device.")) << r.Err;

  // A file that cannot be opened is found before the port is.
  r = Zocfg(folder_, {"write", "--port", sim.Path(), folder_.File("missing.zsf")});
  EXPECT_EQ(r.Status, 3);
  EXPECT_TRUE(Contains(r.Err, "Cannot open file: " + folder_.File("missing.zsf"))) << r.Err;

  // Both are found before the device is asked anything.
  std::map<std::string, std::string> state = sim.Stop();
  EXPECT_EQ(state["requests"], "0");
  EXPECT_EQ(state["setting 9"], "2760");
}

TEST_F(ZocfgEndToEnd, CtrlCStopsAWriteAndAReadBeforeTheNextFrame) {
  SimProcess sim(folder_, {"--device", "1711104"});
  ModelOf(Device(1711104));
  SettingTable[SettingFloatVoltage].Value = 2700;
  const std::string file = SaveModel("send.zsf");
  const std::string out = folder_.File("write-out"), err = folder_.File("write-err");
  {
    Child write(BinFolder() + "/zocfg", {"write", "--port", sim.Path(), file}, out, err);
    sim.StateWhen([](auto& s) { return std::atoi(s["frames 0B"].c_str()) >= 2; });
    write.Signal(SIGINT);
    EXPECT_EQ(write.Wait(10000), 1) << ReadFile(err);
  }
  const std::string text = ReadFile(err);
  EXPECT_TRUE(Contains(text, "Stopping after the current frame...")) << text;
  EXPECT_TRUE(Contains(text, "error: Interrupted.\n  Sent: Absorption voltage; ")) << text;
  EXPECT_TRUE(Contains(text, "Not sent: ")) << text;
  EXPECT_FALSE(Contains(ReadFile(out), "Settings sent")) << ReadFile(out);
  // No frame followed the stop: the device still waits for its commit.
  std::map<std::string, std::string> state = sim.StateWhen([](auto&) { return true; });
  EXPECT_LT(std::atoi(state["frames 0B"].c_str()), 20);
  EXPECT_NE(state["pending_commit"], "0");

  // A read stopped by SIGTERM saves nothing.
  const std::string saved = folder_.File("read.zsf");
  const int requests = std::atoi(state["requests"].c_str());
  Child read(BinFolder() + "/zocfg", {"read", "--port", sim.Path(), "--out", saved}, out, err);
  sim.StateWhen([&](auto& s) { return std::atoi(s["requests"].c_str()) >= requests + 8; });
  read.Signal(SIGTERM);
  EXPECT_EQ(read.Wait(10000), 1) << ReadFile(err);
  EXPECT_NE(::access(saved.c_str(), F_OK), 0);
}

// Ctrl+C while zocfg waits for a device that does not answer (switched off) ends the wait at
// once, not when its 30 s are over.
TEST_F(ZocfgEndToEnd, CtrlCEndsTheWaitForADeviceThatDoesNotAnswer) {
  SimProcess sim(folder_, {"--silent-after", "0"});
  const std::string out = folder_.File("read-out"), err = folder_.File("read-err");
  Child read(BinFolder() + "/zocfg", {"read", "--port", sim.Path(), "--timeout", "30"}, out, err);
  sim.StateWhen([](auto& s) { return std::atoi(s["requests"].c_str()) >= 1; });
  read.Signal(SIGINT);
  EXPECT_EQ(read.Wait(10000), 1) << ReadFile(err);
  EXPECT_TRUE(Contains(ReadFile(err), "Interrupted.")) << ReadFile(err);
}

TEST_F(ZocfgEndToEnd, ProgrammingTheDL2HoldsEveryStopSignalOverUntilItEnds) {
  SimProcess sim(folder_, {"--firmware", "1130110"});
  const std::string out = folder_.File("update-out"), err = folder_.File("update-err");
  Child update(BinFolder() + "/zocfg", {"update-firmware", "--yes", "--port", sim.Path()}, out,
               err);
  ASSERT_TRUE(Eventually([&] { return Contains(ReadFile(err), "Programming ["); }))
      << ReadFile(err);
  // A closed terminal (SIGHUP) and Ctrl+\ are held over as Ctrl+C is.
  for (int number : {SIGINT, SIGHUP, SIGQUIT, SIGTERM})
    update.Signal(number);
  EXPECT_EQ(update.Wait(20000), 1) << ReadFile(err);
  const std::string text = ReadFile(err);
  EXPECT_TRUE(Contains(text, "Programming the DL2 - this cannot be interrupted, about ")) << text;
  EXPECT_TRUE(Contains(text, "DL2 programmed.")) << text;
  // The adapter answers with the carried firmware.
  const RunResult r = Zocfg(folder_, {"detect", "--port", sim.Path()});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_TRUE(Contains(r.Out, "DL2 firmware:      1130118")) << r.Out;
}

TEST_F(ZocfgEndToEnd, NoOutputNamesAnInputOrAnotherOutputAndTraceWriteErrorsAreFileErrors) {
  ModelOf(Device(1711104));
  const std::string file = SaveModel("send.zsf");
  const std::string before = ReadFile(file);
  const std::string hard_link = folder_.File("same.zsf");
  ASSERT_EQ(::link(file.c_str(), hard_link.c_str()), 0);
  const std::string fresh = folder_.File("new.zsf");
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"write", "--port", "/dev/null", file, "--dry-run", "--trace", file},
           {"write", "--port", "/dev/null", file, "--trace", hard_link},
           {"read", "--port", "/dev/null", "--out", fresh, "--trace",
            folder_.Path() + "/./new.zsf"},
           // The port given by number is the device that its ZO_COM<n> names.
           {"detect", "--port", "5", "--trace", hard_link},
           {"read", "--port", "/dev/null", "--out", hard_link, "--text", file},
           {"read", "--port", "/dev/null", "--out", fresh, "--text", folder_.Path() + "/./new.zsf"},
       }) {
    ::setenv("ZO_COM5", file.c_str(), 1);
    const RunResult r = Zocfg(folder_, args);
    ::unsetenv("ZO_COM5");
    EXPECT_EQ(r.Status, 2) << r.Err;
    EXPECT_TRUE(Contains(r.Err, "names the same file as") || Contains(r.Err, "name the same file"))
        << r.Err;
  }
  EXPECT_EQ(ReadFile(file), before);
  EXPECT_NE(::access(fresh.c_str(), F_OK), 0);

  // A trace on a full disk.
  SimProcess sim(folder_, {"--device", "1711104"});
  const RunResult r = Zocfg(folder_, {"detect", "--port", sim.Path(), "--trace", "/dev/full"});
  EXPECT_EQ(r.Status, 3) << r.Err;
  EXPECT_TRUE(Contains(r.Err, "No space left on device")) << r.Err;
}

// A file that cannot be opened or written gives status 3 and says why, for every command; so does
// a standard output that takes nothing.
TEST_F(ZocfgEndToEnd, FileErrorsSayWhyAndAStandardOutputThatTakesNothingIsAFileError) {
  const std::string missing = folder_.File("missing");
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"decode", missing},
           {"diff", missing, "--defaults", "--version", "1711104"},
           {"write", "--port", "/dev/null", missing},
       }) {
    const RunResult r = Zocfg(folder_, args);
    EXPECT_EQ(r.Status, 3) << args[0] << r.Err;
    EXPECT_EQ(r.Err, "error: Cannot open file: " + missing + "\n  No such file or directory\n" +
                         (args[0] == "write" ? "  Nothing was sent to the device.\n" : ""));
  }
  SimProcess sim(folder_, {"--device", "1711104"});
  RunResult r = Zocfg(folder_, {"read", "--port", sim.Path(), "--text", missing + "/van.txt"});
  EXPECT_EQ(r.Status, 3) << r.Err;
  EXPECT_TRUE(Contains(r.Err, "error: Error creating file: " + missing + "/van.txt\n  ")) << r.Err;
  EXPECT_TRUE(Contains(r.Err, "No such file or directory")) << r.Err;

  const std::string err = folder_.File("full-err");
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"detect", "--port", sim.Path()}, {"versions", "--json"}, {"--help"}}) {
    Child full(BinFolder() + "/zocfg", args, "/dev/full", err);
    EXPECT_EQ(full.Wait(30000), 3) << args[0] << ReadFile(err);
    EXPECT_TRUE(
        Contains(ReadFile(err), "Cannot write file: standard output (No space left on device)"))
        << ReadFile(err);
  }
}

TEST_F(ZocfgEndToEnd, JsonFailuresAreOneDocumentWithTheSameKeys) {
  const std::string missing = folder_.File("missing.zsf");
  const std::vector<std::pair<std::vector<std::string>, int>> runs = {
      {{"read", "--port", "1", "--timeout", "0", "--json"}, 2},
      {{"write", "--port", folder_.File("no-port"), missing, "--json"}, 3},
      {{"detect", "--port", folder_.File("no-port"), "--json"}, 1},
      // A file name in Latin-1: its bad byte becomes U+FFFD, so the document stays valid JSON.
      {{"write", "--port", "1", folder_.File("caf\xE9.zsf"), "--json"}, 3},
  };
  std::string last;
  for (const auto& [args, status] : runs) {
    const RunResult r = Zocfg(folder_, args);
    last = r.Out;
    EXPECT_EQ(r.Status, status) << r.Err;
    const std::string head = "{\n  \"ok\": false,\n  \"command\": \"" + args[0] +
                             "\",\n  \"status\": " + std::to_string(status) +
                             ",\n  \"message\": \"";
    EXPECT_EQ(r.Out.substr(0, head.size()), head) << r.Out;
    EXPECT_EQ(std::count(r.Out.begin(), r.Out.end(), '\n'), 6) << r.Out;
    EXPECT_FALSE(nlohmann::json::parse(r.Out, nullptr, false).is_discarded()) << r.Out;
  }
  EXPECT_TRUE(Contains(last, "caf\uFFFD.zsf")) << last;
}

// The device takes the write and its commit, then stops answering: the read-back fails. (Not a
// count of requests: a busy machine may make the program repeat one.)
TEST_F(ZocfgEndToEnd, AWriteTheDeviceStopsTakingIsReadBackAndFails) {
  SimProcess sim(folder_, {"--device", "1711104", "--silent-after-commit"});
  ModelOf(Device(1711104));
  SettingTable[SettingFloatVoltage].Value = 2700;
  const RunResult r = Zocfg(folder_, {"write", "--port", sim.Path(), SaveModel("send.zsf")});
  EXPECT_EQ(r.Status, 1) << r.Err;
  EXPECT_TRUE(Contains(r.Err, "The settings were sent but could not be read back")) << r.Err;
}

TEST_F(ZocfgEndToEnd, AWriteTheDeviceIgnoresNamesTheSettingsThatDiffer) {
  // Without the commit frame, none of the held writes reaches the settings.
  SimProcess sim(folder_, {"--device", "1711104", "--deaf-after", "33"});
  ModelOf(Device(1711104));
  SettingTable[SettingFloatVoltage].Value = 2700;
  const RunResult r =
      Zocfg(folder_, {"write", "--port", sim.Path(), SaveModel("send.zsf"), "--json"});
  EXPECT_EQ(r.Status, 1) << r.Err;
  EXPECT_TRUE(Contains(r.Err,
                       "error: The device does not hold every setting sent.\n"
                       "  Float voltage: sent 27.00 V, the device holds 27.60 V\n"))
      << r.Err;
  EXPECT_TRUE(Contains(r.Out, "\"ok\": false")) << r.Out;
}

TEST_F(ZocfgEndToEnd, ZoSimLinksOnlyWhereNothingOrALinkToAGoneTerminalStands) {
  // A file where the link would go stays as it is, and zo-sim does not start.
  const std::string taken = folder_.File("taken");
  WriteFile(taken, "mine");
  RunResult r = RunProgram(folder_, "zo-sim", {"--link", taken}, 10000);
  EXPECT_EQ(r.Status, 1) << r.Err;
  EXPECT_EQ(ReadFile(taken), "mine");

  // A link an earlier zo-sim left is replaced, and removed at exit. A second zo-sim leaves the
  // running one's link alone and does not start.
  const std::string link = folder_.File("link");
  ASSERT_EQ(::symlink("/dev/pts/999", link.c_str()), 0);
  const auto target = [&] {
    char text[64] = {};
    return ::readlink(link.c_str(), text, sizeof text - 1) > 0 ? std::string(text) : "";
  };
  {
    SimProcess sim(folder_, {"--link", link});
    EXPECT_EQ(target(), sim.Path());
    r = RunProgram(folder_, "zo-sim", {"--link", link}, 10000);
    EXPECT_EQ(r.Status, 1) << r.Err;
    EXPECT_TRUE(Contains(r.Err, "a terminal in use")) << r.Err;
    EXPECT_EQ(target(), sim.Path());
    sim.Stop();
  }
  struct stat st {};
  EXPECT_NE(::lstat(link.c_str(), &st), 0);
}

TEST_F(ZocfgEndToEnd, ASilentDeviceGivesCommunicationFailure) {
  SimProcess sim(folder_, {"--silent-after", "0"});
  // The adapter must be found within the time-out, and zo-sim answers its probes late when the
  // machine is busy: 3 s leave room for several detections.
  const RunResult r = Zocfg(folder_, {"detect", "--port", sim.Path(), "--timeout", "3"}, 20000);
  EXPECT_EQ(r.Status, 1) << r.Err;
  EXPECT_TRUE(Contains(r.Err, "does not answer")) << r.Err;
  EXPECT_TRUE(Contains(r.Out, "Adapter:           DL2")) << r.Out;
}

TEST_F(ZocfgEndToEnd, AReadThatFailsLeavesAnExistingFileAlone) {
  // The version is read (two requests); the settings fail after a few.
  SimProcess sim(folder_, {"--silent-after", "6"});
  const std::string out = folder_.File("keep.zsf");
  WriteFile(out, "earlier contents");
  const RunResult r = Zocfg(folder_, {"read", "--port", sim.Path(), "--out", out}, 20000);
  EXPECT_EQ(r.Status, 1) << r.Err;
  EXPECT_TRUE(Contains(r.Err, "error: Error during communication!")) << r.Err;
  EXPECT_TRUE(Contains(r.Err, "no success after 4 tries")) << r.Err;
  EXPECT_EQ(ReadFile(out), "earlier contents");
}

TEST_F(ZocfgEndToEnd, NoAdapterOrABadlyProgrammedOneGivesCommunicationFailure) {
  // A badly programmed DL2 only sends XON at 19200 baud, which detection hears while it merely
  // listens at that speed.
  SimProcess bad(folder_, {"--bootblock", "bad"});
  RunResult r = Zocfg(folder_, {"detect", "--port", bad.Path(), "--timeout", "1"}, 15000);
  EXPECT_EQ(r.Status, 1) << r.Err;
  EXPECT_TRUE(Contains(r.Err, "The DL2 seems to be badly programmed!\n")) << r.Err;
  EXPECT_TRUE(Contains(r.Err, "-> No")) << r.Err;

  r = Zocfg(folder_, {"detect", "--port", folder_.File("no-such-port")});
  EXPECT_EQ(r.Status, 1);
  EXPECT_TRUE(Contains(r.Err, "Cannot open port: " + folder_.File("no-such-port"))) << r.Err;
}

TEST_F(ZocfgEndToEnd, MonitorPrintsOneEntryPerCycle) {
  SimProcess sim(folder_, {"--device", "1501004"});
  const RunResult r = Zocfg(folder_, {"monitor", "--port", sim.Path(), "--count", "2", "--json"});
  EXPECT_EQ(r.Status, 0) << r.Err;
  std::size_t cycles = 0;
  for (std::size_t at = r.Out.find("\"time_s\""); at != std::string::npos;
       at = r.Out.find("\"time_s\"", at + 1))
    ++cycles;
  EXPECT_EQ(cycles, 2u) << r.Out;
  for (const char* key : {"\"u_mains\"", "\"u_dc\"", "\"i_dc\""})
    EXPECT_TRUE(Contains(r.Out, key)) << key << "\n" << r.Out;
}

TEST_F(ZocfgEndToEnd, MonitorRunsUntilInterrupted) {
  SimProcess sim(folder_, {"--device", "1410006"});
  const std::string out = folder_.File("monitor-out"), err = folder_.File("monitor-err");
  Child monitor(BinFolder() + "/zocfg", {"monitor", "--port", sim.Path()}, out, err);
  // The heading, then the first cycle.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  auto lines = [&] {
    const std::string text = ReadFile(out);
    return std::count(text.begin(), text.end(), '\n');
  };
  while (lines() < 2 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_GE(lines(), 2) << ReadFile(out) << ReadFile(err);
  monitor.Signal(SIGINT);
  EXPECT_EQ(monitor.Wait(10000), 0) << ReadFile(err);
  const std::string text = ReadFile(out);
  EXPECT_TRUE(Contains(text, "Corvane Charger 24/25 (software version 1410006)")) << text;
  EXPECT_TRUE(Contains(text, " s  UMains ")) << text;
}

TEST_F(ZocfgEndToEnd, UpdateFirmwareWithoutYesOnlyChecks) {
  SimProcess sim(folder_, {"--firmware", "1130110"});
  const RunResult r = Zocfg(folder_, {"update-firmware", "--port", sim.Path()});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_TRUE(Contains(r.Err, "The software version in the DL2 is not up to date!")) << r.Err;
  EXPECT_TRUE(Contains(r.Out, "DL2 firmware 1130110, carried firmware 1130118: not updated"))
      << r.Out;
}

TEST_F(ZocfgEndToEnd, UpdateFirmwareWithYesProgramsTheAdapter) {
  SimProcess sim(folder_, {"--firmware", "1130110"});
  RunResult r = Zocfg(folder_, {"update-firmware", "--yes", "--port", sim.Path()});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_TRUE(Contains(r.Err, "DL2 programmed.")) << r.Err;
  // The adapter now runs the carried firmware: a new check asks nothing.
  r = Zocfg(folder_, {"update-firmware", "--port", sim.Path()});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_FALSE(Contains(r.Err, "not up to date")) << r.Err;
  EXPECT_TRUE(Contains(r.Out, "1130118")) << r.Out;
}

TEST_F(ZocfgEndToEnd, VersionsListsTheTableAndAMissingVersionFileIsAFileError) {
  RunResult r = Zocfg(folder_, {"versions", "--json"});
  EXPECT_EQ(r.Status, 0) << r.Err;
  std::size_t listed = 0;
  for (std::size_t at = r.Out.find("\"software_version\""); at != std::string::npos;
       at = r.Out.find("\"software_version\"", at + 1))
    ++listed;
  EXPECT_EQ(listed, BuiltInVersionRecords().size());
  EXPECT_TRUE(Contains(r.Out, "\"device_type\": \"Corvane Charger 24/25\""));

  // The same program in a folder without VERSION.DAT.
  const std::string lonely = folder_.File("zocfg");
  ASSERT_EQ(std::system(("cp '" + BinFolder() + "/zocfg' '" + lonely + "'").c_str()), 0);
  r = RunProgram(folder_, lonely, {"versions"});
  EXPECT_EQ(r.Status, 3);
  EXPECT_TRUE(Contains(r.Err, "Cannot find VERSION.DAT")) << r.Err;
  EXPECT_TRUE(Contains(r.Err, "Looked at: " + folder_.File("VERSION.DAT"))) << r.Err;
}

// The number of lines of a file, and whether one of them ends with `Ending`.
std::size_t LineCount(const std::string& Path) {
  const std::string text = ReadFile(Path);
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

template <class Pred>
bool WaitUntil(Pred Done, int Seconds = 40) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(Seconds);
  while (!Done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

// A device switched off for a while: the recording goes on with empty fields, says so on
// standard error, and has values again once the device answers; Ctrl+C ends it cleanly.
TEST_F(ZocfgEndToEnd, MonitorCsvCarriesOnWhileTheDeviceIsSwitchedOff) {
  SimProcess sim(folder_, {"--device", "1711104"});
  const std::string csv = folder_.File("live.csv"), out = folder_.File("out"),
                    err = folder_.File("err");
  Child monitor(BinFolder() + "/zocfg", {"monitor", "--port", sim.Path(), "--csv", csv}, out, err);
  ASSERT_TRUE(WaitUntil([&] { return LineCount(csv) >= 3; })) << ReadFile(err);
  sim.Signal(SIGUSR2);  // off
  ASSERT_TRUE(WaitUntil([&] { return Contains(ReadFile(err), "The target was lost"); }))
      << ReadFile(err);
  ASSERT_TRUE(WaitUntil([&] { return Contains(ReadFile(csv), ",,,,,,,,"); })) << ReadFile(csv);
  sim.Signal(SIGUSR2);  // on again
  ASSERT_TRUE(WaitUntil([&] { return Contains(ReadFile(err), "The target answers again."); }))
      << ReadFile(err);
  const std::size_t lines = LineCount(csv);
  ASSERT_TRUE(WaitUntil([&] { return LineCount(csv) >= lines + 2; })) << ReadFile(csv);
  monitor.Signal(SIGINT);
  EXPECT_EQ(monitor.Wait(10000), 0) << ReadFile(err);

  const std::string text = ReadFile(csv);
  EXPECT_EQ(text.rfind("time,seconds,UMains (V),", 0), 0u) << text;
  const std::size_t empty_row = text.find(",,,,,,,,");
  // Every row names the device, the empty ones too; values follow the last empty row.
  EXPECT_TRUE(Contains(text, ",,,,,,,,Corvane")) << text;
  const std::size_t after = text.find('\n', text.rfind(",,,,,,,,"));
  const std::size_t full_row_after = after == std::string::npos ||
                                             text.find(",,,,,,,,", after) != std::string::npos ||
                                             after + 1 >= text.size()
                                         ? std::string::npos
                                         : after;
  EXPECT_NE(empty_row, std::string::npos);
  EXPECT_NE(full_row_after, std::string::npos);
  // The lines on standard output went on as well, with "- - -" while the device was off.
  EXPECT_TRUE(Contains(ReadFile(out), "Udc - - - V")) << ReadFile(out);
}

// A recording that cannot be written ends monitor with status 3 and says why: a closed pipe
// (after the rows the reader took) and a full disk.
TEST_F(ZocfgEndToEnd, MonitorCsvEndsWithStatus3OnAClosedPipeOrAFullDisk) {
  SimProcess sim(folder_, {"--device", "1711104"});
  const std::string script = folder_.File("pipe.sh"), taken = folder_.File("taken"),
                    status = folder_.File("status"), err = folder_.File("pipe-err");
  WriteFile(script, "timeout 60 '" + BinFolder() + "/zocfg' monitor --port '" + sim.Path() +
                        "' --csv - 2>'" + err + "' | head -n 3 >'" + taken +
                        "'\necho ${PIPESTATUS[0]} >'" + status + "'\n");
  ASSERT_EQ(std::system(("bash '" + script + "'").c_str()), 0);
  EXPECT_EQ(ReadFile(status), "3\n") << ReadFile(err);
  EXPECT_TRUE(Contains(ReadFile(err), "Cannot write file: standard output (Broken pipe)"))
      << ReadFile(err);
  const std::string rows = ReadFile(taken);
  EXPECT_EQ(LineCount(taken), 3u) << rows;
  EXPECT_EQ(rows.rfind("time,seconds,", 0), 0u) << rows;

  const RunResult r = Zocfg(folder_, {"monitor", "--port", sim.Path(), "--csv", "/dev/full"});
  EXPECT_EQ(r.Status, 3) << r.Err;
  EXPECT_TRUE(Contains(r.Err, "Cannot write file: /dev/full (No space left on device)")) << r.Err;
}

TEST_F(ZocfgEndToEnd, BadUsageGivesTwoAndHelpGivesZero) {
  const std::vector<std::vector<std::string>> usage_errors = {
      {},
      {"frobnicate"},
      {"read"},                                // no --port
      {"read", "--port", "COMX"},              // neither a number nor a path
      {"read", "--port", "300"},               // beyond one byte
      {"detect", "--port", "1", "--dry-run"},  // an option of another command
      {"write", "--port", "1"},                // no file
      {"monitor", "--port", "1", "--count", "0"},
      {"detect", "--port", "1", "--timeout", "0"},
      {"detect", "--port", "1", "--port", "2"},
      {"versions", "--bogus"},
  };
  for (const auto& args : usage_errors) {
    const RunResult r = Zocfg(folder_, args);
    std::string line;
    for (const auto& a : args)
      line += a + " ";
    EXPECT_EQ(r.Status, 2) << line;
    EXPECT_TRUE(Contains(r.Err, "zocfg --help")) << line << r.Err;
  }
  RunResult r = Zocfg(folder_, {"--help"});
  EXPECT_EQ(r.Status, 0);
  EXPECT_TRUE(Contains(r.Out, "update-firmware")) << r.Out;
  r = Zocfg(folder_, {"write", "--help"});
  EXPECT_EQ(r.Status, 0);
  EXPECT_TRUE(Contains(r.Out, "Usage: zocfg write --port P FILE.zsf")) << r.Out;
}

}  // namespace
}  // namespace zo::test
