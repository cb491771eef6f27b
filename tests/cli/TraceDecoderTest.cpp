// Decoding traces: a DL2 trace with one planted fault of each kind flags each once and nothing
// else; traces recorded from the simulated DL1, and from the simulated DL2 amid other stations'
// traffic, on the virtual clock decode to requests, echoes and replies without flags; replies of
// a device slower than the time-out are late on the requests they answer; and decode reads every
// line of a file whole, counts what it cannot understand, and always ends with its summary.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "adapter/DlxTools.h"
#include "cli/Commands.h"
#include "cli/TraceDecoder.h"
#include "drivers/Bustools.h"
#include "serial/TraceBackend.h"
#include "settings/Settings.h"
#include "settings/VersionFile.h"
#include "tests/sim/VirtualRig.h"

namespace zo::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct TDecoded {
  std::vector<TDecodedFrame> Frames;
  std::vector<std::string> Warnings;
  TDecodeSummary Summary;

  const TDecodedFrame* Find(const std::string& Meaning) const {
    for (const TDecodedFrame& f : Frames)
      if (f.Meaning.find(Meaning) != std::string::npos) return &f;
    return nullptr;
  }
};

TDecoded Decode(const std::string& Trace) {
  TDecoded d;
  TTraceDecoder decoder([&](const TDecodedFrame& F) { d.Frames.push_back(F); },
                        [&](const std::string& W) { d.Warnings.push_back(W); });
  decoder.Text(Trace);
  d.Summary = decoder.Summary();
  return d;
}

// The trace lines of the bytes of one write or of received bytes, as the trace backend writes
// them at 2400 baud.
std::string Lines(double Ms, const char* Direction, const Bytes& Frame) {
  std::string text;
  for (std::uint8_t b : Frame) {
    char line[80];
    std::snprintf(line, sizeof line, "%12.3f %-4s %02X  2400 8N1\n", Ms, Direction, b);
    text += line;
  }
  return text;
}

Bytes Request(std::uint8_t Seq, std::uint8_t Low) {
  return BuildDL2AddressedRequest(0, 7, Low, 0x21, Seq);
}

Bytes Reply(std::uint8_t Seq, std::uint8_t Low) {
  Bytes f{5, 0, Seq, 0x84, Low, 0x0B};
  unsigned sum = 0;
  for (std::uint8_t b : f)
    sum += b;
  f.push_back(static_cast<std::uint8_t>(-sum));
  return f;
}

