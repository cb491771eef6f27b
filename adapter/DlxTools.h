// Finding out which interface adapter sits behind an open serial port, and the DL2 firmware
// check with its reprogram dialogue.
//
// Runs on the main thread (the bus thread calls DetectInterface through a synchronised call),
// because the firmware check may show message boxes. Holds no state of its own: each call works
// only on the port and the image it is given.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "drivers/ExtendedBusdrv.h"
#include "serial/RS232o.h"

namespace zo {

enum TInterfaceKind : std::uint8_t {
  ikNone = 0,             // nothing answered
  ikDL1 = 1,              // first-generation adapter
  ikBadDL2 = 2,           // badly programmed DL2
  ikDL2OldBootblock = 3,  // DL2 that answered only after StartDL2Application
  ikDL2NewBootblock = 4,  // DL2 that answered the version request at once
};

// Identifies the adapter on the open `Port`, logs what was found, runs the firmware check when
// `Firmware` is given, and creates the driver: TDL1Driver for a DL1, TSimpleDL2Driver (or
// TDL2Driver when UseSimpleDriver is false) for a DL2. Null when the port is not open or no
// usable adapter answered, for a badly programmed DL2, and after any reprogram attempt (the next
// detection finds the adapter anew). A returned driver owns `Port`; the caller drops its
// reference. Main thread only. Bounded by the probes' time-outs: under a second with nothing
// attached, about two seconds for a DL1; a reprogram adds its own run.
// `BadDL2Declined`, when given, remembers the user's refusal to reprogram a badly programmed DL2
// (see CheckInterfaceFirmware), so that the caller's next detections do not ask again.
TBusDriver* DetectInterface(TRS232o* Port, bool UseSimpleDriver, std::istream* Firmware,
                            std::int32_t FirmwareVersion, bool* BadDL2Declined = nullptr);

// Classifies the adapter with one or two passes of the probes (ProbeXon: 0x11 heard at 19200
// baud; ProbeEcho: 'H' echoed at 2400; ReadDL2Version), the second after StartDL2Application when
// the first pass heard an echo. Version and Mode are filled only by a DL2's version answer.
// Leaves DTR asserted and RTS cleared, the line at the last speed a probe set.
TInterfaceKind IdentifyInterface(TRS232o& Port, std::int32_t& Version, std::uint8_t& Mode);

// The DL2 application start sequence: five 0x55 at 115200 baud, 50 ms, then 'A' at 19200 and
// 50 ms. Nothing is read back; the line is left at 19200 baud.
void StartDL2Application(TRS232o& Port);

// Asks a DL2 for its version at 2400 baud (about 200 ms). True on a good 'V' answer of 6 to 9
// body bytes: Version from its four bytes (least significant first), Mode 1, or 2 when 'W'
// follows them. Mode is 0 on failure and Version unchanged.
bool ReadDL2Version(TRS232o& Port, std::int32_t& Version, std::uint8_t& Mode);

// Sends [length, $FF, data..., ($00 when the last data byte is $FF), checksum] after draining
// what is pending (read time-out 20 ms, which stays in force; at most 256 bytes are drained),
// then waits 150 ms.
void SendDL2Frame(TRS232o& Port, const std::vector<std::uint8_t>& Data);

// Receives one frame with the read time-out in force: Reply[0] := body length N, Reply[1..N] :=
// the body from its $FF on. False on a missing length byte, a length outside MinLen..MaxLen
// (MaxLen limited to BufSize - 1), missing bytes, a bad checksum, or a body not starting with $FF.
bool ReceiveDL2Frame(TRS232o& Port, std::uint8_t* Reply, std::uint8_t BufSize, std::uint8_t MinLen,
                     std::uint8_t MaxLen);

// "Unknown", "ZOBus", "ZO 9 bit", "Transparant"; other values leave Text unchanged.
void DL2ModeName(std::uint8_t Mode, std::string& Text);

// The DL2 firmware check: offers to reprogram a badly programmed DL2, or one whose firmware has
// the image's major version with an older minor revision (>= 100), and runs the reprogram. After
// any reprogram attempt Kind := ikNone. Nothing without an image.
// With `BadDL2Declined` given: a No to the reprogram question or a Cancel of the switch-off-and-on
// request of a badly programmed DL2 sets it, and while it is set that DL2 is not asked about again
// (it simply gets no driver). Without it every detection asks anew.
// A stop the user asked for (UiServices::CancelRequested) before a question leaves the question
// out, and one that comes with the answer leaves the update out: nothing is sent to the adapter.
void CheckInterfaceFirmware(TRS232o& Port, std::istream* Firmware, std::int32_t FirmwareVersion,
                            TInterfaceKind& Kind, std::int32_t AdapterVersion, std::uint8_t Mode,
                            bool* BadDL2Declined = nullptr);

// One complete reprogram run with the progress dialog and the result message: loads and checks
// the image (from its beginning), connects the bootblock (up to 25 s when it is silent), sends
// every line (each answer awaited up to 18 s) while the main thread serves the progress reports,
// waiting on its message queue rather than spinning. Every outcome is shown and logged; the break
// is released at the end on every path. About 3.3 s for the carried image.
// A stop the user asked for (UiServices::CancelRequested) before the first line is sent ends the
// run there, shown nowhere but logged as ReprogramStoppedText; once the lines go out, the run is
// never cut short.
void ReprogramInterface(TRS232o& Port, std::istream& Firmware, const std::string& Name);
// The log line of a reprogram stopped before programming, after "Reprogram procedure for " + Name.
constexpr char ReprogramStoppedText[] = " stopped before programming";

// Sends the 'S' frame (00 00 00 00 04) that precedes an update at 2400 baud (about 200 ms); True
// on a good 'S' answer.
bool SendDL2SFrame(TRS232o& Port);

// Supplies the updater's progress handler: the third report changes the info text to
// "Programming"; every report moves the bar.
class TStupidObject {
 public:
  void UpdateProgress(std::int32_t Percent, std::uint8_t Status);
  std::int32_t CallCount = 0;
};

}  // namespace zo
