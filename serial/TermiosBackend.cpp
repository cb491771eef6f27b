#include "serial/TermiosBackend.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iterator>

#include "serial/ReadTimer.h"
#include "threads/Clock.h"

namespace zo {

namespace {

// How long a read without any time-out waits on a vanished device before it returns 0.
constexpr long long kVanishedWaitMs = 100;
// Longest single poll(); the loop re-checks its deadline after each.
constexpr int kMaxPollMs = 1000;

struct TSpeed {
  std::int32_t Baud;
  speed_t Code;
};

constexpr TSpeed kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool SpeedFor(std::int32_t Baud, speed_t& Code) {
  for (const TSpeed& s : kSpeeds) {
    if (s.Baud == Baud) {
      Code = s.Code;
      return true;
    }
  }
  return false;
}

// Calls a pseudo-terminal refuses (modem lines) count as done.
bool HarmlessFailure(int Error) {
  return Error == ENOTTY || Error == EINVAL;
}

int MillisecondsUntil(TimePoint Deadline, TimePoint Now) {
  if (Deadline == TimePoint::max()) return kMaxPollMs;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(Deadline - Now).count();
  return static_cast<int>(std::clamp<long long>(left, 0, kMaxPollMs));
}

}  // namespace

void TParityMarkDecoder::Feed(const std::uint8_t* Raw, int Count) {
  for (int i = 0; i < Count; ++i) {
    const std::uint8_t b = Raw[i];
    switch (state_) {
      case TState::Plain:
        if (b == 0xFF) {
          state_ = TState::Marked;
        } else {
          Push({b, false});
        }
        break;
      case TState::Marked:
        if (b == 0xFF) {
          Push({0xFF, false});
          state_ = TState::Plain;
        } else if (b == 0x00) {
          state_ = TState::MarkedZero;
        } else {
          // Not a marking the kernel produces: keep both bytes as they came.
          Push({0xFF, false});
          Push({b, false});
          state_ = TState::Plain;
        }
        break;
      case TState::MarkedZero:
        Push({b, true});
        state_ = TState::Plain;
        break;
    }
  }
}

void TParityMarkDecoder::Push(const TByte& Byte) {
  decoded_.push_back(Byte);
  ++uncounted_;
}

void TParityMarkDecoder::Counted(const TLineErrorCounts& Now) {
  // A counter that went back (a driver reloaded) gives no rise.
  unshared_.Parity += std::max(0L, Now.Parity - last_.Parity);
  unshared_.Frame += std::max(0L, Now.Frame - last_.Frame);
  last_ = Now;
  const auto first = decoded_.end() - static_cast<std::ptrdiff_t>(uncounted_);
  uncounted_ = 0;
  const auto errored = static_cast<long>(
      std::count_if(first, decoded_.end(), [](const TByte& B) { return B.Errored; }));
  if (errored == 0) return;
  // Bytes that arrive together share a cause (a USB converter flags a whole packet and counts it
  // once); where both counters rose, which byte had which is unknown, and each may have both.
  const bool parity = unshared_.Parity > 0, framing = unshared_.Frame > 0;
  for (auto b = first; b != decoded_.end(); ++b) {
    b->Parity = b->Errored && parity;
    b->Framing = b->Errored && framing;
  }
  unshared_.Parity = parity ? std::max(0L, unshared_.Parity - errored) : 0;
  unshared_.Frame = framing ? std::max(0L, unshared_.Frame - errored) : 0;
}

void TParityMarkDecoder::Baseline(const TLineErrorCounts& Now) {
  last_ = Now;
  unshared_ = {};
  uncounted_ = 0;
}

TParityMarkDecoder::TByte TParityMarkDecoder::Take() {
  const TByte b = decoded_.front();
  decoded_.pop_front();
  uncounted_ = std::min(uncounted_, decoded_.size());
  return b;
}

void TParityMarkDecoder::Clear() {
  decoded_.clear();
  state_ = TState::Plain;
  uncounted_ = 0;
  unshared_ = {};
}

std::unique_ptr<TermiosBackend> TermiosBackend::Open(const std::string& Path, int& Error) {
  Error = 0;
  const int fd = ::open(Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    Error = errno;
    return nullptr;
  }
  termios t{};
  if (::tcgetattr(fd, &t) != 0) {
    Error = (errno == EINVAL) ? ENOTTY : errno;
    ::close(fd);
    return nullptr;
  }
  if (::ioctl(fd, TIOCEXCL) != 0 && !HarmlessFailure(errno)) {
    Error = errno;
    ::close(fd);
    return nullptr;
  }
  std::unique_ptr<TermiosBackend> backend(new TermiosBackend(fd, Path));
  if (!backend->SetLine(TLineSettings{})) {
    Error = errno != 0 ? errno : EIO;
    return nullptr;
  }
  backend->RequestLowLatency();
  TLineErrorCounts counts;
  backend->error_counts_ = backend->ReadErrorCounts(counts);
  if (backend->error_counts_) {
    backend->decoder_.Baseline(counts);
  } else {
    backend->open_note_ += std::string(backend->open_note_.empty() ? "" : "\n") +
                           "no error counters on " + Path +
                           ": a byte with a framing error counts as one with a parity error";
  }
  return backend;
}

TermiosBackend::TermiosBackend(int Fd, const std::string& Path) : fd_(Fd), path_(Path) {}

TermiosBackend::~TermiosBackend() {
  RestoreLatency();
  ::close(fd_);
}

void TermiosBackend::RequestLowLatency() {
  serial_struct serial{};
  if (::ioctl(fd_, TIOCGSERIAL, &serial) != 0) {
    const int error = errno;
    open_note_ =
        "low-latency mode not available on " + path_ + " (" +
        (error == ENOTTY ? std::string("not a serial port driver") : std::strerror(error)) +
        "); carrying on without it";
    return;
  }
  if ((serial.flags & ASYNC_LOW_LATENCY) != 0) {
    open_note_ = "low-latency mode already on for " + path_;
    return;
  }
  serial.flags |= ASYNC_LOW_LATENCY;
  if (::ioctl(fd_, TIOCSSERIAL, &serial) != 0) {
    open_note_ = "low-latency mode refused for " + path_ + " (" + std::strerror(errno) +
                 "); carrying on without it";
    return;
  }
  restore_latency_ = true;
  open_note_ = "low-latency mode on for " + path_;
}

void TermiosBackend::RestoreLatency() {
  if (!restore_latency_ || vanished_) return;
  serial_struct serial{};
  if (::ioctl(fd_, TIOCGSERIAL, &serial) != 0) return;
  serial.flags &= ~ASYNC_LOW_LATENCY;
  (void)::ioctl(fd_, TIOCSSERIAL, &serial);
  restore_latency_ = false;
}

bool TermiosBackend::GetLine(TLineSettings& Line) {
  termios t{};
  if (::tcgetattr(fd_, &t) != 0) {
    if (errno == EIO) vanished_ = true;
    return false;
  }
  Line = line_;
  return true;
}

bool TermiosBackend::SetLine(const TLineSettings& Line) {
  speed_t speed = B9600;
  if (!SpeedFor(Line.BaudRate, speed)) {
    errno = EINVAL;
    return false;
  }
  const char parity = static_cast<char>(std::toupper(static_cast<unsigned char>(Line.Parity)));
  tcflag_t parity_flags = 0;
  switch (parity) {
    case 'N':
      break;
    case 'O':
      parity_flags = PARENB | PARODD;
      break;
    case 'E':
      parity_flags = PARENB;
      break;
    case 'M':
      parity_flags = PARENB | CMSPAR | PARODD;
      break;
    case 'S':
      parity_flags = PARENB | CMSPAR;
      break;
    default:
      errno = EINVAL;
      return false;
  }
  termios t{};
  if (::tcgetattr(fd_, &t) != 0) {
    if (errno == EIO) vanished_ = true;
    return false;
  }
  ::cfmakeraw(&t);
  t.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
  t.c_cflag |= CS8 | CREAD | CLOCAL | parity_flags;
  // Errored bytes are marked (also framing errors with parity off, hence INPCK always); a valid
  // 0xFF then arrives doubled. Breaks are ignored: marked they would look like an errored 0x00.
  t.c_iflag &= ~(IGNPAR | ISTRIP | IXON | IXOFF | IXANY | BRKINT);
  t.c_iflag |= INPCK | PARMRK | IGNBRK;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (::cfsetispeed(&t, speed) != 0 || ::cfsetospeed(&t, speed) != 0) return false;
  if (::tcsetattr(fd_, TCSANOW, &t) != 0) {
    if (errno == EIO) vanished_ = true;
    return false;
  }
  line_.BaudRate = Line.BaudRate;
  line_.Parity = parity;
  const bool rts = SetRts(Line.RtsEnabled);
  const bool dtr = SetDtr(Line.DtrEnabled);
  return rts && dtr;
}

bool TermiosBackend::SetTimeouts(const TTimeouts& Timeouts) {
  timeouts_ = Timeouts;
  return true;
}

bool TermiosBackend::SetQueueSizes(int, int) {
  return true;
}

bool TermiosBackend::Drain() {
  // With VMIN = VTIME = 0 an empty terminal reads as 0 bytes, not EAGAIN: 0 only means "gone"
  // when poll() reported the device readable and the very first read brings nothing.
  std::uint8_t raw[512];
  bool first = true;
  for (;;) {
    const ssize_t n = ::read(fd_, raw, sizeof raw);
    if (n > 0) {
      decoder_.Feed(raw, static_cast<int>(n));
      TLineErrorCounts counts;
      if (error_counts_ && ReadErrorCounts(counts)) decoder_.Counted(counts);
      first = false;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) return !first;
    return errno == EAGAIN || errno == EWOULDBLOCK;  // EIO and the like: it has gone
  }
}

int TermiosBackend::Read(std::uint8_t* Buffer, int Count) {
  if (Count <= 0 || Buffer == nullptr) return 0;
  TReadTimer timer(timeouts_, Count, Now());
  const std::uint32_t framing_bit = ceFrame, parity_bit = ceRxParity;
  // Where the counters do not tell, the marking counts as the error the line can have.
  const std::uint32_t marked_bit = line_.Parity == 'N' ? framing_bit : parity_bit;
  int got = 0;
  for (;;) {
    while (got < Count && !decoder_.Empty()) {
      const TParityMarkDecoder::TByte b = decoder_.Take();
      Buffer[got++] = b.Value;
      if (b.Errored)
        errors_ |= b.Parity || b.Framing
                       ? (b.Parity ? parity_bit : 0u) | (b.Framing ? framing_bit : 0u)
                       : marked_bit;
      timer.ByteTaken(Now());
    }
    if (got == Count) return got;
    const TimePoint now = Now();
    const TimePoint deadline = timer.NextDeadline();
    if (now >= deadline) return got;
    if (vanished_) {
      SleepUntil(timer.Unlimited() ? now + std::chrono::milliseconds(kVanishedWaitMs) : deadline);
      return got;
    }
    pollfd p{fd_, POLLIN, 0};
    const int r = ::poll(&p, 1, MillisecondsUntil(deadline, now));
    if (r < 0) {
      if (errno != EINTR) vanished_ = true;
      continue;
    }
    if (r == 0) continue;
    if (p.revents & POLLIN) {
      if (!Drain()) vanished_ = true;
    } else if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
      vanished_ = true;
    }
  }
}

