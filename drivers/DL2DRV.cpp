#include "drivers/DL2DRV.h"

#include <algorithm>

#include "threads/Sema.h"

namespace zo {

namespace {

std::uint8_t PlainSum(const std::uint8_t* Bytes, int Count) {
  unsigned sum = 0;
  for (int i = 0; i < Count; ++i)
    sum += Bytes[i];
  return static_cast<std::uint8_t>(sum);
}

std::uint8_t NextSequence(std::uint8_t Seq) {
  return Seq + 1 == 250 ? 0 : static_cast<std::uint8_t>(Seq + 1);
}

}  // namespace

std::uint8_t Swap(std::uint8_t Value) {
  return static_cast<std::uint8_t>((Value << 4) | (Value >> 4));
}

bool DL2PlainChecksumValid(const std::uint8_t* Bytes, int Count) {
  return PlainSum(Bytes, Count) == 0;
}

std::vector<std::uint8_t> BuildDL2AdapterCommand(char Letter, const std::uint8_t* Data, int Count) {
  std::vector<std::uint8_t> frame{0, 0xFF, static_cast<std::uint8_t>(Letter)};
  for (int i = 0; i < Count; ++i)
    frame.push_back(Data[i]);
  if (frame.back() == 0xFF) frame.push_back(0x00);
  frame[0] = static_cast<std::uint8_t>(frame.size() - 1);
  frame.push_back(
      static_cast<std::uint8_t>(-PlainSum(frame.data(), static_cast<int>(frame.size()))));
  return frame;
}

std::vector<std::uint8_t> BuildDL2AddressedRequest(std::uint8_t Address, std::uint8_t Command,
                                                   std::uint8_t DataLow, std::uint8_t DataHigh,
                                                   std::uint8_t Sequence) {
  std::vector<std::uint8_t> frame{5, Address, Command, DataLow, DataHigh, Sequence};
  const unsigned sum = PlainSum(frame.data(), 6) + Swap(Address) + Swap(DataLow) + Swap(Sequence);
  frame.push_back(static_cast<std::uint8_t>(-sum));
  return frame;
}

std::uint8_t DL2LevelFromValue(std::uint8_t Value) {
  if (Value == 0) return 0;
  const unsigned num = (Value - 1u) * 255u;
  unsigned q = num / 158u;
  const unsigned twice_rest = 2u * (num % 158u);
  if (twice_rest > 158u || (twice_rest == 158u && (q & 1u) != 0)) ++q;
  return static_cast<std::uint8_t>(q);
}

std::int32_t DecodeDL2Leds(std::uint8_t On, std::uint8_t Blink, bool BlinkOn) {
  const unsigned b = BlinkOn ? (On ^ Blink) : On;
  // Result bit i comes from B's bit kFrom[i]; -1: always 0.
  static constexpr int kFrom[9] = {5, 6, 7, -1, 4, 0, 2, 1, 3};
  std::int32_t result = 0;
  for (int i = 0; i < 9; ++i)
    if (kFrom[i] >= 0 && ((b >> kFrom[i]) & 1u) != 0) result |= 1 << i;
  return result;
}

void RunDL2StartSequence(TRS232o& Port) {
  Port.SetLine(115200, 'N');
  Port.Purge();
  const std::uint8_t sync[5] = {0x55, 0x55, 0x55, 0x55, 0x55};
  Port.Write(sync, 5);
  Delay(50);
  Port.SetLine(19200, 'N');
  const std::uint8_t start = 'A';
  Port.Write(&start, 1);
  Delay(50);
}

TDL2Driver::TDL2Driver(TRS232o* APort, std::uint8_t AMode) : TDL2Driver(APort, AMode, true) {}

TDL2Driver::TDL2Driver(TRS232o* APort, std::uint8_t AMode, bool StartThread)
    : TBusDriver(true), Port(APort), Mode(AMode) {
  // PauseCount is 1 and PauseAck True until the thread runs: a restart here needs no handshake.
  if (Port != nullptr && Port->PortNumber != 0) {
    SetPortClosed(false);
    if (AMode == 0 || AMode == 3) RestartAdapter();
    Port->SetReadTimeout(DL2ReadTimeoutMs);
    Port->Purge();
    Port->ClearErrors();
    TxHoldoff = 0;
  } else {
    SetPortClosed(true);
  }
  if (StartThread) StartDriverThread();
}

void TDL2Driver::StartDriverThread() {
  SetPriority(tpTimeCritical);
  Resume();
  std::lock_guard<std::mutex> lock(pause_mutex_);
  PauseCount.store(0);
}

TDL2Driver::~TDL2Driver() {
  Terminate();
  WaitFor();
  delete Port;
}

std::uint8_t TDL2Driver::GetPortNumber() {
  return Port != nullptr ? Port->PortNumber : 0;
}

bool TDL2Driver::PortVanished() {
  return Port != nullptr && Port->Vanished();
}

void TDL2Driver::SetAddress(std::uint8_t Value) {
  DefaultAddress.store(Value);
}

bool TDL2Driver::PutFrame(const TBusFrame& Frame) {
  if (Mode.load() == 3) RestartAdapter();
  if (Mode.load() == 0) {
    Delay(200);
    return false;
  }
  if (!TxIdleEvent.WaitFor(SendTimeoutMs)) return false;
  if (Mode.load() == 2) return SendNineBitFrame(Frame);
  TxIdleEvent.Reset();
  const std::uint8_t seq = NextSequence(SeqCounter.load());
  RequestSeq.store(seq);
  const std::uint8_t address = Frame[3] == 0xFF ? GetAddress() : Frame[3];
  const std::vector<std::uint8_t> wire =
      BuildDL2AddressedRequest(address, Frame[0], Frame[1], Frame[2], seq);
  std::copy(wire.begin(), wire.end(), TxBuffer.begin());
  TxLength.store(TxBuffer[0], std::memory_order_release);
  return true;
}

bool TDL2Driver::SendAdapterCommand(char Letter, const std::uint8_t* Data, int Count) {
  if (Mode.load() == 3) RestartAdapter();
  if (Mode.load() == 0) {
    Delay(200);
    return false;
  }
  if (!TxIdleEvent.WaitFor(SendTimeoutMs)) return false;
  TxIdleEvent.Reset();
  ReplyEvent.Reset();
  const std::vector<std::uint8_t> wire = BuildDL2AdapterCommand(Letter, Data, Count);
  std::copy(wire.begin(), wire.end(), TxBuffer.begin());
  TxLength.store(TxBuffer[0], std::memory_order_release);
  return true;
}

bool TDL2Driver::SendNineBitFrame(const TBusFrame& Frame) {
  return SendAdapterCommand('W', Frame.data(), 3);
}

bool TDL2Driver::GetFrame(TBusFrame& Frame) {
  TDL2RingEntry entry;
  if (!Ring.Get(entry)) return false;
  Frame[0] = entry.Bytes[0];
  Frame[1] = entry.Bytes[1];
  Frame[2] = entry.Bytes[2];
  LastTag = entry.Tag;
  return true;
}

bool TDL2Driver::Request(TBusFrame& Frame) {
  FlushReceived();
  if (!PutFrame(Frame)) return false;
  TBusFrame reply{};
  for (;;) {
    if (!WaitReceive(reply)) return false;
    if (Mode.load() != 1 || LastTag == RequestSeq.load()) break;
  }
  Frame[0] = reply[0];
  Frame[1] = reply[1];
  Frame[2] = reply[2];
  return true;
}

bool TDL2Driver::SendStateCommand() {
  if (Mode.load() != 1) return false;
  const std::uint8_t body[6] = {StateByte, Level, LevelFlag, 1, 10, 0};
  if (!SendAdapterCommand('S', body, 6)) return false;
  ReplyEvent.WaitFor(ReplyTimeoutMs);  // the answer itself is not needed
  return true;
}

bool TDL2Driver::SetState(std::uint8_t Value) {
  if (Mode.load() != 1) return TBusDriver::SetState(Value);
  StateByte = Value;
  return SendStateCommand();
}

bool TDL2Driver::SetLevel(std::uint8_t Value) {
  if (Mode.load() != 1) return TBusDriver::SetLevel(Value);
  if (Value == 0) {
    LevelFlag = 0xFF;
  } else {
    LevelFlag = 0x10;
    Level = DL2LevelFromValue(Value);
  }
  return SendStateCommand();
}

std::int32_t TDL2Driver::GetLedState() {
  if (Mode.load() != 1) return TBusDriver::GetLedState();
  const bool put = SendAdapterCommand('L', nullptr, 0);
  ReplyEvent.WaitFor(ReplyTimeoutMs);
  return put ? DecodeLeds() : -1;
}

std::int32_t TDL2Driver::DecodeLeds() {
  BlinkPhase = !BlinkPhase;
  return DecodeDL2Leds(LedOn(), LedBlink(), BlinkPhase);
}

void TDL2Driver::RestartAdapter() {
  {
    std::unique_lock<std::mutex> lock(pause_mutex_);
    PauseCount.store(static_cast<std::uint16_t>(PauseCount.load() + 1));
    // The driver thread answers within one pass (at most one read time-out or one Delay(50)).
    pause_changed_.Wait(lock, [this] { return PauseCount.load() != 0 && PauseAck.load(); });
  }
  if (Port != nullptr) {
    RunDL2StartSequence(*Port);
    Port->SetLine(DL2Baud, 'N');
    Port->SetReadTimeout(DL2ReadTimeoutMs);
    Port->SetDtrCleared(false);
    Port->Purge();
  }
  SilenceCount.store(DL2SilencePasses);
  version_query_due_.store((Now() + std::chrono::milliseconds(DL2VersionQueryAfterRestartMs))
                               .time_since_epoch()
                               .count());
  {
    std::lock_guard<std::mutex> lock(pause_mutex_);
    PauseCount.store(static_cast<std::uint16_t>(PauseCount.load() - 1));
  }
  Mode.store(0);
}

void TDL2Driver::CheckPause(bool& Parked) {
  std::lock_guard<std::mutex> lock(pause_mutex_);
  Parked = PauseCount.load() != 0;
  PauseAck.store(Parked);
  pause_changed_.NotifyAll();
}

void TDL2Driver::Execute() {
  while (!Terminated()) {
    bool parked = false;
    CheckPause(parked);
    if (parked || PortClosed()) {
      Delay(50);
      continue;
    }
    std::uint16_t silence = SilenceCount.load();
    if (silence == 0) Mode.store(3);
    SilenceCount.store(static_cast<std::uint16_t>(silence - 1));

    if (Port->Read(&RxByte, 1) == 1) {
      bytes_received_.fetch_add(1);
      idle_run_ = 0;
      rx_idle_ticks_ = 0;
      TxHoldoff = DL2HoldoffAfterByte;
      Port->ClearErrors();
      if (Port->LastErrors != 0) {
        RxCount = 0;
        continue;
      }
      RxBuffer[RxCount] = RxByte;
      if (RxCount == (RxBuffer[0] & 0x7F) + 1) {
        RxCount = 0;
        if (ProcessFrame()) TxHoldoff = 0;
        continue;
      }
      if (RxCount != 0 || (RxByte & 0x7F) <= DL2MaxBody) ++RxCount;
      if (RxCount > DL2MaxFrame - 1) RxCount = 0;
      continue;
    }

    ++idle_run_;
    if (RxCount != 0 && ++rx_idle_ticks_ >= DL2AbandonFrameTicks) RxCount = 0;
    if (TxLength.load(std::memory_order_acquire) != 0 && TxHoldoff == 0) {
      Transmit();
    } else if (TxHoldoff > 0) {
      --TxHoldoff;
    } else if (Mode.load() == 0) {
      AskVersionWhenDue();
    }
  }
  // A client waiting to park the thread must not wait for a thread that has ended.
  std::lock_guard<std::mutex> lock(pause_mutex_);
  PauseAck.store(true);
  pause_changed_.NotifyAll();
}

void TDL2Driver::Transmit() {
  const int count = TxBuffer[0] + 2;
  Port->Write(TxBuffer.data(), count);
  LastTx.fill(0);
  std::copy(TxBuffer.begin(), TxBuffer.begin() + count, LastTx.begin());
  if (TxBuffer[1] < 0x20) {
    LastAddress = TxBuffer[1];
    SeqCounter.store(NextSequence(SeqCounter.load()));
  }
  idle_ticks_before_tx_.store(idle_run_);
  idle_run_ = 0;
  transmissions_.fetch_add(1);
  TxHoldoff = DL2HoldoffAfterTx;
  TxLength.store(0, std::memory_order_release);
  TxIdleEvent.Set();
}

void TDL2Driver::AskVersionWhenDue() {
  const TimePoint now = Now();
  if (now.time_since_epoch().count() < version_query_due_.load()) return;
  // Nobody else transmits in mode 0: clients fail at once, so the transmit buffer stays theirs.
  const std::vector<std::uint8_t> wire = BuildDL2AdapterCommand('V', nullptr, 0);
  Port->Write(wire.data(), static_cast<std::int32_t>(wire.size()));
  LastTx.fill(0);
  std::copy(wire.begin(), wire.end(), LastTx.begin());
  idle_run_ = 0;
  TxHoldoff = DL2HoldoffAfterTx;
  version_query_due_.store(
      (now + std::chrono::milliseconds(DL2VersionQueryIntervalMs)).time_since_epoch().count());
  version_queries_.fetch_add(1);
}

bool TDL2Driver::ProcessFrame() {
  const std::uint8_t length = RxBuffer[0];
  int n = length & 0x7F;
  if (!DL2PlainChecksumValid(RxBuffer.data(), n + 2)) return false;
  // LED bytes flagged on a body that cannot hold them: the frame is malformed.
  if ((length & 0x80) != 0 && n < 2) return false;

  // The adapter's echo of the PC's own last frame is no sign of life, and never an answer: an
  // addressed request whose Swap terms add up to 0 modulo 256 passes the plain test as well, and
  // a read whose command equals its sequence number would otherwise match as its own reply.
  const int tx_count = LastTx[0] + 2;
  const bool echo = LastTx[0] != 0 && length == LastTx[0] &&
                    std::equal(RxBuffer.begin(), RxBuffer.begin() + tx_count, LastTx.begin());
  if (echo) return true;
  SilenceCount.store(DL2SilencePasses);

  const std::uint8_t* body = RxBuffer.data() + 1;
  if ((length & 0x80) != 0) {
    LedState.store(static_cast<std::uint16_t>(body[n - 2] | (body[n - 1] << 8)));
    n -= 2;
  }
  if (n == 0) return true;

  if (body[0] == 0xFF) {
    if (n >= 2) {
      switch (body[1]) {
        case 'V':
          Mode.store(n >= 7 && body[6] == 'W' ? 2 : 1);
          break;
        case 'L':
          if (n >= 4) LedState.store(static_cast<std::uint16_t>(body[2] | (body[3] << 8)));
          break;
        case 'W':
          if (n >= 5) QueueReceived(body + 2, 0);
          break;
        default:
          break;
      }
    }
    // Signalled only once the answer is in place: GetLedState reads the LED state on it.
    ReplyEvent.Set();
    return true;
  }

  if (n >= 2 && body[0] == LastAddress && body[1] == SeqCounter.load()) {
    // Only whole groups of 3 bytes are replies; a partial last group is not queued.
    for (int at = 2; at + 3 <= n; at += 3)
      QueueReceived(body + at, body[1]);
  }
  return true;
}

void TDL2Driver::QueueReceived(const std::uint8_t* Bytes, std::uint8_t Tag) {
  TDL2RingEntry entry;
  entry.Tag = Tag;
  entry.Bytes = {Bytes[0], Bytes[1], Bytes[2]};
  Ring.Put(entry);
  if (HandlerSet()) SafeSynchronize([this] { DoReceive(); });
}

}  // namespace zo
