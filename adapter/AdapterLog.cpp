#include "adapter/AdapterLog.h"

#include "adapter/DlxTools.h"
#include "adapter/TextTool.h"
#include "adapter/Textlogger.h"

namespace zo {

namespace {

std::string TrimLeft(const std::string& Text) {
  const std::size_t first = Text.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : Text.substr(first);
}

bool StartsWith(const std::string& Text, const std::string& Prefix) {
  return Text.compare(0, Prefix.size(), Prefix) == 0;
}

}  // namespace

std::vector<std::string> LogLines(const std::string& Log) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : Log) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else if (c != '\r') {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

TAdapterInfo AdapterFromLog(const std::string& Log) {
  TAdapterInfo info;
  for (const std::string& raw : LogLines(Log)) {
    const std::string line = TrimLeft(WithoutRepeatCount(raw));
    if (line == "DL1 detected" || line == "Badly programmed DL2 detected" ||
        line == "DL2 detected") {
      info = TAdapterInfo{};
      info.Kind = line == "DL1 detected"   ? "DL1"
                  : line == "DL2 detected" ? "DL2"
                                           : "badly programmed DL2";
    } else if (info.Kind == "DL2" && StartsWith(line, "Version: ")) {
      std::int32_t version = -1;
      if (TryStrToInt(line.substr(9), version)) info.Firmware = version;
    } else if (info.Kind == "DL2" && StartsWith(line, "mode: ")) {
      info.Mode = line.substr(6);
    } else if (info.Kind == "DL2" && line == "New bootblock") {
      info.Bootblock = "new";
    } else if (info.Kind == "DL2" && line == "Old bootblock") {
      info.Bootblock = "old";
    } else if (StartsWith(line, "Reprogram procedure for ")) {
      info.ReprogramStarted = true;
      const std::string stopped = ReprogramStoppedText;
      info.ReprogramStopped =
          line.size() > stopped.size() &&
          line.compare(line.size() - stopped.size(), stopped.size(), stopped) == 0;
    }
  }
  return info;
}

std::string LastLogLine(const std::string& Prefix) {
  std::string log;
  GetLogText(log);
  std::string found;
  for (const std::string& raw : LogLines(log)) {
    const std::string line = TrimLeft(WithoutRepeatCount(raw));
    if (StartsWith(line, Prefix)) found = line;
  }
  return found;
}

}  // namespace zo
