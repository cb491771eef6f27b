// Bus tools that work on any driver: the access command and the device's software version.
//
// The three routines share one 4-byte frame that starts all zero and is reused by every call, so
// bytes a call does not set keep the values of earlier calls. They are called only by the bus
// thread, or by the main thread while the bus thread is paused.
#pragma once

#include <cstdint>

#include "drivers/ExtendedBusdrv.h"

namespace zo {

// Sends command 4 with one data byte; the driver's Send result.
bool SendCommand4(TBusDriver& Driver, std::uint8_t Value);

// Requests the low (5, reply $82) or high (6, reply $83) word of the software version; the
// reply's 16-bit value, or -1 when the request failed or the reply code is wrong.
std::int32_t ReadVersionWord(TBusDriver& Driver, bool Low);

// The device's software version: low word, then (only when that worked) high word; -1 if either
// fails. A value above 9999999 is written in hexadecimal digits and read back as a decimal
// number; a rewrite that contains a letter A to F gives -1 (it matches no version).
std::int32_t ReadSoftwareVersion(TBusDriver& Driver);

// The software version from its low and high words, by the rule of ReadSoftwareVersion.
std::int32_t SoftwareVersionFromWords(std::uint16_t Low, std::uint16_t High);

}  // namespace zo
