#include "serial/PortInfo.h"
#include "serial/WindowsPorts.h"

namespace zo {

TPortSystem TPortSystem::Live() {
  return {};
}

TPortReport GatherPortDetails(const TPortSystem&) {
  TPortReport report;
  for (const TWindowsPort& p : ListWindowsPorts()) {
    TPortDetails d;
    d.Number = p.Number;
    d.Name = p.Name;
    d.Path = "\\\\.\\" + p.Name;
    d.UsbVendor = HardwareIdField(p.HardwareId, "VID");
    d.UsbProduct = HardwareIdField(p.HardwareId, "PID");
    d.Product = p.FriendlyName;
    d.Driver = p.Service;
    // Windows tells who holds a port only to a program that opens it, and opening one changes
    // its modem lines: a port is not opened here.
    d.MayOpen = true;
    d.LowLatency = "unknown";
    if (p.HardwareId.find("PNP0501") != std::string::npos) {
      d.Dl1 = TDl1Verdict::Suits;
      d.Dl1Reason = "a 16550 UART flags parity errors on single bytes";
    } else {
      d.Dl1Reason = "not known, run check-port";
    }
    report.Ports.push_back(d);
  }
  if (!report.Ports.empty())
    report.Notes.push_back("whether another program holds a port shows only when it is opened");
  return report;
}

bool IsPseudoTerminal(const std::string&) {
  return false;
}

}  // namespace zo
