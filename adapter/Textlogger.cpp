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
  }
  LogLock().Release();
  return true;
}

void LogText(const std::string& Msg) {
  if (!LogLock().Acquire(false)) return;
  if (log_lines) {
    const std::string text =
        JoinLines(*log_lines) + "\r" + kSeparator + DateTimeText() + "\r" + Msg;
    *log_lines = SplitLines(text);
    Trim(*log_lines);
  }
  LogLock().Release();
}

void GetLogText(std::string& Text) {
  Text.clear();
  if (!LogLock().Acquire(false)) return;
  if (log_lines) Text = JoinLines(*log_lines);
  LogLock().Release();
}

}  // namespace zo
