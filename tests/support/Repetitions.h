// How many seeded repetitions a fault scenario runs: ZO_FAULT_REPETITIONS when set (the sanitizer
// builds run fewer), else 1000.
#pragma once

#include <cstdlib>

namespace zo::test {

inline int FaultRepetitions() {
  const char* text = std::getenv("ZO_FAULT_REPETITIONS");
  const int n = text != nullptr ? std::atoi(text) : 0;
  return n > 0 ? n : 1000;
}

}  // namespace zo::test
