// A pseudo-terminal pair for tests: the slave path is what the port opens, the master plays the
// far end of the cable.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zo::test {

class PtyPair {
 public:
  PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
    const char* name = ::ptsname(master_);
    if (name) slave_ = name;
  }
  ~PtyPair() { CloseMaster(); }

  bool Ok() const { return master_ >= 0 && !slave_.empty(); }
  const std::string& SlavePath() const { return slave_; }
  // The master's descriptor: tcgetattr on it reads the terminal settings the slave holds.
  int MasterFd() const { return master_; }

  void Send(const std::vector<std::uint8_t>& Bytes) {
    if (!Bytes.empty()) (void)!::write(master_, Bytes.data(), Bytes.size());
  }

  // What the port wrote, waiting up to `TimeoutMs` for `Count` bytes.
  std::vector<std::uint8_t> Receive(size_t Count, int TimeoutMs = 2000) {
    std::vector<std::uint8_t> got;
    while (got.size() < Count) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, TimeoutMs) <= 0) break;
      std::uint8_t buf[256];
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n <= 0) break;
      got.insert(got.end(), buf, buf + n);
    }
    return got;
  }

  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  std::string slave_;
};

}  // namespace zo::test
