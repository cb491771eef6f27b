#include "serial/TraceBackend.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/Files.h"

namespace zo {

namespace {

std::mutex failure_mutex;
std::string failure;

std::mutex trace_path_mutex;
std::string trace_path;  // guarded by trace_path_mutex

}  // namespace

std::string TraceWriteFailure() {
  std::lock_guard<std::mutex> lock(failure_mutex);
  return failure;
}

bool TraceOpenedPorts(const std::string& Path) {
  std::lock_guard<std::mutex> lock(trace_path_mutex);
  trace_path.clear();
  if (Path.empty()) return true;
  std::FILE* f = OpenFile(Path, "w");
  if (f == nullptr) return false;
  std::fclose(f);
  trace_path = Path;
  return true;
}

std::unique_ptr<SerialBackend> TracedIfAsked(std::unique_ptr<SerialBackend> Backend) {
  std::lock_guard<std::mutex> lock(trace_path_mutex);
  if (!Backend || trace_path.empty()) return Backend;
  std::FILE* f = OpenFile(trace_path, "a");
  if (f == nullptr) return Backend;
  return std::make_unique<TTraceBackend>(std::move(Backend), f);
}

std::string LineSettingsText(const TLineSettings& Line) {
  return std::to_string(Line.BaudRate) + " 8" + std::string(1, Line.Parity) + "1";
}

TTraceBackend::TTraceBackend(std::unique_ptr<SerialBackend> Inner, std::FILE* Trace)
    : inner_(std::move(Inner)), trace_(Trace), start_(Now()) {
  line_known_ = inner_->GetLine(line_);
  Event("open " + inner_->Describe());
}

TTraceBackend::~TTraceBackend() {
  Event("close");
  inner_.reset();
  std::lock_guard<std::mutex> lock(mutex_);
  if (trace_ != nullptr) Check(std::fclose(trace_) == 0);
  trace_ = nullptr;
}

void TTraceBackend::Check(bool Ok) {
  if (Ok) return;
  const int error = errno;
  {
    std::lock_guard<std::mutex> lock(failure_mutex);
    if (failure.empty()) failure = error != 0 ? std::strerror(error) : "write error";
  }
  // Nothing more is written to a file that failed; it is closed once.
  if (trace_ != nullptr) std::fclose(trace_);
  trace_ = nullptr;
}

std::string TTraceBackend::Stamp() const {
  char text[32];
  std::snprintf(text, sizeof text, "%12.3f", MillisecondsBetween(start_, Now()));
  return text;
}

std::string TTraceBackend::LineText() const {
  return line_known_ ? LineSettingsText(line_) : "?";
}

void TTraceBackend::Event(const std::string& Text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (trace_ == nullptr) return;
  errno = 0;
  const bool ok = std::fprintf(trace_, "%s %s\n", Stamp().c_str(), Text.c_str()) >= 0;
  Check(ok && std::fflush(trace_) == 0);
}

void TTraceBackend::Bytes(const char* Direction, const std::uint8_t* Buffer, int Count,
                          std::uint32_t Errors) {
  if (Count <= 0) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (trace_ == nullptr) return;
  const std::string stamp = Stamp();
  const std::string line = LineText();
  // Error bits belong to the bytes of one read as a whole; a one-byte read (how the DL1 driver
  // reads) carries the flags of exactly that byte.
  std::string errors;
  if (Errors & ceRxParity) errors += " parity error";
  if (Errors & ceFrame) errors += " framing error";
  if (Errors & ceBreak) errors += " break";
  errno = 0;
  bool ok = true;
  for (int i = 0; i < Count && ok; ++i)
    ok = std::fprintf(trace_, "%s %-4s %02X  %s%s\n", stamp.c_str(), Direction, Buffer[i],
                      line.c_str(), errors.c_str()) >= 0;
  Check(ok && std::fflush(trace_) == 0);
}

bool TTraceBackend::GetLine(TLineSettings& Line) {
  return inner_->GetLine(Line);
}

bool TTraceBackend::SetLine(const TLineSettings& Line) {
  const bool ok = inner_->SetLine(Line);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ok) {
      line_ = Line;
      line_known_ = true;
    }
  }
  Event(std::string("line ") + LineSettingsText(Line) + " RTS " + (Line.RtsEnabled ? "on" : "off") +
        " DTR " + (Line.DtrEnabled ? "on" : "off") + (ok ? "" : " (failed)"));
  return ok;
}

bool TTraceBackend::SetTimeouts(const TTimeouts& Timeouts) {
  return inner_->SetTimeouts(Timeouts);
}

bool TTraceBackend::SetQueueSizes(int InQueue, int OutQueue) {
  return inner_->SetQueueSizes(InQueue, OutQueue);
}

int TTraceBackend::Read(std::uint8_t* Buffer, int Count) {
  const int got = inner_->Read(Buffer, Count);
  // The errors are taken here, to be traced with their bytes, and kept for TakeErrors.
  const std::uint32_t errors = inner_->TakeErrors();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    errors_ |= errors;
  }
  Bytes("<DEV", Buffer, got, errors);
  return got;
}

int TTraceBackend::Write(const std::uint8_t* Buffer, int Count) {
  const int sent = inner_->Write(Buffer, Count);
  Bytes("PC>", Buffer, sent, 0);
  if (sent < Count) Event("write: " + std::to_string(Count - sent) + " bytes not sent");
  return sent;
}

std::uint32_t TTraceBackend::TakeErrors() {
  const std::uint32_t more = inner_->TakeErrors();
  std::lock_guard<std::mutex> lock(mutex_);
  const std::uint32_t errors = errors_ | more;
  errors_ = 0;
  return errors;
}

bool TTraceBackend::Purge() {
  const bool ok = inner_->Purge();
  Event(ok ? "purge" : "purge (failed)");
  return ok;
}

bool TTraceBackend::SetBreak(bool On) {
  const bool ok = inner_->SetBreak(On);
  Event(std::string("break ") + (On ? "on" : "off") + (ok ? "" : " (failed)"));
  return ok;
}

bool TTraceBackend::SetRts(bool Asserted) {
  const bool ok = inner_->SetRts(Asserted);
  Event(std::string("RTS ") + (Asserted ? "on" : "off") + (ok ? "" : " (failed)"));
  return ok;
}

bool TTraceBackend::SetDtr(bool Asserted) {
  const bool ok = inner_->SetDtr(Asserted);
  Event(std::string("DTR ") + (Asserted ? "on" : "off") + (ok ? "" : " (failed)"));
  return ok;
}

std::string TTraceBackend::Describe() const {
  return inner_->Describe();
}

}  // namespace zo
