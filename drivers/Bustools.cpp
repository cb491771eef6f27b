#include "drivers/Bustools.h"

#include <cstdio>
#include <string>

namespace zo {

namespace {
TBusFrame frame{0, 0, 0, 0};
}

bool SendCommand4(TBusDriver& Driver, std::uint8_t Value) {
  frame[0] = 4;
  frame[1] = Value;
  return Driver.Send(frame);
}

std::int32_t ReadVersionWord(TBusDriver& Driver, bool Low) {
  frame[0] = Low ? 5 : 6;
  if (!Driver.Request(frame)) return -1;
  if (frame[0] != (Low ? 0x82 : 0x83)) return -1;
  return frame[1] | (frame[2] << 8);
}

std::int32_t SoftwareVersionFromWords(std::uint16_t Low, std::uint16_t High) {
  const std::uint32_t v = Low + High * 65536u;
  if (v <= 9999999u) return static_cast<std::int32_t>(v);
  // Some devices report the version in binary-coded decimal: $1715104 means 1715104.
  char hex[16];
  std::snprintf(hex, sizeof hex, "%X", v);
  std::int64_t decimal = 0;
  for (const char* p = hex; *p; ++p) {
    if (*p < '0' || *p > '9') return -1;
    decimal = decimal * 10 + (*p - '0');
  }
  return decimal > INT32_MAX ? -1 : static_cast<std::int32_t>(decimal);
}

std::int32_t ReadSoftwareVersion(TBusDriver& Driver) {
  const std::int32_t low = ReadVersionWord(Driver, true);
  if (low == -1) return -1;
  const std::int32_t high = ReadVersionWord(Driver, false);
  if (high == -1) return -1;
  return SoftwareVersionFromWords(static_cast<std::uint16_t>(low),
                                  static_cast<std::uint16_t>(high));
}

}  // namespace zo
