// Sending the model's settings from the command line: stopping before the next frame once the
// run is to stop (Ctrl+C, a failed trace), saying which settings went out, and reading them back
// afterwards to compare, since a write gets no answer from the device.
#pragma once

#include <string>
#include <vector>

#include "drivers/ExtendedBusdrv.h"

namespace zo {

// WriteSettings under StopRequested. `Sent` lists each setting that went out, in order.
bool SendSettings(TBusDriver* Driver, std::vector<int>& Sent);

// What was sent, for a run that ended early: "Sent: Absorption voltage, ... (3 of 17
// settings)." and "Not sent: ...".
std::vector<std::string> SentAccount(const std::vector<int>& Sent);

struct TDifference {
  int Number;
  std::string Key, Name, Sent, Read;
};

// Reads every setting back (stopping as SendSettings does) and compares it with the model as it
// was sent. False when the read did not complete; `Differences` lists the settings whose value
// on the device is not the one sent. The model holds the device's values afterwards.
bool VerifySettings(TBusDriver* Driver, std::vector<TDifference>& Differences);

}  // namespace zo
