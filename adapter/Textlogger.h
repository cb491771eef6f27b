// The in-memory diagnostic log of adapter events (what detection found, reprogram runs, the
// bootblock's version frame). Capped by a line count, safe to call from any thread, never written
// to disk. Every routine only tries the log's lock: a call that meets the lock held by another
// thread gives up instead of blocking.
#pragma once

#include <string>

namespace zo {

// Lines != 0: sets the limit and switches logging on (an existing log keeps its lines; the limit
// applies at the next LogText). Lines = 0: logging off, the log is freed. False, with nothing
// changed, when another thread holds the lock.
bool SetLogSize(int Lines);

// Appends an entry: an empty line, "_______  " with the date and time, and the message split into
// lines at CR, LF and CR LF; then trims the oldest entries while the log has too many lines.
// The same message as the newest entry's is not added again: the entry's last line counts it
// instead ("  Badly programmed DL2 detected (repeated 40 times)"; "(repeated once)" for one).
void LogText(const std::string& Msg);

// A log line without the repeat count LogText may have added to it.
std::string WithoutRepeatCount(const std::string& Line);

// The whole log, each line ended by CR LF; empty when logging is off or the lock is held.
void GetLogText(std::string& Text);

}  // namespace zo
