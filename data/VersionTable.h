// The built-in table of supported device software versions, generated at build time from
// data/versions.txt, the same source as the VERSION.DAT beside the programs. For the simulated
// devices and the tests; the program itself reads VERSION.DAT.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace zo {

// Every record of the table, in file order (a version number may occur twice; the first wins).
const std::vector<std::array<std::int32_t, 47>>& BuiltInVersionRecords();

// The first record with this version number, or nullptr.
const std::array<std::int32_t, 47>* FindBuiltInVersion(std::int32_t Version);

}  // namespace zo
