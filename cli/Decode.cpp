#include "cli/Commands.h"

namespace zo {

int RunDecode(const TOptions&, TTerminalUi&, std::FILE*) {
  return ExitUsage;
}

}  // namespace zo
