#include "serial/PortCheck.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "threads/Clock.h"

namespace zo {

namespace {

// How long after a byte is written the port's parity is switched for reading it: long enough
// for the byte to reach a USB adapter's UART (a USB frame is 1 ms), short of its parity bit,
// which leaves about 7.5 ms after the start bit at 1200 baud.
constexpr long long kSwitchDelayMs = 3;
// The DL1's echo window (its read time-out) and the DL2's read time-out.
constexpr double kDl1EchoWindowMs = 16.0;
constexpr double kDl2ReadTimeoutMs = 10.0;
// Longest wait for one byte to come back: far beyond any adapter's latency.
constexpr std::uint32_t kByteWaitMs = 250;

struct TSetting {
  std::int32_t Baud;
  char Parity;
};

constexpr TSetting kByteSettings[] = {
    {1200, 'M'}, {1200, 'S'}, {2400, 'N'}, {19200, 'N'}, {115200, 'N'}};

const char* ParityWord(char Parity) {
  switch (Parity) {
    case 'M':
      return "mark";
    case 'S':
      return "space";
    case 'O':
      return "odd";
    case 'E':
      return "even";
    default:
      return "none";
  }
}

double WireMs(const TSetting& S) {
  return (S.Parity == 'N' ? 10.0 : 11.0) * 1000.0 / S.Baud;
}

// Bytes that trip up a port layer: 0x00 and 0xFF, 0xFF 0x00 as the kernel marks an errored
// byte, XON and XOFF, alternating bits; then a spread of other values.
std::vector<std::uint8_t> Pattern() {
  std::vector<std::uint8_t> p = {0x00, 0xFF, 0xFF, 0x00, 0x41, 0x11, 0x13, 0x55,
                                 0xAA, 0x7F, 0x80, 0x01, 0xFE, 0x0D, 0x0A, 0x1B};
  for (int i = 0; i < 32; ++i)
    p.push_back(static_cast<std::uint8_t>(i * 37 + 5));
  return p;
}

std::string Ms(double Value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f ms", Value);
  return text;
}

struct TByteBack {
  bool Got = false;
  std::uint8_t Value = 0;
  std::uint32_t Errors = 0;
};

class TChecker {
 public:
  TChecker(SerialBackend& Port, const TPortCheckOptions& Options, TPortCheckResult& Result)
      : port_(Port), options_(Options), result_(Result) {}

  bool Stopped() const { return !result_.Aborted.empty(); }

  void Bytes(const TSetting& S, bool First) {
    TCheckItem item =
        Item(std::string("bytes_") + std::to_string(S.Baud) + "_" + ParityWord(S.Parity),
             "bytes at " + std::to_string(S.Baud) + " baud, " +
                 (S.Parity == 'N' ? "no parity" : ParityWord(S.Parity) + std::string(" parity")));
    if (!Line(S)) return Failed(item, "the port refused this line setting");
    Clear();
    const std::vector<std::uint8_t> sent = Pattern();
    if (!Send(sent)) return Failed(item, "the port took fewer bytes than written");
    int back = 0, wrong = 0, flagged = 0;
    for (std::uint8_t b : sent) {
      const TByteBack r = ReadOne();
      if (!r.Got) break;
      ++back;
      if (r.Value != b) ++wrong;
      if (r.Errors != 0) ++flagged;
    }
    const int n = static_cast<int>(sent.size());
    if (back == 0) {
      item.Detail = "nothing came back";
      if (!StillThere()) return;
      if (First) {
        result_.Aborted =
            options_.PseudoTerminal
                ? "nothing came back: on a pseudo-terminal the program on its other side must "
                  "send every byte back"
                : "nothing came back at " + std::to_string(S.Baud) +
                      " baud: bridge TX and RX (a loopback plug or a jumper) and run again";
      }
    } else if (back < n || wrong > 0 || flagged > 0) {
      item.Detail = std::to_string(back) + " of " + std::to_string(n) + " bytes came back, " +
                    std::to_string(wrong) + " changed, " + std::to_string(flagged) +
                    " with an error flag";
    } else {
      item.Outcome = TCheckOutcome::Pass;
      item.Detail = std::to_string(n) + " bytes back intact";
    }
    Add(item);
  }

