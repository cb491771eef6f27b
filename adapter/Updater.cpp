#include "adapter/Updater.h"

#include <cstdio>

#include "adapter/Textlogger.h"
#include "threads/UiServices.h"

namespace zo {

namespace {

const char kEndOfFile[] = "Unexpected end of file.\rFile possible corrupted!";
const char kCorrupted[] = "File possible corrupted!";

// Reads an image, keeping only the first error: every step still reads its bytes.
class ImageReader {
 public:
  ImageReader(std::istream& stream, std::string& error) : stream_(stream), error_(error) {}

  void Record(const char* message) {
    if (error_.empty()) error_ = message;
  }
  bool Failed() const { return !error_.empty(); }

  // Reads exactly n bytes; fewer records the end-of-file error.
  std::string Bytes(std::size_t n) {
    std::string data(n, '\0');
    stream_.read(data.data(), static_cast<std::streamsize>(n));
    const auto got = static_cast<std::size_t>(stream_.gcount());
    if (got < n) {
      Record(kEndOfFile);
      data.resize(got);
      stream_.clear(stream_.rdstate() & ~(std::ios::failbit | std::ios::eofbit));
    }
    return data;
  }

  std::uint32_t Number(std::size_t size) {
    const std::string data = Bytes(size);
    std::uint32_t v = 0;
    for (std::size_t i = data.size(); i-- > 0;)
      v = (v << 8) | static_cast<std::uint8_t>(data[i]);
    return data.size() == size ? v : 0;
  }

  // A text record: plain length, scrambled text, check byte over the plain text.
  std::string Text() {
    const std::string length = Bytes(1);
    if (length.empty()) return {};
    const auto n = static_cast<std::uint8_t>(length[0]);
    std::string text = Bytes(n);
    std::uint8_t sum = 0;
    for (std::size_t k = 0; k < text.size(); ++k) {
      const auto plain = static_cast<std::uint8_t>(static_cast<std::uint8_t>(text[k]) - (k + 1) -
                                                   FirmwareScrambleOffset);
      text[k] = static_cast<char>(plain);
      sum = static_cast<std::uint8_t>(sum + plain);
    }
    const std::string check = Bytes(1);
    if (!check.empty() && static_cast<std::uint8_t>(check[0]) != sum) Record(kCorrupted);
    return text;
  }

  bool AtEnd() {
    const std::istream::pos_type here = stream_.tellg();
    if (here == std::istream::pos_type(-1)) return true;
    stream_.seekg(0, std::ios::end);
    const std::istream::pos_type end = stream_.tellg();
    stream_.seekg(here);
    return here == end;
  }

