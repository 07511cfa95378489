#include "sim/hardware/can_bus.h"

#include <gtest/gtest.h>

#include <sstream>

#include "sim/hardware/candump_log.h"
#include "sim/hardware/frame_timing.h"
#include "sim/hardware/simulation.h"
#include "sim/hardware/tests/test_stations.h"

namespace vantor::sim {
namespace {

using testing::DataFrame;
using testing::RecordingStation;
using testing::RemoteFrame;

// Bit counts worked out bit by bit (identifier, control, data, CRC-15 and
// stuff bits, then delimiters, acknowledge and end of frame).
TEST(FrameTiming, BitCountsMatchFramesWorkedOutByHand) {
  struct Case {
    CanFrame frame;
    std::uint32_t bits;
  };
  const Case cases[] = {
      {DataFrame(0x181, {0x01, 0x02}), 64},
      {RemoteFrame(0x7FF), 47},
      {DataFrame(0x123, {0x11, 0x22, 0x33}), 69},
      {DataFrame(0x000, {0, 0, 0, 0, 0, 0, 0, 0}), 124},
      {DataFrame(0x555, {}), 45},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FrameBitCount(c.frame), c.bits) << std::hex << c.frame.identifier;
  }
  EXPECT_EQ(FrameCrc(DataFrame(0x181, {0x01, 0x02})), 2638);
}

class BusTest : public ::testing::Test {
 protected:
  BusTest() { simulation_.Add(&bus_); }

