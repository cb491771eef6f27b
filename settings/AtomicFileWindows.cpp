#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/WindowsText.h"
#include "settings/AtomicFile.h"
#include "settings/AtomicFileParts.h"

namespace zo {

namespace {

bool Fail(std::string* error, const std::string& what, DWORD code) {
  if (error != nullptr) *error = what + (code != 0 ? ": " + SystemErrorText(code) : "");
  return false;
}

// Where the name in a path starts; either separator counts.
std::size_t NameStart(const std::string& path) {
  const auto slash = path.find_last_of("/\\");
  return slash == std::string::npos ? 0 : slash + 1;
}

// The file a path names, following a symbolic link; the path itself when it names nothing yet
// or is no link.
std::string ResolveTarget(const std::string& path) {
  const std::wstring wide = WideOf(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
    return path;
  HANDLE file = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return path;
  std::vector<wchar_t> buffer(32768);
  const DWORD n = GetFinalPathNameByHandleW(file, buffer.data(), static_cast<DWORD>(buffer.size()),
                                            FILE_NAME_NORMALIZED);
  CloseHandle(file);
  if (n == 0 || n >= buffer.size()) return path;
  return Utf8Of(std::wstring(buffer.data(), n));
}

bool WriteAll(HANDLE file, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size() - done, 1 << 20));
    DWORD written = 0;
    if (!WriteFile(file, data.data() + done, chunk, &written, nullptr) || written == 0)
      return false;
    done += written;
  }
  return true;
}

// This computer's name as it appears in temporary names.
std::string HostName() {
  wchar_t buffer[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(buffer, &size)) return "";
  return Utf8Of(std::wstring(buffer, size));
}

// The stem of this process's temporary names for `target`.
std::string OwnTempStem(const std::string& target) {
  return TempStem(target, HostName(), static_cast<long>(GetCurrentProcessId()));
}

// Whether process `pid` has ended (or never ran); false when it runs or cannot be told.
bool ProcessGone(long pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;
  DWORD code = 0;
  const bool ended = GetExitCodeProcess(process, &code) && code != STILL_ACTIVE;
  CloseHandle(process);
  return ended;
}

