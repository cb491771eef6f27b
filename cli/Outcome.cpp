#include "cli/Outcome.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/Files.h"
#include "settings/VersionFile.h"

namespace zo {

namespace {

namespace fs = std::filesystem;

// The name of a file that does not exist yet, with its folder resolved: two spellings of one
// folder ("out.txt", "./out.txt") give the same text.
fs::path ResolvedName(const fs::path& Path) {
  std::error_code error;
  const fs::path folder = fs::canonical(fs::absolute(Path, error).parent_path(), error);
  return error ? Path : folder / Path.filename();
}

// Files that exist are the same when the system says so (device and inode, or volume and file
// index).
bool SameFile(const std::string& A, const std::string& B) {
  std::error_code error;
  const fs::path a = PathOf(A), b = PathOf(B);
  const bool a_exists = fs::exists(a, error);
  const bool b_exists = fs::exists(b, error);
  if (a_exists && b_exists) return fs::equivalent(a, b, error);
  if (a_exists != b_exists) return false;
  return ResolvedName(a) == ResolvedName(b);
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

std::string TraceConflict(const TOptions& Options) {
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
  if (Options.Port.find_first_of("/\\") != std::string::npos)
    files.push_back({"the port", Options.Port});
  for (const TInput& f : files) {
    if (!f.Path.empty() && SameFile(Options.Trace, f.Path))
      return "--trace " + Options.Trace + " names the same file as " + f.What +
             " (the trace would overwrite it)";
  }
  return "";
}

std::string WhyUnreadable(const std::string& Path) {
  // What the file is, without opening it: opening a pipe could block.
  std::error_code error;
  const fs::file_status status = fs::status(PathOf(Path), error);
  if (fs::is_directory(status)) return std::strerror(EISDIR);
  if (fs::exists(status) && !fs::is_regular_file(status)) return "not a regular file";
  std::FILE* file = OpenFile(Path, "r");
  if (file == nullptr) return std::strerror(errno);
  std::fclose(file);
  return "a read failed";
}

}  // namespace zo
