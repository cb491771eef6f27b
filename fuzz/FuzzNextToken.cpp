// NextToken on any text: the tokens, in order, are the input's runs of non-delimiters, and it
// always ends, with the cursor on the final NUL.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "adapter/TextTool.h"

using namespace zo;

namespace {

bool IsDelimiter(char c) {
  return c == '\t' || c == ' ' || c == ',';
}

void CheckTokens(const std::string& Text) {
  std::string text = Text.substr(0, Text.find('\0'));  // a C string ends at its first NUL
  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back('\0');
  std::vector<std::string> expected;
  std::string run;
  for (char c : text) {
    if (IsDelimiter(c)) {
      if (!run.empty()) expected.push_back(run);
      run.clear();
    } else {
      run += c;
    }
  }
  if (!run.empty()) expected.push_back(run);

  char* cursor = buffer.data();
  char* const end = buffer.data() + buffer.size() - 1;
  std::size_t i = 0;
  for (;;) {
    const char* token = NextToken(cursor);
    if (cursor < buffer.data() || cursor > end) std::abort();
    if (*token == '\0') break;
    if (i >= expected.size() || expected[i] != token) std::abort();
    ++i;
  }
  if (i != expected.size() || cursor != end) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  CheckTokens(std::string(reinterpret_cast<const char*>(Data), Size));
  return 0;
}