  void ParityPerByte() {
    TCheckItem item = Item("parity_per_byte", "a mark byte read with space parity flagged alone");
    if (options_.PseudoTerminal) return NotShown(item, "a pseudo-terminal carries no parity bit");
    const TByteBack before = Crossed(0x5A, 'S', 'S');
    if (Stopped()) return;
    // The marked byte and the one right behind it, as a device's frame arrives.
    const TByteBack marked = Crossed(0x07, 'M', 'S', 0x3C);
    const TByteBack after = ReadOne();
    if (Stopped()) return;
    const bool flag_marked = marked.Got && (marked.Errors & ceRxParity) != 0;
    if (!before.Got || !marked.Got || !after.Got) {
      item.Detail = "a byte did not come back";
    } else if (before.Errors != 0 || after.Errors != 0) {
      item.Detail = std::string("a byte sent and read with space parity was flagged") +
                    (after.Errors != 0 && flag_marked
                         ? " right after the marked one: the port flags errors for several bytes "
                           "at once (per USB packet; low-latency mode may mend it)"
                         : "");
    } else if (!flag_marked) {
      return NotShown(item,
                      "no flag came: this port applied the parity switch to the byte "
                      "already on its way, so a loopback cannot show the flag");
    } else {
      item.Outcome = TCheckOutcome::Pass;
      item.Detail = "flagged on the marked byte, not on its neighbours";
    }
    Add(item);
  }

  void MarkSpaceParity() {
    TCheckItem item = Item("mark_space_parity", "mark and space parity honoured");
    if (options_.PseudoTerminal) return NotShown(item, "a pseudo-terminal carries no parity bit");
    // Read with odd parity, 0x01 and 0x03 tell a mark bit from a space bit.
    struct TCase {
      std::uint8_t Value;
      char Sent;
    };
    constexpr TCase cases[] = {{0x01, 'M'}, {0x03, 'M'}, {0x01, 'S'}, {0x03, 'S'}};
    int as_expected = 0, flags = 0;
    for (const TCase& c : cases) {
      const TByteBack r = Crossed(c.Value, c.Sent, 'O');
      if (Stopped()) return;
      const bool flagged = r.Got && (r.Errors & ceRxParity) != 0;
      const bool expected = ParityBitOf(c.Sent, c.Value) != ParityBitOf('O', c.Value);
      flags += flagged ? 1 : 0;
      as_expected += r.Got && r.Value == c.Value && flagged == expected ? 1 : 0;
    }
    if (as_expected == 4) {
      item.Outcome = TCheckOutcome::Pass;
      item.Detail = "the parity bits are those of mark and space parity";
    } else if (flags == 0) {
      return NotShown(item,
                      "no flag came: this port applied the parity switch to the byte "
                      "already on its way, so a loopback cannot show the parity bits");
    } else {
      item.Detail =
          "the parity bits sent are not those of mark and space parity (the driver may "
          "not offer them)";
    }
    Add(item);
  }

  void Break() {
    TCheckItem item = Item("break", "break sent and seen");
    if (options_.PseudoTerminal) return NotShown(item, "a pseudo-terminal carries no break");
    if (!Line({2400, 'N'})) return Failed(item, "the port refused 2400 baud");
    const long before = port_.BreaksReceived();
    if (before < 0) return NotShown(item, "the device does not count the breaks it receives");
    if (!port_.SetBreak(true)) return Failed(item, "the break could not be set");
    SleepFor(100);
    const bool released = port_.SetBreak(false);
    SleepFor(50);
    const long after = port_.BreaksReceived();
    port_.Purge();
    if (!released) return Failed(item, "the break could not be released");
    if (after > before) {
      item.Outcome = TCheckOutcome::Pass;
      item.Detail = "the break came back";
    } else {
      item.Detail = "the break did not come back";
    }
    Add(item);
  }

