// Helpers of the fuzz targets that work on files: one private folder per process, and whole-file
// writes.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace zo::fuzz {

// A folder of this process, created at the first call (in /dev/shm when it exists, so that the
// files never reach a disk) and removed at exit with the files named through File().
// The folder and the file list are never freed: they are used by the exit handler.
inline const std::string& Folder() {
  static const std::string* folder = new std::string([] {
    std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = base + "/zo-fuzz-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr) std::abort();
    return std::string(name.data());
  }());
  return *folder;
}

inline std::vector<std::string>& Files() {
  static auto* files = new std::vector<std::string>;
  return *files;
}

inline void RemoveFiles() {
  for (const std::string& f : Files())
    unlink(f.c_str());
  rmdir(Folder().c_str());
}

// The path of `Name` in the folder; the file is removed at exit.
inline std::string File(const std::string& Name) {
  static const bool registered = (std::atexit(RemoveFiles), true);
  (void)registered;
  const std::string path = Folder() + "/" + Name;
  for (const std::string& f : Files())
    if (f == path) return path;
  Files().push_back(path);
  return path;
}

inline void WriteFile(const std::string& Path, const void* Data, std::size_t Size) {
  FILE* f = std::fopen(Path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (Size > 0 && std::fwrite(Data, 1, Size, f) != Size) std::abort();
  std::fclose(f);
}

}  // namespace zo::fuzz
