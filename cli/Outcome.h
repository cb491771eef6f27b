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

// A --trace that names the same file as an input of the run (the settings file to send, the port
// or VERSION.DAT) or as --out would destroy it or be destroyed: the usage error, or empty. Files
// that exist are compared by device and inode, names of files that do not exist yet by their
// folder and name.
std::string TraceConflict(const TOptions& Options);

// Why a file cannot be read, in the system's words ("No such file or directory", "Is a
// directory", "Permission denied").
std::string WhyUnreadable(const std::string& Path);

}  // namespace zo
