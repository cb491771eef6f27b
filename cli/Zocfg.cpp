// zocfg: the command-line program. It runs the same core as the window, on the plain
// main-thread queue, with messages on standard error and results on standard output.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "cli/Commands.h"
#include "cli/Options.h"
#include "cli/Session.h"
#include "cli/TerminalUi.h"
#include "threads/MainThread.h"
#include "threads/UiServices.h"

int main(int argc, char** argv) {
  zo::TOptions options;
  std::string error;
  if (!zo::ParseOptions(argc - 1, argv + 1, options, error)) {
    std::fprintf(stderr, "zocfg: %s\nTry \"zocfg --help\".\n", error.c_str());
    return zo::ExitUsage;
  }
  if (options.Help) {
    std::fputs(zo::HelpText(options.Command).c_str(), stdout);
    return zo::ExitOk;
  }

  zo::PlainMainThread main_thread;
  zo::SetMainThread(&main_thread);
  zo::InstallInterruptHandlers();
  zo::TTerminalUi ui(stderr, options.Yes, ::isatty(STDERR_FILENO) == 1);
  zo::SetUi(&ui);
  const int status = zo::RunCommand(options, ui, stdout);
  zo::SetUi(nullptr);
  zo::SetMainThread(nullptr);
  return status;
}
