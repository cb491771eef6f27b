// Running zocfg and zo-sim from tests as child processes, with every wait bounded.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "settings/VersionFile.h"

extern char** environ;

namespace zo::test {

// The programs and VERSION.DAT lie beside the test programs.
inline std::string BinFolder() {
  return ExecutableFolder();
}

inline std::string ReadFile(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteFile(const std::string& Path, const std::string& Data) {
  std::ofstream(Path, std::ios::binary) << Data;
}

// A folder of its own for each test, removed afterwards.
class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/zocfg-test-XXXXXX";
    if (::mkdtemp(pattern) != nullptr) path_ = pattern;
  }
  ~TempFolder() {
    if (!path_.empty()) (void)!std::system(("rm -rf '" + path_ + "'").c_str());
  }
  std::string File(const std::string& Name) const { return path_ + "/" + Name; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// A started child whose standard output and error go to files.
class Child {
 public:
  Child(const std::string& Program, const std::vector<std::string>& Args,
        const std::string& OutFile, const std::string& ErrFile) {
    std::vector<std::string> argv{Program};
    argv.insert(argv.end(), Args.begin(), Args.end());
    std::vector<char*> raw;
    for (std::string& a : argv)
      raw.push_back(a.data());
    raw.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, OutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, ErrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    if (posix_spawn(&pid_, Program.c_str(), &actions, nullptr, raw.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Child() {
    if (pid_ > 0 && status_ < 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  bool Started() const { return pid_ > 0; }
  void Signal(int Number) {
    if (pid_ > 0 && status_ < 0) ::kill(pid_, Number);
  }

  // Waits up to `TimeoutMs` for the child's end; its exit status, or -1 when it did not end
  // (it is then killed) or was ended by a signal.
  int Wait(int TimeoutMs) {
    if (pid_ <= 0) return -1;
    if (status_ >= 0) return status_;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    for (;;) {
      int raw = 0;
      const pid_t done = ::waitpid(pid_, &raw, WNOHANG);
      if (done == pid_) {
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128;
        return WIFEXITED(raw) ? status_ : -1;
      }
      if (std::chrono::steady_clock::now() >= deadline) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        status_ = 128;
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
};

struct RunResult {
  int Status = -1;  // exit status; -1 when the program did not end in time
  std::string Out, Err;
};

// Runs `Program` (a name in the bin folder, or a path) to its end, at most `TimeoutMs`.
inline RunResult RunProgram(const TempFolder& Folder, const std::string& Program,
                            const std::vector<std::string>& Args, int TimeoutMs = 30000) {
  static int count = 0;
  const std::string tag = std::to_string(++count);
  const std::string out = Folder.File("out" + tag), err = Folder.File("err" + tag);
  const std::string path =
      Program.find('/') == std::string::npos ? BinFolder() + "/" + Program : Program;
  Child child(path, Args, out, err);
  RunResult r;
  r.Status = child.Wait(TimeoutMs);
  r.Out = ReadFile(out);
  r.Err = ReadFile(err);
  return r;
}

inline RunResult Zocfg(const TempFolder& Folder, const std::vector<std::string>& Args,
                       int TimeoutMs = 30000) {
  return RunProgram(Folder, "zocfg", Args, TimeoutMs);
}

// zo-sim running for the length of a test: Path() is its terminal.
class SimProcess {
 public:
  SimProcess(const TempFolder& Folder, std::vector<std::string> Args)
      : state_(Folder.File("sim-state")), out_(Folder.File("sim-out")) {
    Args.push_back("--state");
    Args.push_back(state_);
    child_ = std::make_unique<Child>(BinFolder() + "/zo-sim", Args, out_, Folder.File("sim-err"));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      const std::string text = ReadFile(out_);
      const std::size_t end = text.find('\n');
      if (end != std::string::npos) {
        path_ = text.substr(0, end);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  const std::string& Path() const { return path_; }
  // SIGUSR2 switches the device off and on again.
  void Signal(int Number) { child_->Signal(Number); }

  // What zo-sim reports of its device now (see Stop), asked again until `Done` holds or 10 s
  // pass: a frame the program wrote last may still be on its way through the simulated line.
  template <class Pred>
  std::map<std::string, std::string> StateWhen(Pred Done) {
    std::map<std::string, std::string> state;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      ::unlink(state_.c_str());
      child_->Signal(SIGUSR1);
      for (int i = 0; i < 200 && ::access(state_.c_str(), F_OK) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      state = ParseState();
      if (Done(state)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return state;
  }

  // Stops zo-sim and reads what it wrote of its device: "setting 8" -> "2880", "frames 0B" ->
  // "25", and so on.
  std::map<std::string, std::string> Stop() {
    child_->Signal(SIGTERM);
    child_->Wait(10000);
    return ParseState();
  }

 private:
  std::map<std::string, std::string> ParseState() const {
    std::map<std::string, std::string> state;
    std::istringstream in(ReadFile(state_));
    std::string line;
    while (std::getline(in, line)) {
      const std::size_t last = line.rfind(' ');
      if (last != std::string::npos) state[line.substr(0, last)] = line.substr(last + 1);
    }
    return state;
  }

  std::string state_, out_, path_;
  std::unique_ptr<Child> child_;
};

}  // namespace zo::test
