// Stop requests in zocfg. Linux: Ctrl+C (SIGINT), SIGTERM, SIGHUP (the terminal closed, an SSH
// connection dropped) and SIGQUIT, all four alike. Windows: Ctrl+C, Ctrl+Break, and closing the
// console window (or logging off, shutting down).
//
// The first request sets the request that every wait and every step of a command looks at, and
// says at once what will happen ("Stopping after the current frame..."): the command ends before
// its next frame, with status 1 (monitor ends normally). A second request ends the program at
// once, except while the DL2 is being programmed: an adapter cut off mid-programming answers no
// more until it is switched off and on, so then every request is only noted ("Programming the DL2
// - this cannot be interrupted, about 4 s left") and acted on when programming has ended.
//
// Windows gives a program whose console window is closed a few seconds before it ends it: the
// request is noted as a stop and the program's orderly end is awaited for as long as the system
// allows.
#pragma once

#include <cstddef>

namespace zo {

// Installs the handler of the stop requests. On Linux it also ignores SIGPIPE and SIGXFSZ: a
// closed pipe or a file at the size limit then makes the write fail (EPIPE, EFBIG), which the
// command reports (Windows fails such writes anyway).
void InstallInterruptHandlers();

// True once a stop request has arrived.
bool Interrupted();

// Programming the DL2 begins and ends: requests meanwhile are held over. `SecondsLeft` is the
// estimate that a request's message gives; UpdateProgramming keeps it current.
void BeginProgramming(int SecondsLeft);
void UpdateProgramming(int SecondsLeft);
void EndProgramming();
bool Programming();

// Forgets the requests that arrived: for tests that run several commands in one process. Not for
// use by program code.
void ForgetInterrupts();

// For the platform's handler (Interrupt<platform>.cpp): what a stop request does.
enum class TStopAction {
  Stop,   // the first request: the command stops before its next frame
  Hold,   // during programming: noted, acted on afterwards
  EndNow  // a second request outside programming
};

// Counts a request and decides; `Text` (of `Size` bytes) receives what to say on standard error,
// possibly empty. Async-signal-safe: it neither allocates nor locks.
TStopAction NoteStopRequest(char* Text, std::size_t Size);

}  // namespace zo
