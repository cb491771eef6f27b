// pty-peer: the far end of a serial cable for the Windows serial tests under Wine. A Linux
// program (the Windows test starts it through Wine): it makes a pseudo-terminal, links its slave
// to a COM port of the Wine prefix, and answers commands that arrive on the line.
//
//   pty-peer LINK READY-FILE
//
// LINK is the port's link ($WINEPREFIX/dosdevices/com21); READY-FILE is written (with the slave's
// path) once the port can be opened, and removing it ends the peer. Commands, one per line:
//   line      answers "speed=<baud> parodd=<0|1> cmspar=<0|1>" and a line feed: the terminal
//             settings the port programmed (the kernel clears PARENB on a pseudo-terminal, so
//             odd and even parity look alike there; mark is PARODD with CMSPAR, space CMSPAR)
//   send N    sends N bytes: ABC...Z, A...
//   close     closes the far end, as an unplugged adapter does, and ends the peer
// The peer also ends by itself after two minutes.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace {

speed_t BaudOf(speed_t Speed) {
  static const struct {
    speed_t Code;
    unsigned Baud;
  } kSpeeds[] = {{B1200, 1200},   {B2400, 2400},   {B4800, 4800},   {B9600, 9600},
                 {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200}};
  for (const auto& s : kSpeeds)
    if (s.Code == Speed) return s.Baud;
  return 0;
}

std::string LineReport(int Fd) {
  termios t{};
  if (::tcgetattr(Fd, &t) != 0) return "line unreadable\n";
  return "speed=" + std::to_string(BaudOf(::cfgetospeed(&t))) +
         " parodd=" + ((t.c_cflag & PARODD) != 0 ? "1" : "0") +
         " cmspar=" + ((t.c_cflag & CMSPAR) != 0 ? "1" : "0") + "\n";
}

void Put(int Fd, const std::string& Text) {
  (void)!::write(Fd, Text.data(), Text.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: pty-peer LINK READY-FILE\n");
    return 2;
  }
  const std::string link = argv[1], ready = argv[2];
  int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return 1;
  const std::string slave_path = ::ptsname(master);
  // Held open, so that the line stays up between the port's openings and its settings can be
  // read.
  int slave = ::open(slave_path.c_str(), O_RDWR | O_NOCTTY);
  termios raw{};
  ::tcgetattr(slave, &raw);
  ::cfmakeraw(&raw);
  ::tcsetattr(slave, TCSANOW, &raw);
  ::unlink(link.c_str());
  if (::symlink(slave_path.c_str(), link.c_str()) != 0) return 1;
  const std::string temp = ready + ".tmp";
  if (std::FILE* f = std::fopen(temp.c_str(), "w")) {
    std::fputs(slave_path.c_str(), f);
    std::fclose(f);
    std::rename(temp.c_str(), ready.c_str());
  }

  const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  std::string command;
  while (std::chrono::steady_clock::now() < end && ::access(ready.c_str(), F_OK) == 0) {
    pollfd p{master, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0 || (p.revents & POLLIN) == 0) continue;
    char buffer[256];
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n <= 0) continue;
    for (ssize_t i = 0; i < n; ++i) {
      if (buffer[i] != '\n') {
        command += buffer[i];
        continue;
      }
      if (command == "line") {
        Put(master, LineReport(slave));
      } else if (command.rfind("send ", 0) == 0) {
        std::string bytes;
        for (int k = 0, count = std::atoi(command.c_str() + 5); k < count; ++k)
          bytes += static_cast<char>('A' + k % 26);
        Put(master, bytes);
      } else if (command == "close") {
        ::close(slave);
        ::close(master);
        ::unlink(link.c_str());
        return 0;
      }
      command.clear();
    }
  }
  ::unlink(link.c_str());
  return 0;
}
