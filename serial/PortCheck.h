// A serial port checked through a loopback (its TX bridged to its RX by a plug or a jumper) for
// what the adapters need of it, with a verdict per use: the DL1, the DL2, the DL2's firmware
// update.
//
// The checks, each with a stable key:
//   bytes_<baud>_<parity>  a pattern (0x00, 0xFF, a parity-marking look-alike, XON, XOFF, ...)
//                          comes back intact and without error flags at each line setting the
//                          adapters use: 1200 mark and space (DL1), 2400, 19200, 115200 without
//                          parity (DL2, its start sequence and bootblock);
//   parity_per_byte        a byte sent with mark parity and read with space parity is flagged,
//                          and the byte after it (sent and read with space) is not: the DL1
//                          recognises the first byte of a frame by exactly this flag;
//   mark_space_parity      mark and space parity are what the port sends (bytes sent with them
//                          and read with odd parity are flagged as the parity bits say);
//   break                  a break sent comes back (the DL2's firmware update resets the adapter
//                          with one);
//   modem_lines            RTS and DTR follow what is set (both adapters use them as control
//                          lines);
//   latency_dl1, _dl2      single bytes back (median and maximum): at 1200 baud within the
//                          DL1's 16 ms echo window, at 2400 baud within the wire time plus the
//                          DL2's 10 ms read time-out.
// The two parity checks switch the port's parity while the byte is on its way, as only one UART
// takes part; a port that applies the switch to the byte already leaving cannot show the flag
// through a loopback, and the check says so ("not shown") instead of failing.
//
// Every wait goes through the installed clock. On a pseudo-terminal, parity, break and modem
// lines do not exist: those checks report "not shown" with the reason.
#pragma once

#include <string>
#include <vector>

#include "serial/SerialBackend.h"

namespace zo {

enum class TCheckOutcome { Pass, Fail, NotShown };

// "pass", "fail", "not shown": also the JSON values.
const char* CheckOutcomeName(TCheckOutcome Outcome);

struct TCheckItem {
  std::string Key;    // stable, see above
  std::string Title;  // "bytes at 1200 baud, mark parity"
  TCheckOutcome Outcome = TCheckOutcome::Fail;
  std::string Detail;    // what was seen, in words
  double MedianMs = -1;  // latency checks: round trip per byte
  double MaxMs = -1;
  double LimitMs = -1;
};

struct TUseVerdict {
  std::string Key;   // "dl1", "dl2", "dl2_firmware_update"
  std::string Name;  // "DL1", "DL2", "DL2 firmware update"
  TCheckOutcome Outcome = TCheckOutcome::Fail;
  std::string Reason;  // the checks that failed or could not be shown, empty on a pass
};

struct TPortCheckResult {
  std::vector<TCheckItem> Items;
  std::vector<TUseVerdict> Uses;
  // Why the check stopped early (the port vanished, nothing came back at all), else empty.
  std::string Aborted;
  bool AllPass() const;
};

struct TPortCheckOptions {
  bool PseudoTerminal = false;  // explains the checks a pseudo-terminal cannot show
  int LatencyRounds = 16;       // single-byte round trips per latency check
};

// Runs every check on `Port` (open; its line settings, time-outs and modem lines are changed)
// and judges the uses. A port that vanishes stops the check with Aborted set; the checks not
// run count against the uses that need them.
TPortCheckResult CheckPortLoopback(SerialBackend& Port, const TPortCheckOptions& Options);

}  // namespace zo