int TermiosBackend::Write(const std::uint8_t* Buffer, int Count) {
  if (Count <= 0 || Buffer == nullptr || vanished_) return 0;
  TimePoint deadline = TimePoint::max();
  if (timeouts_.WriteConstant != 0 || timeouts_.WriteMultiplier != 0) {
    deadline = DeadlineAfter(static_cast<long long>(timeouts_.WriteConstant) +
                             static_cast<long long>(timeouts_.WriteMultiplier) * Count);
  }
  int done = 0;
  while (done < Count) {
    const ssize_t n = ::write(fd_, Buffer + done, static_cast<size_t>(Count - done));
    if (n > 0) {
      done += static_cast<int>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const TimePoint now = Now();
      if (now >= deadline) break;
      pollfd p{fd_, POLLOUT, 0};
      const int r = ::poll(&p, 1, MillisecondsUntil(deadline, now));
      if ((r < 0 && errno != EINTR) ||
          (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(p.revents & POLLOUT))) {
        vanished_ = true;
        break;
      }
      continue;
    }
    vanished_ = true;
    break;
  }
  return done;
}

std::uint32_t TermiosBackend::TakeErrors() {
  const std::uint32_t e = errors_;
  errors_ = 0;
  return e;
}

bool TermiosBackend::Purge() {
  decoder_.Clear();
  const bool flushed = ::tcflush(fd_, TCIOFLUSH) == 0;
  // What the counters counted of the bytes thrown away is no later byte's.
  TLineErrorCounts counts;
  if (error_counts_ && ReadErrorCounts(counts)) decoder_.Baseline(counts);
  return flushed;
}

