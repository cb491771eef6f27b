// The commands of zocfg. Each returns the program's exit status (see TExitStatus); messages go
// to the terminal UI (standard error), results to standard output.
#pragma once

#include <cstddef>
#include <cstdio>

#include "cli/Options.h"
#include "cli/TerminalUi.h"

namespace zo {

// Runs the command of `Options` (after parsing; not for --help), printing to `Out`. When `Out`
// could not be written (a full disk, a closed pipe), says so and gives ExitFile instead of a
// success (or of diff's answer "different"); a failure's own status stays.
int RunCommand(const TOptions& Options, TTerminalUi& Ui, std::FILE* Out);

// diff (cli/Diff.cpp) and decode (cli/Decode.cpp). decode reads a trace of up to
// `MaxTraceBytes` whole (a day's trace at full speed stays well below 1 GB); of a longer one it
// decodes the lines within its first `MaxTraceBytes` and says how many.
int RunDiff(const TOptions& Options, TTerminalUi& Ui, std::FILE* Out);
int RunDecode(const TOptions& Options, TTerminalUi& Ui, std::FILE* Out,
              std::size_t MaxTraceBytes = std::size_t{1} << 30);

}  // namespace zo
