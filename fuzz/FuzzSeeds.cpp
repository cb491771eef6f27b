// Writes the seed corpus of every fuzz target and the dictionaries that help them:
//   <folder>/corpus/<target>/seed-<n>   <folder>/<target>.dict
// The line targets get what the simulators really send (recorded from the simulated line, in the
// escape form of FuzzPort.h); the file targets get the files the program and its tools write.
// Usage: fuzz_seeds <folder>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "adapter/DlxTools.h"
#include "data/CarriedFirmware.h"
#include "data/VersionTable.h"
#include "drivers/Bustools.h"
#include "drivers/DL1Drv.h"
#include "drivers/DL2DRV.h"
#include "serial/SimLine.h"
#include "serial/TraceBackend.h"
#include "settings/Settings.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsTextFile.h"
#include "settings/VersionFile.h"
#include "sim/SimDL1Adapter.h"
#include "sim/SimDL2Adapter.h"
#include "sim/SimDevice.h"
#include "tests/support/VirtualClock.h"
#include "threads/MainThread.h"

using namespace zo;
using Bytes = std::vector<std::uint8_t>;

namespace {

std::string folder;
const std::uint8_t kGap[] = {0xA5, 0x80};

void MakeFolder(const std::string& Path) {
  mkdir(Path.c_str(), 0755);
}

void WriteSeed(const std::string& Target, int N, const std::string& Data) {
  MakeFolder(folder + "/corpus");
  MakeFolder(folder + "/corpus/" + Target);
  const std::string path = folder + "/corpus/" + Target + "/seed-" + std::to_string(N);
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return;
  std::fwrite(Data.data(), 1, Data.size(), f);
  std::fclose(f);
}

void WriteSeed(const std::string& Target, int N, const Bytes& Data) {
  WriteSeed(Target, N, std::string(Data.begin(), Data.end()));
}

void WriteDictionary(const std::string& Target, const std::vector<Bytes>& Entries) {
  const std::string path = folder + "/" + Target + ".dict";
  FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) return;
  int n = 0;
  for (const Bytes& e : Entries) {
    std::fprintf(f, "k%d=\"", ++n);
    for (std::uint8_t b : e)
      std::fprintf(f, "\\x%02X", b);
    std::fprintf(f, "\"\n");
  }
  std::fclose(f);
}

Bytes Text(const std::string& S) {
  return Bytes(S.begin(), S.end());
}

// What the PC's receiver got from the line, in the escape form: $A5 doubled, a gap marker where
// the line was quiet for more than `GapMs`, and a parity-error flag before the other side's bytes
// sent with mark parity (a space-parity receiver flags them).
class Recorder {
 public:
  explicit Recorder(double GapMs, bool MarkIsParityError, bool WithOwnEcho)
      : gap_ms_(GapMs), mark_flags_(MarkIsParityError), own_echo_(WithOwnEcho) {}

  void Attach(SimLine& Line) {
    Line.SetTap(
        [this](bool FromPort, std::uint8_t Value, std::int32_t, char Parity, TimePoint Start) {
          if (FromPort && !own_echo_) return;
          std::lock_guard<std::mutex> lock(mutex_);
          if (any_ && MillisecondsBetween(last_, Start) > gap_ms_) {
            out_.push_back(0xA5);
            out_.push_back(0x80);
          }
          any_ = true;
          last_ = Start;
          if (mark_flags_ && !FromPort && Parity == 'M') {
            out_.push_back(0xA5);
            out_.push_back(0x01);
          }
          out_.push_back(Value);
          if (Value == 0xA5) out_.push_back(0xA5);
        });
  }

  Bytes Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    Bytes out;
    out.swap(out_);
    any_ = false;
    return out;
  }

 private:
  std::mutex mutex_;
  double gap_ms_;
  bool mark_flags_, own_echo_;
  Bytes out_;
  bool any_ = false;
  TimePoint last_{};
};

sim::TSimDeviceConfig DeviceConfig(std::int32_t Version) {
  sim::TSimDeviceConfig config;
  const auto* record = FindBuiltInVersion(Version);
  if (record != nullptr) {
    config.Record = *record;
  } else {
    config.Record.fill(-1);
    config.Record[0] = Version;
  }
  return config;
}

