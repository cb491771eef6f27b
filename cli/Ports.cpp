// zocfg ports: the serial ports with their details, from sysfs, /dev and /proc.
#include <string>

#include "cli/Json.h"
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

void TextOrNull(TJsonWriter& J, const std::string& Name, const std::string& Text) {
  J.Key(Name);
  if (Text.empty())
    J.Null();
  else
    J.String(Text);
}

void JsonPort(TJsonWriter& J, const TPortDetails& P) {
  J.BeginObject();
  J.Member("com", P.Number);
  J.Member("path", P.Path);
  TextOrNull(J, "by_id", P.ById);
  TextOrNull(J, "usb_vendor", P.UsbVendor);
  TextOrNull(J, "usb_product", P.UsbProduct);
  TextOrNull(J, "product", P.Product);
  TextOrNull(J, "driver", P.Driver);
  J.MemberBool("may_open", P.MayOpen);
  J.Key("obstacles");
  J.BeginArray();
  for (const std::string& o : P.Obstacles)
    J.String(o);
  J.EndArray();
  J.Key("held_by");
  J.BeginArray();
  for (const TPortHolder& h : P.Holders) {
    J.BeginObject();
    J.Member("pid", static_cast<std::int64_t>(h.Pid));
    J.Member("command", h.Command);
    J.EndObject();
  }
  J.EndArray();
  J.MemberBool("modem_manager_may_probe", P.ModemManagerMayProbe);
  J.Member("low_latency", P.LowLatency);
  J.Key("latency_timer_ms");
  if (P.LatencyTimerMs >= 0)
    J.Integer(P.LatencyTimerMs);
  else
    J.Null();
  J.Member("dl1", Dl1VerdictName(P.Dl1));
  J.Member("dl1_reason", P.Dl1Reason);
  J.EndObject();
}

}  // namespace

int ListPorts(const TOptions& Options, TTerminalUi& Ui, std::FILE* Out, const TPortSystem& System) {
  const TPortReport report = GatherPortDetails(System);
  std::string text;
  if (Options.Json) {
    TJsonWriter j;
    j.BeginObject();
    j.Key("ports");
    j.BeginArray();
    for (const TPortDetails& p : report.Ports)
      JsonPort(j, p);
    j.EndArray();
    j.Key("notes");
    j.BeginArray();
    for (const std::string& n : report.Notes)
      j.String(n);
    j.EndArray();
    j.EndObject();
    text = j.Text();
  } else {
    for (const TPortDetails& p : report.Ports)
      text += PortLine(p);
    if (report.Ports.empty()) text = "No serial ports found.\n";
  }
  std::fputs(text.c_str(), Out);
  std::fflush(Out);
  for (const std::string& n : report.Notes)
    Ui.Note(n, TMsgDlgType::mtInformation);
  return ExitOk;
}

}  // namespace zo
