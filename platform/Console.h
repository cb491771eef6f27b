// The program's command line and console, in UTF-8 on every platform.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace zo {

// The program's arguments in UTF-8, the program's name first. Linux: `Argv` as given; Windows:
// the command line as the system holds it in wide characters (`Argv` is in the ANSI code page,
// which cannot hold every file name).
std::vector<std::string> ProgramArguments(int Argc, char** Argv);

// Makes the console show UTF-8 text as such (Windows; nothing to do on Linux).
void UseUtf8Console();

// True when `Stream` is a terminal: a console window on Windows (not a file, pipe or NUL).
bool IsTerminal(std::FILE* Stream);

}  // namespace zo
