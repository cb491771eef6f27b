// Stop requests on Linux: SIGINT (Ctrl+C) and SIGTERM.
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "cli/Interrupt.h"

namespace zo {

namespace {

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
  // Both signals share the handler and never interrupt each other.
  sigaddset(&action.sa_mask, SIGINT);
  sigaddset(&action.sa_mask, SIGTERM);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void IgnoreBrokenPipes() {
  std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace zo
