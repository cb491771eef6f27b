// Reading a trace written by TTraceBackend back, line by line.
//
// A line is either one byte ("   103.518 PC>  02  2400 8N1", with " parity error", " framing
// error" or " break" after the line settings when the byte arrived with one) or an event of the
// port ("    12.204 line 2400 8N1 RTS off DTR on", "purge", "open /dev/pts/3", ...).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zo {

struct TTraceRecord {
  double TimeMs = 0;    // since the trace began
  bool IsByte = false;  // a byte; otherwise an event
  bool FromPc = false;  // the byte was sent by the program ("PC>"), not received ("<DEV")
  std::uint8_t Value = 0;
  std::int32_t Baud = 0;  // the line settings of the byte; 0 when the trace did not know them
  char Parity = 'N';      // 'N', 'E', 'O', 'M' or 'S'
  bool ParityError = false, FramingError = false, Break = false;
  std::string_view Event;  // the event's text ("line 2400 8N1 RTS off DTR on")
};

// The latest time stamp a trace line may carry: about 31 years of tracing. Later ones, and
// negative, infinite or not-a-number stamps, are no trace's.
constexpr double MaxTraceStampMs = 1e12;

// Takes one line of a trace apart. False, with `Why` set, for a line that is not a trace line
// (a control character in it, no time stamp or one out of range, an unknown direction, a byte
// that is not two hexadecimal digits, ...). `Record` points into `Line`, which must outlive its
// Event.
bool ParseTraceLine(std::string_view Line, TTraceRecord& Record, std::string& Why);

// The line settings "2400 8N1" back into a baud rate and a parity letter. False when `Text` is
// not of that form.
bool ParseLineSettings(std::string_view Text, std::int32_t& Baud, char& Parity);

}  // namespace zo
