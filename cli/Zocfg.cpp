// zocfg: the command-line program. It runs the same core as the window, on the plain
// main-thread queue, with messages on standard error and results on standard output.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/Interrupt.h"
#include "cli/Options.h"
#include "cli/Outcome.h"
#include "cli/Session.h"
#include "cli/TerminalUi.h"
#include "platform/Console.h"
#include "threads/MainThread.h"
#include "threads/UiServices.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments = zo::ProgramArguments(argc, argv);
  std::vector<const char*> words;
  for (std::size_t i = 1; i < arguments.size(); ++i)
    words.push_back(arguments[i].c_str());
  zo::UseUtf8Console();
  // From the start: a closed pipe must give a write error, not end the program silently.
  zo::InstallInterruptHandlers();
  zo::TOptions options;
  std::string error;
  bool usable = zo::ParseOptions(static_cast<int>(words.size()), words.data(), options, error);
  // Checked before anything is opened for writing.
  if (usable && !options.Help) {
    error = zo::OutputConflict(options);
    usable = error.empty();
  }
  if (!usable) {
    std::fprintf(stderr, "zocfg: %s\nTry \"zocfg --help\".\n", error.c_str());
    // --json promises one document also when the command line is wrong.
    for (const char* word : words)
      if (std::string(word) == "--json") {
        std::fputs(zo::FailureDocument(options.Command, zo::ExitUsage, error).c_str(), stdout);
        break;
      }
    return zo::ExitUsage;
  }
  if (options.Help) {
    errno = 0;
    if (std::fputs(zo::HelpText(options.Command).c_str(), stdout) == EOF ||
        std::fflush(stdout) != 0) {
      std::fprintf(stderr, "error: Cannot write file: standard output (%s)\n",
                   std::strerror(errno != 0 ? errno : EIO));
      return zo::ExitFile;
    }
    return zo::ExitOk;
  }

  zo::PlainMainThread main_thread;
  zo::SetMainThread(&main_thread);
  zo::TTerminalUi ui(stderr, options.Yes, zo::IsTerminal(stderr));
  zo::SetUi(&ui);
  const int status = zo::RunCommand(options, ui, stdout);
  zo::SetUi(nullptr);
  zo::SetMainThread(nullptr);
  return status;
}