  void ModemLines() {
    TCheckItem item = Item("modem_lines", "RTS and DTR settable");
    bool rts = false, dtr = false;
    if (!port_.GetModemLines(rts, dtr)) {
      return NotShown(item, options_.PseudoTerminal ? "a pseudo-terminal has no modem lines"
                                                    : "the device does not report its modem lines");
    }
    constexpr bool states[][2] = {{true, false}, {false, true}, {true, true}, {false, false}};
    for (const auto& s : states) {
      if (!port_.SetRts(s[0]) || !port_.SetDtr(s[1]))
        return Failed(item, "setting RTS or DTR failed");
      if (!port_.GetModemLines(rts, dtr) || rts != s[0] || dtr != s[1]) {
        item.Detail = std::string("RTS ") + (s[0] ? "on" : "off") + " and DTR " +
                      (s[1] ? "on" : "off") + " were set, the device holds RTS " +
                      (rts ? "on" : "off") + " and DTR " + (dtr ? "on" : "off");
        return Add(item);
      }
    }
    item.Outcome = TCheckOutcome::Pass;
    item.Detail = "both follow on and off";
    Add(item);
  }

  void Latency(const std::string& Key, const TSetting& S, double LimitMs,
               const std::string& Title) {
    TCheckItem item = Item(Key, Title);
    if (!Line(S)) return Failed(item, "the port refused this line setting");
    Clear();
    std::vector<double> trips;
    for (int i = 0; i < options_.LatencyRounds; ++i) {
      const std::uint8_t b = static_cast<std::uint8_t>(0x30 + i);
      const TimePoint start = Now();
      if (!Send({b})) break;
      const TByteBack r = ReadOne();
      if (!r.Got || r.Value != b) break;
      trips.push_back(MillisecondsBetween(start, Now()));
    }
    item.LimitMs = LimitMs;
    if (static_cast<int>(trips.size()) < options_.LatencyRounds) {
      if (!StillThere()) return;
      item.Detail = std::to_string(trips.size()) + " of " + std::to_string(options_.LatencyRounds) +
                    " bytes came back";
      return Add(item);
    }
    std::sort(trips.begin(), trips.end());
    item.MedianMs = trips[trips.size() / 2];
    item.MaxMs = trips.back();
    item.Outcome = item.MaxMs <= LimitMs ? TCheckOutcome::Pass : TCheckOutcome::Fail;
    item.Detail = "median " + Ms(item.MedianMs) + ", maximum " + Ms(item.MaxMs) + " (limit " +
                  Ms(LimitMs) + ")";
    if (options_.PseudoTerminal) item.Detail += "; a pseudo-terminal has no wire time";
    Add(item);
  }

 private:
  TCheckItem Item(const std::string& Key, const std::string& Title) {
    TCheckItem item;
    item.Key = Key;
    item.Title = Title;
    return item;
  }
  void Add(const TCheckItem& Item) { result_.Items.push_back(Item); }
  void NotShown(TCheckItem& Item, const std::string& Why) {
    Item.Outcome = TCheckOutcome::NotShown;
    Item.Detail = Why;
    Add(Item);
  }
  void Failed(TCheckItem& Item, const std::string& Why) {
    if (!StillThere()) return;
    Item.Outcome = TCheckOutcome::Fail;
    Item.Detail = Why;
    Add(Item);
  }

  // False, with the check stopped, once the port has gone.
  bool StillThere() {
    TLineSettings line;
    if (port_.GetLine(line)) return true;
    result_.Aborted = "the port vanished during the check (adapter unplugged?)";
    return false;
  }

  // Drops what an earlier check left on the line, and its error flags.
  void Clear() {
    port_.Purge();
    port_.TakeErrors();
  }

  // False when the port refuses the setting (or has gone: Stopped then tells).
  bool Line(const TSetting& S) { return port_.SetLine({S.Baud, S.Parity, false, true}); }

  bool Send(const std::vector<std::uint8_t>& Bytes) {
    const int n = static_cast<int>(Bytes.size());
    return port_.Write(Bytes.data(), n) == n;
  }

  TByteBack ReadOne() {
    TTimeouts t;
    t.ReadConstant = kByteWaitMs;
    port_.SetTimeouts(t);
    TByteBack r;
    r.Got = port_.Read(&r.Value, 1) == 1;
    r.Errors = port_.TakeErrors();
    return r;
  }

