#include "sim/PtyBridge.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace zo::sim {

namespace {

// How often the line settings are looked at while the program only listens, and the longest
// time a received byte waits before it is passed on.
constexpr std::uint32_t SettingsPollMs = 2;

}  // namespace

std::int32_t BaudOfSpeed(unsigned Speed) {
  static const struct {
    speed_t Speed;
    std::int32_t Baud;
  } table[] = {
      {B50, 50},           {B75, 75},           {B110, 110},         {B134, 134},
      {B150, 150},         {B200, 200},         {B300, 300},         {B600, 600},
      {B1200, 1200},       {B1800, 1800},       {B2400, 2400},       {B4800, 4800},
      {B9600, 9600},       {B19200, 19200},     {B38400, 38400},     {B57600, 57600},
      {B115200, 115200},   {B230400, 230400},   {B460800, 460800},   {B500000, 500000},
      {B576000, 576000},   {B921600, 921600},   {B1000000, 1000000}, {B1152000, 1152000},
      {B1500000, 1500000}, {B2000000, 2000000}, {B2500000, 2500000}, {B3000000, 3000000},
      {B3500000, 3500000}, {B4000000, 4000000},
  };
  for (const auto& entry : table)
    if (entry.Speed == Speed) return entry.Baud;
  return 0;
}

class TPtyBridge::Worker final : public TThread {
 public:
  explicit Worker(std::function<void()> Body) : TThread(true), body_(std::move(Body)) {}
  ~Worker() override {
    Terminate();
    WaitFor();
  }

 protected:
  void Execute() override { body_(); }

 private:
  std::function<void()> body_;
};

std::unique_ptr<TPtyBridge> TPtyBridge::Create(std::shared_ptr<SimLine> Line, std::string& Error) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) {
    Error = std::string("posix_openpt: ") + std::strerror(errno);
    return nullptr;
  }
  auto fail = [&](const char* what, int slave) {
    Error = std::string(what) + ": " + std::strerror(errno);
    if (slave >= 0) ::close(slave);
    ::close(master);
    return nullptr;
  };
  if (::grantpt(master) != 0 || ::unlockpt(master) != 0) return fail("unlockpt", -1);
  const char* name = ::ptsname(master);
  if (name == nullptr) return fail("ptsname", -1);
  const std::string path = name;
  const int slave = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) return fail("open slave", -1);
  // Raw from the start: a terminal that echoed would send the program's bytes back to it.
  termios t{};
  if (::tcgetattr(slave, &t) != 0) return fail("tcgetattr", slave);
  ::cfmakeraw(&t);
  ::cfsetspeed(&t, B9600);
  if (::tcsetattr(slave, TCSANOW, &t) != 0) return fail("tcsetattr", slave);
  // Bytes for a terminal whose buffer is full are dropped rather than blocking the line.
  if (::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK) != 0)
    return fail("fcntl", slave);
  int wake[2];
  if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) return fail("pipe", slave);

  std::unique_ptr<SerialBackend> port = Line->OpenPortSide();
  if (!port) {
    Error = "the simulated line's port side is already open";
    ::close(wake[0]);
    ::close(wake[1]);
    ::close(slave);
    ::close(master);
    return nullptr;
  }
  // Without the watch the terminal still works, for root or for one program.
  int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (watch >= 0 && ::inotify_add_watch(watch, path.c_str(), IN_OPEN | IN_CLOSE) < 0) {
    ::close(watch);
    watch = -1;
  }
  TTimeouts timeouts;
  timeouts.ReadInterval = 1;
  timeouts.ReadConstant = SettingsPollMs;
  port->SetTimeouts(timeouts);
  return std::unique_ptr<TPtyBridge>(new TPtyBridge(std::move(Line), std::move(port), master, slave,
                                                    wake[0], wake[1], watch, path));
}

TPtyBridge::TPtyBridge(std::shared_ptr<SimLine> Line, std::unique_ptr<SerialBackend> Port,
                       int Master, int Slave, int WakeRead, int WakeWrite, int Watch,
                       std::string SlavePath)
    : line_(std::move(Line)),
      port_(std::move(Port)),
      master_(Master),
      slave_(Slave),
      wake_read_(WakeRead),
      wake_write_(WakeWrite),
      watch_(Watch),
      slave_path_(std::move(SlavePath)) {
  line_settings_.BaudRate = 0;  // unknown: the first look programs the port side
  // A pseudo-terminal carries no modem lines: the bridge holds them as detection leaves them for
  // a DL2 (DTR asserted, RTS cleared), which takes frames only then.
  line_settings_.RtsEnabled = false;
  line_settings_.DtrEnabled = true;
}

