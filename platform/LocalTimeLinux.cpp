#include "platform/LocalTime.h"

namespace zo {

TLocalTime LocalTimeOf(std::time_t Moment) {
  TLocalTime local;
  if (localtime_r(&Moment, &local.Fields) == nullptr) {
    const std::time_t zero = 0;
    gmtime_r(&zero, &local.Fields);
    return local;
  }
  local.OffsetSeconds = local.Fields.tm_gmtoff;
  return local;
}

}  // namespace zo
