// zocfg monitor: the live values as they are polled, as lines, one JSON document, or a CSV
// recording (the form the window's chart records, see connection/LiveCsv.h).
//
// One row per polling cycle, taken from the bus thread's own polling. When the target is lost
// the monitor says so on standard error and goes on with empty rows until the bus thread finds
// it again (--exit-on-loss ends it instead, status 1). --count N and Ctrl+C end it with status
// 0; a recording that cannot be written (a full disk, a closed pipe) ends it with status 3,
// keeping the rows written before.
#pragma once

#include <cstdio>

#include "cli/Options.h"
#include "cli/TerminalUi.h"

namespace zo {

int RunMonitor(const TOptions& Options, TTerminalUi& Ui, std::FILE* Out);

}  // namespace zo
