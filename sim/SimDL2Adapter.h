// A simulated DL2 interface adapter on the peer side of a simulated line, bridging to a simulated
// device.
//
// It reacts only to what its hardware could see: bytes at its UART's baud rate with their error
// flags, the sender's baud rate of the $55 sync bytes as its auto-baud detector measures it, and
// the port's break, RTS and DTR lines. Its firmware is a state machine:
//
//   power-on -- break held, or old bootblock --> bootblock (echoes 'H' at 2400 baud)
//   power-on -- otherwise --> application starting (or bad firmware when the flash is corrupt)
//   bootblock -- sync bytes at 115200 --> bootblock command (UART at 19200, waits for a letter)
//     -- 'A' --> application starting -- boot time --> application (announces itself with 'V')
//     -- 'P', when the bootblock was entered with the break held --> version frame, programming
//   application -- 'S' 00 00 00 00 04 answered, then break --> bootblock (programming allowed)
//   programming: each 76-byte line ('W', a 74-byte block, a check byte) answered with one byte:
//     'N' accepted; 'D' block 0 does not carry the header of a DL2 image (hardware id '2');
//     'T' a bad check byte or a garbled byte; 'U' a line that does not start with 'W'; 'E' a
//     line beyond the image's block count. Block 0 erases the flash; when the image's last block
//     is accepted the new firmware runs, reporting the version that block 0's header names.
//   bad firmware: sends 0x11 at 19200 baud every 50 ms and nothing else; only a power cycle with
//     the break held reaches the bootblock again.
//
// Block 0 of an image starts (after its block number and flash address, 4 bytes) with the header
// 'ZODL2', the firmware version (4 bytes, little-endian), the block count (2 bytes) and the
// hardware id '2'.
//
// The application takes frames only while the port asserts DTR and clears RTS (as detection
// leaves the lines); it speaks the frame protocol at 2400 baud: adapter commands 'V' (four version
// bytes, then 'W' in 9-bit mode), 'L' (LED-on, LED-blink), 'S' (panel state; answered with an
// empty 'S') and, in 9-bit mode, 'W' (three bytes to the device, its three reply bytes back). In
// ZOBus mode it echoes every addressed request byte for byte, as it hears it back from the bus,
// hands it to the device, and returns the device's reply after its turnaround delay as
// [address, sequence number, code, data low, data high], now and then with the LED bytes flagged
// by bit 7 of the length byte. Its own answers are not echoed. A start sequence while the
// application runs restarts it. With bus traffic on, other stations' frames (first body byte $20
// or more, never a 0x11 or 'H' byte) pass about once a second.
//
// While the port holds the break the adapter hears nothing. The user's "switch the device off and
// on" is PowerCycle.
//
// One worker thread; every wait goes through the clock (SimLine::PeerWait). Thread-safe.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <vector>

#include "serial/SimLine.h"
#include "sim/SimDevice.h"
#include "threads/Clock.h"
#include "threads/Thread.h"

