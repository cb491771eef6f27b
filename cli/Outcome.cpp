#include "cli/Outcome.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/Files.h"
#include "serial/PortNames.h"
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

bool SameFile(const std::string& A, const std::string& B) {
  std::error_code error;
  const fs::path a = PathOf(A), b = PathOf(B);
  const bool a_exists = fs::exists(a, error);
  const bool b_exists = fs::exists(b, error);
  if (a_exists && b_exists) return SameExistingFile(A, B);
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