TPtyBridge::~TPtyBridge() {
  Stop();
  port_.reset();
  ::close(wake_read_);
  ::close(wake_write_);
  if (watch_ >= 0) ::close(watch_);
  ::close(slave_);
  ::close(master_);
}

void TPtyBridge::SetBeforeForward(std::function<void()> Hook) {
  before_forward_ = std::move(Hook);
}

void TPtyBridge::SetGarble(double Probability, std::uint32_t Seed) {
  garble_ = Probability;
  random_.seed(Seed);
}

void TPtyBridge::Start() {
  if (to_line_) return;
  SyncLineSettings();
  to_line_ = std::make_unique<Worker>([this] { ToLine(); });
  from_line_ = std::make_unique<Worker>([this] { FromLine(); });
  to_line_->Resume();
  from_line_->Resume();
}

void TPtyBridge::Stop() {
  stop_.store(true);
  const char byte = 0;
  (void)!::write(wake_write_, &byte, 1);
  to_line_.reset();
  from_line_.reset();
}

void TPtyBridge::SyncLineSettings() {
  termios t{};
  if (::tcgetattr(master_, &t) != 0) return;
  const std::int32_t baud = BaudOfSpeed(static_cast<unsigned>(::cfgetospeed(&t)));
  if (baud == 0) return;
  std::lock_guard<std::mutex> lock(line_mutex_);
  if (baud == line_settings_.BaudRate) return;
  line_settings_.BaudRate = baud;
  line_settings_.Parity = 'N';  // a pseudo-terminal carries no parity bit
  port_->SetLine(line_settings_);
}

void TPtyBridge::ToLine() {
  std::uint8_t buffer[512];
  while (!stop_.load()) {
    pollfd fds[3] = {{master_, POLLIN, 0}, {wake_read_, POLLIN, 0}, {watch_, POLLIN, 0}};
    const int ready = ::poll(fds, watch_ >= 0 ? 3 : 2, 100);
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0 || (fds[1].revents & POLLIN)) continue;
    if (watch_ >= 0 && (fds[2].revents & POLLIN)) OnOpensAndCloses();
    if (fds[0].revents & POLLIN) {
      const ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n > 0) {
        // The program set its line before it wrote: take its settings for these bytes.
        SyncLineSettings();
        if (before_forward_) before_forward_();
        port_->Write(buffer, static_cast<int>(n));
        from_program_ += static_cast<std::uint64_t>(n);
        continue;
      }
    }
    // A hang-up cannot last while the bridge holds the slave; should one come, do not spin.
    if (fds[0].revents & (POLLHUP | POLLERR)) ::poll(fds + 1, 1, 50);
  }
}

void TPtyBridge::OnOpensAndCloses() {
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(watch_, buffer, sizeof buffer);
    if (n <= 0) return;
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      if (event->mask & IN_OPEN) ++opens_;
      if (event->mask & IN_CLOSE) {
        if (--opens_ <= 0) {
          opens_ = 0;
          ::ioctl(slave_, TIOCNXCL);
          termios t{};
          if (::tcgetattr(slave_, &t) == 0) {
            ::cfmakeraw(&t);
            ::tcsetattr(slave_, TCSANOW, &t);
          }
        }
      }
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
}

void TPtyBridge::FromLine() {
  std::uint8_t buffer[512];
  while (!stop_.load()) {
    const int n = port_->Read(buffer, sizeof buffer);
    SyncLineSettings();
    if (n > 0) WriteToProgram(buffer, n);
  }
}

void TPtyBridge::WriteToProgram(std::uint8_t* Bytes, int Count) {
  if (garble_ > 0) {
    std::bernoulli_distribution hit(garble_);
    std::uniform_int_distribution<int> bit(0, 7);
    for (int i = 0; i < Count; ++i)
      if (hit(random_)) Bytes[i] = static_cast<std::uint8_t>(Bytes[i] ^ (1u << bit(random_)));
  }
  int done = 0;
  while (done < Count) {
    const ssize_t n = ::write(master_, Bytes + done, static_cast<std::size_t>(Count - done));
    if (n > 0) {
      done += static_cast<int>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    break;  // the terminal's buffer is full (nobody reads): the rest is lost, as on a wire
  }
  to_program_ += static_cast<std::uint64_t>(done);
}

}  // namespace zo::sim
