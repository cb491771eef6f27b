// The commands of zocfg. Each returns the program's exit status (see TExitStatus); messages go
// to the terminal UI (standard error), results to standard output.
#pragma once

#include <cstdio>

#include "cli/Options.h"
#include "cli/TerminalUi.h"

namespace zo {

// Runs the command of `Options` (after parsing; not for --help), printing to `Out`. When `Out`
// could not be written (a full disk, a closed pipe), says so and gives ExitFile instead of a
// success (or of diff's answer "different"); a failure's own status stays.
int RunCommand(const TOptions& Options, TTerminalUi& Ui, std::FILE* Out);

// diff (cli/Diff.cpp) and decode (cli/Decode.cpp).
int RunDiff(const TOptions& Options, TTerminalUi& Ui, std::FILE* Out);
int RunDecode(const TOptions& Options, TTerminalUi& Ui, std::FILE* Out);

}  // namespace zo
