#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "platform/Files.h"

namespace zo {

std::FILE* OpenFile(const std::string& Path, const char* Mode) {
  return std::fopen(Path.c_str(), Mode);
}

int CreateForWriting(const std::string& Path) {
  return ::open(Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
}

bool SameExistingFile(const std::string& A, const std::string& B) {
  struct stat a {
  }, b{};
  if (::stat(A.c_str(), &a) != 0 || ::stat(B.c_str(), &b) != 0) return false;
  if (S_ISCHR(a.st_mode) && S_ISCHR(b.st_mode) && a.st_rdev == b.st_rdev) return true;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
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