bool TermiosBackend::SetBreak(bool On) {
  if (::ioctl(fd_, On ? TIOCSBRK : TIOCCBRK) == 0) return true;
  if (errno == EIO) vanished_ = true;
  return HarmlessFailure(errno);
}

bool TermiosBackend::ModemLine(int Bit, bool Asserted) {
  int bits = Bit;
  if (::ioctl(fd_, Asserted ? TIOCMBIS : TIOCMBIC, &bits) == 0) return true;
  if (errno == EIO) vanished_ = true;
  return HarmlessFailure(errno);
}

bool TermiosBackend::SetRts(bool Asserted) {
  if (!ModemLine(TIOCM_RTS, Asserted)) return false;
  line_.RtsEnabled = Asserted;
  return true;
}

bool TermiosBackend::SetDtr(bool Asserted) {
  if (!ModemLine(TIOCM_DTR, Asserted)) return false;
  line_.DtrEnabled = Asserted;
  return true;
}

bool TermiosBackend::ReadErrorCounts(TLineErrorCounts& Counts) const {
  serial_icounter_struct counts{};
  if (::ioctl(fd_, TIOCGICOUNT, &counts) != 0) return false;
  Counts.Parity = counts.parity;
  Counts.Frame = counts.frame;
  return true;
}

long TermiosBackend::BreaksReceived() {
  serial_icounter_struct counts{};
  if (::ioctl(fd_, TIOCGICOUNT, &counts) != 0) return -1;
  return counts.brk;
}

bool TermiosBackend::GetModemLines(bool& Rts, bool& Dtr) {
  int bits = 0;
  if (::ioctl(fd_, TIOCMGET, &bits) != 0) return false;
  Rts = (bits & TIOCM_RTS) != 0;
  Dtr = (bits & TIOCM_DTR) != 0;
  return true;
}

}  // namespace zo