// A DL2 session: the version, then a few settings; with and without 9-bit mode and LED bytes.
void DL2Seeds() {
  int n = 0;
  for (int variant = 0; variant < 3; ++variant) {
    test::VirtualClock clock;
    auto line = SimLine::Create("seed-dl2");
    sim::SimDevice device(DeviceConfig(1711104));
    sim::TSimDL2Config config;
    config.NineBit = variant == 1;
    config.LedBytesEvery = variant == 2 ? 1 : 0;
    config.BusTraffic = variant == 2;
    config.TrafficIntervalMs = 200;
    Recorder recorder(15, false, false);
    recorder.Attach(*line);
    sim::SimDL2Adapter adapter(line, &device, config);
    adapter.Start();
    auto* port = new TRS232o;
    port->OpenBackend(line->OpenPortSide(), 1, DL2Baud, 'N', 1024, 1024);
    port->SetDtrCleared(false);
    Delay(400);
    recorder.Take();  // the power-on announcement is no answer to anything
    auto* driver = new TDL2Driver(port, variant == 1 ? 2 : 1);
    ReadSoftwareVersion(*driver);
    for (std::uint16_t address : {0x2110, 0x2112, 0x0180}) {
      TBusFrame frame{7, static_cast<std::uint8_t>(address),
                      static_cast<std::uint8_t>(address >> 8), 0xFF};
      driver->Request(frame);
    }
    driver->SafeTerminate(true, true, true);
    adapter.Stop();
    Bytes seed{static_cast<std::uint8_t>((variant == 1 ? 2 : 1) | 4)};
    const Bytes traffic = recorder.Take();
    seed.insert(seed.end(), traffic.begin(), traffic.end());
    WriteSeed("fuzz_dl2_receive", ++n, seed);
    seed[0] = static_cast<std::uint8_t>((variant == 1 ? 1 : 0) | 2);  // fuzz_dl2_steps' control
    WriteSeed("fuzz_dl2_steps", n, seed);
  }
  for (const char* target : {"fuzz_dl2_receive", "fuzz_dl2_steps"})
    WriteDictionary(target, {{0xFF, 'V'},
                             {0xFF, 'L'},
                             {0xFF, 'W'},
                             {0xFF, 'S'},
                             {0x02, 0xFF, 'V', 0xA9},
                             {0x05, 0x00, 0x01},
                             {0xA5, 0x80},
                             {0xA5, 0x01},
                             {0xA5, 0x02}});
}

// A DL1 session: the version and a few settings, the echo of the PC's own frames included.
void DL1Seeds() {
  test::VirtualClock clock;
  auto line = SimLine::Create("seed-dl1");
  auto device = std::make_shared<sim::SimDevice>(DeviceConfig(1711104));
  Recorder recorder(20, true, true);
  recorder.Attach(*line);
  sim::SimDL1Adapter adapter(line, device);
  adapter.Start();
  auto* port = new TRS232o;
  port->OpenBackend(line->OpenPortSide(), 1, DL1Baud, 'N', 1024, 1024);
  auto* driver = new TDL1Driver(port);
  ReadSoftwareVersion(*driver);
  for (std::uint16_t address : {0x2110, 0x2112}) {
    TBusFrame frame{7, static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(address >> 8),
                    0xFF};
    driver->Request(frame);
  }
  driver->SafeTerminate(true, true, true);
  adapter.Stop();
  Bytes seed{1};
  const Bytes traffic = recorder.Take();
  seed.insert(seed.end(), traffic.begin(), traffic.end());
  for (const char* target : {"fuzz_dl1_receive", "fuzz_dl1_steps"}) {
    WriteSeed(target, 1, seed);
    WriteDictionary(target, {{0xA5, 0x01}, {0xA5, 0x02}, {0xA5, 0x80}, {0x82, 0x04}});
  }
}

Bytes Framed(const Bytes& Body) {
  Bytes frame{static_cast<std::uint8_t>(Body.size())};
  frame.insert(frame.end(), Body.begin(), Body.end());
  unsigned sum = 0;
  for (std::uint8_t b : frame)
    sum += b;
  frame.push_back(static_cast<std::uint8_t>(-sum));
  return frame;
}

