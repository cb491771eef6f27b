// Serves the port side of a simulated line on a pseudo-terminal, so that a program opens the
// terminal's slave as its serial port and reaches the simulated adapter through real termios
// code (zocfg --port /dev/pts/N, or ZO_COM7=/dev/pts/N for the window).
//
// Only byte content passes a pseudo-terminal. The bridge reads the line settings the program has
// given the slave (its baud rate, through tcgetattr on the master) whenever bytes come from the
// program and every 2 ms besides, and puts them on the line's port side: the simulated adapter
// hears each byte at the baud rate the program sent it with, and the program hears the adapter's
// bytes as a UART at its own baud rate would decode them. Parity, break, RTS and DTR do not pass
// (the kernel drops parity on a pseudo-terminal and refuses the modem lines), so the bridge
// serves the DL2's protocol, not the DL1's.
//
// The bridge holds the slave open itself, in raw mode, so that the terminal stays usable from
// one program to the next and bytes the adapter sends meanwhile wait in the terminal's buffer
// (or are dropped once it is full). A program that takes the terminal exclusively (TIOCEXCL, as
// the serial ports of this system do) leaves that mark on it when it closes, since the terminal
// lives on with the bridge: the bridge watches the slave's opens and closes (inotify) and, once
// the last program has closed it, clears the mark and puts the terminal back to raw mode, so
// the next program can open it without root's privilege.
//
// Two threads: one carries the program's bytes to the line, one the line's bytes to the program.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>

#include "serial/SimLine.h"
#include "threads/Thread.h"

namespace zo::sim {

class TPtyBridge {
 public:
  // Opens a pseudo-terminal and the line's port side. Null, with `Error` saying why, on failure.
  static std::unique_ptr<TPtyBridge> Create(std::shared_ptr<SimLine> Line, std::string& Error);
  ~TPtyBridge();  // Stop, then closes the terminal and the port side
  TPtyBridge(const TPtyBridge&) = delete;
  TPtyBridge& operator=(const TPtyBridge&) = delete;

  // The path a program opens: /dev/pts/N.
  const std::string& SlavePath() const { return slave_path_; }

  // Before Start: runs on the bridge's thread before each chunk of the program's bytes goes on the
  // line (a simulated fault can decide there).
  void SetBeforeForward(std::function<void()> Hook);
  // Before Start: each byte to the program gets one random bit flipped with this probability.
  void SetGarble(double Probability, std::uint32_t Seed);

  void Start();
  // Ends both threads and waits for them (within a few milliseconds).
  void Stop();

  std::uint64_t BytesFromProgram() const { return from_program_.load(); }
  std::uint64_t BytesToProgram() const { return to_program_.load(); }

 private:
  class Worker;
  TPtyBridge(std::shared_ptr<SimLine> Line, std::unique_ptr<SerialBackend> Port, int Master,
             int Slave, int WakeRead, int WakeWrite, int Watch, std::string SlavePath);

  void ToLine();    // the program's bytes to the line
  void FromLine();  // the line's bytes to the program
  void SyncLineSettings();
  void WriteToProgram(std::uint8_t* Bytes, int Count);
  // Reads the watch's events; after the last program's close, frees the terminal for the next.
  void OnOpensAndCloses();

  std::shared_ptr<SimLine> line_;
  std::unique_ptr<SerialBackend> port_;
  int master_, slave_, wake_read_, wake_write_;
  int watch_;      // inotify descriptor watching the slave's opens and closes; -1 without
  int opens_ = 0;  // programs that have the slave open (the bridge's own descriptor not counted)
  std::string slave_path_;
  std::function<void()> before_forward_;
  double garble_ = 0;
  std::mt19937 random_;

  std::mutex line_mutex_;  // guards the port side's line settings
  TLineSettings line_settings_;
  std::atomic<bool> stop_{false};
  std::unique_ptr<Worker> to_line_, from_line_;
  std::atomic<std::uint64_t> from_program_{0}, to_program_{0};
};

// The baud rate of a termios speed constant (B2400 gives 2400); 0 for one it does not know.
std::int32_t BaudOfSpeed(unsigned Speed);

}  // namespace zo::sim
