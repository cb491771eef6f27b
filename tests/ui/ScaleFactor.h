// Included by the one source of a test program built for a scale factor (ZO_SCALE_FACTOR, "1" or
// "2"): the factor is set while the program's statics start, before main creates the application.
#pragma once

#include <cstdlib>

#ifdef ZO_SCALE_FACTOR
namespace {
[[maybe_unused]] const int scale_factor_set = setenv("QT_SCALE_FACTOR", ZO_SCALE_FACTOR, 1);
}
#endif
