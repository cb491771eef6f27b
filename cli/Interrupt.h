// Ctrl+C (SIGINT) and SIGTERM in zocfg.
//
// The first signal sets the request that every wait and every step of a command looks at, and
// says at once what will happen ("Stopping after the current frame..."): the command ends before
// its next frame, with status 1 (monitor ends normally). A second signal ends the program at
// once, except while the DL2 is being programmed: an adapter cut off mid-programming answers no
// more until it is switched off and on, so then every signal is only noted ("Programming the DL2
// - this cannot be interrupted, about 4 s left") and acted on when programming has ended.
#pragma once

namespace zo {

void InstallInterruptHandlers();

// True once SIGINT or SIGTERM has arrived.
bool Interrupted();

// Programming the DL2 begins and ends: signals meanwhile are held over. `SecondsLeft` is the
// estimate that a signal's message gives; UpdateProgramming keeps it current.
void BeginProgramming(int SecondsLeft);
void UpdateProgramming(int SecondsLeft);
void EndProgramming();
bool Programming();

}  // namespace zo
