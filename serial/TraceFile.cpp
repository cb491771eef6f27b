#include "serial/TraceFile.h"

#include <algorithm>
#include <charconv>

namespace zo {

namespace {

std::string_view NextWord(std::string_view& Rest) {
  const std::size_t start = Rest.find_first_not_of(' ');
  if (start == std::string_view::npos) {
    Rest = {};
    return {};
  }
  Rest.remove_prefix(start);
  const std::size_t end = Rest.find(' ');
  const std::string_view word = Rest.substr(0, end);
  Rest.remove_prefix(end == std::string_view::npos ? Rest.size() : end);
  return word;
}

int HexDigit(char C) {
  if (C >= '0' && C <= '9') return C - '0';
  if (C >= 'A' && C <= 'F') return C - 'A' + 10;
  if (C >= 'a' && C <= 'f') return C - 'a' + 10;
  return -1;
}

}  // namespace

bool ParseLineSettings(std::string_view Text, std::int32_t& Baud, char& Parity) {
  const std::size_t space = Text.find(' ');
  if (space == std::string_view::npos) return false;
  const std::string_view baud = Text.substr(0, space), frame = Text.substr(space + 1);
  std::int32_t value = 0;
  const auto [end, ec] = std::from_chars(baud.data(), baud.data() + baud.size(), value);
  if (ec != std::errc() || end != baud.data() + baud.size() || value <= 0) return false;
  if (frame.size() != 3 || frame[0] != '8' || frame[2] != '1') return false;
  const char p = frame[1];
  if (p != 'N' && p != 'E' && p != 'O' && p != 'M' && p != 'S') return false;
  Baud = value;
  Parity = p;
  return true;
}

bool ParseTraceLine(std::string_view Line, TTraceRecord& Record, std::string& Why) {
  Record = TTraceRecord{};
  if (!Line.empty() && Line.back() == '\r') Line.remove_suffix(1);
  // A trace is text: a control character (a NUL, an escape sequence) marks a line of something
  // else, and would reach the terminal if an event's text were shown as it is.
  const auto control = [](char C) {
    const auto c = static_cast<unsigned char>(C);
    return (c < 0x20 && c != '\t') || c == 0x7F;
  };
  if (std::any_of(Line.begin(), Line.end(), control)) {
    Why = "a control character in the line";
    return false;
  }
  std::string_view rest = Line;
  const std::string_view stamp = NextWord(rest);
  double ms = 0;
  const auto [end, ec] = std::from_chars(stamp.data(), stamp.data() + stamp.size(), ms);
  if (stamp.empty() || ec != std::errc() || end != stamp.data() + stamp.size()) {
    Why = "no time stamp";
    return false;
  }
  if (!(ms >= 0 && ms <= MaxTraceStampMs)) {
    Why = "a time stamp out of range";
    return false;
  }
  Record.TimeMs = ms;
  std::string_view after = rest;
  const std::string_view direction = NextWord(rest);
  if (direction != "PC>" && direction != "<DEV") {
    const std::size_t start = after.find_first_not_of(' ');
    if (start == std::string_view::npos) {
      Why = "a time stamp without an event";
      return false;
    }
    Record.Event = after.substr(start);
    return true;
  }
  Record.IsByte = true;
  Record.FromPc = direction == "PC>";
  const std::string_view hex = NextWord(rest);
  if (hex.size() != 2 || HexDigit(hex[0]) < 0 || HexDigit(hex[1]) < 0) {
    Why = "a byte that is not two hexadecimal digits";
    return false;
  }
  Record.Value = static_cast<std::uint8_t>(HexDigit(hex[0]) * 16 + HexDigit(hex[1]));
  // The line settings ("2400 8N1", or "?"), then the errors the byte arrived with.
  const std::string_view baud = NextWord(rest);
  if (baud.empty()) {
    Why = "a byte without line settings";
    return false;
  }
  if (baud != "?") {
    const std::string_view frame = NextWord(rest);
    const std::string_view settings =
        frame.empty()
            ? baud
            : std::string_view(baud.data(),
                               static_cast<std::size_t>(frame.data() + frame.size() - baud.data()));
    if (!ParseLineSettings(settings, Record.Baud, Record.Parity)) {
      Why = "unknown line settings";
      return false;
    }
  }
  Record.ParityError = rest.find("parity error") != std::string_view::npos;
  Record.FramingError = rest.find("framing error") != std::string_view::npos;
  Record.Break = rest.find("break") != std::string_view::npos;
  return true;
}

}  // namespace zo