namespace zo::sim {

enum class TDL2Variant {
  NewBootblock,     // the application runs at power-on
  OldBootblock,     // echoes 'H' until the start sequence wakes the application
  BadlyProgrammed,  // sends 0x11 unprompted at 19200 baud, nothing else
};

enum class TDL2SimState {
  Off,               // not powered (before Start, and while the power is lost)
  Bootblock,         // the bootblock idles and echoes 'H'
  BootblockCommand,  // sync bytes heard: the UART runs at 19200 and waits for a letter
  Programming,       // the bootblock takes programming lines at 19200
  Starting,          // the application boots
  Application,       // the frame protocol at 2400 baud
  ApplicationHung,   // the application answers nothing until the next start sequence
  BadFirmware,       // badly programmed
};

// How the bootblock answers the program request 'P'.
enum class TVersionFrameFault {
  None,        // a good version frame
  Silent,      // no answer at all
  SingleByte,  // one byte only
  WithoutV,    // byte 1 is not 'V'
  BadSum,      // bytes 1 to n-1 do not add up to 0
};

// Faults of the bootblock's programming protocol. Lines are counted from 0 in each run.
struct TSimBootblockConfig {
  TVersionFrameFault VersionFrame = TVersionFrameFault::None;
  // The line answered with FaultReply ('B', 'E', 'T', 'U' or any other byte) instead of its
  // result, or not at all when FaultSilent.
  int FaultLine = -1;
  std::uint8_t FaultReply = 'B';
  bool FaultSilent = false;
  // The power fails while this line is written and comes back after PowerLossMs: the flash is
  // then only partly programmed.
  int PowerLossLine = -1;
  int PowerLossMs = 100;
  // A line the bootblock takes SlowLineMs to program before it answers (the others are answered
  // at once).
  int SlowLine = -1;
  int SlowLineMs = 0;
};

struct TSimDL2Config {
  TDL2Variant Variant = TDL2Variant::NewBootblock;
  bool NineBit = false;  // mode "ZO 9 bit" ('W' after the version bytes)
  std::int32_t FirmwareVersion = 1130118;
  bool BusTraffic = false;  // other stations' frames about once a second
  int TrafficIntervalMs = 1000;
  int LedBytesEvery = 4;  // every n-th device reply carries the LED bytes; 0 never
  std::uint8_t LedOn = 0x21;
  std::uint8_t LedBlink = 0x00;
  int BootMs = 150;         // from 'A' to the application's announcement
  int CommandWaitMs = 300;  // how long the bootblock waits for its letter
  std::uint32_t Seed = 1;
  // The application in flash is corrupt, as after an interrupted programming (BadlyProgrammed
  // implies it): once started it behaves as bad firmware.
  bool FlashBad = false;
  // The application starts but never answers (an adapter silent after the start sequence).
  bool ApplicationHangs = false;
  TSimBootblockConfig Bootblock;
  // The line carries no break (a pseudo-terminal, which passes only byte content): the
  // application hands over to its bootblock as soon as it has answered the update request.
  bool BreakInvisible = false;
  // The application announces itself with a 'V' answer when it starts; when false it answers 'V'
  // only when asked.
  bool AnnounceOnStart = true;
  // The application echoes the PC's adapter commands (as it hears them back from the bus) before
  // it answers them.
  bool EchoAdapterCommands = false;
};

class SimDL2Adapter {
 public:
  // `Device` must outlive the adapter. Nothing happens before Start.
  SimDL2Adapter(std::shared_ptr<SimLine> Line, SimDevice* Device, const TSimDL2Config& Config);
  ~SimDL2Adapter();  // Stop
  SimDL2Adapter(const SimDL2Adapter&) = delete;
  SimDL2Adapter& operator=(const SimDL2Adapter&) = delete;

  // Powers the adapter on and starts its thread.
  void Start();
  // The device is switched off and on: the adapter starts again from its bootblock, which stays
  // in the bootblock when the port holds the break.
  void PowerCycle();
  // Ends the thread and waits for it (at once; no wait is longer than 100 ms).
  void Stop();
  // The device, and the adapter it powers, switched off (it hears and sends nothing) and on
  // again (it starts as at power-on).
  void SwitchOff();
  void SwitchOn();

  // While set, the adapter hears nothing and sends nothing (a loose cable); it then continues in
  // the state it was in.
  void SetSilent(bool Value);
  // The application stops answering (and stops passing bus traffic) until the next start
  // sequence restarts it.
  void HangApplication();
  void SetBusTraffic(bool On);
  void SetLeds(std::uint8_t On, std::uint8_t Blink);
  // Replaces the bootblock's faults (from the next programming line on): a power loss, for one,
  // happens once and not again at the same line of the next run.
  void SetBootblockFaults(const TSimBootblockConfig& Faults);

  TDL2SimState State() const;
  // How often the application has started (and announced itself).
  int ApplicationStarts() const;
  // Addressed requests (ZOBus) or 'W' commands (9-bit) passed to the device.
  int RequestsPassed() const;
  // How many adapter commands with this letter the application answered.
  int CommandsAnswered(char Letter) const;
  // The body of the last 'S' command (after $FF and 'S').
  std::vector<std::uint8_t> LastStateCommand() const;
  // Frames of other stations sent so far.
  int TrafficFrames() const;
  // The version of the firmware in flash (what the application reports), and whether the flash
  // holds a complete firmware.
  std::int32_t FirmwareVersion() const;
  bool FlashGood() const;
  // Program requests answered by the bootblock, lines accepted in the last programming run, and
  // programming runs completed.
  int BootblockConnections() const;
  int LinesAccepted() const;
  int ProgrammingsCompleted() const;

