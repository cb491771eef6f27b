// Files named in UTF-8 on every platform, and the program's own folder.
//
// File names travel through the program as UTF-8 text. On Windows they reach the system through
// its wide-character calls, so that a name outside the ANSI code page (a technician's folder
// "Überspannung", a customer's name in Greek) opens the file it names.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

namespace zo {

// The path of a UTF-8 file name, for std::filesystem (which takes a plain string in the ANSI code
// page on Windows).
inline std::filesystem::path PathOf(const std::string& Utf8) {
  return std::filesystem::path(
      std::u8string(reinterpret_cast<const char8_t*>(Utf8.data()), Utf8.size()));
}

// The UTF-8 text of a path.
inline std::string TextOf(const std::filesystem::path& Path) {
  const std::u8string text = Path.u8string();
  return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

// std::fopen for a UTF-8 name, always in binary mode: the bytes written are the bytes given on
// every platform (Windows adds no carriage return before each line feed). errno tells why it
// failed.
std::FILE* OpenFile(const std::string& Path, const char* Mode);

// Creates or empties `Path` for writing: a file descriptor for write(), binary on every platform,
// not inherited by programs started later. -1 with errno set when it cannot.
int CreateForWriting(const std::string& Path);

// True when the existing files `A` and `B` are one: the same file (device and inode on Linux,
// volume and file index on Windows), or two device nodes of one device (a terminal and a node
// made for it are one line).
bool SameExistingFile(const std::string& A, const std::string& B);

// The folder of the running program ("/usr/lib/zoconfigure", "C:\Program Files\ZO configure");
// "." when the system cannot tell.
std::string ExecutableFolder();

// A stream whose output is held in memory until Take: what a command prints is kept back and
// printed, or replaced, as a whole.
class THeldOutput {
 public:
  THeldOutput();
  ~THeldOutput();
  THeldOutput(const THeldOutput&) = delete;
  THeldOutput& operator=(const THeldOutput&) = delete;

  // Null when the stream could not be made.
  std::FILE* Stream() const { return stream_; }
  // Closes the stream and gives what was written to it.
  std::string Take();

 private:
  std::FILE* stream_ = nullptr;
  char* buffer_ = nullptr;  // the memory behind the stream
  std::size_t size_ = 0;
  std::string file_;  // or the temporary file, where the system has no memory streams
};

}  // namespace zo
