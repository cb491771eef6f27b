// The local time of a moment, with its offset from UTC: the text log's and the live recording's
// time stamps.
#pragma once

#include <ctime>

namespace zo {

struct TLocalTime {
  std::tm Fields{};        // as std::localtime fills it
  long OffsetSeconds = 0;  // east of UTC: +3600 for UTC+01:00
};

// The local time of `Moment` (seconds since 1970 UTC), by the system's time-zone rules (daylight
// saving included). A moment the system cannot convert gives the fields of 1970-01-01 00:00:00
// at offset 0.
TLocalTime LocalTimeOf(std::time_t Moment);

}  // namespace zo
