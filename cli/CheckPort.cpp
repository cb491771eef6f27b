// zocfg check-port --loopback: a port checked through a loopback plug, with a verdict per use.
#include <memory>
#include <string>

#include "cli/CommandSupport.h"
#include "cli/Outcome.h"
#include "cli/PortCommands.h"
#include "cli/TraceBackend.h"
#include "platform/Files.h"
#include "serial/PortCheck.h"
#include "serial/PortNames.h"

namespace zo {

namespace {

std::string Padded(const std::string& Text, std::size_t Width) {
  return Text.size() >= Width ? Text + " " : Text + std::string(Width - Text.size(), ' ');
}

std::string ResultText(const std::string& Name, const TPortCheckResult& R) {
  std::string text = "Port: " + Name + "\n";
  for (const TCheckItem& i : R.Items)
    text += "  " + Padded(CheckOutcomeName(i.Outcome), 11) + i.Title + ": " + i.Detail + "\n";
  if (!R.Aborted.empty()) text += "  stopped: " + R.Aborted + "\n";
  text += "Verdicts:\n";
  for (const TUseVerdict& u : R.Uses) {
    text += "  " + Padded(u.Name + ":", 21) + CheckOutcomeName(u.Outcome);
    if (!u.Reason.empty()) text += " (" + u.Reason + ")";
    text += "\n";
  }
  return text;
}

std::string ResultJson(const std::string& Name, bool Pseudo, const TPortCheckResult& R) {
  TJson j = SucceededDocument();
  j["port"] = Name;
  j["pseudo_terminal"] = Pseudo;
  TJson& checks = j["checks"] = TJson::array();
  for (const TCheckItem& i : R.Items) {
    TJson check = {{"key", i.Key},
                   {"title", i.Title},
                   {"outcome", CheckOutcomeName(i.Outcome)},
                   {"detail", i.Detail}};
    if (i.LimitMs >= 0) {
      // Times to the microsecond, as they were measured.
      for (const auto& [key, value] :
           {std::pair{"median_ms", i.MedianMs}, std::pair{"max_ms", i.MaxMs},
            std::pair{"limit_ms", i.LimitMs}})
        check[key] = value >= 0 ? NumberOrText(std::to_string(value)) : TJson(nullptr);
    }
    checks.push_back(std::move(check));
  }
  j["stopped"] = TextOrNull(R.Aborted);
  TJson& uses = j["uses"] = TJson::object();
  for (const TUseVerdict& u : R.Uses)
    uses[u.Key] = {{"outcome", CheckOutcomeName(u.Outcome)}, {"reason", u.Reason}};
  j["all_pass"] = R.AllPass();
  return JsonText(j);
}

}  // namespace

int CheckPort(const TOptions& Options, TTerminalUi& Ui, std::FILE* Out) {
  TPortTarget target;
  std::string error;
  ParsePort(Options.Port, target, error);  // checked with the command line

  std::FILE* trace = nullptr;
  if (!Options.Trace.empty() && (trace = OpenFile(Options.Trace, "w")) == nullptr) {
    Ui.Note("Cannot create trace file: " + Options.Trace, TMsgDlgType::mtError);
    return ExitFile;
  }
  std::unique_ptr<SerialBackend> port;
  std::string name = target.Path, why;
  if (target.Number != 0) {
    name = "COM" + std::to_string(target.Number);
    port = OpenSerialDevice(target.Number, why);
    if (port) name += " (" + port->Describe() + ")";
  } else {
    int error_number = 0;
    port = OpenSerialPath(target.Path, error_number);
    if (!port) why = ExplainOpenFailure(target.Path, error_number);
  }
  if (!port) {
    if (trace != nullptr) std::fclose(trace);
    Ui.Note("Cannot open port: " + name, TMsgDlgType::mtError);
    if (!why.empty()) Ui.Context(why);
    return ExitCommunication;
  }
  TPortCheckOptions options;
  options.PseudoTerminal = IsPseudoTerminal(port->Describe());
  if (trace != nullptr) port = std::make_unique<TTraceBackend>(std::move(port), trace);

  const TPortCheckResult result = CheckPortLoopback(*port, options);
  const std::string text =
      Options.Json ? ResultJson(name, options.PseudoTerminal, result) : ResultText(name, result);
  Print(Out, text);
  if (!result.Aborted.empty()) {
    Ui.Note("check-port stopped: " + result.Aborted, TMsgDlgType::mtError);
  } else if (!result.AllPass()) {
    std::string uses;
    for (const TUseVerdict& u : result.Uses)
      if (u.Outcome != TCheckOutcome::Pass)
        uses += (uses.empty() ? "" : ", ") + u.Name + ": " + CheckOutcomeName(u.Outcome);
    Ui.Note("Not every use passes (" + uses + ").", TMsgDlgType::mtError);
  }
  if (options.PseudoTerminal) {
    Ui.Note(
        "This is a pseudo-terminal: parity, break and modem lines do not exist on it, so the "
        "uses that need them cannot be shown.",
        TMsgDlgType::mtInformation);
  }
  return result.AllPass() ? ExitOk : ExitCommunication;
}

}  // namespace zo