void ReceiveFrameSeeds() {
  int n = 0;
  auto seed = [&](std::uint8_t Buf, std::uint8_t Min, std::uint8_t Max, const Bytes& Frame) {
    Bytes s{Buf, Min, Max};
    s.insert(s.end(), Frame.begin(), Frame.end());
    WriteSeed("fuzz_receive_dl2_frame", ++n, s);
  };
  seed(10, 6, 10, Framed({0xFF, 'V', 0x86, 0x3E, 0x11, 0x00}));
  seed(10, 6, 10, Framed({0xFF, 'V', 0x86, 0x3E, 0x11, 0x00, 'W'}));
  seed(10, 2, 10, Framed({0xFF, 'S'}));
  Bytes led = Framed({0xFF, 'L', 0x21, 0x00});
  led[0] |= 0x80;
  seed(10, 2, 10, led);
  WriteDictionary("fuzz_receive_dl2_frame", {{0xFF, 'V'}, {0xFF, 'S'}, {0x82}, {0x81}});
}

// fuzz_bootblock_steps: the version frame's length less one, the frame, then the answers, all
// without the escape form.
void BootblockStepSeeds(const Bytes& Recorded) {
  const auto gap = std::search(Recorded.begin(), Recorded.end(), std::begin(kGap), std::end(kGap));
  auto plain = [](Bytes::const_iterator From, Bytes::const_iterator To) {
    Bytes out;
    for (auto at = From; at != To; ++at) {
      out.push_back(*at);
      if (*at == 0xA5 && at + 1 != To) ++at;  // $A5 $A5 is one $A5
    }
    return out;
  };
  const Bytes frame = plain(Recorded.begin(), gap);
  if (frame.empty() || gap == Recorded.end()) return;
  Bytes seed{static_cast<std::uint8_t>(frame.size() - 1)};
  seed.insert(seed.end(), frame.begin(), frame.end());
  const Bytes answers = plain(gap + 2, Recorded.end());
  seed.insert(seed.end(), answers.begin(), answers.end());
  int n = 0;
  WriteSeed("fuzz_bootblock_steps", ++n, seed);
  for (std::uint8_t refusal : {'B', 'D', 'E', 'T', 'U', 'n'}) {
    Bytes faulty = seed;
    if (faulty.size() > frame.size() + 6) faulty[frame.size() + 6] = refusal;
    WriteSeed("fuzz_bootblock_steps", ++n, faulty);
  }
  WriteDictionary("fuzz_bootblock_steps", {{'V'}, {'N'}});
}

// The bootblock's version frame, then its answer to every line: recorded from the simulated
// bootblock during a whole reprogram run, and the same with each refusal at the sixth line.
void BootblockSeeds() {
  Bytes recorded;
  {
    test::VirtualClock clock;
    auto line = SimLine::Create("seed-bootblock");
    sim::SimDevice device(DeviceConfig(1711104));
    sim::TSimDL2Config config;
    config.FirmwareVersion = 1130110;
    std::mutex mutex;
    bool gap_due = false;
    line->SetTap([&](bool FromPort, std::uint8_t Value, std::int32_t Baud, char, TimePoint) {
      std::lock_guard<std::mutex> lock(mutex);
      if (FromPort) {
        gap_due = !recorded.empty();  // the version frame ends with a pause
        return;
      }
      if (Baud != 19200) return;
      if (gap_due && recorded.size() < 8) {
        recorded.push_back(0xA5);
        recorded.push_back(0x80);
      }
      gap_due = false;
      recorded.push_back(Value);
      if (Value == 0xA5) recorded.push_back(0xA5);
    });
    sim::SimDL2Adapter adapter(line, &device, config);
    adapter.Start();
    TRS232o port;
    port.OpenBackend(line->OpenPortSide(), 1, 2400, 'N', 1024, 1024);
    port.SetBreak(true);
    adapter.PowerCycle();
    Delay(50);
    std::istringstream image(CarriedFirmwareImage());
    ReprogramInterface(port, image, "DL2");
    adapter.Stop();
    line->SetTap({});
  }
  int n = 0;
  Bytes seed{1};
  seed.insert(seed.end(), recorded.begin(), recorded.end());
  WriteSeed("fuzz_bootblock", ++n, seed);
  for (std::uint8_t refusal : {'B', 'D', 'E', 'T', 'U', 'n'}) {
    Bytes faulty = seed;
    // The replies follow the version frame and its gap marker: refuse the sixth line.
    const auto gap = std::search(faulty.begin(), faulty.end(), std::begin(kGap), std::end(kGap));
    if (gap != faulty.end() && gap + 2 + 5 < faulty.end()) *(gap + 2 + 5) = refusal;
    WriteSeed("fuzz_bootblock", ++n, faulty);
  }
  WriteDictionary("fuzz_bootblock", {{'V'}, {'N'}, {0xA5, 0x80}});
  BootblockStepSeeds(recorded);
}

