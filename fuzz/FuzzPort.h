// A serial device whose received bytes come from a fuzz input.
//
// The input is the stream of bytes the line delivers, with an escape byte $A5 for the events a
// real line adds: $A5 $A5 is a plain $A5; $A5 k with bit 7 of k set is a quiet gap (the read in
// progress ends with what it has, and a read that has nothing waits out its time-out); any other
// k gives the next byte its error flags (bit 0 parity, bit 1 framing, bit 2 overrun). Once the
// input is used up the line stays quiet: every read waits out its time-out on the clock and
// returns 0, and Drained() is signalled at the first such read (the reader has handled every
// byte by then). Writes, purges and modem-line changes are accepted and
// change nothing (the input's bytes "arrive" whatever the PC does).
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "serial/RS232o.h"
#include "serial/SerialBackend.h"
#include "threads/Clock.h"
#include "threads/Event.h"

namespace zo::fuzz {

// What the line delivers, decoded from the escape form above: a byte with its error flags, or a
// quiet gap.
struct TLineEvent {
  std::uint8_t Value;
  std::uint32_t Errors;
  bool Gap;
};

inline std::vector<TLineEvent> ParseLineEvents(const std::uint8_t* Data, std::size_t Size) {
  std::vector<TLineEvent> events;
  for (std::size_t i = 0; i < Size; ++i) {
    if (Data[i] != 0xA5 || i + 1 >= Size) {
      events.push_back({Data[i], 0, false});
      continue;
    }
    const std::uint8_t k = Data[++i];
    if (k == 0xA5) {
      events.push_back({0xA5, 0, false});
    } else if ((k & 0x80) != 0) {
      events.push_back({0, 0, true});
    } else if (i + 1 < Size) {
      std::uint32_t errors = 0;
      if (k & 1) errors |= ceRxParity;
      if (k & 2) errors |= ceFrame;
      if (k & 4) errors |= ceOverrun;
      events.push_back({Data[++i], errors, false});
    }
  }
  return events;
}

class FuzzBackend final : public SerialBackend {
 public:
  FuzzBackend(const std::uint8_t* Data, std::size_t Size) : events_(ParseLineEvents(Data, Size)) {}

  TEvent& Drained() { return drained_; }
  std::size_t Written() {
    std::lock_guard<std::mutex> lock(mutex_);
    return written_;
  }

  bool GetLine(TLineSettings& Line) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Line = line_;
    return true;
  }
  bool SetLine(const TLineSettings& Line) override {
    std::lock_guard<std::mutex> lock(mutex_);
    line_ = Line;
    return true;
  }
  bool SetTimeouts(const TTimeouts& Timeouts) override {
    std::lock_guard<std::mutex> lock(mutex_);
    timeouts_ = Timeouts;
    return true;
  }
  bool SetQueueSizes(int, int) override { return true; }

  int Read(std::uint8_t* Buffer, int Count) override {
    if (Count <= 0) return 0;
    long long wait_ms = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      int got = 0;
      while (got < Count && next_ < events_.size()) {
        const TLineEvent& e = events_[next_];
        if (e.Gap) {
          if (got == 0) ++next_;  // the gap ends this read, or is the quiet of an empty one
          break;
        }
        Buffer[got++] = e.Value;
        errors_ |= e.Errors;
        ++next_;
      }
      if (got > 0) return got;
      // The reader has handled every byte of the input and asks for more.
      if (next_ >= events_.size()) drained_.Set();
      wait_ms = static_cast<long long>(timeouts_.ReadConstant) +
                static_cast<long long>(timeouts_.ReadMultiplier) * Count;
      if (wait_ms == 0) wait_ms = std::max<long long>(timeouts_.ReadInterval, 1);
    }
    SleepFor(wait_ms);
    return 0;
  }

  int Write(const std::uint8_t*, int Count) override {
    std::lock_guard<std::mutex> lock(mutex_);
    written_ += static_cast<std::size_t>(std::max(Count, 0));
    return Count;
  }

  std::uint32_t TakeErrors() override {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::uint32_t e = errors_;
    errors_ = 0;
    return e;
  }
  bool Purge() override { return true; }
  bool SetBreak(bool) override { return true; }
  bool SetRts(bool) override { return true; }
  bool SetDtr(bool) override { return true; }
  std::string Describe() const override { return "fuzz input"; }

 private:
  std::mutex mutex_;
  std::vector<TLineEvent> events_;
  std::size_t next_ = 0;
  std::uint32_t errors_ = 0;
  std::size_t written_ = 0;
  TLineSettings line_;
  TTimeouts timeouts_;
  TEvent drained_;
};

// An open port on a fuzz input. The backend stays reachable through `Backend` while the port
// (and whoever owns it) lives.
inline TRS232o* OpenFuzzPort(const std::uint8_t* Data, std::size_t Size, FuzzBackend*& Backend) {
  auto backend = std::make_unique<FuzzBackend>(Data, Size);
  Backend = backend.get();
  auto* port = new TRS232o;
  port->OpenBackend(std::move(backend), 1, 2400, 'N', 1024, 1024);
  return port;
}

}  // namespace zo::fuzz
