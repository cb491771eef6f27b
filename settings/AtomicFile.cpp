#include "settings/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace zo {

namespace {

std::mutex hook_mutex;
TAtomicFailureHook failure_hook;

// False when the test seam makes `step` fail.
bool StepAllowed(TAtomicStep step) {
  std::lock_guard<std::mutex> lock(hook_mutex);
  return !failure_hook || failure_hook(step);
}

bool Fail(std::string* error, const std::string& what, int err) {
  if (error != nullptr) *error = what + (err != 0 ? ": " + std::string(std::strerror(err)) : "");
  return false;
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The file a path names, following symbolic links; the path itself when it names nothing yet.
std::string ResolveTarget(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char buffer[PATH_MAX];
  if (realpath(path.c_str(), buffer) == nullptr) return path;
  return buffer;
}

bool WriteAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

void SyncFolder(const std::string& folder) {
  // Best effort: makes the rename itself durable. Some file systems refuse fsync on a folder.
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

void SetAtomicWriteFailureHook(TAtomicFailureHook Hook) {
  std::lock_guard<std::mutex> lock(hook_mutex);
  failure_hook = std::move(Hook);
}

bool AtomicWriteFile(const std::string& Path, const std::string& Data, std::string* Error) {
  if (Path.empty()) return Fail(Error, "empty file name", 0);
  const std::string target = ResolveTarget(Path);

  mode_t mode = 0;
  struct stat st {};
  if (stat(target.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) return Fail(Error, target + " is not a regular file", 0);
    // A read-only file stays as it is, even though its folder would allow the rename.
    if (access(target.c_str(), W_OK) != 0) return Fail(Error, target, errno);
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }

  std::string temp = target + ".tmp-XXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  if (!StepAllowed(TAtomicStep::Create)) return Fail(Error, "cannot create " + temp, EACCES);
  const int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return Fail(Error, "cannot create a temporary file beside " + target, errno);
  temp.assign(name.data());

  auto abandon = [&](const std::string& what, int err) {
    close(fd);
    unlink(temp.c_str());
    return Fail(Error, what, err);
  };
  if (fchmod(fd, mode) != 0) return abandon("cannot set the permissions of " + temp, errno);
  if (!StepAllowed(TAtomicStep::Write)) return abandon("cannot write " + temp, EIO);
  if (!WriteAll(fd, Data)) return abandon("cannot write " + temp, errno);
  if (!StepAllowed(TAtomicStep::Sync)) return abandon("cannot flush " + temp, EIO);
  if (fsync(fd) != 0) return abandon("cannot flush " + temp, errno);
  if (close(fd) != 0) {
    const int err = errno;
    unlink(temp.c_str());
    return Fail(Error, "cannot close " + temp, err);
  }
  if (!StepAllowed(TAtomicStep::Rename)) {
    unlink(temp.c_str());
    return Fail(Error, "cannot rename " + temp, EACCES);
  }
  if (rename(temp.c_str(), target.c_str()) != 0) {
    const int err = errno;
    unlink(temp.c_str());
    return Fail(Error, "cannot rename " + temp + " to " + target, err);
  }
  SyncFolder(FolderOf(target));
  return true;
}

namespace {

// Reads up to `max_bytes`; `whole` asks for the whole file (more is TooLarge).
TReadResult ReadRegularFile(const std::string& path, std::size_t max_bytes, bool whole,
                            std::string& data) {
  data.clear();
  // Non-blocking open: a pipe without a writer must not hang the caller.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return TReadResult::CannotOpen;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return TReadResult::CannotOpen;
  }
  if (whole && st.st_size > 0 && static_cast<unsigned long long>(st.st_size) > max_bytes) {
    close(fd);
    return TReadResult::TooLarge;
  }
  char buffer[8192];
  TReadResult result = TReadResult::Ok;
  while (data.size() < max_bytes || whole) {
    const std::size_t room = max_bytes - data.size();
    const std::size_t want = whole ? sizeof buffer : std::min(room, sizeof buffer);
    const ssize_t n = read(fd, buffer, want);
    if (n < 0) {
      if (errno == EINTR) continue;
      result = TReadResult::CannotOpen;
      break;
    }
    if (n == 0) break;
    if (static_cast<std::size_t>(n) > room) {
      // The file grew while it was read.
      data.append(buffer, room);
      result = TReadResult::TooLarge;
      break;
    }
    data.append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  return result;
}

}  // namespace

TReadResult ReadWholeFile(const std::string& Path, std::size_t MaxBytes, std::string& Data) {
  return ReadRegularFile(Path, MaxBytes, true, Data);
}

TReadResult ReadFileStart(const std::string& Path, std::size_t Bytes, std::string& Data) {
  return ReadRegularFile(Path, Bytes, false, Data);
}

}  // namespace zo
