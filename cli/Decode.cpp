// zocfg decode: a trace written by --trace, one line per frame with its meaning and flags, then a
// summary; or the same as one JSON document.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/CommandSupport.h"
#include "cli/Commands.h"
#include "cli/Outcome.h"
#include "cli/TraceDecoder.h"
#include "settings/AtomicFile.h"
#include "settings/Settings.h"

namespace zo {

namespace {

// Warnings beyond this many are counted, not shown.
constexpr int ShownWarnings = 100;

std::string BytesText(const std::vector<std::uint8_t>& Bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(Bytes.size() * 3);
  for (std::uint8_t b : Bytes) {
    if (!text.empty()) text += ' ';
    text += digits[b >> 4];
    text += digits[b & 15];
  }
  return text;
}

std::string FrameLine(const TDecodedFrame& F) {
  char head[64];
  std::snprintf(head, sizeof head, "%12.3f  %-4s  %-9s  ", F.TimeMs,
                F.Direction.empty() ? "---" : F.Direction.c_str(), F.Line.c_str());
  std::string line = head;
  if (!F.Bytes.empty()) {
    // A firmware image line is 74 bytes: its start is enough to recognise it.
    constexpr std::size_t Shown = 24;
    std::string bytes = F.Bytes.size() <= Shown
                            ? BytesText(F.Bytes)
                            : BytesText({F.Bytes.begin(), F.Bytes.begin() + Shown}) + " ...";
    if (bytes.size() < 21) bytes.resize(21, ' ');
    line += bytes + "  ";
  }
  line += F.Meaning;
  for (const std::string& flag : F.Flags)
    line += "  [" + flag + "]";
  return line + "\n";
}

std::string SummaryText(const TDecodeSummary& S) {
  static const char* const names[tfFlagCount] = {"checksum failures", "unmatched replies",
                                                 "repeated requests", "short hold-offs",
                                                 "late replies",      "stray byte runs"};
  std::string text = "\nSummary: " + std::to_string(S.Frames) + " frames";
  for (int f = 0; f < tfFlagCount; ++f)
    text += (f == 0 ? "; " : ", ") + std::to_string(S.Flags[f]) + " " + names[f];
  return text + "; " + std::to_string(S.Warnings) + " lines not understood\n";
}

TJson JsonFrame(const TDecodedFrame& F) {
  char time[32];
  std::snprintf(time, sizeof time, "%.3f", F.TimeMs);
  return {{"line", F.LineNumber},
          {"time_ms", NumberOrText(time)},
          {"direction", F.Direction.empty() ? "event" : F.Direction},
          {"line_settings", F.Line},
          {"bytes", BytesText(F.Bytes)},
          {"meaning", F.Meaning},
          {"flags", F.Flags}};
}

std::string SizeText(std::size_t Bytes) {
  constexpr std::size_t GB = std::size_t{1} << 30;
  return Bytes % GB == 0 ? std::to_string(Bytes / GB) + " GB" : std::to_string(Bytes) + " bytes";
}

}  // namespace

int RunDecode(const TOptions& O, TTerminalUi& Ui, std::FILE* Out, std::size_t MaxTraceBytes) {
  const std::string& file = O.Files.front();
  std::vector<std::string> notes;  // about the file as a whole; also in the JSON's warnings
  const auto note = [&](const std::string& Text) {
    Ui.Note(Text, TMsgDlgType::mtWarning);
    notes.push_back(Text);
  };
  std::string data;
  TReadResult read = ReadWholeFile(file, MaxTraceBytes, data);
  if (read == TReadResult::TooLarge) {
    // The start of the trace, up to its last whole line within the limit, is decoded.
    read = ReadFileStart(file, MaxTraceBytes, data);
    const std::size_t last = data.rfind('\n');
    if (read == TReadResult::Ok && last == std::string::npos) {
      ShowMessageBox("decode: " + file + " is larger than " + SizeText(MaxTraceBytes) +
                         " and its start holds no whole line: it is no trace",
                     TMsgDlgType::mtError);
      return ExitFile;
    }
    if (read == TReadResult::Ok) {
      data.resize(last + 1);
      note("decode: " + file + " is larger than " + SizeText(MaxTraceBytes) + "; only its first " +
           std::to_string(std::count(data.begin(), data.end(), '\n')) + " lines are decoded");
    }
  }
  if (read == TReadResult::CannotOpen) {
    ShowMessageBox("Cannot open file: " + file, TMsgDlgType::mtError);
    Ui.Context(WhyUnreadable(file));
    return ExitFile;
  }

  // The names of settings come from VERSION.DAT; without it the frames are decoded unnamed.
  std::string error;
  InitSettings(error);
  if (!error.empty())
    Ui.Note("decode: without VERSION.DAT settings are not named", TMsgDlgType::mtWarning);

  std::string out;
  TJson j = SucceededDocument();
  j["trace"] = file;
  TJson& frames = j["frames"] = TJson::array();
  std::vector<std::string> warnings;
  TTraceDecoder decoder(
      [&](const TDecodedFrame& F) {
        if (O.Json) {
          frames.push_back(JsonFrame(F));
          return;
        }
        out += FrameLine(F);
        if (out.size() > (1 << 16)) {
          Print(Out, out);
          out.clear();
        }
      },
      [&](const std::string& W) {
        if (O.Json || static_cast<int>(warnings.size()) < ShownWarnings) warnings.push_back(W);
      });
  decoder.Text(data);
  DoneSettings();

  const TDecodeSummary& s = decoder.Summary();
  if (s.TraceLines == 0)
    note("decode: " + file + (data.empty() ? " is empty" : " holds no trace lines"));
  if (O.Json) {
    j["software_version"] = decoder.Version() > 0 ? TJson(decoder.Version()) : TJson(nullptr);
    notes.insert(notes.end(), warnings.begin(), warnings.end());
    j["warnings"] = notes;
    TJson& summary = j["summary"];
    summary["frames"] = s.Frames;
    for (int f = 0; f < tfFlagCount; ++f)
      summary[TraceFlagKey(static_cast<TTraceFlag>(f))] = s.Flags[f];
    summary["lines_not_understood"] = s.Warnings;
    out = JsonText(j);
  } else {
    for (const std::string& w : warnings)
      Ui.Note(w, TMsgDlgType::mtWarning);
    if (s.Warnings > ShownWarnings)
      Ui.Note(std::to_string(s.Warnings - ShownWarnings) + " more lines not understood",
              TMsgDlgType::mtWarning);
    out += SummaryText(s);
  }
  Print(Out, out);
  return ExitOk;
}

}  // namespace zo
