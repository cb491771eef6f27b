// Reading a wire trace (written by --trace) back as frames with their meanings.
//
// The bytes are put together into frames as the drivers put them together: the DL2's frames (at
// 2400 baud) by TDL2FrameReader and SplitDL2Frame, the DL1's (at 1200 baud) by the ninth bit;
// the PC's own frames are the bytes of one write. A frame is then named by what the program and
// the devices mean by it: adapter commands and answers by letter, requests by command with the
// setting's name where the trace shows the device's software version (read from VERSION.DAT),
// replies matched to their request, echoes, other stations' traffic, the DL2's start sequence
// and the bootblock's exchanges.
//
// Flagged on their frames and counted: checksum failures, unmatched replies, repeated requests,
// hold-offs shorter than the DL2 driver allows, replies later than the 500 ms time-out, and bytes
// that belong to no frame. A DL2 reply is matched by its device address and sequence number to
// the request it answers, also one sent before the last; it is late when it came more than the
// time-out after that request. The DL1's replies, and the DL2's in its nine-bit mode, carry no
// sequence number: as for the driver, the first reply after a request answers it.
//
// A line that is not a trace line (a control character in it, a time stamp that is missing,
// negative, infinite or out of range, ...) is warned about and counted, and decoding goes on.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "drivers/DL2DRV.h"
#include "serial/TraceFile.h"

namespace zo {

enum TTraceFlag : int {
  tfChecksum,
  tfUnmatched,
  tfRepeated,
  tfHoldoff,
  tfLate,
  tfStray,
  tfFlagCount,
};

// The summary key of a flag ("checksum_failures") and its text on a frame's line.
const char* TraceFlagKey(TTraceFlag Flag);

struct TDecodedFrame {
  int LineNumber = 0;  // of the frame's first byte in the trace
  double TimeMs = 0;
  std::string Direction;  // "PC>", "<DEV", or "" for an event of the port
  std::string Line;       // "2400 8N1"
  std::vector<std::uint8_t> Bytes;
  std::string Meaning;
  std::vector<std::string> Flags;  // texts, such as "checksum failure"
};

struct TDecodeSummary {
  int Frames = 0;
  std::array<int, tfFlagCount> Flags{};
  int Warnings = 0;    // lines that are not trace lines
  int TraceLines = 0;  // lines that are
};

class TTraceDecoder {
 public:
  using TSink = std::function<void(const TDecodedFrame&)>;
  // `Sink` gets every frame and event in trace order; `Warn` every line that is not understood
  // ("line 12: no time stamp").
  TTraceDecoder(TSink Sink, std::function<void(const std::string&)> Warn);

  // One line of the trace (without its line break); lines are numbered from 1 in call order.
  void Line(std::string_view Text);
  // The end of the trace: what is still open is put out.
  void Finish();
  // A whole trace: each of its lines, then Finish.
  void Text(std::string_view Trace);

  const TDecodeSummary& Summary() const { return summary_; }
  // The device's software version the trace showed, 0 while none.
  std::int32_t Version() const { return version_; }

 private:
  struct TRequest {
    bool Valid = false;
    double TimeMs = 0;
    std::uint8_t Address = 0, Sequence = 0;
    std::array<std::uint8_t, 3> Frame{};  // command, data low, data high
    bool Answered = false;
    int Number = 0;
  };

  void Byte(const TTraceRecord& R);
  void Event(const TTraceRecord& R);
  void FlushPc();
  void EmitPc();
  void ReceiveDL2(const TTraceRecord& R);
  // One received byte without a line error into the DL2 frame reader.
  void FeedDL2(std::uint8_t Value, double TimeMs);
  void FrameDL2(const std::uint8_t* Frame, int Size);
  bool IsEarlierPcFrame(const std::vector<std::uint8_t>& Frame) const;
  void ReceiveDL1(const TTraceRecord& R);
  void FrameDL1();
  void ReceiveOther(const TTraceRecord& R);
  void FlushRx();
  // Emits the partial received frame as cut off by the program, without a flag.
  void CutOff(const char* Meaning);
  // Before the PC's transmission: the driver has abandoned a partial received frame.
  void AbandonPartialFrame();
  void Stray(std::vector<std::uint8_t> Bytes, const char* What);

  std::string PcDL2(const std::vector<std::uint8_t>& F, TDecodedFrame& D);
  std::string AdapterAnswer(const TDL2Received& Parts, TDecodedFrame& D);
  std::string Request(const std::array<std::uint8_t, 3>& Frame, std::uint8_t Address,
                      std::uint8_t Sequence, TDecodedFrame& D);
  std::string Reply(const std::uint8_t* Group, const TRequest& Answered);
  // The request a DL2 reply from `Address` with `Sequence` answers: the last one, or, for a
  // frame of a reply's shape (`ReplyShape`: whole groups of 3), one of the earlier ones still
  // remembered; nullptr when none.
  TRequest* AnsweredRequest(std::uint8_t Address, std::uint8_t Sequence, bool ReplyShape);
  // Flags `D` late when it came after the reply time-out of `Answered`.
  void CheckLate(TDecodedFrame& D, const TRequest& Answered);
  void CheckHoldoff(TDecodedFrame& D);
  void AddFlag(TDecodedFrame& D, TTraceFlag Flag, const std::string& Text);
  void Emit(TDecodedFrame& D);
  void SelectTraceVersion(std::int32_t Version);
  int SettingAt(std::uint16_t Address) const;

  TSink sink_;
  std::function<void(const std::string&)> warn_;
  TDecodeSummary summary_;
  int line_number_ = 0;

  // The PC's write being collected: the bytes of one write share their time stamp.
  TDecodedFrame pc_;
  std::int32_t pc_baud_ = 0;
  char pc_parity_ = 'N';

  // Received bytes being collected.
  TDL2FrameReader dl2_;
  TDecodedFrame rx_;
  std::int32_t rx_baud_ = 0;
  std::vector<double> rx_times_;  // the stamps of rx_'s bytes (DL2)
  double last_rx_ms_ = -1;
  bool last_rx_completed_ = false;  // the last received byte ended a frame the driver takes
  double last_tx_ms_ = -1;
  double last_purge_ms_ = -1e9;  // the last purge or change of the line
  // From a purge or change of the line until a good frame or the PC's next frame: the driver may
  // have begun reading in the middle of a frame and is out of step until a silence.
  bool out_of_step_ = false;
  std::vector<std::uint8_t> last_pc_frame_;
  // DL2: the PC's frames sent before the last one whose echo has not come yet, oldest first. On a
  // bus with other stations the adapter holds a frame until the bus is free, and the driver may
  // send its next frame before the echo of the one before comes.
  std::vector<std::vector<std::uint8_t>> earlier_pc_frames_;

  TRequest request_;  // the last request
  // DL2: the requests before it, newest last. A device that answers later than the driver waits
  // answers one of these after the driver has sent the next request.
  std::vector<TRequest> earlier_requests_;
  int request_count_ = 0;
  int firmware_line_ = 0;  // the bootblock's lines since its version request
  bool bootblock_ = false;
  std::int32_t version_low_ = -1;
  std::int32_t version_ = 0;
  int pending_high_ = -1;  // the high byte of a word write, waiting for its low byte
  std::uint16_t pending_high_address_ = 0;
};

}  // namespace zo