  // `Value` sent with parity `Sent` (and `Then` right behind it with `Read`, when given), the
  // port switched to `Read` while it is on its way; the first byte read back.
  TByteBack Crossed(std::uint8_t Value, char Sent, char Read, int Then = -1) {
    Clear();
    TByteBack r;
    if (Line({1200, Sent}) && Send({Value})) {
      if (Sent != Read) SleepFor(kSwitchDelayMs);
      if (Line({1200, Read}) && (Then < 0 || Send({static_cast<std::uint8_t>(Then)})))
        r = ReadOne();
    }
    if (!r.Got) StillThere();
    return r;
  }

  SerialBackend& port_;
  const TPortCheckOptions& options_;
  TPortCheckResult& result_;
};

void Judge(TPortCheckResult& Result, const char* Key, const char* Name,
           std::initializer_list<const char*> Needs) {
  TUseVerdict v;
  v.Key = Key;
  v.Name = Name;
  v.Outcome = TCheckOutcome::Pass;
  int missing = 0;
  for (const char* need : Needs) {
    const auto it = std::find_if(Result.Items.begin(), Result.Items.end(),
                                 [&](const TCheckItem& i) { return i.Key == need; });
    if (it == Result.Items.end()) {
      ++missing;
      v.Outcome = TCheckOutcome::Fail;
      continue;
    }
    if (it->Outcome == TCheckOutcome::Pass) continue;
    if (it->Outcome == TCheckOutcome::Fail) v.Outcome = TCheckOutcome::Fail;
    if (v.Outcome == TCheckOutcome::Pass) v.Outcome = TCheckOutcome::NotShown;
    v.Reason += (v.Reason.empty() ? "" : "; ") + it->Title + ": " + CheckOutcomeName(it->Outcome);
  }
  if (missing > 0) {
    v.Reason += (v.Reason.empty() ? "" : "; ") + std::to_string(missing) +
                (missing == 1 ? " check" : " checks") + " not run";
  }
  Result.Uses.push_back(v);
}

}  // namespace

const char* CheckOutcomeName(TCheckOutcome Outcome) {
  switch (Outcome) {
    case TCheckOutcome::Pass:
      return "pass";
    case TCheckOutcome::Fail:
      return "fail";
    case TCheckOutcome::NotShown:
      break;
  }
  return "not shown";
}

bool TPortCheckResult::AllPass() const {
  return Aborted.empty() && !Uses.empty() &&
         std::all_of(Uses.begin(), Uses.end(),
                     [](const TUseVerdict& u) { return u.Outcome == TCheckOutcome::Pass; });
}

TPortCheckResult CheckPortLoopback(SerialBackend& Port, const TPortCheckOptions& Options) {
  TPortCheckResult result;
  TChecker check(Port, Options, result);
  bool first = true;
  for (const TSetting& s : kByteSettings) {
    if (check.Stopped()) break;
    check.Bytes(s, first);
    first = false;
  }
  if (!check.Stopped()) check.ParityPerByte();
  if (!check.Stopped()) check.MarkSpaceParity();
  if (!check.Stopped()) check.Break();
  if (!check.Stopped()) check.ModemLines();
  if (!check.Stopped())
    check.Latency("latency_dl1", {1200, 'M'}, kDl1EchoWindowMs,
                  "round trip at 1200 baud within the DL1's echo window");
  if (!check.Stopped()) {
    const TSetting dl2{2400, 'N'};
    check.Latency("latency_dl2", dl2, WireMs(dl2) + kDl2ReadTimeoutMs,
                  "round trip at 2400 baud within the DL2's read time-out");
  }
  Port.SetBreak(false);

  Judge(result, "dl1", "DL1",
        {"bytes_1200_mark", "bytes_1200_space", "parity_per_byte", "mark_space_parity",
         "modem_lines", "latency_dl1"});
  Judge(result, "dl2", "DL2",
        {"bytes_2400_none", "bytes_19200_none", "bytes_115200_none", "modem_lines", "latency_dl2"});
  Judge(result, "dl2_firmware_update", "DL2 firmware update",
        {"bytes_2400_none", "bytes_19200_none", "bytes_115200_none", "break", "modem_lines"});
  return result;
}

}  // namespace zo