 private:
  class Worker;
  struct TPending {
    TimePoint Due;
    std::vector<std::uint8_t> Frame;
  };

  void Run();
  void OnByte(const TSimByte& Byte);
  void OnApplicationByte(const TSimByte& Byte);
  void OnPcFrame(const std::vector<std::uint8_t>& Frame);
  void OnAdapterCommand(const std::vector<std::uint8_t>& Body);
  void OnAddressedRequest(const std::vector<std::uint8_t>& Frame);
  void RunDue(TimePoint Now);
  TimePoint NextDue(TimePoint Now) const;
  void PowerOn();
  void OnBreak(bool Held, TimePoint Now);
  void EnterBootblock(bool ProgrammingAllowed);
  void EnterBootblockCommand(TimePoint Now);
  void StartApplication(TimePoint Now);
  void EnterBadFirmware(TimePoint Now);
  void AnswerProgramRequest();
  void OnLineByte(const TSimByte& Byte, TimePoint Now);
  void OnLine(const std::vector<std::uint8_t>& Line, int Index, TimePoint Now);
  std::uint8_t ProgramLine(const std::vector<std::uint8_t>& Line, int Index);
  void Reply(std::uint8_t Byte, TimePoint Due);
  void FinishProgramming();
  void SendAnswer(std::vector<std::uint8_t> Body);
  // The body of the 'V' answer: $FF, 'V', four version bytes, 'W' in 9-bit mode.
  std::vector<std::uint8_t> VersionAnswer() const;
  std::vector<std::uint8_t> TrafficFrame();
  void ScheduleTraffic(TimePoint Now);
  bool IsSyncByte(const TSimByte& Byte) const;

  std::shared_ptr<SimLine> line_;
  SimDevice* device_;
  std::unique_ptr<Worker> worker_;

  mutable std::mutex mutex_;  // guards everything below
  TSimDL2Config config_;
  TDL2SimState state_ = TDL2SimState::Off;
  TDL2SimState resume_state_ = TDL2SimState::Bootblock;  // after a bootblock command timed out
  bool silent_ = false;
  std::mt19937 random_;

  int sync_run_ = 0;
  std::vector<std::uint8_t> rx_;
  TimePoint last_rx_{};
  std::deque<TPending> pending_;
  std::optional<TimePoint> state_due_;  // end of boot, or of the wait for a bootblock letter
  std::optional<TimePoint> traffic_due_;
  std::optional<TimePoint> xon_due_;
  std::optional<TimePoint> power_due_;   // the power comes back after a loss
  std::optional<TimePoint> finish_due_;  // the last line's answer has gone: the new firmware runs

  bool break_held_ = false;
  bool update_armed_ = false;         // the 'S' frame before an update was answered
  bool programming_allowed_ = false;  // the bootblock was entered with the break held
  bool flash_good_ = true;
  std::int32_t firmware_version_ = 0;  // of the firmware in flash
  // The programming run: the line being received, lines received and accepted, and what block
  // 0's header names.
  std::vector<std::uint8_t> line_rx_;
  bool line_garbled_ = false;
  TimePoint last_line_byte_{};
  int lines_received_ = 0;
  int lines_accepted_ = 0;
  std::int32_t image_version_ = 0;
  int image_blocks_ = 0;
  int connections_ = 0;
  int programmings_completed_ = 0;

  int application_starts_ = 0;
  int requests_passed_ = 0;
  int replies_sent_ = 0;
  int traffic_frames_ = 0;
  int answered_[128] = {};
  std::vector<std::uint8_t> last_state_command_;
};

// Human-readable state names for test messages.
const char* ToString(TDL2SimState State);

}  // namespace zo::sim