TEST(TraceDecoder, EachPlantedFaultIsFlaggedOnceOnItsFrame) {
  std::string t = "       0.000 open /dev/pts/3\n" + Lines(10, "PC>", {2, 0xFF, 0x56, 0xA9}) +
                  Lines(160, "<DEV", {6, 0xFF, 0x56, 0x86, 0x3E, 0x11, 0x00, 0xD0});
  t += Lines(400, "PC>", Request(1, 0x10)) + Lines(435, "<DEV", Request(1, 0x10)) +
       Lines(465, "<DEV", Reply(1, 0x40));
  t += Lines(468, "PC>", Request(2, 0x12)) + Lines(503, "<DEV", Request(2, 0x12));    // hold-off
  t += "garbage\n";                                                                   // warning
  t += Lines(1010, "PC>", Request(3, 0x12)) + Lines(1045, "<DEV", Request(3, 0x12));  // repeated
  t += Lines(1600, "<DEV", Reply(3, 0x12));                                           // late
  t += Lines(1650, "<DEV", Reply(9, 0x12));                                           // unmatched
  Bytes bad = Reply(4, 0x20);
  bad[4] ^= 0x01;
  t += Lines(1900, "<DEV", bad);     // checksum
  t += Lines(2100, "<DEV", {0x7F});  // stray
  t += "    2200.000 PC> 0\n";       // warning
  t += Lines(2400, "PC>", Request(5, 0x14)) + Lines(2435, "<DEV", Request(5, 0x14));
  t += "    2500.000 <DEV 05  2400\n";  // warning: the line ends within the settings
  // The adapter held #6 while another station's frame passed: its echo comes after #7 went out.
  // A late echo, not a checksum failure.
  t += Lines(2800, "PC>", Request(6, 0x16)) + Lines(2900, "PC>", Request(7, 0x18)) +
       Lines(2935, "<DEV", Request(6, 0x16)) + Lines(2970, "<DEV", Request(7, 0x18));
  // Detection's echo probe goes out while another station's frame arrives: the frame is whole.
  t += Lines(3100, "<DEV", {0x05}) + Lines(3100.2, "PC>", {'H'}) +
       Lines(3104, "<DEV", {0x49, 0x63, 0x58, 0xAB, 0x65, 0xE7});

  const TDecoded d = Decode(t);
  for (int f = 0; f < tfFlagCount; ++f)
    EXPECT_EQ(d.Summary.Flags[f], 1) << TraceFlagKey(static_cast<TTraceFlag>(f));
  EXPECT_EQ(d.Warnings,
            (std::vector<std::string>{"line 49: no time stamp",
                                      "line 86: a byte that is not two hexadecimal digits",
                                      "line 101: unknown line settings"}));

  const auto flags = [&](const std::string& Meaning) {
    const TDecodedFrame* f = d.Find(Meaning);
    return f == nullptr ? std::vector<std::string>{"(missing)"} : f->Flags;
  };
  EXPECT_EQ(flags("DL2 firmware 1130118, mode ZOBus"), std::vector<std::string>{});
  EXPECT_EQ(flags("request #1 to device 0: read $2110"), std::vector<std::string>{});
  EXPECT_EQ(flags("reply #1 from device 0: reply $84 $0B40"), std::vector<std::string>{});
  EXPECT_EQ(flags("request #2"),
            std::vector<std::string>{"hold-off too short: 3 ms, at least 10 ms"});
  EXPECT_EQ(flags("request #3"),
            std::vector<std::string>{"repeated request: the previous one got no reply"});
  EXPECT_EQ(flags("reply #3"), std::vector<std::string>{"late reply: 590 ms"});
  EXPECT_EQ(flags("reply #9"),
            std::vector<std::string>{"unmatched reply: the last request was #3"});
  EXPECT_EQ(flags("frame dropped by the driver"), std::vector<std::string>{"checksum failure"});
  EXPECT_EQ(flags("bytes outside any frame"), std::vector<std::string>{"bytes outside any frame"});
  EXPECT_EQ(flags("request #5"), std::vector<std::string>{});
  EXPECT_EQ(flags("late echo of an earlier frame"), std::vector<std::string>{});
  EXPECT_EQ(flags("bus traffic of another station"), std::vector<std::string>{});
  EXPECT_EQ(d.Frames.front().Meaning, "open /dev/pts/3");
}

// Detects the rig's adapter through a trace backend (again after a failed attempt, as the bus
// thread does), runs `Body` on its driver and returns the trace.
std::string Traced(VirtualRig& Rig, const std::function<void(TBusDriver&)>& Body) {
  char path[] = "/tmp/zo-trace-XXXXXX";
  const int fd = ::mkstemp(path);
  if (fd < 0) return "";
  auto* port = new TRS232o;
  TBusDriver* driver = nullptr;
  if (port->OpenBackend(
          std::make_unique<TTraceBackend>(Rig.LinePtr()->OpenPortSide(), ::fdopen(fd, "w")),
          Rig.PortNumber(), 1200, 'N', 1024, 1024))
    for (int attempt = 0; attempt < 5 && driver == nullptr; ++attempt)
      if ((driver = DetectInterface(port, true, nullptr, 0)) == nullptr) Delay(100);
  if (driver != nullptr) {
    Body(*driver);
    driver->SafeTerminate(true, true, true);  // closes the port and with it the trace
  } else {
    ADD_FAILURE() << "no adapter detected";
    delete port;
  }
  std::string trace;
  if (std::FILE* f = std::fopen(path, "r")) {
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
      trace.append(buffer, n);
    std::fclose(f);
  }
  ::unlink(path);
  return trace;
}

std::string Listing(const TDecoded& D) {
  std::string text;
  for (const TDecodedFrame& f : D.Frames) {
    text += std::to_string(f.LineNumber) + " " + f.Meaning;
    for (const std::string& flag : f.Flags)
      text += " [" + flag + "]";
    text += "\n";
  }
  return text;
}

