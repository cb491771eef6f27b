// What a run of zocfg leaves on standard output with --json, whatever happened: one document.
//
// A command that succeeds prints its own document, which starts with "ok": true; a run that fails
// (a usage error included) prints instead
//
//   {
//     "ok": false,
//     "command": "write",          (null when the command line named none)
//     "status": 1,
//     "message": "Interrupted.\nSent: none (0 of 17 settings)."
//   }
//
// with the same keys for every command: the messages of the error kind shown on standard error,
// with their lines of context.
#pragma once

#include <string>

#include "cli/Json.h"
#include "cli/Options.h"

namespace zo {

std::string FailureDocument(TCommand Command, int Status, const std::string& Message);

// The start of a command's document: "ok": true, the command's members follow.
TJson SucceededDocument();

// Two files of the run that are one file, where one would destroy the other: --out and --text,
// or a --trace that names an input of the run (the settings file to send, the port or
// VERSION.DAT) or another output. The usage error, or empty. Files that exist are compared by
// device and inode (device files by the device they reach), names of files that do not exist yet
// by their folder and name. A port given by number is the device that number reaches (ZO_COM<n>,
// else the numbering of the serial ports).
std::string OutputConflict(const TOptions& Options);

// Why a file cannot be read, in the system's words ("No such file or directory", "Is a
// directory", "Permission denied").
std::string WhyUnreadable(const std::string& Path);

}  // namespace zo