  Simulation simulation_;
  CanBus bus_{"can0"};
};

TEST_F(BusTest, FrameLastsItsBitsAndNextStartsAfterIntermission) {
  RecordingStation sender(1000);
  RecordingStation listener(1000);
  bus_.Attach(&sender);
  bus_.Attach(&listener);
  const CanFrame first = DataFrame(0x123, {0x11, 0x22, 0x33});
  const CanFrame second = DataFrame(0x181, {0x01, 0x02});
  sender.Queue(first);
  sender.Queue(second);

  simulation_.AdvanceBy(kNanosecondsPerMillisecond);

  ASSERT_EQ(listener.heard.size(), 2U);
  EXPECT_EQ(listener.heard[0].frame, first);
  EXPECT_EQ(listener.heard[0].time, 69U * 1000);
  EXPECT_EQ(listener.heard[1].time, (69U + kIntermissionBits + 64U) * 1000);
  EXPECT_EQ(sender.sent_times, (std::vector<SimTime>{69000, 136000}));
  EXPECT_TRUE(sender.heard.empty());
}

TEST_F(BusTest, LowestIdentifierWinsAndDataBeatsRemote) {
  RecordingStation high(1000), low(1000), remote(1000), listener(1000);
  for (RecordingStation* station : {&high, &remote, &low, &listener}) bus_.Attach(station);
  high.Queue(DataFrame(0x300, {1}));
  remote.Queue(RemoteFrame(0x100));
  low.Queue(DataFrame(0x100, {2}));

  simulation_.AdvanceBy(kNanosecondsPerMillisecond);

  ASSERT_EQ(listener.heard.size(), 3U);
  EXPECT_EQ(listener.heard[0].frame, DataFrame(0x100, {2}));
  EXPECT_EQ(listener.heard[1].frame, RemoteFrame(0x100));
  EXPECT_EQ(listener.heard[2].frame, DataFrame(0x300, {1}));
}

TEST_F(BusTest, FrameWithoutListenerIsNotAcknowledgedAndRetried) {
  RecordingStation sender(1000);
  RecordingStation offline(1000, /*acknowledges=*/false);
  bus_.Attach(&sender);
  bus_.Attach(&offline);
  sender.Queue(DataFrame(0x555, {}));

  simulation_.AdvanceBy(200 * 1000);

  // 45 bits of frame, then 14 of error frame and 3 of intermission.
  ASSERT_GE(sender.failures.size(), 3U);
  EXPECT_EQ(sender.failures[0].error, CanTransmitError::kNoAcknowledge);
  EXPECT_EQ(sender.failures[0].time, 45000U);
  EXPECT_EQ(sender.failures[1].time, 45000U + (14 + 3 + 45) * 1000);
  EXPECT_TRUE(sender.sent_times.empty());
  // The offline station still hears nothing: a frame nobody acknowledged
  // is not a frame.
  EXPECT_TRUE(offline.heard.empty());

  offline.SetAcknowledges(true);
  simulation_.AdvanceBy(200 * 1000);
  EXPECT_EQ(sender.sent_times.size(), 1U);
  EXPECT_EQ(offline.heard.size(), 1U);
}

TEST_F(BusTest, OnlyStationsAtTheTransmittersBitTimeHearAndAcknowledge) {
  struct Case {
    SimTime receiver_bit_time;
    bool understands;
  };
  // The sender runs at 1000 ns; within 1 % a receiver still keeps up.
  const Case cases[] = {{1000, true},  {1010, true},  {990, true},
                        {1011, false}, {2000, false}, {500, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.receiver_bit_time);
    Simulation simulation;
    CanBus bus("can0");
    simulation.Add(&bus);
    RecordingStation sender(1000);
    RecordingStation receiver(c.receiver_bit_time);
    bus.Attach(&sender);
    bus.Attach(&receiver);
    sender.Queue(DataFrame(0x555, {}));
    simulation.AdvanceBy(200 * 1000);
    if (c.understands) {
      EXPECT_EQ(sender.sent_times, (std::vector<SimTime>{45000}));
      EXPECT_EQ(receiver.heard.size(), 1U);
      EXPECT_TRUE(receiver.unreadable.empty());
      continue;
    }
    EXPECT_TRUE(sender.sent_times.empty());
    ASSERT_GE(sender.failures.size(), 3U);
    EXPECT_EQ(sender.failures[0].error, CanTransmitError::kNoAcknowledge);
    EXPECT_TRUE(receiver.heard.empty());
    // Every attempt is one unreadable frame to the receiver.
    ASSERT_EQ(receiver.unreadable.size(), sender.failures.size());
    EXPECT_EQ(receiver.unreadable[0], 45000U);
  }
}

TEST_F(BusTest, AFrameAcknowledgedAtItsRateStaysUnreadableToTheOthers) {
  RecordingStation sender(2000), peer(2000), other(1000);
  for (RecordingStation* station : {&sender, &peer, &other}) bus_.Attach(station);
  std::ostringstream log;
  bus_.SetLog(&log);
  sender.Queue(DataFrame(0x181, {0x01, 0x02}));
  simulation_.AdvanceBy(kNanosecondsPerMillisecond);
  EXPECT_EQ(sender.sent_times, (std::vector<SimTime>{64U * 2000}));
  EXPECT_EQ(peer.heard.size(), 1U);
  EXPECT_TRUE(other.heard.empty());
  EXPECT_EQ(other.unreadable, (std::vector<SimTime>{64U * 2000}));
  EXPECT_EQ(log.str(), "(0000000000.000128) can0 181#0102\n");
}

TEST_F(BusTest, InjectedFaultsHitTheChosenFrames) {
  RecordingStation a(1000), b(1000);
  bus_.Attach(&a);
  bus_.Attach(&b);
  a.SetGiveUpAfter(1);
  bus_.InjectErrorFrames(1, 0x200);
  bus_.SuppressAcknowledge(1);
  a.Queue(DataFrame(0x100, {1}));  // no acknowledgement
  a.Queue(DataFrame(0x200, {2}));  // error frame (identifier filter)
  a.Queue(DataFrame(0x300, {3}));  // passes
  bus_.InjectBusOff(&b);
  b.SetGiveUpAfter(1);
  b.Queue(DataFrame(0x400, {4}));  // bus-off

  simulation_.AdvanceBy(2 * kNanosecondsPerMillisecond);

  ASSERT_EQ(a.failures.size(), 2U);
  EXPECT_EQ(a.failures[0].error, CanTransmitError::kNoAcknowledge);
  EXPECT_EQ(a.failures[1].error, CanTransmitError::kErrorFrame);
  ASSERT_EQ(b.failures.size(), 1U);
  EXPECT_EQ(b.failures[0].error, CanTransmitError::kBusOff);
  ASSERT_EQ(b.heard.size(), 1U);
  EXPECT_EQ(b.heard[0].frame.identifier, 0x300);
  EXPECT_EQ(bus_.Stats().frames, 1U);
  EXPECT_EQ(bus_.Stats().error_frames, 1U);
  EXPECT_EQ(bus_.Stats().acknowledge_errors, 1U);
  EXPECT_EQ(bus_.Stats().bus_off_failures, 1U);
}

TEST_F(BusTest, LogShowsAcknowledgedAndDeliveredFramesInCandumpFormat) {
  std::ostringstream log;
  bus_.SetLog(&log);
  RecordingStation a(1000), b(1000);
  bus_.Attach(&a);
  bus_.Attach(&b);
  bus_.SuppressAcknowledge(1);
  a.SetGiveUpAfter(1);
  a.Queue(DataFrame(0x7FF, {}));  // not acknowledged: not logged
  a.Queue(DataFrame(0x181, {0x01, 0x02}));
  simulation_.AdvanceTo(1'500'000'000);
  bus_.DeliverNow(RemoteFrame(0x7FF, 4), &b);

  EXPECT_EQ(log.str(),
            "(0000000000.000128) can0 181#0102\n"
            "(0000000001.500000) can0 7FF#R4\n");
  // 47 bits of the unacknowledged frame, 17 of error frame and
  // intermission, 64 of the logged one.
  EXPECT_TRUE(a.heard.size() == 1U && b.heard.size() == 1U);
}

TEST_F(BusTest, OnlyAnElevenBitFrameOfEightBytesReachesTheWire) {
  RecordingStation sender(1000), listener(1000);
  bus_.Attach(&sender);
  bus_.Attach(&listener);
  CanFrame oversized = DataFrame(0x1234, {1, 2, 3, 4, 5, 6, 7, 8});
  oversized.length = 15;
  sender.Queue(oversized);
  simulation_.AdvanceBy(kNanosecondsPerMillisecond);
  ASSERT_EQ(listener.heard.size(), 1U);
  EXPECT_EQ(listener.heard[0].frame.identifier, 0x234);
  EXPECT_EQ(listener.heard[0].frame.length, 8);
}

TEST_F(BusTest, DetachedTransmitterLosesItsFrameInFlight) {
  RecordingStation a(1000), b(1000);
  bus_.Attach(&a);
  bus_.Attach(&b);
  a.Queue(DataFrame(0x100, {1}));
  simulation_.AdvanceBy(10 * 1000);
  ASSERT_TRUE(bus_.Busy());
  bus_.Detach(&a);
  simulation_.AdvanceBy(kNanosecondsPerMillisecond);
  EXPECT_TRUE(b.heard.empty());
  EXPECT_FALSE(bus_.Busy());
}

TEST(CandumpFormat, DataRemoteAndEmptyFrames) {
  EXPECT_EQ(FormatCandumpLine(12'345'678'901, "can1", DataFrame(0x00A, {0xDE, 0xAD})),
            "(0000000012.345678) can1 00A#DEAD");
  EXPECT_EQ(FormatCandumpLine(0, "can0", DataFrame(0x700, {})), "(0000000000.000000) can0 700#");
  EXPECT_EQ(FormatCandumpLine(0, "can0", RemoteFrame(0x601)), "(0000000000.000000) can0 601#R");
}

}  // namespace
}  // namespace vantor::sim
