#include <gtest/gtest.h>

#include "drivers/Bustools.h"
#include "drivers/ExtendedBusdrv.h"
#include "tests/support/FakeDriver.h"
#include "tests/support/VirtualClock.h"

namespace zo {
namespace {

using test::FakeDriver;

// Owns a FakeDriver for the length of a test and stops it in order, on the virtual clock: its
// 500 ms waits pass exactly, however busy the machine is.
struct DriverHolder {
  explicit DriverHolder(FakeDriver::Device device = {}) : driver(new FakeDriver(device)) {}
  ~DriverHolder() { driver->Stop(); }
  FakeDriver* operator->() { return driver; }
  FakeDriver& operator*() { return *driver; }
  test::VirtualClock clock{60};  // first: it outlives the driver's thread
  FakeDriver* driver;
};

TEST(ReceiveRing, AtMostNineFramesAreCountedAndTheTenthIsOverwritten) {
  TSemaphore received;
  TReceiveRing<int> ring(received);
  for (int i = 1; i <= 9; ++i)
    EXPECT_TRUE(ring.Put(i));
  EXPECT_EQ(received.GetCount(), 9);
  EXPECT_FALSE(ring.Put(10));  // stored in the free slot, not counted
  EXPECT_FALSE(ring.Put(11));  // overwrites it
  EXPECT_EQ(received.GetCount(), 9);
  int v = 0;
  ASSERT_TRUE(ring.Get(v));
  EXPECT_EQ(v, 1);
  EXPECT_TRUE(ring.Put(12));  // now counted, in the slot that held 11
  for (int expect : {2, 3, 4, 5, 6, 7, 8, 9, 12}) {
    ASSERT_TRUE(ring.Get(v));
    EXPECT_EQ(v, expect);
  }
  EXPECT_FALSE(ring.Get(v));
  EXPECT_EQ(received.GetCount(), 0);
}

TEST(BusDriver, RequestDiscardsFramesThatArrivedBefore) {
  DriverHolder d([](const TBusFrame& f) { return TBusFrame{0x82, f[1], 0x11, 0}; });
  d->Inject({0x99, 1, 2, 0});
  d->Inject({0x98, 3, 4, 0});
  TBusFrame f{5, 0x42, 0, 0xFF};
  ASSERT_TRUE(d->Request(f));
  EXPECT_EQ(f[0], 0x82);
  EXPECT_EQ(f[1], 0x42);
  EXPECT_EQ(f[2], 0x11);
}

TEST(BusDriver, RequestWithoutReplyFailsAndTheLateReplyIsFlushedByTheNext) {
  DriverHolder d;  // a device that never answers
  TBusFrame f{7, 0, 0, 0xFF};
  EXPECT_FALSE(d->Request(f));
  d->Inject({0x70, 9, 9, 0});  // a late answer
  d->SetDevice([](const TBusFrame&) { return TBusFrame{0x71, 1, 0, 0}; });
  f = {7, 0, 0, 0xFF};
  ASSERT_TRUE(d->Request(f));
  EXPECT_EQ(f[0], 0x71);
}

TEST(BusDriver, SendFailsWhenTheTransmitterHangsAndTheFrameStillGoesOut) {
  DriverHolder d;
  d->SetStalled(true);
  TBusFrame f{3, 3, 0, 0};
  EXPECT_FALSE(d->Send(f));      // put, but not transmitted within 500 ms
  EXPECT_FALSE(d->PutFrame(f));  // the transmitter is still busy with the first
  d->SetStalled(false);
  for (int i = 0; i < 100 && d->Sent().empty(); ++i)
    Delay(5);
  EXPECT_EQ(d->Sent().size(), 1u);
}

TEST(BusDriver, LedStateNeedsReplyCode81) {
  DriverHolder d([](const TBusFrame&) { return TBusFrame{0x81, 0x34, 0x12, 0}; });
  EXPECT_EQ(d->GetLedState(), 0x1234);
  d->SetDevice([](const TBusFrame&) { return TBusFrame{0x82, 0x34, 0x12, 0}; });
  EXPECT_EQ(d->GetLedState(), -1);
}

// A device that answers requests 5 and 6 with the given words and counts the requests.
FakeDriver::Device VersionDevice(int low, int high, bool answer5 = true, bool answer6 = true) {
  return [=](const TBusFrame& f) -> std::optional<TBusFrame> {
    if (f[0] == 5 && answer5) return TBusFrame{0x82, std::uint8_t(low), std::uint8_t(low >> 8), 0};
    if (f[0] == 6 && answer6)
      return TBusFrame{0x83, std::uint8_t(high), std::uint8_t(high >> 8), 0};
    return std::nullopt;
  };
}

TEST(Bustools, SoftwareVersionFromTwoWordsWithTheHexadecimalRewrite) {
  {
    DriverHolder d(VersionDevice(0x5104, 0x0171));  // $1715104
    EXPECT_EQ(ReadSoftwareVersion(*d), 1715104);
    const auto sent = d->Sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0][0], 5);
    EXPECT_EQ(sent[1][0], 6);
  }
  {
    DriverHolder d(VersionDevice(2600008 & 0xFFFF, 2600008 >> 16));
    EXPECT_EQ(ReadSoftwareVersion(*d), 2600008);
  }
  {
    DriverHolder d(VersionDevice(0x0000, 0x01A0));  // $1A00000: a letter in the rewrite
    EXPECT_EQ(ReadSoftwareVersion(*d), -1);
  }
}

TEST(Bustools, SoftwareVersionFailsWhenEitherWordFails) {
  {
    DriverHolder d(VersionDevice(1, 1, true, false));
    EXPECT_EQ(ReadSoftwareVersion(*d), -1);
  }
  {
    DriverHolder d(VersionDevice(1, 1, false, true));
    EXPECT_EQ(ReadSoftwareVersion(*d), -1);
    EXPECT_EQ(d->Sent().size(), 1u);  // request 6 is not sent
  }
}

TEST(Bustools, WrongReplyCodeFailsTheVersionWord) {
  DriverHolder d([](const TBusFrame&) { return TBusFrame{0x83, 1, 0, 0}; });
  EXPECT_EQ(ReadVersionWord(*d, true), -1);
  EXPECT_EQ(ReadVersionWord(*d, false), 1);
}

TEST(Bustools, Command4CarriesItsDataByte) {
  DriverHolder d;
  EXPECT_TRUE(SendCommand4(*d, 160));
  ASSERT_EQ(d->Sent().size(), 1u);
  EXPECT_EQ(d->Sent()[0][0], 4);
  EXPECT_EQ(d->Sent()[0][1], 160);
}

}  // namespace
}  // namespace zo