 private:
  std::istream& stream_;
  std::string& error_;
};

}  // namespace

std::int32_t ProgressPercent(std::int32_t Index, std::int32_t Count) {
  if (Count <= 0) return 100;
  const std::int64_t scaled = static_cast<std::int64_t>(Index) * 100;
  std::int64_t q = scaled / Count;
  const std::int64_t twice_rem = 2 * (scaled % Count);
  if (twice_rem > Count || (twice_rem == Count && (q % 2) != 0)) ++q;
  return static_cast<std::int32_t>(q);
}

TUpdater::TUpdater(TRS232o* Port) : TSafeThread(true), port_(Port) {
  port_->SetDtrCleared(false);
  port_->SetRtsCleared(true);
  port_->SetReadTimeout(10);
  port_->Purge();
  idle_.store(true);
  Resume();
}

TUpdater::~TUpdater() = default;

void TUpdater::LoadFirmware(std::istream& Stream, std::string& ErrorText) {
  ErrorText.clear();
  lines_.clear();
  ImageReader reader(Stream, ErrorText);
  const std::string signature = reader.Text();
  if (!reader.Failed() && signature != FirmwareSignature) reader.Record("Incorrect file format");
  const std::uint32_t format = reader.Number(2);
  if (!reader.Failed() && format > 1) {
    reader.Record("File format not recognised.\rCheck program version.");
  }
  std::uint32_t total = reader.Number(4);
  reader.Text();  // the image text: checked, not used
  for (;;) {
    const std::string message = reader.Text();
    if (reader.Failed() || message.empty()) break;
    ShowMessageBox(message, TMsgDlgType::mtInformation);
  }
  while (!reader.Failed() && !reader.AtEnd()) {
    const std::string block = reader.Bytes(FirmwareBlockSize);
    std::uint8_t sum = 0;
    for (char c : block) {
      total -= static_cast<std::uint8_t>(c);
      sum = static_cast<std::uint8_t>(sum + static_cast<std::uint8_t>(c));
    }
    lines_.push_back("W" + block + static_cast<char>(static_cast<std::uint8_t>(-sum)));
  }
  if (!reader.Failed() && total != 0) reader.Record(kCorrupted);
}

bool TUpdater::ConnectBootblock() {
  port_->SetBreak(false);
  Delay(100);
  port_->SetLine(115200, 'N');
  port_->Purge();
  const std::uint8_t wake[5] = {0x55, 0x55, 0x55, 0x55, 0x55};
  port_->Write(wake, 5);
  Delay(50);
  port_->SetLine(19200, 'N');
  port_->SetReadTimeout(250);
  port_->Purge();
  port_->ClearErrors();
  const std::uint8_t request = 'P';
  port_->Write(&request, 1);
  std::uint8_t frame[100];
  const int n = port_->Read(frame, 100);
  return n > 0 && CheckBootblockVersionFrame(frame, n);
}

bool CheckBootblockVersionFrame(const std::uint8_t* Frame, int Count) {
  std::string log = "Bootblock reprogramversion frame: ";
  for (int i = 0; i < Count; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X ", Frame[i]);
    log += hex;
  }
  if (log.size() > 255) log.resize(255);
  LogText(log);
  if (Count < 2 || Frame[1] != 'V') return false;
  std::uint8_t sum = 0;
  for (int i = 1; i < Count; ++i)
    sum = static_cast<std::uint8_t>(sum + Frame[i]);
  return sum == 0;
}

void TUpdater::StartProgramming() {
  port_->Purge();
  port_->SetReadTimeout(18000);
  index_.store(0);
  error_text_.clear();
  idle_.store(false, std::memory_order_release);
}

void TUpdater::Execute() {
  while (!Terminated()) {
    if (Idle()) {
      Delay(20);
      continue;
    }
    const auto count = static_cast<std::int32_t>(lines_.size());
    const std::int32_t index = index_.load();
    stop_ = false;
    if (index < count) {
      line_ = lines_[static_cast<std::size_t>(index)];
      percent_.store(ProgressPercent(index, count));
      index_.store(index + 1);
      SendLine();
    } else {
      status_.store(usDone);
      percent_.store(100);
      stop_ = true;
    }
    if (on_progress_) {
      const std::int32_t percent = percent_.load();
      const std::uint8_t status = status_.load();
      SafeSynchronize([this, percent, status] { on_progress_(percent, status); });
    }
    // Idle is published only after the report: the owner stops waiting once it sees Idle, and a
    // report still pending then would be cancelled, losing the failing line's or the final one.
    if (stop_) idle_.store(true, std::memory_order_release);
  }
}

void TUpdater::SendLine() {
  status_.store(usRunning);
  port_->Write(line_.data(), static_cast<std::int32_t>(line_.size() % 256));
  std::uint8_t reply = 'X';
  if (port_->Read(&reply, 1) != 1) reply = 'X';
  std::uint8_t kind = usRunning;
  const char* error = BootblockReplyError(reply, kind);
  if (error != nullptr) Fail(error, kind);
}

const char* BootblockReplyError(std::uint8_t Reply, std::uint8_t& Status) {
  Status = usTransferError;
  switch (Reply) {
    case 'N':
      Status = usRunning;
      return nullptr;
    case 'B':
      Status = usRefused;
      return "Bootstrap overlap error in file.\rPlease contact Tarnelo.";
    case 'D':
      Status = usRefused;
      return "ID error occured.\rFile not suitable for this device!";
    case 'E':
      return "General error occured.";
    case 'T':
      return "Error during transmit!";
    case 'X':
      return "No respons from target!";
    default:  // 'U' and anything unexpected
      return "Unexpected respons from target!";
  }
}

void TUpdater::Fail(const std::string& Message, std::uint8_t Kind) {
  error_text_ = Message;
  status_.store(Kind);
  stop_ = true;  // Idle follows once the line's report has been made
}

}  // namespace zo
