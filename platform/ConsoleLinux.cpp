#include <unistd.h>

#include "platform/Console.h"

namespace zo {

std::vector<std::string> ProgramArguments(int Argc, char** Argv) {
  return std::vector<std::string>(Argv, Argv + Argc);
}

void UseUtf8Console() {}

bool IsTerminal(std::FILE* Stream) {
  return ::isatty(::fileno(Stream)) == 1;
}

}  // namespace zo
