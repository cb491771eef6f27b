// A carrier for the bytes of a file built into the program: the main window holds one,
// DL2FWXFile, with the DL2 firmware image and, in Tag, that image's version number. At run time
// the program never reads a firmware file from disk.
#pragma once

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>

namespace zo {

class TBinaryIncluder {
 public:
  TBinaryIncluder();

  // Where the carried bytes came from when the program was built (kept for information only).
  void SetBinarySourceFile(const std::string& Value) { binary_source_file_ = Value; }
  const std::string& BinarySourceFile() const { return binary_source_file_; }

  // The carried bytes. Assigning replaces the stream with a new one positioned at its start.
  std::string BinarySourceContents() const;
  void SetBinarySourceContents(const std::string& Value);

  // The carried bytes as a stream; it always exists. Users rewind it before use.
  std::istream& Stream() { return *stream_; }

  std::int32_t Tag = 0;

 private:
  std::string binary_source_file_;
  std::unique_ptr<std::istringstream> stream_;
};

}  // namespace zo
