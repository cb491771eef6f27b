#include "settings/AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
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

namespace {

// Temporary names are "<target>.tmp-<pid>-<random>", so that the leftover of a writer that was
// killed can be told from the file of a writer that still runs.
std::string TempPrefix(const std::string& target) {
  return target + ".tmp-";
}

// Removes the temporary files that earlier writers of `target` left when they were killed
// between naming their file and renaming it over the target.
void RemoveLeftovers(const std::string& target) {
  const std::string folder = FolderOf(target);
  const std::string prefix = TempPrefix(target).substr(target.rfind('/') + 1);
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
    if (pid <= 0 || (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH))
      unlink((folder + "/" + name).c_str());
  }
  closedir(dir);
}

// A new, empty file for the data: unnamed where the file system allows it (a writer killed before
// the rename then leaves nothing at all), else named. -1 on failure.
int CreateTemp(const std::string& target, mode_t mode, bool& named, std::string& temp) {
  const int fd = open(FolderOf(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
  if (fd >= 0) {
    named = false;
    return fd;
  }
  std::string pattern = TempPrefix(target) + std::to_string(getpid()) + "-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int named_fd = mkostemp(name.data(), O_CLOEXEC);
  if (named_fd < 0) return -1;
  named = true;
  temp.assign(name.data());
  return named_fd;
}

// Gives the unnamed file a temporary name beside the target, for the rename.
bool NameTemp(int fd, const std::string& target, std::string& temp) {
  static std::atomic<unsigned> counter{0};
  const std::string proc = "/proc/self/fd/" + std::to_string(fd);
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = TempPrefix(target) + std::to_string(getpid()) + "-" +
           std::to_string(counter.fetch_add(1) ^ static_cast<unsigned>(std::rand()));
    if (linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
    if (errno != EEXIST) return false;
  }
  return false;
}

}  // namespace

bool AtomicWriteFile(const std::string& Path, const std::string& Data, std::string* Error) {
  if (Path.empty()) return Fail(Error, "empty file name", 0);
  const std::string target = ResolveTarget(Path);

  mode_t mode = 0;
  struct stat st {};
  if (stat(target.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) return Fail(Error, target + " is not a regular file", 0);
    // A read-only file stays as it is, even though its folder would allow the rename. A file
    // that no one may write is marked read-only, also for a process that permissions do not
    // stop (root): its owner meant it to stay.
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
      return Fail(Error, target + " is read-only", EACCES);
    if (access(target.c_str(), W_OK) != 0) return Fail(Error, target, errno);
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  RemoveLeftovers(target);

  std::string temp;
  bool named = false;
  if (!StepAllowed(TAtomicStep::Create))
    return Fail(Error, "cannot create a temporary file beside " + target, EACCES);
  const int fd = CreateTemp(target, mode, named, temp);
  if (fd < 0) return Fail(Error, "cannot create a temporary file beside " + target, errno);

  auto abandon = [&](const std::string& what, int err) {
    close(fd);
    if (named) unlink(temp.c_str());
    return Fail(Error, what, err);
  };
  if (fchmod(fd, mode) != 0)
    return abandon("cannot set the permissions of the new " + target, errno);
  if (!StepAllowed(TAtomicStep::Write)) return abandon("cannot write the new " + target, EIO);
  if (!WriteAll(fd, Data)) return abandon("cannot write the new " + target, errno);
  if (!StepAllowed(TAtomicStep::Sync)) return abandon("cannot flush the new " + target, EIO);
  if (fsync(fd) != 0) return abandon("cannot flush the new " + target, errno);
  if (!named) {
    if (!NameTemp(fd, target, temp)) return abandon("cannot name the new " + target, errno);
    named = true;
  }
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
