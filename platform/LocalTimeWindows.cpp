#include "platform/LocalTime.h"

namespace zo {

TLocalTime LocalTimeOf(std::time_t Moment) {
  TLocalTime local;
  if (localtime_s(&local.Fields, &Moment) != 0) {
    const std::time_t zero = 0;
    gmtime_s(&local.Fields, &zero);
    return local;
  }
  // The local fields read as UTC give the moment shifted by the offset.
  std::tm fields = local.Fields;
  local.OffsetSeconds = static_cast<long>(_mkgmtime(&fields) - Moment);
  return local;
}

}  // namespace zo
