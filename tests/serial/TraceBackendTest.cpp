// The trace of the line: each byte with its time, direction and line settings, and the port
// behaving exactly as the one it wraps.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "serial/RS232o.h"
#include "serial/SimLine.h"
#include "serial/TraceBackend.h"
#include "serial/TraceFile.h"

namespace zo {
namespace {

std::string ReadAll(const std::string& Path) {
  std::FILE* f = std::fopen(Path.c_str(), "r");
  if (f == nullptr) return "";
  std::string text;
  char buf[512];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
    text.append(buf, n);
  std::fclose(f);
  return text;
}

TEST(TraceBackend, TracesEachByteAndPassesErrorsOn) {
  char path[] = "/tmp/zocfg-trace-XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  auto line = SimLine::Create("trace-test");
  {
    TTraceBackend trace(line->OpenPortSide(), ::fdopen(fd, "w"));
    TLineSettings settings;
    settings.BaudRate = 2400;
    settings.Parity = 'E';
    settings.DtrEnabled = true;
    ASSERT_TRUE(trace.SetLine(settings));
    TTimeouts timeouts;
    timeouts.ReadInterval = 50;
    timeouts.ReadConstant = 500;
    trace.SetTimeouts(timeouts);

    const std::uint8_t request[] = {0x02, 0xFF};
    EXPECT_EQ(trace.Write(request, 2), 2);
    line->PeerSetLine(2400, 'E');
    line->PeerWrite({0x56});
    line->PeerWriteWithParity(std::vector<std::uint8_t>{0xA9}.data(), 1, 'O');
    std::uint8_t reply[2] = {};
    int got = trace.Read(reply, 1);
    got += trace.Read(reply + 1, 1);
    EXPECT_EQ(got, 2);
    EXPECT_EQ(reply[1], 0xA9);
    // The caller still gets the error of the byte it read last.
    EXPECT_EQ(trace.TakeErrors() & ceRxParity, ceRxParity);
    EXPECT_EQ(trace.TakeErrors(), 0u);
    EXPECT_TRUE(trace.Purge());
    EXPECT_EQ(trace.Describe(), "simulated line trace-test");
  }
  const std::string text = ReadAll(path);
  ::unlink(path);

  std::vector<std::string> events;
  std::istringstream in(text);
  std::string l;
  while (std::getline(in, l)) {
    const std::size_t at = l.find_first_not_of(" 0123456789.");
    events.push_back(at == std::string::npos ? "" : l.substr(at));
  }
  const std::vector<std::string> expected = {
      "open simulated line trace-test",
      "line 2400 8E1 RTS off DTR on",
      "PC>  02  2400 8E1",
      "PC>  FF  2400 8E1",
      "<DEV 56  2400 8E1",
      "<DEV A9  2400 8E1 parity error",
      "purge",
      "close",
  };
  EXPECT_EQ(events, expected) << text;

  // The reader takes every line back as it was written.
  std::vector<std::string> read;
  std::istringstream again(text);
  double last_ms = 0;
  while (std::getline(again, l)) {
    TTraceRecord r;
    std::string why;
    ASSERT_TRUE(ParseTraceLine(l, r, why)) << l << ": " << why;
    EXPECT_GE(r.TimeMs, last_ms);
    last_ms = r.TimeMs;
    char byte[64];
    std::snprintf(byte, sizeof byte, "%s %02X %d %c%s", r.FromPc ? "PC>" : "<DEV", r.Value, r.Baud,
                  r.Parity, r.ParityError ? " parity error" : "");
    read.push_back(r.IsByte ? byte : std::string(r.Event));
  }
  EXPECT_EQ(read, (std::vector<std::string>{"open simulated line trace-test",
                                            "line 2400 8E1 RTS off DTR on", "PC> 02 2400 E",
                                            "PC> FF 2400 E", "<DEV 56 2400 E",
                                            "<DEV A9 2400 E parity error", "purge", "close"}));
}

TEST(TraceBackend, PortsOpenedByNumberAreTracedWhileAsked) {
  char path[] = "/tmp/zo-window-trace-XXXXXX";
  ::close(::mkstemp(path));
  auto line = SimLine::Create("window");
  SimPortRegistry::Bind(9, line);
  ASSERT_TRUE(TraceOpenedPorts(path));
  for (std::uint8_t b : {0x41, 0x42}) {
    TRS232o port;
    ASSERT_TRUE(port.Open(9, 2400, 'N', 1024, 1024));
    EXPECT_EQ(port.Write(&b, 1), 1);
  }
  TraceOpenedPorts("");
  {
    TRS232o port;
    ASSERT_TRUE(port.Open(9, 2400, 'N', 1024, 1024));
    const std::uint8_t b = 0x43;
    port.Write(&b, 1);
  }
  SimPortRegistry::Unbind(9);
  const std::string text = ReadAll(path);
  ::unlink(path);
  // Both opens while asked, one after the other; nothing after.
  EXPECT_NE(text.find("PC>  41"), std::string::npos) << text;
  EXPECT_GT(text.find("PC>  42"), text.find("PC>  41")) << text;
  EXPECT_EQ(text.find("PC>  43"), std::string::npos) << text;
  EXPECT_FALSE(TraceOpenedPorts("/nonexistent-folder/trace.txt"));
}

}  // namespace
}  // namespace zo