// Removes the temporary files that earlier writers of `target` on this computer left when they
// were killed between creating their file and moving it over the target. Only a name in exactly
// our pattern whose writer no longer runs goes; everything else in the folder stays.
void RemoveLeftovers(const std::string& target) {
  const std::string folder = target.substr(0, NameStart(target));
  const std::string prefix = TempPrefix(target, HostName()).substr(NameStart(target));
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(WideOf(folder + prefix + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = Utf8Of(found.cFileName);
    const long pid = LeftoverWriter(name, prefix);
    if (pid > 0 && pid != static_cast<long>(GetCurrentProcessId()) && ProcessGone(pid))
      DeleteFileW(WideOf(folder + name).c_str());
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

// How a replacement through a temporary file ended.
enum class TReplace { Done, NoTemporary, Failed };

// Moves the flushed temporary file over the target: ReplaceFileW for a target that exists (it
// keeps the target's attributes and permissions), MoveFileExW with write-through otherwise.
DWORD MoveOver(const std::string& temp, const std::string& target) {
  const std::wstring from = WideOf(temp), to = WideOf(target);
  if (GetFileAttributesW(to.c_str()) != INVALID_FILE_ATTRIBUTES) {
    if (ReplaceFileW(to.c_str(), from.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                     nullptr))
      return 0;
    const DWORD error = GetLastError();
    // Access refused: the folder or the file does not let this process replace it.
    if (error == ERROR_ACCESS_DENIED) return error;
  }
  if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return 0;
  return GetLastError();
}

// Writes `data` to a temporary file beside `target`, flushes it and moves it over the target.
// NoTemporary when the folder lets this process neither create the temporary file nor move it
// over the target (the target is then untouched and nothing is left).
TReplace ReplaceThroughTemp(const std::string& target, const std::string& data,
                            std::string* error) {
  std::string temp;
  HANDLE file = INVALID_HANDLE_VALUE;
  DWORD code = ERROR_ACCESS_DENIED;
  if (StepAllowed(TAtomicStep::Create)) {
    for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
      temp = OwnTempStem(target) + TempTag();
      file = CreateFileW(WideOf(temp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
      code = file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
      if (code != ERROR_FILE_EXISTS) break;
    }
  }
  if (file == INVALID_HANDLE_VALUE) {
    Fail(error, "cannot create a temporary file beside " + target, code);
    return TReplace::NoTemporary;
  }
  auto abandon = [&](const std::string& what, DWORD code) {
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    DeleteFileW(WideOf(temp).c_str());
    Fail(error, what, code);
    return TReplace::Failed;
  };
  if (!StepAllowed(TAtomicStep::Write))
    return abandon("cannot write the new " + target, ERROR_WRITE_FAULT);
  if (!WriteAll(file, data)) return abandon("cannot write the new " + target, GetLastError());
  if (!StepAllowed(TAtomicStep::Sync))
    return abandon("cannot flush the new " + target, ERROR_WRITE_FAULT);
  if (!FlushFileBuffers(file)) return abandon("cannot flush the new " + target, GetLastError());
  if (!CloseHandle(file)) {
    file = INVALID_HANDLE_VALUE;
    return abandon("cannot close " + temp, GetLastError());
  }
  file = INVALID_HANDLE_VALUE;
  if (!StepAllowed(TAtomicStep::Rename))
    return abandon("cannot rename " + temp, ERROR_ACCESS_DENIED);
  if (const DWORD moved = MoveOver(temp, target); moved != 0) {
    abandon("cannot rename " + temp + " to " + target, moved);
    return moved == ERROR_ACCESS_DENIED ? TReplace::NoTemporary : TReplace::Failed;
  }
  return TReplace::Done;
}

// Writes `data` over the target itself: truncate, write, flush to the disk. For a target whose
// folder this process may not change. A failure after the truncation puts the previous bytes back
// where it can, so that a full disk does not cost the file it failed to replace.
bool WriteInPlace(const std::string& target, const std::string& data, std::string* error) {
  std::string previous;
  const bool kept = ReadWholeFile(target, std::max<std::size_t>(1 << 20, data.size()), previous) ==
                    TReadResult::Ok;
  if (!StepAllowed(TAtomicStep::InPlace))
    return Fail(error, "cannot open " + target + " for writing", ERROR_ACCESS_DENIED);
  HANDLE file = CreateFileW(WideOf(target).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return Fail(error, "cannot open " + target + " for writing", GetLastError());
  auto truncate = [file] {
    LARGE_INTEGER zero{};
    return SetFilePointerEx(file, zero, nullptr, FILE_BEGIN) && SetEndOfFile(file);
  };
  SetLastError(0);
  const bool written = truncate() && StepAllowed(TAtomicStep::Write) && WriteAll(file, data) &&
                       StepAllowed(TAtomicStep::Sync) && FlushFileBuffers(file);
  const DWORD code = GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT;
  if (!written && kept && truncate() && WriteAll(file, previous)) FlushFileBuffers(file);
  if (!CloseHandle(file) && written) return Fail(error, "cannot close " + target, GetLastError());
  return written || Fail(error, "cannot write " + target, code);
}

}  // namespace

bool AtomicWriteFile(const std::string& Path, const std::string& Data, std::string* Error) {
  if (Path.empty()) return Fail(Error, "empty file name", 0);
  const std::string target = ResolveTarget(Path);
  const std::wstring wide = WideOf(target);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
      return Fail(Error, target + " is not a regular file", 0);
    // A read-only file stays as it is, even though its folder would allow the replacement.
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0)
      return Fail(Error, target + " is read-only", ERROR_ACCESS_DENIED);
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Fail(Error, target, GetLastError());
    CloseHandle(file);
  }
  RemoveLeftovers(target);
  const TReplace replaced = ReplaceThroughTemp(target, Data, Error);
  if (replaced != TReplace::NoTemporary) return replaced == TReplace::Done;
  // The folder does not let us replace the file in one step; the file itself may still be
  // writable (a settings file in a shared folder, a VERSION.DAT beside an installed program).
  return WriteInPlace(target, Data, Error);
}

namespace {

// Reads up to `max_bytes`; `whole` asks for the whole file (more is TooLarge).
TReadResult ReadRegularFile(const std::string& path, std::size_t max_bytes, bool whole,
                            std::string& data) {
  data.clear();
  HANDLE file = CreateFileW(WideOf(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return TReadResult::CannotOpen;
  // Only a file on a disk: a device or a pipe could block.
  BY_HANDLE_FILE_INFORMATION info{};
  LARGE_INTEGER size{};
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !GetFileSizeEx(file, &size)) {
    CloseHandle(file);
    return TReadResult::CannotOpen;
  }
  if (whole && static_cast<unsigned long long>(size.QuadPart) > max_bytes) {
    CloseHandle(file);
    return TReadResult::TooLarge;
  }
  char buffer[8192];
  TReadResult result = TReadResult::Ok;
  while (data.size() < max_bytes || whole) {
    const std::size_t room = max_bytes - data.size();
    const std::size_t want = whole ? sizeof buffer : std::min(room, sizeof buffer);
    DWORD n = 0;
    if (!ReadFile(file, buffer, static_cast<DWORD>(want), &n, nullptr)) {
      result = TReadResult::CannotOpen;
      break;
    }
    if (n == 0) break;
    if (n > room) {
      // The file grew while it was read.
      data.append(buffer, room);
      result = TReadResult::TooLarge;
      break;
    }
    data.append(buffer, n);
  }
  CloseHandle(file);
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