int FlagCount(const TDecoded& D) {
  int count = 0;
  for (int f = 0; f < tfFlagCount; ++f)
    count += D.Summary.Flags[f];
  return count;
}

TEST(TraceDecoder, ATraceOfTheSimulatedDL1DecodesWithoutFlags) {
  VirtualRig rig({.Adapter = TRigAdapter::DL1});
  const TDecoded d = Decode(Traced(rig, [](TBusDriver& Driver) {
    EXPECT_EQ(ReadSoftwareVersion(Driver), 1711104);
    TBusFrame read{7, 0x10, 0x21, 0xFF};
    EXPECT_TRUE(Driver.Request(read));
  }));
  EXPECT_EQ(d.Warnings, std::vector<std::string>{});
  EXPECT_EQ(FlagCount(d), 0) << Listing(d);
  for (const char* meaning :
       {"request: read software version, low word", "request: read software version, high word",
        "software version 1711104", "request: read $2110", "echo of the PC's frame"})
    EXPECT_NE(d.Find(meaning), nullptr) << meaning << "\n" << Listing(d);
}

// A word setting's write (high byte first) and a negative signed word decode to their values, with
// the setting model of the version the trace names; a trace with Windows line ends alike.
TEST(TraceDecoder, AWriteAndANegativeWordDecodeToTheirValuesAlsoWithWindowsLineEnds) {
  SetVersionFileFolder(ExecutableFolder());
  std::string error;
  InitSettings(error);
  ASSERT_EQ(error, "");
  ASSERT_TRUE(SelectVersion(1711104));
  VirtualRig rig({.LiveMonitors = false});
  rig.Device().SetSettingValue(SettingIdc, -1200 & 0xFFFF);
  const std::string trace = Traced(rig, [](TBusDriver& Driver) {
    EXPECT_EQ(ReadSoftwareVersion(Driver), 1711104);
    SettingTable[SettingAbsorptionVoltage].Value = 2960;
    EXPECT_TRUE(SettingTable[SettingAbsorptionVoltage].WriteTo(&Driver));
    EXPECT_TRUE(SettingTable[SettingIdc].ReadFrom(&Driver));
  });
  std::string crlf;
  for (char c : trace)
    crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  for (const std::string& t : {trace, crlf}) {
    const TDecoded d = Decode(t);
    EXPECT_EQ(d.Warnings, std::vector<std::string>{});
    EXPECT_EQ(FlagCount(d), 0) << Listing(d);
    for (const char* meaning :
         {"write $2111 := $0B (Absorption voltage, high byte)",
          "write $2110 := $90 (Absorption voltage = 29.60 V)", "commit", ": Idc = -12 A"})
      EXPECT_NE(d.Find(meaning), nullptr) << meaning << "\n" << Listing(d);
  }
  DoneSettings();
}

TEST(TraceDecoder, TracesOfTheSimulatedDL2AmidOtherStationsTrafficDecodeWithoutFlags) {
  // Other stations' frames, far more often than on a real bus, cross detection's probes and
  // purges, the driver's requests and the closing of the port.
  for (std::uint32_t seed = 1; seed <= 100; ++seed) {
    VirtualRig rig({.LedBytesEvery = static_cast<int>(seed % 3),
                    .Seed = seed,
                    .BusTraffic = true,
                    .TrafficIntervalMs = 60 + static_cast<int>(seed * 7 % 400)});
    const TDecoded d = Decode(Traced(rig, [](TBusDriver& Driver) {
      EXPECT_EQ(ReadSoftwareVersion(Driver), 1711104);
      for (std::uint8_t low = 0x10; low < 0x24; low += 2) {
        TBusFrame read{7, low, 0x21, 0xFF};
        Driver.Request(read);
      }
    }));
    ASSERT_EQ(FlagCount(d), 0) << "seed " << seed << "\n" << Listing(d);
    ASSERT_NE(d.Find("software version 1711104"), nullptr) << "seed " << seed;
  }
}

