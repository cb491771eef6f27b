// What the text log says about the adapter: detection writes what it found there (the kind, and
// for a DL2 its firmware version, mode and bootblock), and a reprogram run its start. The window's
// status line and the command line read it back from here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zo {

// What detection found, as it wrote it to the text log.
struct TAdapterInfo {
  std::string Kind;               // "DL1", "DL2", "badly programmed DL2", or empty
  std::string Mode;               // DL2 mode name ("ZOBus", "ZO 9 bit", ...)
  std::int32_t Firmware = -1;     // DL2 firmware version
  std::string Bootblock;          // "new" or "old" (DL2)
  bool ReprogramStarted = false;  // a reprogram ran after the last detection
  bool ReprogramStopped = false;  // it was stopped before any line was programmed
};

// The lines of the log text `Log` (CR LF or LF ended), without their ends.
std::vector<std::string> LogLines(const std::string& Log);

// Reads the last detection entry (and a reprogram after it) from the text log `Log`.
TAdapterInfo AdapterFromLog(const std::string& Log);

// The last line of the text log that starts with `Prefix` (without the prefix's leading
// blanks mattering), or empty.
std::string LastLogLine(const std::string& Prefix);

}  // namespace zo
