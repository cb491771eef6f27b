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
#include <vector>

#include "settings/AtomicFile.h"
#include "settings/AtomicFileParts.h"

namespace zo {

namespace {

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

// This host's name as it appears in temporary names.
std::string HostName() {
  char buffer[256] = {};
  if (gethostname(buffer, sizeof buffer - 1) != 0) return "";
  return buffer;
}

// The stem of this process's temporary names for `target`.
std::string OwnTempStem(const std::string& target) {
  return TempStem(target, HostName(), static_cast<long>(getpid()));
}

// Removes the temporary files that earlier writers of `target` on this host left when they were
// killed between naming their file and renaming it over the target. Only a name in exactly our
// pattern whose writer no longer runs goes; everything else in the folder stays.
void RemoveLeftovers(const std::string& target) {
  const std::string folder = FolderOf(target);
  const std::string prefix = TempPrefix(target, HostName()).substr(target.rfind('/') + 1);
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    const long pid = LeftoverWriter(name, prefix);
    if (pid > 0 && pid != getpid() && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
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
  std::string pattern = OwnTempStem(target) + std::string(TempTagLength, 'X');
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
  const std::string proc = "/proc/self/fd/" + std::to_string(fd);
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = OwnTempStem(target) + TempTag();
    if (linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
    if (errno != EEXIST) return false;
  }
  return false;
}

// How a replacement through a temporary file ended.
enum class TReplace { Done, NoTemporary, Failed };

// Writes `data` to a temporary file beside `target`, flushes it and renames it over the target.
// NoTemporary when the folder lets this process neither create the temporary file nor rename it
// over the target (the target is then untouched and nothing is left).
TReplace ReplaceThroughTemp(const std::string& target, const std::string& data, mode_t mode,
                            std::string* error) {
  std::string temp;
  bool named = false;
  const bool allowed = StepAllowed(TAtomicStep::Create);
  const int fd = allowed ? CreateTemp(target, mode, named, temp) : -1;
  if (fd < 0) {
    Fail(error, "cannot create a temporary file beside " + target, allowed ? errno : EACCES);
    return TReplace::NoTemporary;
  }
  auto abandon = [&](const std::string& what, int err) {
    close(fd);
    if (named) unlink(temp.c_str());
    Fail(error, what, err);
    return TReplace::Failed;
  };
  if (fchmod(fd, mode) != 0)
    return abandon("cannot set the permissions of the new " + target, errno);
  if (!StepAllowed(TAtomicStep::Write)) return abandon("cannot write the new " + target, EIO);
  if (!WriteAll(fd, data)) return abandon("cannot write the new " + target, errno);
  if (!StepAllowed(TAtomicStep::Sync)) return abandon("cannot flush the new " + target, EIO);
  if (fsync(fd) != 0) return abandon("cannot flush the new " + target, errno);
  if (!named) {
    if (!NameTemp(fd, target, temp)) return abandon("cannot name the new " + target, errno);
    named = true;
  }
  if (close(fd) != 0) {
    const int err = errno;
    unlink(temp.c_str());
    Fail(error, "cannot close " + temp, err);
    return TReplace::Failed;
  }
  if (!StepAllowed(TAtomicStep::Rename)) {
    unlink(temp.c_str());
    Fail(error, "cannot rename " + temp, EACCES);
    return TReplace::Failed;
  }
  if (rename(temp.c_str(), target.c_str()) != 0) {
    const int err = errno;
    unlink(temp.c_str());
    Fail(error, "cannot rename " + temp + " to " + target, err);
    // A folder with the sticky bit lets only a file's owner replace it.
    return err == EACCES || err == EPERM ? TReplace::NoTemporary : TReplace::Failed;
  }
  SyncFolder(FolderOf(target));
  return TReplace::Done;
}

// Writes `data` over the target itself: truncate, write, flush to the disk. For a target whose
// folder this process may not change. A failure after the truncation puts the previous bytes back
// where it can, so that a full disk does not cost the file it failed to replace.
bool WriteInPlace(const std::string& target, const std::string& data, mode_t mode,
                  std::string* error) {
  std::string previous;
  const bool kept = ReadWholeFile(target, std::max<std::size_t>(1 << 20, data.size()), previous) ==
                    TReadResult::Ok;
  if (!StepAllowed(TAtomicStep::InPlace))
    return Fail(error, "cannot open " + target + " for writing", EACCES);
  const int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return Fail(error, "cannot open " + target + " for writing", errno);
  errno = 0;
  const bool written = StepAllowed(TAtomicStep::Write) && WriteAll(fd, data) &&
                       StepAllowed(TAtomicStep::Sync) && fsync(fd) == 0;
  const int err = errno != 0 ? errno : EIO;
  if (!written && kept && ftruncate(fd, 0) == 0 && lseek(fd, 0, SEEK_SET) == 0 &&
      WriteAll(fd, previous))
    fsync(fd);
  if (close(fd) != 0 && written) return Fail(error, "cannot close " + target, errno);
  return written || Fail(error, "cannot write " + target, err);
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
  const TReplace replaced = ReplaceThroughTemp(target, Data, mode, Error);
  if (replaced != TReplace::NoTemporary) return replaced == TReplace::Done;
  // The folder does not let us replace the file in one step; the file itself may still be
  // writable (a settings file in a shared folder, a VERSION.DAT beside an installed program).
  return WriteInPlace(target, Data, mode, Error);
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
