#include "cli/Interrupt.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace zo {

namespace {

// Lock-free atomics: read and written by the handler, on whichever thread it runs.
std::atomic<int> requests{0};
std::atomic<bool> programming{false};
std::atomic<int> seconds_left{0};

// Ctrl+C, SIGTERM, a closed terminal or a dropped SSH connection (SIGHUP), and Ctrl+\ (SIGQUIT).
constexpr int StopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void Say(const char* Text) {
  (void)!::write(STDERR_FILENO, Text, std::strlen(Text));
}

void OnSignal(int Number) {
  const int saved_errno = errno;
  const int earlier = requests.fetch_add(1);
  if (programming.load()) {
    // Only what is async-signal-safe: the number is formatted by hand.
    char text[96] = "\nProgramming the DL2 - this cannot be interrupted, about ";
    std::size_t at = std::strlen(text);
    int seconds = seconds_left.load();
    if (seconds < 1) seconds = 1;
    char digits[12];
    int count = 0;
    for (; seconds > 0 && count < 11; seconds /= 10)
      digits[count++] = static_cast<char>('0' + seconds % 10);
    while (count > 0)
      text[at++] = digits[--count];
    std::strcpy(text + at, " s left\n");
    Say(text);
  } else if (earlier == 0) {
    Say("\nStopping after the current frame...\n");
  } else {
    // A second request ends the program at once.
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

bool Interrupted() {
  return requests.load() != 0;
}

void BeginProgramming(int SecondsLeft) {
  seconds_left.store(SecondsLeft);
  programming.store(true);
}

void UpdateProgramming(int SecondsLeft) {
  seconds_left.store(SecondsLeft);
}

void EndProgramming() {
  programming.store(false);
}

bool Programming() {
  return programming.load();
}

void ForgetInterrupts() {
  requests.store(0);
}

}  // namespace zo
