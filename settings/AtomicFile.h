// Whole-file reads and replace-in-one-step writes for the files the settings model keeps on disk
// (VERSION.DAT, settings files).
//
// A write goes to a temporary file in the target's folder, is flushed to the disk and then
// renamed over the target, so a reader sees either the old file or the complete new one, never a
// truncated or half-written file, and no temporary file is left behind on success or failure.
// The temporary file has no name until just before the rename (where the file system allows
// that), so a process killed while it writes leaves nothing; a named one that a killed writer
// left ("<target>.tmp-<host>-<pid>-<6 letters or digits>") is removed by the next write of the
// same target on the same host once that process no longer runs. No other file is touched.
//
// Where the folder lets this process neither create the temporary file nor replace the target
// (a folder it may not write, a shared folder with the sticky bit), a target that it may write is
// written in place instead: truncated, written and flushed to the disk.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace zo {

// The steps of AtomicWriteFile, named for the failure seam below. Create makes the temporary
// file; InPlace opens the target for the in-place write that follows when Create fails; Write and
// Sync belong to whichever of the two writes runs.
enum class TAtomicStep { Create, Write, Sync, Rename, InPlace };

// Replaces (or creates) `Path` with exactly `Data`. An existing target keeps its permission bits
// and must be writable by this process and not marked read-only (no write permission for anyone:
// refused even for root); a new one gets the usual permissions (0666 less the
// umask). A symbolic link is followed: the file it names is replaced. False on any failure, with
// the target unchanged (an in-place write that fails puts the previous bytes back where it can)
// and no temporary file left; `Error` (when given) then says why.
bool AtomicWriteFile(const std::string& Path, const std::string& Data,
                     std::string* Error = nullptr);

// Test seam: when installed, the hook is asked before each step and a false answer makes that
// step fail as an I/O error would. An empty hook removes it. Not for use by program code.
using TAtomicFailureHook = std::function<bool(TAtomicStep Step)>;
void SetAtomicWriteFailureHook(TAtomicFailureHook Hook);

// The outcome of ReadWholeFile.
enum class TReadResult { Ok, CannotOpen, TooLarge };

// Reads a regular file, opened read-only, into `Data` (at most `MaxBytes` bytes). CannotOpen when
// the file is missing, unreadable, not a regular file (a folder, a device, a pipe: nothing can
// block) or a read fails; TooLarge when it holds more than `MaxBytes` (then `Data` holds the first
// `MaxBytes`). The file is never changed.
TReadResult ReadWholeFile(const std::string& Path, std::size_t MaxBytes, std::string& Data);

// As ReadWholeFile, but reads only the first `Bytes` bytes (fewer when the file is shorter) and
// never gives TooLarge.
TReadResult ReadFileStart(const std::string& Path, std::size_t Bytes, std::string& Data);

}  // namespace zo
