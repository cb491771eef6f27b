// Ctrl+C (SIGINT), SIGTERM, SIGHUP (the terminal closed, an SSH connection dropped) and SIGQUIT
// in zocfg; all four alike.
//
// The first signal sets the request that every wait and every step of a command looks at, and
// says at once what will happen ("Stopping after the current frame..."): the command ends before
// its next frame, with status 1 (monitor ends normally). A second signal ends the program at
// once, except while the DL2 is being programmed: an adapter cut off mid-programming answers no
// more until it is switched off and on, so then every signal is only noted ("Programming the DL2
// - this cannot be interrupted, about 4 s left") and acted on when programming has ended.
#pragma once

namespace zo {

// Installs the handler of the four signals, and ignores SIGPIPE and SIGXFSZ: a closed pipe or a
// file at the size limit then makes the write fail (EPIPE, EFBIG), which the command reports.
void InstallInterruptHandlers();

// True once one of the four signals has arrived.
bool Interrupted();

// Programming the DL2 begins and ends: signals meanwhile are held over. `SecondsLeft` is the
// estimate that a signal's message gives; UpdateProgramming keeps it current.
void BeginProgramming(int SecondsLeft);
void UpdateProgramming(int SecondsLeft);
void EndProgramming();
bool Programming();

// Forgets the signals that arrived: for tests that run several commands in one process. Not for
// use by program code.
void ForgetInterrupts();

}  // namespace zo
