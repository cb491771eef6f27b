#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "platform/Files.h"

namespace zo {

std::FILE* OpenFile(const std::string& Path, const char* Mode) {
  return std::fopen(Path.c_str(), Mode);
}

std::string ExecutableFolder() {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return ".";
  const std::string path(buffer, static_cast<std::size_t>(n));
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

THeldOutput::THeldOutput() : stream_(open_memstream(&buffer_, &size_)) {}

THeldOutput::~THeldOutput() {
  Take();
}

std::string THeldOutput::Take() {
  if (stream_ == nullptr) return "";
  std::fclose(stream_);
  stream_ = nullptr;
  std::string text(buffer_, size_);
  std::free(buffer_);
  buffer_ = nullptr;
  return text;
}

}  // namespace zo
