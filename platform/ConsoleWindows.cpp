#include <windows.h>
// After windows.h:
#include <io.h>
#include <shellapi.h>

#include "platform/Console.h"
#include "platform/WindowsText.h"

namespace zo {

std::vector<std::string> ProgramArguments(int Argc, char** Argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(Argv, Argv + Argc);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i)
    arguments.push_back(Utf8Of(wide[i]));
  LocalFree(wide);
  return arguments;
}

void UseUtf8Console() {
  SetConsoleOutputCP(CP_UTF8);
}

bool IsTerminal(std::FILE* Stream) {
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(Stream)));
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

}  // namespace zo
