// zocfg ports: the serial ports with their details, from sysfs, /dev and /proc.
#include <string>

#include "cli/CommandSupport.h"
#include "cli/Outcome.h"
#include "cli/PortCommands.h"

namespace zo {

namespace {

std::string OrDash(const std::string& Text) {
  return Text.empty() ? "-" : Text;
}

std::string Joined(const std::vector<std::string>& Parts, const char* Separator) {
  std::string text;
  for (const std::string& p : Parts)
    text += (text.empty() ? "" : Separator) + p;
  return text;
}

std::string PortLine(const TPortDetails& P) {
  std::string usb = "-";
  if (!P.UsbVendor.empty() || !P.UsbProduct.empty()) {
    usb = OrDash(P.UsbVendor) + ":" + OrDash(P.UsbProduct);
    if (!P.Product.empty()) usb += " \"" + P.Product + "\"";
  }
  std::string open = P.MayOpen ? "yes" : "no";
  if (!P.Obstacles.empty()) open += " (" + Joined(P.Obstacles, "; ") + ")";
  std::string latency = P.LowLatency;
  if (P.LatencyTimerMs >= 0)
    latency += " (latency timer " + std::to_string(P.LatencyTimerMs) + " ms)";
  return "COM" + std::to_string(P.Number) + "  " + P.Path + "  by-id " + OrDash(P.ById) + "  USB " +
         usb + "  driver " + OrDash(P.Driver) + "  open: " + open + "  low latency: " + latency +
         "  DL1: " + Dl1VerdictName(P.Dl1) + " (" + P.Dl1Reason + ")\n";
}

TJson JsonPort(const TPortDetails& P) {
  TJson held_by = TJson::array();
  for (const TPortHolder& h : P.Holders)
    held_by.push_back({{"pid", static_cast<std::int64_t>(h.Pid)}, {"command", h.Command}});
  return {{"com", P.Number},
          {"path", P.Path},
          {"by_id", TextOrNull(P.ById)},
          {"usb_vendor", TextOrNull(P.UsbVendor)},
          {"usb_product", TextOrNull(P.UsbProduct)},
          {"product", TextOrNull(P.Product)},
          {"driver", TextOrNull(P.Driver)},
          {"may_open", P.MayOpen},
          {"obstacles", P.Obstacles},
          {"held_by", std::move(held_by)},
          {"modem_manager_may_probe", P.ModemManagerMayProbe},
          {"low_latency", P.LowLatency},
          {"latency_timer_ms", P.LatencyTimerMs >= 0 ? TJson(P.LatencyTimerMs) : TJson(nullptr)},
          {"dl1", Dl1VerdictName(P.Dl1)},
          {"dl1_reason", P.Dl1Reason}};
}

}  // namespace

int ListPorts(const TOptions& Options, TTerminalUi& Ui, std::FILE* Out, const TPortSystem& System) {
  const TPortReport report = GatherPortDetails(System);
  std::string text;
  if (Options.Json) {
    TJson j = SucceededDocument();
    TJson& ports = j["ports"] = TJson::array();
    for (const TPortDetails& p : report.Ports)
      ports.push_back(JsonPort(p));
    j["notes"] = report.Notes;
    text = JsonText(j);
  } else {
    for (const TPortDetails& p : report.Ports)
      text += PortLine(p);
    if (report.Ports.empty()) text = "No serial ports found.\n";
  }
  Print(Out, text);
  for (const std::string& n : report.Notes)
    Ui.Note(n, TMsgDlgType::mtInformation);
  return ExitOk;
}

}  // namespace zo
