#include "adapter/Textlogger.h"

#include <ctime>
#include <memory>
#include <vector>

#include "platform/LocalTime.h"
#include "threads/Sema.h"

namespace zo {

namespace {

const char kSeparator[] = "_______  ";
constexpr std::size_t kSeparatorLength = 9;

TLock& LogLock() {
  static TLock lock;
  return lock;
}
std::unique_ptr<std::vector<std::string>> log_lines;
int line_limit = 0;
// The newest entry's message, its last line as logged, and how often the same message came again
// since: a repeat is counted on that line rather than logged anew.
std::string last_message;
std::string last_line;
int repeats = 0;
const char kRepeated[] = " (repeated ";

// Splits at CR, LF and CR LF, as setting a string list's text does: a text ending in a line
// break gives no empty last line.
std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string current;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(current);
      current.clear();
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      current += c;
    }
    ++i;
  }
  if (!current.empty()) lines.push_back(current);
  return lines;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines)
    text += line + "\r\n";
  return text;
}

std::string DateTimeText() {
  const TLocalTime local = LocalTimeOf(std::time(nullptr));
  char buffer[64];
  std::strftime(buffer, sizeof buffer, "%x %X", &local.Fields);
  return buffer;
}

bool IsSeparator(const std::string& line) {
  return line.compare(0, kSeparatorLength, kSeparator) == 0;
}

void Trim(std::vector<std::string>& lines) {
  std::size_t first = 0;
  while (lines.size() - first > static_cast<std::size_t>(line_limit)) {
    ++first;
    while (first < lines.size() && !IsSeparator(lines[first]))
      ++first;
  }
  lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(first));
}

}  // namespace

bool SetLogSize(int Lines) {
  if (!LogLock().Acquire(false)) return false;
  if (Lines != 0) {
    line_limit = Lines;
    if (!log_lines) log_lines = std::make_unique<std::vector<std::string>>();
  } else {
    log_lines.reset();
    line_limit = 0;
    last_message.clear();
    repeats = 0;
  }
  LogLock().Release();
  return true;
}

void LogText(const std::string& Msg) {
  if (!LogLock().Acquire(false)) return;
  if (log_lines) {
    // The same message again (a detection repeated every cycle): its entry counts it, so that
    // the log keeps what came before.
    if (Msg == last_message && !last_line.empty() && !log_lines->empty()) {
      ++repeats;
      log_lines->back() =
          last_line + kRepeated +
          (repeats == 1 ? std::string("once)") : std::to_string(repeats) + " times)");
    } else {
      const std::string text =
          JoinLines(*log_lines) + "\r" + kSeparator + DateTimeText() + "\r" + Msg;
      *log_lines = SplitLines(text);
      Trim(*log_lines);
      const std::vector<std::string> lines = SplitLines(Msg);
      last_message = Msg;
      last_line = lines.empty() || log_lines->empty() ? std::string() : lines.back();
      repeats = 0;
    }
  }
  LogLock().Release();
}

std::string WithoutRepeatCount(const std::string& Line) {
  const std::size_t at = Line.rfind(kRepeated);
  if (at == std::string::npos || Line.back() != ')') return Line;
  const std::string count = Line.substr(at + sizeof kRepeated - 1);
  if (count == "once)" || (count.size() > 7 && count.compare(count.size() - 7, 7, " times)") == 0 &&
                           count.find_first_not_of("0123456789") == count.size() - 7))
    return Line.substr(0, at);
  return Line;
}

void GetLogText(std::string& Text) {
  Text.clear();
  if (!LogLock().Acquire(false)) return;
  if (log_lines) Text = JoinLines(*log_lines);
  LogLock().Release();
}

}  // namespace zo
