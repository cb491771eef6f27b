#include "cli/Outcome.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "serial/PortNames.h"
#include "settings/VersionFile.h"

namespace zo {

namespace {

// The name of a file that does not exist yet, with its folder resolved: two spellings of one
// folder ("out.txt", "./out.txt") give the same text.
std::string ResolvedName(const std::string& Path) {
  const std::size_t slash = Path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : Path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? Path : Path.substr(slash + 1);
  char resolved[PATH_MAX];
  if (::realpath(folder.c_str(), resolved) == nullptr) return Path;
  return std::string(resolved) + "/" + name;
}

bool SameFile(const std::string& A, const std::string& B) {
  struct stat a {
  }, b{};
  const bool a_exists = ::stat(A.c_str(), &a) == 0;
  const bool b_exists = ::stat(B.c_str(), &b) == 0;
  if (a_exists && b_exists) {
    // Two device files of one terminal (a port and a node made for it) are one line.
    if (S_ISCHR(a.st_mode) && S_ISCHR(b.st_mode) && a.st_rdev == b.st_rdev) return true;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
  }
  if (a_exists != b_exists) return false;
  return ResolvedName(A) == ResolvedName(B);
}

}  // namespace

std::string FailureDocument(TCommand Command, int Status, const std::string& Message) {
  TJson j;
  j["ok"] = false;
  j["command"] = Command == TCommand::None ? TJson(nullptr) : TJson(CommandName(Command));
  j["status"] = Status;
  j["message"] = Message;
  return JsonText(j);
}

TJson SucceededDocument() {
  return {{"ok", true}};
}

std::string OutputConflict(const TOptions& Options) {
  if (!Options.Out.empty() && !Options.Text.empty() && SameFile(Options.Out, Options.Text))
    return "--out " + Options.Out + " and --text " + Options.Text +
           " name the same file (one would overwrite the other)";
  if (Options.Trace.empty()) return "";
  struct TInput {
    const char* What;
    std::string Path;
  };
  std::vector<TInput> files = {{"the settings file to send", Options.File},
                               {"--out", Options.Out},
                               {"--text", Options.Text},
                               {"--csv", Options.Csv == "-" ? "" : Options.Csv},
                               {"VERSION.DAT", VersionFilePath(ExecutableFolder())}};
  for (const std::string& file : Options.Files)
    files.push_back({"an input file", file});
  // The port as the program opens it: a path, or the device a port number reaches.
  TPortTarget port;
  std::string error;
  if (ParsePort(Options.Port, port, error))
    files.push_back({"the port", port.Number != 0 ? PortDevicePath(port.Number) : port.Path});
  for (const TInput& f : files) {
    if (!f.Path.empty() && SameFile(Options.Trace, f.Path))
      return "--trace " + Options.Trace + " names the same file as " + f.What +
             " (the trace would overwrite it)";
  }
  return "";
}

std::string WhyUnreadable(const std::string& Path) {
  const int fd = ::open(Path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  struct stat st {};
  const bool known = ::fstat(fd, &st) == 0;
  ::close(fd);
  if (known && S_ISDIR(st.st_mode)) return std::strerror(EISDIR);
  if (known && !S_ISREG(st.st_mode)) return "not a regular file";
  return "a read failed";
}

}  // namespace zo
