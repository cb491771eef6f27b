#include <windows.h>
// After windows.h:
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <vector>

#include "platform/Files.h"
#include "platform/WindowsText.h"

namespace zo {

std::FILE* OpenFile(const std::string& Path, const char* Mode) {
  std::string mode = Mode;
  if (mode.find('b') == std::string::npos) mode += 'b';
  return _wfopen(WideOf(Path).c_str(), WideOf(mode).c_str());
}

int CreateForWriting(const std::string& Path) {
  return _wopen(WideOf(Path).c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT,
                _S_IREAD | _S_IWRITE);
}

bool SameExistingFile(const std::string& A, const std::string& B) {
  std::error_code error;
  return std::filesystem::equivalent(PathOf(A), PathOf(B), error);
}

std::string ExecutableFolder() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return ".";
    if (n < buffer.size()) break;
    buffer.resize(buffer.size() * 2);  // a long path, beyond MAX_PATH
  }
  const std::string path = Utf8Of(buffer.data());
  const auto slash = path.find_last_of("\\/");
  if (slash == std::string::npos) return ".";
  return path.substr(0, slash);
}

// A temporary file stands in for a memory stream, which Windows lacks; it is removed at Take.
THeldOutput::THeldOutput() {
  wchar_t folder[MAX_PATH + 1];
  wchar_t name[MAX_PATH + 1];
  if (GetTempPathW(MAX_PATH + 1, folder) == 0 || GetTempFileNameW(folder, L"zo", 0, name) == 0)
    return;
  stream_ = _wfopen(name, L"w+b");
  if (stream_ == nullptr)
    DeleteFileW(name);
  else
    file_ = Utf8Of(name);
}

THeldOutput::~THeldOutput() {
  Take();
}

std::string THeldOutput::Take() {
  if (stream_ == nullptr) return "";
  std::string text;
  std::fflush(stream_);
  std::rewind(stream_);
  char chunk[8192];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, stream_)) > 0;)
    text.append(chunk, n);
  std::fclose(stream_);
  stream_ = nullptr;
  DeleteFileW(WideOf(file_).c_str());
  return text;
}

}  // namespace zo
