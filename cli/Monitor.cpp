#include "cli/Monitor.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli/CommandSupport.h"
#include "cli/Interrupt.h"
#include "connection/LiveCsv.h"
#include "connection/LiveHistory.h"
#include "settings/Settings.h"

namespace zo {

namespace {

// The JSON keys of the live values, in LiveValues() order.
constexpr const char* JsonKeys[LiveValueCount] = {
    "u_mains", "i_mains", "u_inverter", "i_inverter", "u_dc", "u_dc_ripple", "i_dc"};
constexpr int Settings[LiveValueCount] = {SettingUMains,    SettingIMains, SettingUInverter,
                                          SettingIInverter, SettingUdc,    SettingUdcRipple,
                                          SettingIdc};

// The values the lines and the JSON document show: those the device has (the window greys the
// mains rows of a device without charger). A recording always has all seven columns.
std::vector<int> ShownValues() {
  std::vector<int> shown;
  for (int i = 0; i < LiveValueCount; ++i) {
    const int setting = Settings[i];
    const bool mains = setting == SettingUMains || setting == SettingIMains;
    if (SettingTable[setting].IsPresent() && (!mains || HasCharger())) shown.push_back(i);
  }
  return shown;
}

std::string SecondsText(const TLiveHistory& History, const TLiveRow& Row) {
  char time[32];
  std::snprintf(time, sizeof time, "%.1f", MillisecondsBetween(History.Start(), Row.Time) / 1000.0);
  return time;
}

std::string LineText(const TLiveHistory& History, const TLiveRow& Row,
                     const std::vector<int>& Shown) {
  const std::string time = SecondsText(History, Row);
  std::string line = std::string(8 - std::min<std::size_t>(8, time.size()), ' ') + time + " s ";
  for (int i : Shown) {
    const TLiveValueInfo& value = LiveValues()[static_cast<std::size_t>(i)];
    const std::string& text = Row.Values[static_cast<std::size_t>(i)];
    line += std::string(" ") + value.Name + " " + (text.empty() ? "- - -" : text) + " " +
            value.Unit + " ";
  }
  while (line.back() == ' ')
    line.pop_back();
  return line + "\n";
}

TJson JsonRow(const TLiveHistory& History, const TLiveRow& Row, const std::vector<int>& Shown) {
  TJson values = TJson::object();
  for (int i : Shown) {
    const std::string& text = Row.Values[static_cast<std::size_t>(i)];
    values[JsonKeys[i]] = {{"value", text.empty() ? TJson(nullptr) : NumberOrText(text)},
                           {"unit", LiveValues()[static_cast<std::size_t>(i)].Unit}};
  }
  return {{"time_s", NumberOrText(SecondsText(History, Row))}, {"values", std::move(values)}};
}

}  // namespace

int RunMonitor(const TOptions& O, TTerminalUi& Ui, std::FILE* Out) {
  // Declared before the session: the bus thread that feeds it ends first.
  std::unique_ptr<TLiveHistory> history;
  // A recording that cannot be written is known before the device is touched.
  const bool csv_to_out = O.Csv == "-";
  TLiveCsvWriter csv;
  if (!O.Csv.empty()) {
    if (!(csv_to_out ? csv.Attach(Out) : csv.Open(O.Csv))) {
      Ui.Note(csv.Error(), TMsgDlgType::mtError);
      return ExitFile;
    }
  }
  TSession s(Ui, O);
  const int status = Connect(s);
  if (status != ExitOk) return status;

  const std::vector<int> shown = ShownValues();
  if (shown.empty()) {
    Ui.Note("This device's version has no live values to show.", TMsgDlgType::mtInformation);
    return ExitOk;
  }
  const std::string heading = s.DeviceType() + " (software version " +
                              std::to_string(s.TargetVersion()) + ") on " + s.PortName();
  if (csv_to_out)
    Ui.Context(heading);
  else if (!O.Json)
    Print(Out, heading + "\n");

  history = std::make_unique<TLiveHistory>();
  // The recording names the device in every row, as the window's does.
  history->DeviceChanged(
      s.DeviceType() + " (" + std::to_string(s.TargetVersion()) + ") on " + s.PortName(), Now());
  std::uint64_t next = 0;
  s.Bus().SetLiveHistory(history.get());
  s.ReleaseBus();  // the bus thread polls the live values again

  const std::int32_t version = s.TargetVersion();
  bool lost = false;
  int rows = 0;
  TJson json = SucceededDocument();
  json["port"] = s.PortName();
  JsonAdapter(json, s);
  JsonTarget(json, s);
  TJson& cycles = json["cycles"] = TJson::array();
  int result = ExitOk;
  while (result == ExitOk && !(O.Count > 0 && rows >= O.Count)) {
    s.PumpUntil(
        [&] {
          return history->RowCount() > next || (s.Bus().EffectiveVersion() != version) != lost;
        },
        500);
    // Rows that arrived are written first, also when the monitor ends now.
    for (const TLiveRow& row : history->RowsAfter(next)) {
      if (O.Count > 0 && rows >= O.Count) break;
      ++rows;
      if (csv.IsOpen() && !csv.Write(row, *history)) {
        Ui.Note(csv.Error(), TMsgDlgType::mtError);
        Ui.Context(std::to_string(rows - 1) + " rows were written before.");
        result = ExitFile;
        break;
      }
      if (O.Json)
        cycles.push_back(JsonRow(*history, row, shown));
      else if (!csv_to_out)
        Print(Out, LineText(*history, row, shown));
      // Standard output that takes nothing more ends the monitor (RunCommand says why).
      if (OutputFailed()) {
        result = ExitFile;
        break;
      }
    }
    if (result != ExitOk || StopRequested()) break;
    const std::int32_t now_version = s.Bus().EffectiveVersion();
    if (now_version >= 0 && now_version != version) {
      // Another device answers: the monitor's quantities are not its quantities.
      Ui.Note("A different device (software version " + std::to_string(now_version) +
                  ") answers now; the monitor ends.",
              TMsgDlgType::mtError);
      result = ExitCommunication;
      break;
    }
    if ((now_version != version) != lost) {
      lost = !lost;
      if (lost && O.ExitOnLoss) {
        Ui.Note("The target was lost: more than ten reads failed.", TMsgDlgType::mtError);
        result = ExitCommunication;
        break;
      }
      if (lost)
        Ui.Note(
            "The target was lost: more than ten reads failed. Waiting for it to answer "
            "again; the values stay empty meanwhile.",
            TMsgDlgType::mtWarning);
      else
        Ui.Note("The target answers again.", TMsgDlgType::mtInformation);
    }
  }
  // Ctrl+C ends the monitor normally; a trace that could not be written does not.
  if (result == ExitOk && StopRequested() && !Interrupted()) result = s.Stopped("");
  if (!csv.Close() && result == ExitOk) {
    Ui.Note(csv.Error(), TMsgDlgType::mtError);
    result = ExitFile;
  }
  if (O.Json) Print(Out, JsonText(json));
  return result;
}

}  // namespace zo
