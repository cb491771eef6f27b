// What the commands of zocfg share (defined in Commands.cpp).
#pragma once

#include <cstdio>
#include <string>

#include "cli/Outcome.h"
#include "cli/Session.h"

namespace zo {

// Writes `Text` to `Out` and flushes it.
void Print(std::FILE* Out, const std::string& Text);
// The "adapter" and "target" members of a command's JSON document.
void JsonAdapter(TJson& J, const TSession& S);
void JsonTarget(TJson& J, const TSession& S);
// Opens the session up to a connected target with every setting read; ExitOk or the failure.
int Connect(TSession& S);

}  // namespace zo
