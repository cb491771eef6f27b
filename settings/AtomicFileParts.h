// What AtomicWriteFile does alike on every platform (AtomicFile<platform>.cpp): the failure seam,
// and the names of temporary files with the rule for the leftovers of killed writers.
#pragma once

#include <string>

#include "settings/AtomicFile.h"

namespace zo {

// False when the test seam makes `Step` fail.
bool StepAllowed(TAtomicStep Step);

// Temporary names are "<target>.tmp-<host>-<pid>-<six letters or digits>": the host and the
// process tell the leftover of a writer that was killed on this machine from a file that another
// writer (on this host or on another one sharing the folder) is still writing, and from the user's
// own files whose names merely look alike.
constexpr std::size_t TempTagLength = 6;

// "<target>.tmp-<host>-": how every temporary name of `Target` written on `Host` starts. A folder
// separator in the host's name is replaced by '_'; an empty name is "localhost".
std::string TempPrefix(const std::string& Target, const std::string& Host);

// "<target>.tmp-<host>-<pid>-": the temporary name without its tag.
std::string TempStem(const std::string& Target, const std::string& Host, long Pid);

// A tag of TempTagLength letters and digits, different at each call.
std::string TempTag();

// The id of the writer whose leftover `Name` is: the name must be exactly our pattern for
// `Prefix` (the target's name, ".tmp-", this host, "-"), followed by a process id, "-" and the
// six-character tag. 0 when it is not ours.
long LeftoverWriter(const std::string& Name, const std::string& Prefix);

}  // namespace zo
