// Writing new firmware into the DL2 adapter through its bootblock.
//
// One TUpdater serves one reprogram run, in this order: create it on the port (not owned),
// LoadFirmware, ConnectBootblock (main thread, while the worker idles), set OnProgress,
// StartProgramming, wait until Idle, read ErrorText, SafeTerminate(True, True, True).
// The worker sends the programming lines back to back, each answered by one byte from the
// bootblock (awaited up to 18 s), stops at the first refusal, and reports progress on the main
// thread: once per line, the failing one included, and (100, usDone) after the last.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <istream>
#include <string>
#include <vector>

#include "serial/RS232o.h"
#include "threads/Sema.h"

namespace zo {

// The fixed offset that scrambles the text records of firmware images: a plain byte p at position
// k of its record (k = 1 for the first) is stored as p + k + offset, modulo 256.
constexpr std::uint8_t FirmwareScrambleOffset = 0x5A;
// The signature every firmware image starts with.
inline constexpr char FirmwareSignature[] = "Tarnelo Energy firmware file";
// Bytes of one data block of an image.
constexpr int FirmwareBlockSize = 74;

// Status values reported with the progress.
constexpr std::uint8_t usRunning = 0;  // line accepted, or the run is under way
constexpr std::uint8_t usTransferError = 1;
constexpr std::uint8_t usRefused = 2;  // the adapter refused the image
constexpr std::uint8_t usDone = 3;     // all lines sent

using TUpdateProgressEvent = std::function<void(std::int32_t Percent, std::uint8_t Status)>;

class TUpdater : public TSafeThread {
 public:
  // Asserts DTR, clears RTS, sets a 10 ms read time-out, purges, and starts the worker idle.
  explicit TUpdater(TRS232o* Port);
  ~TUpdater() override;

  // Reads an image from the stream's current position to its end into Lines ('W', the 74-byte
  // block, a check byte making the block's sum 0). ErrorText: empty when the image is good, else
  // the first error found ("Unexpected end of file.\rFile possible corrupted!", "File possible
  // corrupted!", "Incorrect file format", "File format not recognised.\rCheck program
  // version."). Message records are shown as information boxes.
  void LoadFirmware(std::istream& Stream, std::string& ErrorText);

  // Releases the break, wakes the bootblock (five 0x55 at 115200 baud), asks for programming
  // ('P' at 19200) and checks its version frame (at most 100 bytes, 250 ms between bytes, 25 s
  // if nothing comes). True when a frame of at least two bytes with 'V' in byte 1 and bytes 1 to
  // n-1 summing to 0 came. Logs the frame.
  bool ConnectBootblock();

  // Purges, sets an 18 s reply time-out, and starts sending from the first line.
  void StartProgramming();

  void SetOnProgress(TUpdateProgressEvent Handler) { on_progress_ = std::move(Handler); }

  // True when no programming is under way: set by the worker at the end or on the first error,
  // once the progress report of that pass has been handed to the main thread.
  bool Idle() const { return idle_.load(std::memory_order_acquire); }
  // The message of the error that ended the run; read only after Idle was seen set.
  const std::string& ErrorText() const { return error_text_; }

  std::int32_t Percent() const { return percent_.load(); }
  std::uint8_t Status() const { return status_.load(); }
  const std::vector<std::string>& Lines() const { return lines_; }

 protected:
  void Execute() override;

 private:
  void SendLine();
  void Fail(const std::string& Message, std::uint8_t Kind);

  TRS232o* port_;
  std::vector<std::string> lines_;
  std::atomic<std::int32_t> index_{0};
  std::atomic<std::int32_t> percent_{0};
  std::atomic<std::uint8_t> status_{usRunning};
  std::string line_;
  std::atomic<bool> idle_{true};
  bool stop_ = false;  // worker only: the run ends after this pass's report
  std::string error_text_;
  TUpdateProgressEvent on_progress_;
};

// The bootblock's version frame, the `Count` bytes (1 to 100) read after 'P': logged as
// "Bootblock reprogramversion frame: " and the bytes in hexadecimal, cut at 255 characters. True
// when it has at least two bytes, 'V' in byte 1, and bytes 1 to Count - 1 sum to 0 modulo 256.
bool CheckBootblockVersionFrame(const std::uint8_t* Frame, int Count);

// The bootblock's answer to a programming line: null for 'N' (accepted, Status usRunning), else
// the message that ends the run with its Status (usRefused or usTransferError). 'X' stands for
// no answer at all.
const char* BootblockReplyError(std::uint8_t Reply, std::uint8_t& Status);

// Percent of `Index` out of `Count`, rounded to the nearest integer, ties to even.
std::int32_t ProgressPercent(std::int32_t Index, std::int32_t Count);

}  // namespace zo