void FirmwareSeeds() {
  const std::string& image = CarriedFirmwareImage();
  WriteSeed("fuzz_load_firmware", 1, image);
  // The header and the message records alone, without blocks.
  WriteSeed("fuzz_load_firmware", 2, image.substr(0, 40));
  // The scrambled signature record, as every image starts.
  WriteDictionary("fuzz_load_firmware",
                  {Bytes(image.begin(), image.begin() + 30), {0x00, 0x00}, {0x01, 0x00}});
}

void SettingsSeeds() {
  test::VirtualClock clock;
  const auto& table = BuiltInVersionRecords();
  const std::vector<TVersion::TRecord> records(table.begin(), table.end());
  const std::string current = EncodeVersionFile(records);
  WriteSeed("fuzz_version_file", 1, current);
  // The older kind: its check record is the plain column sum.
  std::string older = current;
  for (std::size_t j = 0; j < 47; ++j) {
    std::uint32_t v = 0;
    for (int b = 3; b >= 0; --b)
      v = (v << 8) | static_cast<std::uint8_t>(older[4 * j + static_cast<std::size_t>(b)]);
    v -= 1;
    for (int b = 0; b < 4; ++b)
      older[4 * j + static_cast<std::size_t>(b)] = static_cast<char>((v >> (8 * b)) & 0xFF);
  }
  WriteSeed("fuzz_version_file", 2, older);
  WriteSeed("fuzz_version_file", 3, EncodeVersionFile({records.front()}));
  WriteDictionary("fuzz_version_file",
                  {{0xFF, 0xFF, 0xFF, 0xFF}, {0x01, 0x00, 0x00, 0x00}, {0x00, 0x00, 0x00, 0x00}});

  // Settings files as the program saves them, for a few versions of the table.
  const std::string dir = folder + "/settings-model";
  MakeFolder(dir);
  {
    FILE* f = std::fopen((dir + "/VERSION.DAT").c_str(), "wb");
    if (f != nullptr) {
      std::fwrite(current.data(), 1, current.size(), f);
      std::fclose(f);
    }
  }
  SetVersionFileFolder(dir);
  std::string error;
  InitSettings(error);
  if (!error.empty()) std::fprintf(stderr, "fuzz_seeds: %s\n", error.c_str());
  int n = 0;
  for (std::size_t index = 0; index < VersionList.size() && index < 6; ++index) {
    SelectVersion(VersionList[index]->Items(0));
    std::string name;
    GetDeviceTypeName(name);
    SetDefaults();
    std::string message;
    const std::string path = dir + "/seed.zsf";
    SaveSettingsFile(path, message);
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) continue;
    std::string data(2, '\0');
    data[0] = static_cast<char>(index & 0xFF);
    data[1] = static_cast<char>(index >> 8);
    char buffer[256];
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, f);
    std::fclose(f);
    const std::string index_bytes = data;
    data.append(buffer, got);
    WriteSeed("fuzz_settings_file", ++n, data);
    WriteSeed("fuzz_settings_text", n, index_bytes + SettingsText());
    std::remove(path.c_str());
  }
  DoneSettings();
  std::remove((dir + "/VERSION.DAT").c_str());
  rmdir(dir.c_str());
  WriteDictionary("fuzz_settings_file", {{0xAA, 0xAA, 0x00, 0x00}, {0x55, 0x55, 0x00, 0x00}});
  WriteDictionary("fuzz_settings_text", {Text(" = "), Text(" V\n"), Text(" A\n"), Text("# "),
                                         Text("System voltage = 12 V\n"),
                                         Text("Software version = "), Text("e+"), Text(" Hr\n")});
}

