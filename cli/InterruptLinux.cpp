// Stop requests on Linux: signals.
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "cli/Interrupt.h"

namespace zo {

namespace {

// Ctrl+C, SIGTERM, a closed terminal or a dropped SSH connection (SIGHUP), and Ctrl+\ (SIGQUIT).
constexpr int StopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void OnSignal(int Number) {
  const int saved_errno = errno;
  char text[128];
  const TStopAction action = NoteStopRequest(text, sizeof text);
  (void)!::write(STDERR_FILENO, text, std::strlen(text));
  if (action == TStopAction::EndNow) {
    std::signal(Number, SIG_DFL);
    std::raise(Number);
  }
  errno = saved_errno;
}

}  // namespace

void InstallInterruptHandlers() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // The signals share the handler and never interrupt each other.
  for (int number : StopSignals)
    sigaddset(&action.sa_mask, number);
  action.sa_flags = SA_RESTART;
  for (int number : StopSignals)
    sigaction(number, &action, nullptr);
  // A closed pipe, or a file grown to the size limit, gives a write error that the command
  // reports, rather than ending the program before it can say so.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace zo