TEST(TraceDecoder, RepliesOfADeviceSlowerThanTheTimeOutAreLateOnTheRequestsTheyAnswer) {
  // Each reply comes after the driver has given its request up and sent the next one.
  VirtualRig rig({.TurnaroundMs = 550});
  const TDecoded d = Decode(Traced(rig, [](TBusDriver& Driver) {
    for (int i = 0; i < 3; ++i)
      EXPECT_EQ(ReadSoftwareVersion(Driver), -1);
    Delay(1000);  // the last reply comes in
  }));
  int replies = 0;
  for (const TDecodedFrame& f : d.Frames) {
    if (f.Meaning.rfind("reply #", 0) != 0) continue;
    ++replies;
    ASSERT_EQ(f.Flags.size(), 1u) << Listing(d);
    EXPECT_EQ(f.Flags[0].rfind("late reply: 5", 0), 0u) << Listing(d);
  }
  EXPECT_EQ(replies, 3) << Listing(d);
  EXPECT_EQ(d.Summary.Flags[tfUnmatched], 0) << Listing(d);
  EXPECT_EQ(d.Summary.Flags[tfLate], 3) << Listing(d);
}

struct TDecodeRun {
  int Status = -1;
  std::string Out, Err;
};

std::string Contents(std::FILE* F) {
  std::string text;
  std::rewind(F);
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, F)) > 0;)
    text.append(buffer, n);
  std::fclose(F);
  return text;
}

// zocfg decode of a file holding `Trace`, reading at most `MaxBytes` of it whole.
TDecodeRun DecodeFile(const std::string& Trace, std::size_t MaxBytes) {
  char path[] = "/tmp/zo-decode-XXXXXX";
  const int fd = ::mkstemp(path);
  TDecodeRun run;
  if (fd < 0 || ::write(fd, Trace.data(), Trace.size()) != static_cast<ssize_t>(Trace.size()))
    return run;
  ::close(fd);
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  TTerminalUi ui(err, false, false);
  TOptions options;
  options.Command = TCommand::Decode;
  options.Files = {path};
  run.Status = RunDecode(options, ui, out, MaxBytes);
  ::unlink(path);
  run.Out = Contents(out);
  run.Err = Contents(err);
  return run;
}

bool Has(const std::string& Text, const std::string& Part) {
  return Text.find(Part) != std::string::npos;
}

TEST(TraceDecoder, EveryLineIsReadWholeWhatIsNotUnderstoodIsCountedAndTheSummaryAlwaysComes) {
  const std::string version = Lines(10, "PC>", {2, 0xFF, 0x56, 0xA9});
  std::string t;
  for (const char* stamp : {"inf", "1e308", "nan", "-1", "1e13"})
    t += std::string("  ") + stamp + " PC>  02  2400 8N1\n";
  // A NUL, and an escape sequence that would retitle the terminal.
  const char control[] = "      20.000 open /dev/pts/3\0\x1b]2;owned\x07\n";
  t += std::string(control, sizeof control - 1);
  TDecodeRun r = DecodeFile(t + version + "      30.000 purge\n", 1 << 20);
  EXPECT_EQ(r.Status, 0);
  EXPECT_TRUE(Has(r.Out, "adapter command 'V'")) << r.Out;
  EXPECT_TRUE(Has(r.Out, "purge")) << r.Out;
  EXPECT_TRUE(Has(r.Out, "; 6 lines not understood\n")) << r.Out;
  for (const char* warning :
       {"line 1: a time stamp out of range", "line 5: a time stamp out of range",
        "line 6: a control character in the line"})
    EXPECT_TRUE(Has(r.Err, warning)) << warning << "\n" << r.Err;
  EXPECT_FALSE(Has(r.Out + r.Err, "owned"));

  // Longer than the limit: the whole lines within it are decoded, as the note says.
  r = DecodeFile(version + version, version.size() + 10);
  EXPECT_EQ(r.Status, 0);
  EXPECT_TRUE(Has(r.Err, "; only its first 4 lines are decoded")) << r.Err;
  EXPECT_TRUE(Has(r.Out, "Summary: 1 frames")) << r.Out;

  r = DecodeFile("", 1 << 20);
  EXPECT_EQ(r.Status, 0);
  EXPECT_TRUE(Has(r.Err, " is empty")) << r.Err;
  EXPECT_TRUE(Has(r.Out, "Summary: 0 frames")) << r.Out;
}

}  // namespace
}  // namespace zo::test