// Traces of the line as --trace writes them: a DL2 session in both modes and a DL1 session, each
// reading the version and a few settings from the simulated adapter and device.
void TraceSeeds() {
  int n = 0;
  for (int kind = 0; kind < 3; ++kind) {
    test::VirtualClock clock;
    auto line = SimLine::Create("seed-trace");
    auto device = std::make_shared<sim::SimDevice>(DeviceConfig(1711104));
    std::unique_ptr<sim::SimDL2Adapter> dl2;
    std::unique_ptr<sim::SimDL1Adapter> dl1;
    if (kind == 2) {
      dl1 = std::make_unique<sim::SimDL1Adapter>(line, device);
      dl1->Start();
    } else {
      sim::TSimDL2Config config;
      config.NineBit = kind == 1;
      config.LedBytesEvery = 2;
      dl2 = std::make_unique<sim::SimDL2Adapter>(line, device.get(), config);
      dl2->Start();
    }
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* trace = open_memstream(&buffer, &size);
    auto* port = new TRS232o;
    port->OpenBackend(std::make_unique<TTraceBackend>(line->OpenPortSide(), trace), 1,
                      kind == 2 ? DL1Baud : DL2Baud, 'N', 1024, 1024);
    port->SetDtrCleared(false);
    Delay(400);
    TBusDriver* driver = kind == 2 ? static_cast<TBusDriver*>(new TDL1Driver(port))
                                   : new TDL2Driver(port, kind == 1 ? 2 : 1);
    ReadSoftwareVersion(*driver);
    for (std::uint16_t address : {0x2110, 0x2112, 0x2000}) {
      TBusFrame frame{7, static_cast<std::uint8_t>(address),
                      static_cast<std::uint8_t>(address >> 8), 0xFF};
      driver->Request(frame);
    }
    TBusFrame write{0x0B, 0x11, 0x0B, 0xFF};
    driver->Send(write);
    driver->SafeTerminate(true, true, true);  // frees the port, which closes the trace
    if (dl2) dl2->Stop();
    if (dl1) dl1->Stop();
    WriteSeed("fuzz_trace_decode", ++n, std::string(buffer, size));
    std::free(buffer);
  }
  WriteDictionary("fuzz_trace_decode", {Text(" PC>  "), Text(" <DEV "), Text("  2400 8N1\n"),
                                        Text("  1200 8S1 parity error\n"), Text(" purge\n"),
                                        Text("line 19200 8N1 RTS off DTR on\n"), Text("  ? \n")});
}

void TextSeeds() {
  int n = 0;
  for (const char* d : {"$FFFF W,S0.01,0", "$FFFF W,S0.01,1", "$FFFF I,S0.01,0", "$FFFF W,S0.01,2",
                        "$FFFF 0", "$FFFF S0.1,1", "$FFFF S0.25,2", "$0123^3", "$ffff w,s0.01,2",
                        "$FFFF  W,,S0.01 , 2", "$2105 B,$", "$0150 W,%", "$FFFF O-1.5e2,D", ""})
    WriteSeed("fuzz_definition", ++n, std::string(d));
  WriteDictionary("fuzz_definition", {Text("$FFFF"), Text(" W"), Text(",S"), Text(",O"), Text("^"),
                                      Text(" I"), Text(" B"), Text("e-"), Text("0x")});
  n = 0;
  for (const char* t : {"  a,b", ",,", "$FFFF  W,,S0.01 , 2", "\ta\t\tb ,c"})
    WriteSeed("fuzz_next_token", ++n, std::string(t));
  n = 0;
  for (const char* t : {"$FF", "-0x10", "  +123", "x7fffffff", "2147483648", "-2147483648",
                        "$FFFFFFFF", "1.5e-3", "  -0.25", "12a"})
    WriteSeed("fuzz_typed_number", ++n, std::string(t));
  WriteDictionary("fuzz_typed_number",
                  {Text("$"), Text("0x"), Text("0X"), Text("x"), Text("-"), Text("e+")});
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seeds <folder>\n");
    return 2;
  }
  folder = argv[1];
  MakeFolder(folder);
  PlainMainThread main_thread;
  SetMainThread(&main_thread);
  DL2Seeds();
  DL1Seeds();
  ReceiveFrameSeeds();
  BootblockSeeds();
  FirmwareSeeds();
  SettingsSeeds();
  TextSeeds();
  TraceSeeds();
  SetMainThread(nullptr);
  std::printf("seed corpora and dictionaries written to %s\n", folder.c_str());
  return 0;
}
