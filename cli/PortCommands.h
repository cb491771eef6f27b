// The port diagnostics of zocfg: `ports` lists the serial ports with what decides whether they
// suit an adapter, `check-port --loopback` checks one through a loopback plug.
#pragma once

#include <cstdio>

#include "cli/Options.h"
#include "cli/TerminalUi.h"
#include "serial/PortInfo.h"

namespace zo {

// One line per serial port of `System` (or one JSON document); notes go to `Ui`. ExitOk.
int ListPorts(const TOptions& Options, TTerminalUi& Ui, std::FILE* Out,
              const TPortSystem& System = TPortSystem::Live());

// Opens the port of --port and checks it through a loopback. ExitOk only when every use
// passes; ExitCommunication when a use fails or cannot be shown, or the port cannot be opened
// or vanishes; ExitFile when the trace file cannot be created.
int CheckPort(const TOptions& Options, TTerminalUi& Ui, std::FILE* Out);

}  // namespace zo
