// The stop rules of zocfg, the same on every platform; Interrupt<platform>.cpp delivers the
// requests (signals on Linux, the console's control events on Windows).
#include <atomic>
#include <cstring>

#include "cli/Interrupt.h"

namespace zo {

namespace {

// Lock-free atomics: read and written by the handler, on whichever thread it runs.
std::atomic<int> requests{0};
std::atomic<bool> programming{false};
std::atomic<int> seconds_left{0};

// Appends `Text` within `Size`, always terminated.
void Append(char* Buffer, std::size_t Size, const char* Text) {
  std::size_t at = std::strlen(Buffer);
  for (; *Text != '\0' && at + 1 < Size; ++Text)
    Buffer[at++] = *Text;
  Buffer[at] = '\0';
}

}  // namespace

TStopAction NoteStopRequest(char* Text, std::size_t Size) {
  Text[0] = '\0';
  const int earlier = requests.fetch_add(1);
  if (programming.load()) {
    // Only what is async-signal-safe: the number is formatted by hand.
    Append(Text, Size, "\nProgramming the DL2 - this cannot be interrupted, about ");
    int seconds = seconds_left.load();
    if (seconds < 1) seconds = 1;
    char digits[12];
    int count = 0;
    for (; seconds > 0 && count < 11; seconds /= 10)
      digits[count++] = static_cast<char>('0' + seconds % 10);
    char number[12];
    for (int i = 0; i < count; ++i)
      number[i] = digits[count - 1 - i];
    number[count] = '\0';
    Append(Text, Size, number);
    Append(Text, Size, " s left\n");
    return TStopAction::Hold;
  }
  if (earlier == 0) {
    Append(Text, Size, "\nStopping after the current frame...\n");
    return TStopAction::Stop;
  }
  return TStopAction::EndNow;
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
