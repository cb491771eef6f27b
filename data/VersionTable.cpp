#include "data/VersionTable.h"

namespace zo {

const std::array<std::int32_t, 47>* FindBuiltInVersion(std::int32_t Version) {
  for (const auto& record : BuiltInVersionRecords())
    if (record[0] == Version) return &record;
  return nullptr;
}

}  // namespace zo
