#include "serial/PortNames.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "serial/SimLine.h"
#include "tests/serial/FakeSystem.h"
#include "tests/serial/PtyPair.h"

namespace zo {
namespace {

namespace fs = std::filesystem;
using test::FakeSystem;
using test::WriteFile;

TEST(PortNames, EnumerationOrderGhostsAndDescriptions) {
  FakeSystem sys;
  WriteFile(sys.AddTty("ttyS0", "pnp0/00:01", true) / "type", "4");
  WriteFile(sys.AddTty("ttyS1", "platform/serial8250", true) / "type", "0");  // no UART
  WriteFile(sys.AddTty("ttyS10", "pnp0/00:03", true) / "type", "4");
  WriteFile(sys.AddTty("ttyS2", "pnp0/00:02", true) / "type", "4");
  sys.AddTty("tty0", "virtual", false);
  sys.AddTty("ttyS7", "virtual", false);  // no device behind it
  // A USB adapter: the tty hangs from the interface, the strings sit on the USB device.
  sys.AddTty("ttyUSB0", "usb1/1-1/1-1:1.0/ttyUSB0", true);
  WriteFile(sys.Devices() / "usb1/1-1/idVendor", "0403");
  WriteFile(sys.Devices() / "usb1/1-1/manufacturer", "FTDI");
  WriteFile(sys.Devices() / "usb1/1-1/product", "FT232R USB UART");
  // One without strings, known by its by-id link.
  sys.AddTty("ttyUSB1", "usb1/1-2/1-2:1.0/ttyUSB1", true);
  fs::create_symlink("../ttyUSB1", sys.ById() / "usb-ZO_DL2_1234-if00-port0");
  sys.AddTty("ttyACM0", "usb1/1-3/1-3:1.0", true);
  WriteFile(sys.Devices() / "usb1/1-3/idVendor", "2341");
  WriteFile(sys.Devices() / "usb1/1-3/product", "Modem");

  const auto ports =
      EnumerateSerialPortsIn(sys.Tty().string(), sys.Dev().string(), sys.ById().string());
  std::vector<std::string> names, descriptions;
  for (size_t i = 0; i < ports.size(); ++i) {
    EXPECT_EQ(ports[i].Number, static_cast<int>(i) + 1);
    names.push_back(fs::path(ports[i].Path).filename().string());
    descriptions.push_back(ports[i].Description);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"ttyS0", "ttyS2", "ttyS10", "ttyUSB0", "ttyUSB1",
                                             "ttyACM0"}));
  EXPECT_EQ(descriptions[3], "FTDI FT232R USB UART");
  EXPECT_EQ(descriptions[4], "usb-ZO_DL2_1234-if00-port0");
  EXPECT_EQ(descriptions[5], "Modem");
  EXPECT_EQ(ports[0].Path, (sys.Dev() / "ttyS0").string());
}

TEST(PortNames, EnvironmentNamesTheDeviceAndSimulatedLinesComeFirst) {
  test::PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  ::setenv("ZO_COM201", pty.SlavePath().c_str(), 1);
  ::setenv("ZO_COM202", "/dev/null", 1);
  ::setenv("ZO_COM203", "/dev/zo-no-such-port", 1);
  EXPECT_EQ(PortDevicePath(201), pty.SlavePath());
  EXPECT_EQ(PortDevicePath(0), "");

  std::string why;
  auto device = OpenSerialDevice(201, why);
  ASSERT_TRUE(device) << why;
  EXPECT_EQ(device->Describe(), pty.SlavePath());
  EXPECT_TRUE(why.empty());
  EXPECT_FALSE(OpenSerialDevice(202, why));
  EXPECT_NE(why.find("not a serial port"), std::string::npos) << why;
  EXPECT_FALSE(OpenSerialDevice(203, why));
  EXPECT_NE(why.find("does not exist"), std::string::npos) << why;
  EXPECT_FALSE(OpenSerialDevice(0, why));

  // A simulated line bound to the number wins over the environment.
  auto line = SimLine::Create("sim202");
  SimPortRegistry::Bind(202, line);
  auto sim = OpenSerialDevice(202, why);
  ASSERT_TRUE(sim) << why;
  EXPECT_NE(sim->Describe().find("sim202"), std::string::npos);
  SimPortRegistry::Unbind(202);
  EXPECT_FALSE(SimPortRegistry::Find(202));
  for (const char* v : {"ZO_COM201", "ZO_COM202", "ZO_COM203"})
    ::unsetenv(v);
}

}  // namespace
}  // namespace zo
