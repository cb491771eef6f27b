#include "connection/LiveCsv.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>

#include "platform/Files.h"
#include "platform/LocalTime.h"

namespace zo {

namespace {

// Local time with milliseconds and the offset from UTC, for example
// 2026-12-09T11:15:03.250+01:00.
std::string IsoTime(std::int64_t WallMs) {
  std::int64_t seconds = WallMs / 1000;
  std::int64_t ms = WallMs % 1000;
  if (ms < 0) {
    ms += 1000;
    --seconds;
  }
  const TLocalTime local = LocalTimeOf(static_cast<std::time_t>(seconds));
  char text[48];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local.Fields);
  const long offset = local.OffsetSeconds / 60;
  const long magnitude = offset < 0 ? -offset : offset;
  char rest[48];
  std::snprintf(rest, sizeof rest, ".%03d%c%02ld:%02ld", static_cast<int>(ms),
                offset < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
  return std::string(text) + rest;
}

// Seconds with three decimals and a dot, whatever the locale.
std::string Seconds(double Value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, Value, std::chars_format::fixed, 3);
  return std::string(text, result.ptr);
}

// A field as CSV writes it: quoted, with its quotes doubled, when it holds a comma, a quote or a
// line break.
std::string Field(const std::string& Text) {
  if (Text.find_first_of(",\"\r\n") == std::string::npos) return Text;
  std::string quoted = "\"";
  for (char c : Text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

}  // namespace

TLiveCsvWriter::~TLiveCsvWriter() {
  Close();
}

std::string TLiveCsvWriter::HeaderText() {
  std::string line = "time,seconds";
  for (const TLiveValueInfo& value : LiveValues())
    line += std::string(",") + value.Name + " (" + value.Unit + ")";
  return line + ",device\n";
}

std::string TLiveCsvWriter::RowText(const TLiveRow& Row, const TLiveHistory& History) {
  std::string line = IsoTime(History.WallMs(Row.Time)) + "," +
                     Seconds(MillisecondsBetween(History.Start(), Row.Time) / 1000.0);
  for (const std::string& value : Row.Values)
    line += "," + value;
  return line + "," + Field(Row.Device) + "\n";
}

bool TLiveCsvWriter::Open(const std::string& Path) {
  Close();
  error_.clear();
  path_ = Path;
  if (Path == "-") return Attach(stdout);
  const int fd = CreateForWriting(Path);
  if (fd < 0) {
    error_ = "Cannot create file: " + Path + " (" + std::strerror(errno) + ")";
    return false;
  }
  fd_ = fd;
  owned_ = true;
  return Put(HeaderText());
}

bool TLiveCsvWriter::Attach(std::FILE* Out) {
  Close();
  error_.clear();
  if (path_.empty()) path_ = "-";
  // Rows go straight to the stream's file; what the stream holds goes first.
  std::fflush(Out);
  fd_ = ::fileno(Out);
  owned_ = false;
  return Put(HeaderText());
}

bool TLiveCsvWriter::Write(const TLiveRow& Row, const TLiveHistory& History) {
  return Put(RowText(Row, History));
}

bool TLiveCsvWriter::Put(const std::string& Text) {
  if (!error_.empty() || fd_ < 0) return false;
  // Where this row begins (-1 on a pipe): a row that cannot be written whole is cut off there, so
  // that the file ends with the last whole row rather than with a number cut short.
  const off_t start = ::lseek(fd_, 0, SEEK_CUR);
  std::size_t done = 0;
  while (done < Text.size()) {
    const ssize_t n = ::write(fd_, Text.data() + done, Text.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    const int code = n < 0 ? errno : EIO;
    error_ = "Cannot write file: " + (path_ == "-" ? std::string("standard output") : path_) +
             " (" + std::strerror(code) + ")";
    struct stat st {};
    if (done > 0 && start >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) &&
        ::ftruncate(fd_, start) == 0)
      ::lseek(fd_, start, SEEK_SET);
    return false;
  }
  return true;
}

bool TLiveCsvWriter::Close() {
  if (fd_ < 0) return error_.empty();
  const int fd = fd_;
  fd_ = -1;
  if (!owned_) return error_.empty();
  owned_ = false;
  if (::close(fd) != 0 && error_.empty())
    error_ = "Cannot write file: " + path_ + " (" + std::strerror(errno) + ")";
  return error_.empty();
}

}  // namespace zo
