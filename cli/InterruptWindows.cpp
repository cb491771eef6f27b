// Stop requests on Windows: the console's control events.
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "cli/Interrupt.h"

namespace zo {

namespace {

std::atomic<bool> ended{false};

void Say(const char* Text) {
  DWORD written = 0;
  if (*Text != '\0')
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), Text, static_cast<DWORD>(std::strlen(Text)), &written,
              nullptr);
}

// Runs on a thread of its own that the system starts for each event.
BOOL WINAPI OnControl(DWORD Event) {
  char text[128];
  const TStopAction action = NoteStopRequest(text, sizeof text);
  Say(text);
  // FALSE passes a second request on to the system's handler, which ends the program.
  if (action == TStopAction::EndNow) return FALSE;
  switch (Event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      return TRUE;
    default:
      // Closing the console, logging off, shutting down: the system ends the program as soon as
      // this returns, or when its few seconds are up. Waiting here lets the command stop in
      // order (and lets programming finish, if it can in that time).
      while (!ended.load())
        Sleep(20);
      return TRUE;
  }
}

void NoteEnd() {
  ended.store(true);
}

}  // namespace

void InstallInterruptHandlers() {
  std::atexit(NoteEnd);
  SetConsoleCtrlHandler(OnControl, TRUE);
}

}  // namespace zo
