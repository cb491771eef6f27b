// The DL2 firmware image the program carries (packed at build time from
// data/dl2-firmware-*.txt), and its version number.
#pragma once

#include <cstdint>
#include <string>

namespace zo {

const std::string& CarriedFirmwareImage();
std::int32_t CarriedFirmwareVersion();

}  // namespace zo
