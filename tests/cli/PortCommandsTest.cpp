// zocfg ports and check-port in process: the fake system's ports, a looped simulated line.
#include "cli/PortCommands.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "serial/SimLine.h"
#include "tests/serial/FakeSystem.h"
#include "tests/support/VirtualClock.h"

namespace zo {
namespace {

// Runs a command with its standard output and error captured.
struct CapturedRun {
  CapturedRun() : out(std::tmpfile()), err(std::tmpfile()), ui(err, false, false) {}
  ~CapturedRun() {
    std::fclose(out);
    std::fclose(err);
  }
  static std::string Text(std::FILE* F) {
    std::rewind(F);
    std::string text;
    for (int c; (c = std::fgetc(F)) != EOF;)
      text += static_cast<char>(c);
    return text;
  }
  std::FILE* out;
  std::FILE* err;
  TTerminalUi ui;
};

TEST(PortCommands, CheckPortExitsZeroOnlyWhenEveryUsePasses) {
  test::VirtualClock clock;
  auto line = SimLine::Create("loop");
  SimPortRegistry::Bind(250, line);
  TOptions o;
  o.Command = TCommand::CheckPort;
  o.Port = "250";
  o.Loopback = true;
  line->SetLoopback(true);
  {
    CapturedRun r;
    EXPECT_EQ(CheckPort(o, r.ui, r.out), ExitOk) << CapturedRun::Text(r.out);
    EXPECT_NE(CapturedRun::Text(r.out).find("DL2 firmware update: pass"), std::string::npos);
  }
  line->SetLoopback(false);
  {
    CapturedRun r;
    o.Json = true;
    EXPECT_EQ(CheckPort(o, r.ui, r.out), ExitCommunication);
    EXPECT_NE(CapturedRun::Text(r.out).find("\"all_pass\": false"), std::string::npos)
        << CapturedRun::Text(r.out);
    EXPECT_NE(CapturedRun::Text(r.err).find("bridge TX and RX"), std::string::npos);
  }
  SimPortRegistry::Unbind(250);
  CapturedRun r;
  EXPECT_EQ(CheckPort(o, r.ui, r.out), ExitCommunication);  // nothing bound, no such port
}

TEST(PortCommands, PortsListsOneLinePerPortAndNotes) {
  test::FakeSystem sys;
  sys.AddTty("ttyUSB0", "usb1/1-1/1-1:1.0/ttyUSB0", true);
  test::WriteFile(sys.Devices() / "usb1/1-1/idVendor", "0403");
  std::filesystem::create_symlink("../ttyUSB7", sys.ById() / "usb-gone");
  TOptions o;
  o.Command = TCommand::Ports;
  CapturedRun r;
  EXPECT_EQ(ListPorts(o, r.ui, r.out, sys.System()), ExitOk);
  EXPECT_EQ(CapturedRun::Text(r.out).rfind("COM1  " + (sys.Dev() / "ttyUSB0").string(), 0), 0u)
      << CapturedRun::Text(r.out);
  EXPECT_NE(CapturedRun::Text(r.out).find("DL1: not known"), std::string::npos);
  EXPECT_NE(CapturedRun::Text(r.err).find("usb-gone points to ../ttyUSB7"), std::string::npos);
}

}  // namespace
}  // namespace zo
