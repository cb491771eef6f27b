#include "cli/TraceDecoder.h"

#include <algorithm>
#include <cstdio>

#include "drivers/Bustools.h"
#include "drivers/DL1Drv.h"
#include "settings/SettingTexts.h"
#include "settings/Settings.h"

namespace zo {

namespace {

// The DL2 driver's timing (see DL2DRV.h): one idle tick is one read time-out.
constexpr double TickMs = DL2ReadTimeoutMs;
// Stamps are in whole milliseconds of the reads and writes; a tick may end a little early.
constexpr double SlackMs = 5;
// How many of the PC's DL2 frames may wait for their echo behind the last one.
constexpr std::size_t EarlierPcFrames = 4;
// The longest DL2 frame on the wire: 19 bytes of 10 bits at 2400 baud.
constexpr double FrameMs = DL2MaxFrame * 10 * 1000.0 / DL2Baud;
// How many requests before the last one a late DL2 reply may still answer.
constexpr std::size_t EarlierRequests = 16;

const char* const FlagNames[tfFlagCount] = {
    "checksum failure",   "unmatched reply", "repeated request",
    "hold-off too short", "late reply",      "bytes outside any frame",
};
const char* const FlagKeys[tfFlagCount] = {
    "checksum_failures", "unmatched_replies", "repeated_requests",
    "short_holdoffs",    "late_replies",      "stray_bytes",
};

std::string Hex2(unsigned V) {
  char t[8];
  std::snprintf(t, sizeof t, "$%02X", V & 0xFF);
  return t;
}

std::string Hex4(unsigned V) {
  char t[8];
  std::snprintf(t, sizeof t, "$%04X", V & 0xFFFF);
  return t;
}

// Whole milliseconds of a time difference, for a flag's text.
std::string MsText(double Ms) {
  char t[32];
  std::snprintf(t, sizeof t, "%.0f ms", Ms);
  return t;
}

std::string Letter(std::uint8_t L) {
  return L >= 0x20 && L < 0x7F ? std::string("'") + static_cast<char>(L) + "'" : Hex2(L);
}

std::string LineSettingsText(std::int32_t Baud, char Parity) {
  return Baud == 0 ? "?" : std::to_string(Baud) + " 8" + std::string(1, Parity) + "1";
}

bool PlainSumZero(const std::vector<std::uint8_t>& B, std::size_t From) {
  unsigned sum = 0;
  for (std::size_t i = From; i < B.size(); ++i)
    sum += B[i];
  return (sum & 0xFF) == 0;
}

// The name of setting or monitor value `Number`, and its value with the unit.
std::string NamedValue(int Number, std::int32_t Raw) {
  const TSettingText* t = FindSettingText(Number);
  if (t != nullptr) return std::string(t->Name) + " = " + QuantityText(Number, Raw);
  const TSettingText* m = FindMonitorText(Number);
  const std::string value = SettingTable[Number].TextOfRaw(Raw);
  if (m == nullptr) return "setting " + std::to_string(Number) + " = " + value;
  return std::string(m->Name) + " = " + value + (*m->Unit ? std::string(" ") + m->Unit : "");
}

std::string NameOf(int Number) {
  const TSettingText* t = FindSettingText(Number);
  if (t == nullptr) t = FindMonitorText(Number);
  return t != nullptr ? t->Name : "setting " + std::to_string(Number);
}

}  // namespace

const char* TraceFlagKey(TTraceFlag Flag) {
  return FlagKeys[Flag];
}

TTraceDecoder::TTraceDecoder(TSink Sink, std::function<void(const std::string&)> Warn)
    : sink_(std::move(Sink)), warn_(std::move(Warn)) {}

void TTraceDecoder::Line(std::string_view Text) {
  ++line_number_;
  TTraceRecord r;
  std::string why;
  if (Text.empty() || Text == "\r") return;
  if (!ParseTraceLine(Text, r, why)) {
    ++summary_.Warnings;
    warn_("line " + std::to_string(line_number_) + ": " + why);
    return;
  }
  ++summary_.TraceLines;
  if (r.IsByte)
    Byte(r);
  else
    Event(r);
}

void TTraceDecoder::Text(std::string_view Trace) {
  std::size_t at = 0;
  while (at < Trace.size()) {
    std::size_t end = Trace.find('\n', at);
    if (end == std::string_view::npos) end = Trace.size();
    Line(Trace.substr(at, end - at));
    at = end + 1;
  }
  Finish();
}

void TTraceDecoder::Finish() {
  FlushPc();
  FlushRx();
  if (!rx_.Bytes.empty()) Stray(rx_.Bytes, "incomplete frame at the end of the trace");
  rx_.Bytes.clear();
}

void TTraceDecoder::Event(const TTraceRecord& R) {
  std::int32_t baud = 0;
  char parity = 'N';
  const bool line = R.Event.substr(0, 5) == "line ";
  if (line) {
    const std::string_view settings = R.Event.substr(5);
    const std::size_t space = settings.find(' ');
    const std::size_t end = space == std::string_view::npos ? space : settings.find(' ', space + 1);
    ParseLineSettings(settings.substr(0, end), baud, parity);
    // The DL1 driver changes the parity within each frame it sends: not worth a line.
    if (baud != 0 && baud == pc_baud_) return;
  }
  FlushPc();
  FlushRx();
  // What the program had not read yet went with the port or the purge: nothing says the frame
  // was incomplete on the line.
  if (R.Event == "close" && R.TimeMs - rx_.TimeMs < FrameMs)
    CutOff("frame cut off by closing the port");
  if (line || R.Event == "purge") CutOff("frame cut off by a purge or a change of the line");
  if (line || R.Event == "purge") {
    last_purge_ms_ = R.TimeMs;
    out_of_step_ = true;
  }
  if (line) {
    // Hold-offs are counted anew on the new line.
    last_rx_ms_ = last_tx_ms_ = -1;
    if (baud != 0) pc_baud_ = baud;
  }
  TDecodedFrame d;
  d.LineNumber = line_number_;
  d.TimeMs = R.TimeMs;
  d.Meaning = std::string(R.Event);
  sink_(d);
}

void TTraceDecoder::CutOff(const char* Meaning) {
  if (rx_.Bytes.empty()) return;
  TDecodedFrame d = rx_;
  d.Direction = "<DEV";
  d.Meaning = Meaning;
  Emit(d);
  rx_.Bytes.clear();
  dl2_.Error();
}

void TTraceDecoder::FlushRx() {
  if (rx_.Bytes.empty() || rx_baud_ == DL2Baud || rx_baud_ == DL1Baud) return;
  Stray(rx_.Bytes, "");
  rx_.Bytes.clear();
}

void TTraceDecoder::Byte(const TTraceRecord& R) {
  if (R.FromPc || R.Baud != rx_baud_) FlushRx();
  if (!R.FromPc && R.Baud != rx_baud_ && !rx_.Bytes.empty()) {
    // Received bytes at another speed end a frame of the old one.
    Stray(rx_.Bytes, "incomplete frame");
    rx_.Bytes.clear();
    dl2_.Error();
  }
  if (!R.FromPc) rx_baud_ = R.Baud;
  if (R.FromPc) {
    const bool dl1 = R.Baud == DL1Baud;
    const bool same = !pc_.Bytes.empty() && R.Baud == pc_baud_ &&
                      (dl1 ? R.Parity != 'M' && pc_.Bytes.size() < 4 : R.TimeMs == pc_.TimeMs);
    if (!same) FlushPc();
    if (pc_.Bytes.empty()) {
      pc_.LineNumber = line_number_;
      pc_.TimeMs = R.TimeMs;
      pc_.Direction = "PC>";
      pc_.Line = LineSettingsText(R.Baud, R.Parity);
      pc_baud_ = R.Baud;
      pc_parity_ = R.Parity;
    }
    pc_.Bytes.push_back(R.Value);
    if (dl1 && pc_.Bytes.size() == 4) FlushPc();
    return;
  }
  // Whatever the DL1's PC frame still lacks, its echo bytes come in between.
  if (R.Baud != DL1Baud) FlushPc();
  if (R.Baud == DL2Baud)
    ReceiveDL2(R);
  else if (R.Baud == DL1Baud)
    ReceiveDL1(R);
  else
    ReceiveOther(R);
}

void TTraceDecoder::FlushPc() {
  if (pc_.Bytes.empty()) return;
  EmitPc();
  pc_ = TDecodedFrame{};
}

void TTraceDecoder::EmitPc() {
  TDecodedFrame& d = pc_;
  const std::vector<std::uint8_t>& b = d.Bytes;
  const bool probe = pc_baud_ == DL2Baud && b.size() == 1 && b[0] == 'H';
  if (pc_baud_ == DL2Baud) {
    // Detection sends its echo probe without waiting for a quiet line, so a frame of another
    // station may still be arriving; before any DL2 frame the line was quiet.
    if (!probe) AbandonPartialFrame();
    if (probe) {
      d.Meaning = "echo probe 'H' (a DL1 echoes it)";
    } else if (b.size() >= 2 && b.size() == static_cast<std::size_t>((b[0] & 0x7F) + 2)) {
      d.Meaning = PcDL2(b, d);
    } else {
      d.Meaning = "bytes that are no DL2 frame";
      AddFlag(d, tfStray, "");
    }
    last_tx_ms_ = d.TimeMs;
  } else if (pc_baud_ == DL1Baud) {
    if (b.size() == 4 && pc_parity_ == 'M') {
      if (!PlainSumZero(b, 0)) AddFlag(d, tfChecksum, "");
      d.Meaning = "request: " + Request({b[0], b[1], b[2]}, 0xFF, 0, d);
    } else {
      d.Meaning = "bytes that are no DL1 frame";
      AddFlag(d, tfStray, "");
    }
  } else if (b.size() == 5 && std::all_of(b.begin(), b.end(), [](auto x) { return x == 0x55; })) {
    d.Meaning = "DL2 start sequence: wake-up";
  } else if (b.size() == 1 && b[0] == 'A') {
    d.Meaning = "DL2 start sequence: start the application";
  } else if (b.size() == 1 && b[0] == 'P') {
    d.Meaning = "bootblock: version request";
    bootblock_ = true;
    firmware_line_ = 0;
  } else if (bootblock_ && b.size() > 2 && b[0] == 'W') {
    d.Meaning = "bootblock: firmware image line " + std::to_string(++firmware_line_) + " (" +
                std::to_string(b.size() - 2) + " bytes)";
    if (!PlainSumZero(b, 1)) AddFlag(d, tfChecksum, "");
  } else {
    d.Meaning = std::to_string(b.size()) + " bytes";
  }
  // The driver sends after a silence, or has its own frame's echo to find: it is in step again.
  if (!probe) out_of_step_ = false;
  if (pc_baud_ == DL2Baud && !last_pc_frame_.empty()) {
    earlier_pc_frames_.push_back(last_pc_frame_);
    if (earlier_pc_frames_.size() > EarlierPcFrames)
      earlier_pc_frames_.erase(earlier_pc_frames_.begin());
  }
  last_pc_frame_ = b;
  Emit(d);
}

std::string TTraceDecoder::PcDL2(const std::vector<std::uint8_t>& F, TDecodedFrame& D) {
  const int n = F[0] & 0x7F;
  const std::uint8_t* body = F.data() + 1;
  if (n >= 2 && body[0] == 0xFF) {
    if (!PlainSumZero(F, 0)) AddFlag(D, tfChecksum, "");
    const std::uint8_t letter = body[1];
    if (letter != 'V') CheckHoldoff(D);
    std::string text = "adapter command " + Letter(letter);
    switch (letter) {
      case 'V':
        return text + ": version request";
      case 'L':
        return text + ": LED state request";
      case 'S':
        if (n >= 5)
          return text + ": state " + Hex2(body[2]) + ", level " + Hex2(body[3]) + ", level flag " +
                 Hex2(body[4]);
        return text;
      case 'W':
        if (n >= 5) return text + ": " + Request({body[2], body[3], body[4]}, 0xFF, 0, D);
        return text;
      default:
        return text;
    }
  }
  if (n == 5) {
    if (!DL2AddressedRequestValid(F.data())) AddFlag(D, tfChecksum, "");
    CheckHoldoff(D);
    return "request #" + std::to_string(body[4]) + " to device " + std::to_string(body[0]) + ": " +
           Request({body[1], body[2], body[3]}, body[0], body[4], D);
  }
  return "bus frame";
}

std::string TTraceDecoder::Request(const std::array<std::uint8_t, 3>& F, std::uint8_t Address,
                                   std::uint8_t Sequence, TDecodedFrame& D) {
  // A frame sent again while the same one got no reply is a retry; the state frame (command 3)
  // is sent again and again to keep the connection.
  if (F[0] != 3 && request_.Valid && !request_.Answered && request_.Frame == F &&
      request_.Address == Address)
    AddFlag(D, tfRepeated, "the previous one got no reply");
  if (request_.Valid) {
    earlier_requests_.push_back(request_);
    if (earlier_requests_.size() > EarlierRequests)
      earlier_requests_.erase(earlier_requests_.begin());
  }
  request_ = TRequest{true, D.TimeMs, Address, Sequence, F, false, ++request_count_};

  const unsigned cmd = F[0], lo = F[1], hi = F[2];
  switch (cmd) {
    case 2:
      return "LED state request";
    case 3:
      return "state " + Hex2(lo);
    case 4:
      return "command 4 " + Hex2(lo);
    case 5:
      return "read software version, low word";
    case 6:
      return "read software version, high word";
    case 7: {
      const int n = SettingAt(static_cast<std::uint16_t>(lo | hi << 8));
      return "read " + Hex4(lo | hi << 8) + (n > 0 ? " (" + NameOf(n) + ")" : "");
    }
    default:
      break;
  }
  int page = -1;
  if (cmd == 0x08) page = 0;
  if (cmd == 0x09) page = 1;
  if (cmd >= 0x10 && cmd <= 0x1F) page = static_cast<int>(cmd - 0x10);
  if (cmd == 0x0B) {
    if (lo == 0xFF && hi == 0xFF) return "commit";
    page = 0x21;
  }
  if (cmd == 0x0A || (cmd >= 0x20 && cmd <= 0x2F)) {
    const unsigned p = cmd == 0x0A ? (hi & 1) : cmd - 0x20;
    return "write bit " + std::to_string((hi >> 1) & 7) + " of " + Hex4(p << 8 | lo) +
           " := " + ((hi & 0x10) != 0 ? "1" : "0");
  }
  if (page < 0) return "command " + Hex2(cmd) + " data " + Hex2(lo) + " " + Hex2(hi);

  const auto address = static_cast<std::uint16_t>(page << 8 | lo);
  std::string text = "write " + Hex4(address) + " := " + Hex2(hi);
  const int n = SettingAt(address);
  const int below = SettingAt(static_cast<std::uint16_t>(address - 1));
  if (below > 0 && SettingTable[below].Kind != TVariable::KindByte) {
    pending_high_ = static_cast<int>(hi);
    pending_high_address_ = address;
    return text + " (" + NameOf(below) + ", high byte)";
  }
  if (n <= 0) return text;
  std::int32_t raw = static_cast<std::int32_t>(hi);
  if (SettingTable[n].Kind != TVariable::KindByte) {
    if (pending_high_ < 0 || pending_high_address_ != address + 1)
      return text + " (" + NameOf(n) + ", low byte)";
    raw = static_cast<std::int32_t>(hi | static_cast<unsigned>(pending_high_) << 8);
    if (SettingTable[n].Kind == TVariable::KindSignedWord) raw = static_cast<std::int16_t>(raw);
    pending_high_ = -1;
  }
  return text + " (" + NamedValue(n, raw) + ")";
}

std::string TTraceDecoder::Reply(const std::uint8_t* G, const TRequest& Answered) {
  const unsigned code = G[0], value = G[1] | G[2] << 8;
  std::string text = "reply " + Hex2(code) + " " + Hex4(value);
  if (!Answered.Valid) return text;
  const unsigned cmd = Answered.Frame[0];
  if (cmd == 5 && code == 0x82) {
    version_low_ = static_cast<std::int32_t>(value);
    return text + ": software version, low word";
  }
  if (cmd == 6 && code == 0x83 && version_low_ >= 0) {
    const std::int32_t v = SoftwareVersionFromWords(static_cast<std::uint16_t>(version_low_),
                                                    static_cast<std::uint16_t>(value));
    SelectTraceVersion(v);
    std::string name;
    if (CurrentVersion != nullptr) GetDeviceTypeName(name);
    return text + ": software version " + std::to_string(v) +
           (name.empty() ? "" : " (" + name + ")");
  }
  if (cmd == 7) {
    const int n = SettingAt(static_cast<std::uint16_t>(Answered.Frame[1] | Answered.Frame[2] << 8));
    if (n > 0) {
      TSetting& s = SettingTable[n];
      s.DecodeReply(TBusFrame{G[0], G[1], G[2], 0});
      return text + ": " + NamedValue(n, s.Value);
    }
  }
  return text;
}

void TTraceDecoder::SelectTraceVersion(std::int32_t Version) {
  version_ = Version;
  if (SettingTable.Built() && SelectVersion(Version)) {
    std::string name;
    GetDeviceTypeName(name);
  }
}

int TTraceDecoder::SettingAt(std::uint16_t Address) const {
  if (!SettingTable.Built() || CurrentVersion == nullptr || Address == 0xFFFF) return 0;
  for (int n = 1; n <= TSettingTable::Count; ++n)
    if (SettingTable[n].Address == Address) return n;
  return 0;
}

void TTraceDecoder::AbandonPartialFrame() {
  // The trace holds no read time-outs, only the stamps of the reads that returned bytes, and a
  // busy machine stretches the gaps between them (the driver then reads the waiting bytes back to
  // back). Certain is only that the driver transmits after many idle ticks, so it has dropped the
  // part it held. A frame that fails its check across a silence is split there when it completes
  // (FeedDL2); a part is split at its first silence of three idle ticks, the bytes after it read
  // again as the driver read them, from a length byte.
  if (!dl2_.Partial()) return;
  dl2_.Error();
  const std::vector<std::uint8_t> bytes = rx_.Bytes;
  const std::vector<double> times = rx_times_;
  std::size_t cut = bytes.size();
  if (times.size() == bytes.size())
    for (std::size_t i = 1; i < bytes.size() && cut == bytes.size(); ++i)
      if (times[i] - times[i - 1] >= DL2AbandonFrameTicks * TickMs) cut = i;
  rx_.Bytes.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
  Stray(rx_.Bytes, "incomplete frame");
  rx_.Bytes.clear();
  for (std::size_t j = cut; j < bytes.size(); ++j)
    FeedDL2(bytes[j], times[j]);
  AbandonPartialFrame();
}

void TTraceDecoder::ReceiveDL2(const TTraceRecord& R) {
  if (R.Value == 'H' && last_pc_frame_ == std::vector<std::uint8_t>{'H'} && !dl2_.Partial()) {
    // A DL1 passes every byte back: detection's echo probe found one.
    last_pc_frame_.clear();
    rx_ = TDecodedFrame{};
    rx_.LineNumber = line_number_;
    rx_.TimeMs = R.TimeMs;
    rx_.Line = LineSettingsText(R.Baud, R.Parity);
    Stray({R.Value}, "");
    return;
  }
  if (rx_.Bytes.empty()) {
    rx_.LineNumber = line_number_;
    rx_.Line = LineSettingsText(R.Baud, R.Parity);
  }
  if (R.ParityError || R.FramingError || R.Break) {
    last_rx_ms_ = R.TimeMs;
    last_rx_completed_ = false;
    if (rx_.Bytes.empty()) rx_.TimeMs = R.TimeMs;
    rx_.Bytes.push_back(R.Value);
    dl2_.Error();
    Stray(rx_.Bytes, "bytes with a line error");
    rx_.Bytes.clear();
    return;
  }
  FeedDL2(R.Value, R.TimeMs);
}

void TTraceDecoder::FeedDL2(std::uint8_t Value, double TimeMs) {
  last_rx_ms_ = TimeMs;
  last_rx_completed_ = false;
  if (rx_.Bytes.empty()) {
    rx_.TimeMs = TimeMs;
    rx_times_.clear();
  }
  rx_.Bytes.push_back(Value);
  rx_times_.push_back(TimeMs);
  if (!dl2_.Byte(Value)) {
    // A length byte the driver does not take: the bytes so far belong to no frame.
    if (!dl2_.Partial()) {
      Stray(rx_.Bytes, "bytes outside any frame");
      rx_.Bytes.clear();
    }
    return;
  }
  const std::vector<std::uint8_t> frame = rx_.Bytes;
  const std::vector<double> times = rx_times_;
  TDL2Received parts;
  last_rx_completed_ = SplitDL2Frame(frame.data(), parts);
  if (!last_rx_completed_ && frame != last_pc_frame_ && !IsEarlierPcFrame(frame) &&
      times.size() == frame.size()) {
    // A frame that fails its check after a silence of three idle ticks within it: the driver
    // had abandoned the part before the silence and read the rest as frames of their own.
    for (std::size_t i = frame.size() - 1; i > 0; --i) {
      if (times[i] - times[i - 1] < DL2AbandonFrameTicks * TickMs) continue;
      rx_.Bytes.assign(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(i));
      Stray(rx_.Bytes, "incomplete frame");
      rx_.Bytes.clear();
      dl2_.Error();
      for (std::size_t j = i; j < frame.size(); ++j)
        FeedDL2(frame[j], times[j]);
      return;
    }
  }
  FrameDL2(frame.data(), static_cast<int>(frame.size()));
  rx_.Bytes.clear();
}

bool TTraceDecoder::IsEarlierPcFrame(const std::vector<std::uint8_t>& Frame) const {
  return std::find(earlier_pc_frames_.begin(), earlier_pc_frames_.end(), Frame) !=
         earlier_pc_frames_.end();
}

void TTraceDecoder::FrameDL2(const std::uint8_t* Frame, int Size) {
  TDecodedFrame d = rx_;
  d.Direction = "<DEV";
  d.Bytes.assign(Frame, Frame + Size);
  if (d.Bytes == last_pc_frame_) {
    d.Meaning = "echo of the PC's frame";
    last_pc_frame_.clear();
    // The adapter sends in order: no echo of an earlier frame follows.
    earlier_pc_frames_.clear();
    Emit(d);
    return;
  }
  const auto echoed = std::find(earlier_pc_frames_.begin(), earlier_pc_frames_.end(), d.Bytes);
  if (echoed != earlier_pc_frames_.end()) {
    // Sent on once the bus was free, after the PC's next frame: the driver looks for the echo of
    // its last frame only, but nothing is wrong on the line.
    d.Meaning = "late echo of an earlier frame of the PC's";
    earlier_pc_frames_.erase(earlier_pc_frames_.begin(), echoed + 1);
    Emit(d);
    return;
  }
  TDL2Received parts;
  if (!SplitDL2Frame(Frame, parts)) {
    if (out_of_step_) {
      // The rest of a frame that was under way when the program threw its input away or changed
      // the line, read from its middle.
      d.Meaning = "rest of a frame cut off by a purge or a change of the line";
      Emit(d);
      return;
    }
    d.Meaning = "frame dropped by the driver";
    AddFlag(d, tfChecksum, "");
    Emit(d);
    return;
  }
  out_of_step_ = false;
  const std::uint8_t* body = parts.Body;
  const int n = parts.BodySize;
  std::string leds;
  if (parts.HasLeds)
    leds = " [LEDs on " + Hex2(parts.LedOn) + " blink " + Hex2(parts.LedBlink) + "]";
  if (n == 0) {
    d.Meaning = "empty frame" + leds;
  } else if (body[0] == 0xFF) {
    d.Meaning = AdapterAnswer(parts, d) + leds;
  } else if (TRequest* answered =
                 n >= 2 ? AnsweredRequest(body[0], body[1], n >= 5 && (n - 2) % 3 == 0) : nullptr) {
    std::string text =
        "reply #" + std::to_string(body[1]) + " from device " + std::to_string(body[0]);
    const bool late = d.TimeMs - answered->TimeMs > ReplyTimeoutMs + SlackMs;
    if (answered->Answered) AddFlag(d, tfUnmatched, "its request was answered already");
    CheckLate(d, *answered);
    // In time, but the driver waits for the reply to its last request only.
    if (!answered->Answered && !late && answered != &request_)
      AddFlag(d, tfUnmatched, "the last request was #" + std::to_string(request_.Sequence));
    for (int at = 2; at + 3 <= n; at += 3)
      text += (at == 2 ? ": " : "; ") + Reply(body + at, *answered);
    if ((n - 2) % 3 != 0) text += " (and a partial group)";
    answered->Answered = true;
    d.Meaning = text + leds;
  } else if (n >= 5 && (n - 2) % 3 == 0 && request_.Valid && body[0] == request_.Address &&
             body[1] != request_.Sequence && body[1] < 250) {
    d.Meaning =
        "reply #" + std::to_string(body[1]) + " from device " + std::to_string(body[0]) + leds;
    AddFlag(d, tfUnmatched, "the last request was #" + std::to_string(request_.Sequence));
  } else {
    d.Meaning = "bus traffic of another station" + leds;
  }
  Emit(d);
}

std::string TTraceDecoder::AdapterAnswer(const TDL2Received& Parts, TDecodedFrame& D) {
  const std::uint8_t* body = Parts.Body;
  const int n = Parts.BodySize;
  if (n < 2) return "adapter answer";
  std::string text = "adapter answer " + Letter(body[1]);
  switch (body[1]) {
    case 'V':
      if (n >= 6)
        return text + ": DL2 firmware " +
               std::to_string(body[2] | body[3] << 8 | body[4] << 16 |
                              static_cast<std::uint32_t>(body[5]) << 24) +
               ", mode " + (n >= 7 && body[6] == 'W' ? "ZO 9 bit" : "ZOBus");
      return text;
    case 'L':
      if (n >= 4) return text + ": LED on " + Hex2(body[2]) + " blink " + Hex2(body[3]);
      return text;
    case 'W':
      if (n >= 5) {
        CheckLate(D, request_);
        if (request_.Answered) AddFlag(D, tfUnmatched, "its request was answered already");
        request_.Answered = true;
        return text + ": " + Reply(body + 2, request_);
      }
      return text;
    default:
      return text;
  }
}

void TTraceDecoder::ReceiveDL1(const TTraceRecord& R) {
  // A marked byte (the ninth bit) begins a frame: it arrives as a parity error under space
  // parity, and without one while the line is at mark parity (the echo of the PC's own).
  if (R.ParityError != (R.Parity == 'M')) {
    if (!rx_.Bytes.empty()) Stray(rx_.Bytes, "incomplete frame");
    rx_ = TDecodedFrame{};
    rx_.LineNumber = line_number_;
    rx_.TimeMs = R.TimeMs;
    rx_.Line = LineSettingsText(R.Baud, 'M');
  } else if (rx_.Bytes.empty()) {
    Stray({R.Value}, "bytes outside any frame");
    return;
  }
  rx_.Bytes.push_back(R.Value);
  if (rx_.Bytes.size() == 4) {
    FrameDL1();
    rx_.Bytes.clear();
  }
}

void TTraceDecoder::FrameDL1() {
  TDecodedFrame d = rx_;
  d.Direction = "<DEV";
  if (!last_pc_frame_.empty()) {
    // The first frame after the PC's own is its echo; a different one met it on the bus.
    const bool echo = d.Bytes == last_pc_frame_;
    last_pc_frame_.clear();
    d.Meaning = echo ? "echo of the PC's frame" : "collision: the echo differs from the frame sent";
    if (!echo) AddFlag(d, tfChecksum, "");
    Emit(d);
    return;
  }
  if (!PlainSumZero(d.Bytes, 0)) {
    d.Meaning = "frame dropped by the driver";
    AddFlag(d, tfChecksum, "");
  } else if (request_.Valid && !request_.Answered) {
    CheckLate(d, request_);
    request_.Answered = true;
    d.Meaning = "reply: " + Reply(d.Bytes.data(), request_);
  } else {
    d.Meaning = "frame of another station";
  }
  Emit(d);
}

void TTraceDecoder::ReceiveOther(const TTraceRecord& R) {
  // Bytes of one read share their stamp.
  if (rx_.Bytes.empty() || rx_.TimeMs != R.TimeMs) {
    if (!rx_.Bytes.empty()) Stray(rx_.Bytes, "");
    rx_ = TDecodedFrame{};
    rx_.LineNumber = line_number_;
    rx_.TimeMs = R.TimeMs;
    rx_.Line = LineSettingsText(R.Baud, R.Parity);
  }
  rx_.Bytes.push_back(R.Value);
}

void TTraceDecoder::Stray(std::vector<std::uint8_t> Bytes, const char* What) {
  if (Bytes.empty()) return;
  TDecodedFrame d = rx_;
  d.Direction = "<DEV";
  d.Bytes = std::move(Bytes);
  const std::vector<std::uint8_t>& b = d.Bytes;
  if (*What == '\0') {
    // Answers at the speeds of detection and the bootblock.
    if (b.size() == 1 && b[0] == 0x11) {
      d.Meaning = "XON (a DL1 answers at 19200 baud)";
    } else if (bootblock_ && firmware_line_ == 0 && b.size() >= 2 && b[1] == 'V') {
      d.Meaning = "bootblock: version answer";
    } else if (bootblock_ && b.size() == 1 && firmware_line_ > 0) {
      d.Meaning = "bootblock: line " + std::to_string(firmware_line_) +
                  (b[0] == 'N' ? " accepted" : " answered " + Letter(b[0]));
    } else if (b.size() == 1 && b[0] == 'H') {
      d.Meaning = "echo of 'H' (a DL1 answers)";
    } else {
      d.Meaning = std::to_string(b.size()) + " bytes";
    }
    Emit(d);
    return;
  }
  if (out_of_step_ || d.TimeMs - last_purge_ms_ < FrameMs) {
    // A frame already under way when the program threw its input away or changed the line.
    d.Meaning = "rest of a frame cut off by a purge or a change of the line";
  } else {
    d.Meaning = What;
    AddFlag(d, tfStray, "");
  }
  Emit(d);
}

void TTraceDecoder::CheckHoldoff(TDecodedFrame& D) {
  double since = -1, required = 0;
  if (last_rx_ms_ >= 0 && last_rx_ms_ >= last_tx_ms_) {
    since = last_rx_ms_;
    required = (last_rx_completed_ ? 1 : DL2HoldoffAfterByte) * TickMs;
  } else if (last_tx_ms_ >= 0) {
    since = last_tx_ms_;
    required = DL2HoldoffAfterTx * TickMs;
  }
  if (since < 0) return;
  const double gap = D.TimeMs - since;
  if (gap + SlackMs < required)
    AddFlag(D, tfHoldoff, MsText(gap) + ", at least " + MsText(required));
}

TTraceDecoder::TRequest* TTraceDecoder::AnsweredRequest(std::uint8_t Address, std::uint8_t Sequence,
                                                        bool ReplyShape) {
  if (request_.Valid && request_.Address == Address && request_.Sequence == Sequence)
    return &request_;
  if (!ReplyShape) return nullptr;
  for (auto r = earlier_requests_.rbegin(); r != earlier_requests_.rend(); ++r)
    if (r->Address == Address && r->Sequence == Sequence) return &*r;
  return nullptr;
}

void TTraceDecoder::CheckLate(TDecodedFrame& D, const TRequest& Answered) {
  const double after = D.TimeMs - Answered.TimeMs;
  if (after > ReplyTimeoutMs + SlackMs) AddFlag(D, tfLate, MsText(after));
}

void TTraceDecoder::AddFlag(TDecodedFrame& D, TTraceFlag Flag, const std::string& Text) {
  ++summary_.Flags[Flag];
  D.Flags.push_back(Text.empty() ? FlagNames[Flag] : std::string(FlagNames[Flag]) + ": " + Text);
}

void TTraceDecoder::Emit(TDecodedFrame& D) {
  ++summary_.Frames;
  sink_(D);
}

}  // namespace zo
