#include "serial/PortInfo.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <tuple>

#include "tests/serial/FakeSystem.h"
#include "tests/serial/PtyPair.h"

namespace zo {
namespace {

namespace fs = std::filesystem;
using test::FakeSystem;
using test::WriteFile;

bool Mentions(const std::vector<std::string>& Texts, const std::string& Part) {
  return std::any_of(Texts.begin(), Texts.end(),
                     [&](const std::string& t) { return t.find(Part) != std::string::npos; });
}

// A USB adapter: the tty hangs from the usb-serial port, under the interface, under the device.
fs::path AddUsb(FakeSystem& Sys, const std::string& Name, const std::string& Usb,
                const std::string& Vendor, const std::string& Product, const std::string& Driver) {
  const std::string port = "usb1/" + Usb + "/" + Usb + ":1.0/" + Name;
  Sys.AddTty(Name, port, true);
  WriteFile(Sys.Devices() / "usb1" / Usb / "idVendor", Vendor);
  WriteFile(Sys.Devices() / "usb1" / Usb / "idProduct", Product);
  if (!Driver.empty()) {
    fs::create_directories(Sys.Devices() / "drivers" / Driver);
    fs::create_directory_symlink(Sys.Devices() / "drivers" / Driver,
                                 Sys.Devices() / port / "driver");
  }
  return Sys.Devices() / port;
}

TEST(PortInfo, DetailsFromSysfsDevAndProc) {
  FakeSystem sys;
  // A UART as Linux 6.5 and later show it: the tty's device on the serial core's own bus.
  WriteFile(sys.AddTty("ttyS0", "pnp0/00:01/00:01:0/00:01:0.0", true) / "type", "4");
  for (const auto& [dir, bus, driver] :
       {std::tuple{"00:01/00:01:0/00:01:0.0", "serial-base", "port"},
        std::tuple{"00:01/00:01:0", "serial-base", "ctrl"}, std::tuple{"00:01", "pnp", "serial"}}) {
    const fs::path target = sys.Devices() / "bus" / bus / "drivers" / driver;
    fs::create_directories(target);
    fs::create_directory_symlink(target, sys.Devices() / "pnp0" / dir / "driver");
  }
  const fs::path ftdi = AddUsb(sys, "ttyUSB0", "1-1", "0403", "6001", "ftdi_sio");
  WriteFile(sys.Devices() / "usb1/1-1/product", "FT232R USB UART");
  WriteFile(ftdi / "latency_timer", "16");
  fs::create_symlink("../ttyUSB0", sys.ById() / "usb-FTDI_FT232R_USB_UART_A1-if00-port0");
  AddUsb(sys, "ttyUSB1", "1-2", "10c4", "ea60", "cp210x");
  // Odd files: no driver link, a latency timer that is no number, a by-id link to nothing.
  WriteFile(AddUsb(sys, "ttyUSB2", "1-3", "1a86", "7523", "") / "latency_timer", "fast\n\n");
  fs::create_symlink("../ttyUSB9", sys.ById() / "usb-gone-if00-port0");
  AddUsb(sys, "ttyACM0", "1-4", "2341", "0043", "cdc_acm");
  WriteFile(sys.Proc() / "sys/kernel/osrelease", "5.4.0-150-generic");
  sys.AddProcess(812, "ModemManager", {sys.Dev() / "ttyACM0", "/dev/null"});
  // The USB adapter belongs to group dialout, without access for others.
  ASSERT_EQ(::chown((sys.Dev() / "ttyUSB0").c_str(), 0, 20), 0);
  ASSERT_EQ(::chmod((sys.Dev() / "ttyUSB0").c_str(), 0660), 0);
  ASSERT_EQ(::chmod((sys.Dev() / "ttyS0").c_str(), 0666), 0);

  const TPortReport report = GatherPortDetails(sys.System(1000, {1000}));
  ASSERT_EQ(report.Ports.size(), 5u);
  const TPortDetails& uart = report.Ports[0];
  const TPortDetails& ft = report.Ports[1];
  const TPortDetails& cp = report.Ports[2];
  const TPortDetails& odd = report.Ports[3];
  const TPortDetails& acm = report.Ports[4];

  EXPECT_EQ(uart.Name, "ttyS0");
  EXPECT_EQ(uart.Driver, "serial");
  EXPECT_TRUE(uart.MayOpen);
  EXPECT_EQ(uart.Dl1, TDl1Verdict::Suits);
  EXPECT_EQ(uart.LowLatency, "not needed");

  EXPECT_EQ(ft.Number, 2);
  EXPECT_EQ(ft.ById, "usb-FTDI_FT232R_USB_UART_A1-if00-port0");
  EXPECT_EQ(ft.UsbVendor + ":" + ft.UsbProduct, "0403:6001");
  EXPECT_EQ(ft.Product, "FT232R USB UART");
  EXPECT_EQ(ft.Driver, "ftdi_sio");
  EXPECT_EQ(ft.LatencyTimerMs, 16);
  EXPECT_EQ(ft.LowLatency, "yes");
  EXPECT_EQ(ft.Dl1, TDl1Verdict::SuitsWithLowLatency);
  EXPECT_FALSE(ft.MayOpen);
  EXPECT_TRUE(Mentions(ft.Obstacles, "not in group dialout")) << ft.Obstacles.front();

  EXPECT_EQ(cp.Driver, "cp210x");
  EXPECT_EQ(cp.Dl1, TDl1Verdict::Unsuitable) << cp.Dl1Reason;  // Linux 5.4

  EXPECT_EQ(odd.Driver, "");
  EXPECT_EQ(odd.LatencyTimerMs, -1);
  EXPECT_EQ(odd.Dl1, TDl1Verdict::NotKnown);
  EXPECT_EQ(odd.ById, "");
  EXPECT_TRUE(Mentions(report.Notes, "usb-gone-if00-port0"));

  EXPECT_EQ(acm.Dl1, TDl1Verdict::NotKnown);
  EXPECT_EQ(acm.Dl1Reason, "not known, run check-port");
  ASSERT_EQ(acm.Holders.size(), 1u);
  EXPECT_EQ(acm.Holders[0].Pid, 812);
  EXPECT_FALSE(acm.MayOpen);
  EXPECT_TRUE(Mentions(acm.Obstacles, "held by ModemManager (pid 812)"));
  EXPECT_TRUE(acm.ModemManagerMayProbe);
  EXPECT_FALSE(uart.ModemManagerMayProbe);  // it leaves UART ports alone
  // Root may open what is not held.
  EXPECT_TRUE(GatherPortDetails(sys.System(0)).Ports[1].MayOpen);
}

TEST(PortInfo, Dl1VerdictFollowsTheDriverAndTheKernel) {
  std::string why;
  EXPECT_EQ(Dl1VerdictFor("ttyUSB", "cp210x", "5.9.0", -1, why), TDl1Verdict::Suits);
  EXPECT_EQ(Dl1VerdictFor("ttyUSB", "cp210x", "5.8.18-arch1", -1, why), TDl1Verdict::Unsuitable);
  EXPECT_EQ(Dl1VerdictFor("ttyUSB", "cp210x", "4.19.0", -1, why), TDl1Verdict::Unsuitable);
  EXPECT_EQ(Dl1VerdictFor("ttyUSB", "cp210x", "6.1.0-18-amd64", -1, why), TDl1Verdict::Suits);
  EXPECT_EQ(Dl1VerdictFor("ttyUSB", "cp210x", "", -1, why), TDl1Verdict::NotKnown);
  EXPECT_EQ(Dl1VerdictFor("ttyUSB", "ftdi_sio", "6.1", 1, why), TDl1Verdict::Suits);
  EXPECT_EQ(Dl1VerdictFor("ttyUSB", "ch341-uart", "6.1", -1, why), TDl1Verdict::NotKnown);

  test::PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  EXPECT_TRUE(IsPseudoTerminal(pty.SlavePath()));
  EXPECT_FALSE(IsPseudoTerminal("/dev/null"));
  EXPECT_FALSE(IsPseudoTerminal("/dev/zo-no-such-port"));
}

}  // namespace
}  // namespace zo
