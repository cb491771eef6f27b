// The trace backend now lives with the serial port (the window records traces too); this header
// keeps the command line's includes working.
#pragma once

#include "serial/TraceBackend.h"
