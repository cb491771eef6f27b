// What the commands of zocfg share (defined in Commands.cpp).
#pragma once

#include <cstdio>
#include <string>

#include "cli/Outcome.h"
#include "cli/Session.h"
#include "settings/SettingsTextFile.h"

namespace zo {

// Writes `Text` to `Out` and flushes it. A write that fails is remembered (with its reason):
// RunCommand then reports it and makes a run that succeeded a file error.
void Print(std::FILE* Out, const std::string& Text);
// True once a Print failed: a command that prints as it goes (monitor) ends then.
bool OutputFailed();
// The "adapter" and "target" members of a command's JSON document.
void JsonAdapter(TJson& J, const TSession& S);
void JsonTarget(TJson& J, const TSession& S);
// Checks a settings file or text (told apart as the loader tells them apart) before the device is
// touched: it can be opened, a settings file is whole with its checksum, a text holds at most
// MaxSettingsTextBytes and every line of it is understood. ExitOk, with `IsText` set and `Parsed`
// holding a text; else ExitFile after the message and, for a file that cannot be opened, why.
int CheckSettingsInput(const std::string& File, TTerminalUi& Ui, TSettingsText& Parsed,
                       bool& IsText);
// Opens the session up to a connected target with every setting read; ExitOk or the failure.
int Connect(TSession& S);

}  // namespace zo
