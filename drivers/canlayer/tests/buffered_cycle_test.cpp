// The buffered cycle of run mode 1 against two scripted drives: a
// synchronisation frame every cycle, start frames, set-point frames of
// three ring entries, absolute positions after a marker, the answers'
// condition pattern, padding within the fill limit, a lost
// synchronisation frame, which answer slot each set-point axis reads, the
// axis an object keeps, what code 23 arms, the poll's bound and sends
// handed in under way.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <vector>

#include "common/byte_order.h"
#include "drivers/canlayer/tests/bus_peer.h"
#include "drivers/canlayer/tests/card_fixture.h"

namespace vantor::canlayer::testing {
namespace {

namespace c = common;
namespace eb = common::exchange_buffer;
namespace rdc = common::received_data_condition;

constexpr sim::SimTime kTick = 4 * 128 * kMicrosecond;
constexpr sim::SimTime kCycle = 5 * kTick;
constexpr std::uint16_t kSync = 0x080;
constexpr std::uint16_t kPollCobId = 0x700;
constexpr std::array<std::uint16_t, 2> kSetpointCob{0x201, 0x202};
constexpr std::array<std::uint16_t, 2> kStartCob{0x301, 0x302};
constexpr std::array<std::uint16_t, 2> kPositionCob{0x401, 0x402};
constexpr std::array<std::uint16_t, 2> kAnswerCob{0x181, 0x182};
// Answers: byte 1 is the drive's state (0x27 in order), bit 0 of byte 0
// asks for the start frame.
constexpr std::uint64_t kStateMask = 0xFF00;
constexpr std::uint64_t kInOrder = 0x2700;
constexpr std::uint64_t kStartWanted = 0x01;
constexpr std::uint8_t kInOrderByte = 0x27;
constexpr std::uint8_t kFaultByte = 0x08;

using Entry = std::array<std::int32_t, 6>;

Entry Axes(std::int32_t axis0, std::int32_t axis1) { return {axis0, axis1, 0, 0, 0, 0}; }
const Entry kMarker = Axes(c::kAbsolutePositionMarker, 0);

std::size_t At(int record, std::size_t offset) {
  return 28 * static_cast<std::size_t>(record - 1) + offset;
}

class BufferedCycleTest : public CardFixture {
 protected:
  struct Drive {
    bool wantsStart = true;
    std::uint8_t state = kInOrderByte;
  };

  BufferedCycleTest() {
    const ModelAccess models(pump_);
    machine_.FindBus("can0")->Attach(&peer_);
    // Each drive answers every synchronisation frame and stops asking for
    // its start frame once it had it.
    peer_.OnFrame([this](const sim::CanFrame& frame) {
      for (std::size_t axis = 0; axis < drives_.size(); ++axis) {
        if (frame.identifier == kStartCob[axis]) drives_[axis].wantsStart = false;
        if (frame.identifier == kSync && answering_) {
          peer_.Queue(DataFrame(kAnswerCob[axis],
                                {static_cast<std::uint8_t>(drives_[axis].wantsStart ? 1 : 0),
                                 drives_[axis].state, 0, 0, 0, 0, 0, 0}));
        }
      }
    });
  }
  ~BufferedCycleTest() override {
    const ModelAccess models(pump_);
    machine_.FindBus("can0")->Detach(&peer_);
  }

  void StartBufferedRun(std::int16_t fillLimit = 498, std::int32_t pollInterval = 1000,
                        std::int32_t pollBudget = RunRecordFields{}.pollBudget) {
    owner_ = Open();
    RunRecordFields fields;
    fields.mode = 1;
    fields.fillLimit = fillLimit;
    fields.pollInterval = pollInterval;
    fields.pollBudget = pollBudget;
    ASSERT_EQ(StartRun(owner_, fields), c::kDriverSuccess);
    started_ = Now();
  }

  static void PutEntries(c::ExchangeBuffer& buffer, const std::vector<Entry>& entries) {
    buffer.Set(eb::kSetpointCount, static_cast<std::int16_t>(entries.size()));
    for (std::size_t i = 0; i < entries.size(); ++i)
      for (std::size_t axis = 0; axis < 6; ++axis)
        buffer.Store<std::int32_t>(eb::SetpointValueOffset(i, axis), entries[i][axis]);
  }

  // Set-point objects in records 1 and 3, their answer objects in 2 and 4,
  // the synchronisation in record 5.
  static c::ExchangeBuffer StartRequest(const std::vector<Entry>& entries) {
    c::ExchangeBuffer buffer;
    for (int axis = 0; axis < 2; ++axis) {
      const int setpoint = 1 + 2 * axis;
      buffer.Store<std::uint8_t>(At(setpoint, 0), 10);
      buffer.Store<std::uint16_t>(At(setpoint, 2), kSetpointCob[axis]);
      buffer.Store<std::uint16_t>(At(setpoint, 14), kStartCob[axis]);
      buffer.Store<std::uint8_t>(At(setpoint, 16), 1);
      buffer.Store<std::uint8_t>(At(setpoint, 17), 0x1F);
      buffer.Store<std::uint16_t>(At(setpoint, 26), kPositionCob[axis]);
      buffer.Store<std::uint8_t>(At(setpoint + 1, 0), 12);
      buffer.Store<std::uint16_t>(At(setpoint + 1, 2), kAnswerCob[axis]);
    }
    buffer.Store<std::uint8_t>(At(5, 0), 22);
    buffer.Store<std::uint16_t>(At(5, 2), kSync);
    buffer.Store<std::uint32_t>(At(5, 14), kPollCobId);
    buffer.Set(eb::kGlobalMaskRequest, 1);
    buffer.Set(eb::kGlobalStandardMask, 0x7FF);
    buffer.Set(eb::kRingControl, eb::kRingStart);
    auto condition =
        *buffer.MutableWindow<c::kReceivedDataConditionSize>(eb::kReceivedDataConditionOffset);
    condition.Set(rdc::kMask, kStateMask);
    condition.Set(rdc::kPattern, kInOrder);
    condition.Set(rdc::kConditionMask, kStartWanted);
    PutEntries(buffer, entries);
    return buffer;
  }

  // The caller's next request: the last answer handed back, as the kernel
  // does, with no new entries.
  static c::ExchangeBuffer FollowUp(const std::vector<std::uint8_t>& reply) {
    c::ExchangeBuffer buffer;
    std::copy(reply.begin(), reply.end(), buffer.MutableBytes().begin());
    buffer.Set(eb::kSetpointCount, 0);
    buffer.Set(eb::kStatus, 0);
    return buffer;
  }

  // Runs whole cycles, keeping one request outstanding; returns the
  // answers in order.
  std::vector<std::vector<std::uint8_t>> RunCycles(const c::ExchangeBuffer& first, int cycles) {
    std::vector<std::vector<std::uint8_t>> answers;
    auto outstanding = Exchange(owner_, first);
    for (int cycle = 0; cycle < cycles; ++cycle) {
      AdvanceBy(kCycle);
      if (!outstanding->Done()) continue;
      EXPECT_EQ(outstanding->Status(), os::kStatusSuccess);
      answers.push_back(outstanding->Data());
      EXPECT_EQ(outstanding->Word(12464), c::kDriverSuccess);
      outstanding = Exchange(owner_, FollowUp(answers.back()));
    }
    // Like the kernel at its end, take back what is still waiting, so the
    // next run of cycles starts with no request parked.
    if (!outstanding->Done()) {
      EXPECT_EQ(Status(owner_, c::IOCTL_CAN_ABORT_EXCHANGE), c::kDriverSuccess);
    }
    return answers;
  }

  // A buffered run that streams sixty entries (axis 1 the negative of
  // axis 0) for seven cycles; returns the answers so far.
  std::vector<std::vector<std::uint8_t>> StreamSixtyEntries() {
    StartBufferedRun();
    std::vector<Entry> entries;
    for (int i = 0; i < 60; ++i) entries.push_back(Axes(i, -i));
    return RunCycles(StartRequest(entries), 7);
  }

  std::vector<BusPeer::Heard> Heard(std::uint16_t identifier) const {
    std::vector<BusPeer::Heard> heard;
    for (const auto& h : peer_.HeardFrames())
      if (h.frame.identifier == identifier) heard.push_back(h);
    return heard;
  }

  static std::int16_t QueuedCount(const std::vector<std::uint8_t>& reply) {
    return c::LoadLittleEndian<std::int16_t>(reply.data() + 12432);
  }

  BusPeer peer_;
  std::array<Drive, 2> drives_{};
  bool answering_ = true;
  std::shared_ptr<devhost::FileObject> owner_;
  sim::SimTime started_ = 0;
};

struct SetpointFrame {
  std::int32_t value;
  std::int16_t firstStep;
  std::int16_t secondStep;
};

// Decodes an 8-byte set-point frame on its own terms.
SetpointFrame Decode(const sim::CanFrame& frame) {
  const auto byte = [&](int i) { return static_cast<std::uint32_t>(frame.data[i]); };
  return {static_cast<std::int32_t>(byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24),
          static_cast<std::int16_t>(byte(4) | byte(5) << 8),
          static_cast<std::int16_t>(byte(6) | byte(7) << 8)};
}

TEST_F(BufferedCycleTest, SynchronisationEveryCycleAndOneFramePerAxisFromFourEntries) {
  StartBufferedRun();
  const std::vector<Entry> entries{Axes(1000, -5), Axes(1010, -2), Axes(1030, 4),
                                   Axes(1060, 100000)};
  const auto answers = RunCycles(StartRequest(entries), 14);
  ASSERT_GE(answers.size(), 4u);

  const auto syncs = Heard(kSync);
  for (int cycle = 1; cycle < 13; ++cycle) {
    const sim::SimTime from = started_ + cycle * kCycle;
    const auto inCycle = std::count_if(syncs.begin(), syncs.end(), [&](const auto& h) {
      return h.at >= from && h.at < from + kCycle;
    });
    EXPECT_EQ(inCycle, 1) << "cycle " << cycle;
  }
  for (int axis = 0; axis < 2; ++axis) {
    SCOPED_TRACE(axis);
    EXPECT_EQ(Heard(kStartCob[axis]).size(), 1u);
    const auto frames = Heard(kSetpointCob[axis]);
    ASSERT_EQ(frames.size(), 1u) << "the fourth entry waits for two more";
    ASSERT_EQ(frames[0].frame.length, 8);
    const SetpointFrame decoded = Decode(frames[0].frame);
    EXPECT_EQ(decoded.value, entries[0][axis]);
    EXPECT_EQ(decoded.firstStep, static_cast<std::int16_t>(entries[1][axis] - entries[0][axis]));
    EXPECT_EQ(decoded.secondStep, static_cast<std::int16_t>(entries[2][axis] - entries[1][axis]));
  }
  EXPECT_EQ(QueuedCount(answers.front()), 4);
  EXPECT_EQ(QueuedCount(answers.back()), 1);
  const auto& last = answers.back();
  EXPECT_EQ(last[At(1, 0)], 11);
  EXPECT_EQ(last[At(1, 1)], 0) << "set-point frame sent";
  EXPECT_EQ(last[At(2, 0)], 13);
  EXPECT_EQ(last[At(2, 1)], 0) << "answer received";
  EXPECT_EQ(last[At(2, 6)], kInOrderByte);
  EXPECT_EQ(last[At(5, 0)], 23);
  EXPECT_EQ(last[At(5, 1)], 0);
  EXPECT_EQ(last[eb::kRingControl.kOffset], eb::kRingRunning);
}

TEST_F(BufferedCycleTest, MarkerSendsPositionFramesThenStreamingResumesOnSetpointIds) {
  StartBufferedRun();
  const std::vector<Entry> entries{kMarker, Axes(7000, -7000), Axes(7001, -7001), Axes(7003, -7004),
                                   Axes(7006, -7008)};
  RunCycles(StartRequest(entries), 14);
  for (int axis = 0; axis < 2; ++axis) {
    SCOPED_TRACE(axis);
    const auto positions = Heard(kPositionCob[axis]);
    ASSERT_EQ(positions.size(), 1u);
    ASSERT_EQ(positions[0].frame.length, 4);
    EXPECT_EQ(Decode(positions[0].frame).value, entries[1][axis]);
    const auto setpoints = Heard(kSetpointCob[axis]);
    ASSERT_EQ(setpoints.size(), 1u);
    EXPECT_GT(setpoints[0].at, positions[0].at);
    const SetpointFrame decoded = Decode(setpoints[0].frame);
    EXPECT_EQ(decoded.value, entries[2][axis]);
    EXPECT_EQ(decoded.firstStep, entries[3][axis] - entries[2][axis]);
    EXPECT_EQ(decoded.secondStep, entries[4][axis] - entries[3][axis]);
  }
}

TEST_F(BufferedCycleTest, AnAnswerOutOfPatternEmptiesTheRing) {
  StartBufferedRun();
  std::vector<Entry> entries;
  for (int i = 0; i < 30; ++i) entries.push_back(Axes(100 * i, -i));
  auto answers = RunCycles(StartRequest(entries), 8);
  ASSERT_FALSE(answers.empty());
  ASSERT_FALSE(Heard(kSetpointCob[0]).empty()) << "streaming";
  ASSERT_GT(QueuedCount(answers.back()), 0);

  drives_[1].state = kFaultByte;
  const std::size_t framesBefore = Heard(kSetpointCob[0]).size();
  const auto later = RunCycles(FollowUp(answers.back()), 4);
  ASSERT_FALSE(later.empty());
  EXPECT_EQ(QueuedCount(later.back()), 0);
  EXPECT_LE(Heard(kSetpointCob[0]).size(), framesBefore + 1) << "at most the frame under way";
}

TEST_F(BufferedCycleTest, ASetpointObjectThatCannotSendFailsItsAxis) {
  const auto streaming = StreamSixtyEntries();
  ASSERT_FALSE(streaming.empty());
  ASSERT_FALSE(Heard(kSetpointCob[0]).empty());
  {
    // From now on object 1's control register reads back invalid pairs.
    const ModelAccess models(pump_);
    Controller(1).OverrideNextRead(16 * 1 + 1, 0x00);
    Controller(1).AfterRead(
        16 * 1 + 1, [this] { Controller(1).OverrideNextRead(16 * 1 + 1, 0x00); }, 1'000'000);
  }
  const std::size_t framesBefore = Heard(kSetpointCob[1]).size();
  const auto answers = RunCycles(FollowUp(streaming.back()), 8);
  ASSERT_FALSE(answers.empty());
  EXPECT_EQ(answers.back()[At(1, 0)], 11);
  EXPECT_EQ(answers.back()[At(1, 1)], 5) << "the failed transmit state";
  EXPECT_EQ(answers.back()[At(3, 1)], 0);
  EXPECT_GE(answers.size(), 3u) << "a failed axis does not hold the answers";
  EXPECT_LE(Heard(kSetpointCob[1]).size(), framesBefore + 1) << "streaming stops on every axis";
}

TEST_F(BufferedCycleTest, ASetpointObjectKeepsItsAxisWhenAnEarlierOneLeaves) {
  const auto streaming = StreamSixtyEntries();
  ASSERT_FALSE(streaming.empty());
  ASSERT_FALSE(Heard(kSetpointCob[1]).empty()) << "streaming";

  // Drive 0 leaves the stream; the entries keep their six columns.
  c::ExchangeBuffer request = FollowUp(streaming.back());
  request.Store<std::uint8_t>(At(1, 0), 0);
  request.Store<std::uint8_t>(At(2, 0), 0);
  const std::size_t before = Heard(kSetpointCob[1]).size();
  const std::size_t axisZeroBefore = Heard(kSetpointCob[0]).size();
  const auto answers = RunCycles(request, 6);
  ASSERT_FALSE(answers.empty());
  EXPECT_LE(Heard(kSetpointCob[0]).size(), axisZeroBefore + 1) << "at most the frame under way";
  const auto frames = Heard(kSetpointCob[1]);
  ASSERT_GT(frames.size(), before) << "the remaining axis streams on";
  for (std::size_t i = before; i < frames.size(); ++i) {
    SCOPED_TRACE(i);
    // Axis 1 carries -i, axis 0 +i: the frames must stay in axis 1's column.
    const SetpointFrame decoded = Decode(frames[i].frame);
    EXPECT_LT(decoded.value, 0);
    EXPECT_EQ(decoded.firstStep, -1);
    EXPECT_EQ(decoded.secondStep, -1);
  }
}

TEST_F(BufferedCycleTest, SynchronisationUnacknowledgedForThreeCyclesFailsTheRecord) {
  peer_.SetOnline(false);
  StartBufferedRun();
  c::ExchangeBuffer request;
  request.Store<std::uint8_t>(At(5, 0), 22);
  request.Store<std::uint16_t>(At(5, 2), kSync);
  const auto answers = RunCycles(request, 8);
  ASSERT_GE(answers.size(), 3u);
  EXPECT_EQ(answers[0][At(5, 1)], 0) << "armed, frame requested";
  // Three cycles without the frame leaving stop the buffered cycle; from
  // then on every cycle answers and reports the loss.
  EXPECT_EQ(answers[1][At(5, 0)], 23);
  EXPECT_EQ(answers[1][At(5, 1)], 1);
  EXPECT_EQ(answers.back()[At(5, 1)], 1);
  const ModelAccess models(pump_);
  EXPECT_EQ((Controller(1).Read(16 * 5) >> 6) & 0b11, 0b01) << "object invalidated";
}

TEST_F(BufferedCycleTest, EachSetpointAxisReadsTheAnswerSlotOfItsOwnDrive) {
  // Set-point objects in records 1 and 3 and answer objects in 2 and 4:
  // only the drive that asks for its start frame gets it.
  for (int asking = 0; asking < 2; ++asking) {
    SCOPED_TRACE(asking);
    peer_.ForgetHeard();
    drives_[asking].wantsStart = true;
    drives_[1 - asking].wantsStart = false;
    StartBufferedRun();
    // Enough entries that the ring never runs empty, which would start
    // every object.
    std::vector<Entry> entries;
    for (int i = 0; i < 60; ++i) entries.push_back(Axes(i, i));
    RunCycles(StartRequest(entries), 6);
    EXPECT_EQ(Heard(kStartCob[asking]).size(), 1u);
    EXPECT_TRUE(Heard(kStartCob[1 - asking]).empty());
    EXPECT_EQ(Status(owner_, c::IOCTL_CAN_STOP_RUN), c::kDriverSuccess);
  }
}

TEST_F(BufferedCycleTest, PaddingOnlyWithinTheFillLimit) {
  struct Case {
    std::int16_t fillLimit;
    std::int16_t queued;
    std::uint8_t padRequestAfter;
  };
  for (const Case& test : {Case{6, 6, 0}, Case{5, 4, 1}}) {
    SCOPED_TRACE(test.fillLimit);
    StartBufferedRun(test.fillLimit);
    c::ExchangeBuffer request;
    request.Set(eb::kRingControl, eb::kRingStart);
    request.Set(eb::kPadRequest, 1);
    PutEntries(request, {Axes(1, 0), Axes(2, 0), Axes(3, 0), Axes(4, 0)});
    const auto answers = RunCycles(request, 1);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(QueuedCount(answers[0]), test.queued);
    EXPECT_EQ(answers[0][eb::kPadRequest.kOffset], test.padRequestAfter);

    // A new start empties the ring first: the full ring does not count
    // against the entries that replace it.
    c::ExchangeBuffer restart;
    restart.Set(eb::kRingControl, eb::kRingStart);
    PutEntries(restart, {Axes(9, 0), Axes(9, 0), Axes(9, 0), Axes(9, 0), Axes(9, 0)});
    const auto replaced = RunCycles(restart, 1);
    ASSERT_EQ(replaced.size(), 1u);
    EXPECT_EQ(QueuedCount(replaced[0]), 5);
    EXPECT_EQ(Status(owner_, c::IOCTL_CAN_STOP_RUN), c::kDriverSuccess);
  }
}

c::ExchangeBuffer SynchronisationOnly(std::uint8_t code) {
  c::ExchangeBuffer request;
  request.Store<std::uint8_t>(At(5, 0), code);
  request.Store<std::uint16_t>(At(5, 2), kSync);
  request.Store<std::uint32_t>(At(5, 14), kPollCobId);
  request.Set(eb::kGlobalMaskRequest, 1);
  request.Set(eb::kGlobalStandardMask, 0x7FF);
  return request;
}

TEST_F(BufferedCycleTest, TheSynchronisationAnswerIsPolledOrGivenUp) {
  struct Case {
    const char* name;
    bool answered;
    std::uint8_t result;
  };
  {
    // Register accesses take time on the card: while the tick waits for the
    // synchronisation frame to leave, the bus goes on.
    const ModelAccess models(pump_);
    Controller(1).AfterRead(
        16 * 5 + 1, [this] { machine_.Sim().AdvanceTo(machine_.Sim().Now() + 5 * kMicrosecond); },
        1'000'000);
  }
  for (const Case& test : {Case{"answered", true, 0}, Case{"never answered", false, 2}}) {
    SCOPED_TRACE(test.name);
    peer_.ForgetHeard();
    if (test.answered) {
      peer_.AnswerRemote(kPollCobId, DataFrame(kPollCobId, {0x05}));
    } else {
      peer_.StopAnsweringRemote(kPollCobId);
    }
    StartBufferedRun(498, 1);
    const auto answers = RunCycles(SynchronisationOnly(22), 30);
    ASSERT_GE(answers.size(), 10u);
    const auto polls = Heard(kPollCobId);
    ASSERT_FALSE(polls.empty());
    EXPECT_TRUE(polls.front().frame.remote);
    EXPECT_GT(polls.front().at, Heard(kSync).front().at) << "polled after the frame left";
    EXPECT_EQ(answers.back()[At(5, 0)], 23);
    EXPECT_EQ(answers.back()[At(5, 1)], test.result);
    if (!test.answered) {
      // Four unanswered rounds, then no more polls.
      const auto remotes =
          std::count_if(polls.begin(), polls.end(), [](const auto& h) { return h.frame.remote; });
      EXPECT_EQ(remotes, 4);
    }
    EXPECT_EQ(Status(owner_, c::IOCTL_CAN_STOP_RUN), c::kDriverSuccess);
  }
}

// The poll counts its reads in the time one read took at the start. A
// start whose read was held up (another thread or interrupt took the
// processor meanwhile) must not leave a run whose poll gives up after a
// read or two, before its synchronisation frame has left, in every cycle.
TEST_F(BufferedCycleTest, AReadHeldUpAtTheStartDoesNotStarveThePoll) {
  constexpr devhost::Ticks kHeldUp = devhost::MicrosecondsToTicks(100);
  std::atomic<bool> starting{true};
  {
    const ModelAccess models(pump_);
    // Register accesses take time on the card, as above.
    Controller(1).AfterRead(
        16 * 5 + 1, [this] { machine_.Sim().AdvanceTo(machine_.Sim().Now() + 5 * kMicrosecond); },
        1'000'000);
    Controller(1).AfterRead(
        16 * 1 + 1,
        [this, &starting] {
          if (starting.exchange(false)) clock_.Advance(kHeldUp);
        },
        1'000'000);
  }
  peer_.AnswerRemote(kPollCobId, DataFrame(kPollCobId, {0x05}));
  StartBufferedRun(498, 1);
  EXPECT_FALSE(starting.load()) << "the start read object 1";
  const auto answers = RunCycles(SynchronisationOnly(22), 30);
  ASSERT_GE(answers.size(), 10u);
  const auto polls = Heard(kPollCobId);
  ASSERT_FALSE(polls.empty()) << "never polled";
  EXPECT_GT(polls.front().at, Heard(kSync).front().at) << "polled after the frame left";
  EXPECT_EQ(answers.back()[At(5, 1)], 0) << "the answer came";
}

TEST_F(BufferedCycleTest, SynchronisedSingleSendGoesOutAtTheCycleAndReleasesTheObject) {
  StartBufferedRun();
  c::ExchangeBuffer request = SynchronisationOnly(22);
  request.Store<std::uint8_t>(At(6, 0), 8);
  request.Store<std::uint16_t>(At(6, 2), 0x555);
  request.Store<std::uint8_t>(At(6, 4), 1);
  request.Store<std::uint8_t>(At(6, 5), 0x42);
  const auto answers = RunCycles(request, 4);
  ASSERT_FALSE(answers.empty());
  EXPECT_EQ(answers[0][At(6, 0)], 0) << "released once sent";
  EXPECT_EQ(answers[0][At(6, 1)], 0);
  const auto sent = Heard(0x555);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].frame.data[0], 0x42);
  const ModelAccess models(pump_);
  EXPECT_EQ((Controller(1).Read(16 * 6) >> 6) & 0b11, 0b01) << "object invalidated";
}

// A send under way that the caller hands in again (after an abort, with
// its result reset, or with no send started at all) is seen out like one
// the driver started, so the answer never waits for it for ever.
TEST_F(BufferedCycleTest, AnUnderWaySendHandedInAgainIsSeenOutAndTheAnswerComes) {
  struct Case {
    const char* name;
    bool startedBefore;
  };
  for (const Case& test :
       {Case{"started, aborted, result reset", true}, Case{"never started in this run", false}}) {
    SCOPED_TRACE(test.name);
    peer_.ForgetHeard();
    StartBufferedRun();
    c::ExchangeBuffer send = SynchronisationOnly(22);
    send.Store<std::uint8_t>(At(6, 0), 8);
    send.Store<std::uint16_t>(At(6, 2), 0x555);
    send.Store<std::uint8_t>(At(6, 4), 1);
    send.Store<std::uint8_t>(At(6, 5), 0x42);
    if (test.startedBefore) {
      const auto first = Exchange(owner_, send);
      AdvanceBy(kCycle);
      ASSERT_FALSE(first->Done()) << "held while the send is under way";
      ASSERT_EQ(Status(owner_, c::IOCTL_CAN_ABORT_EXCHANGE), c::kDriverSuccess);
      send.Store<std::uint8_t>(At(5, 0), 23);
    }
    send.Store<std::uint8_t>(At(6, 0), 9);
    send.Store<std::uint8_t>(At(6, 1), 0);
    const auto answers = RunCycles(send, 6);
    ASSERT_FALSE(answers.empty()) << "the answer waits for ever";
    EXPECT_EQ(answers[0][At(5, 0)], 23);
    EXPECT_EQ(answers[0][At(6, 0)], 0) << "released";
    EXPECT_EQ(Heard(0x555).size(), test.startedBefore ? 1u : 0u);
    EXPECT_EQ(Status(owner_, c::IOCTL_CAN_STOP_RUN), c::kDriverSuccess);
  }
}

// Code 23 keeps a synchronisation armed only on the object that code 22
// started in this run; anywhere else the run answers every cycle and sends
// no synchronisation frame.
TEST_F(BufferedCycleTest, Code23KeepsOnlyTheSynchronisationThisRunStarted) {
  struct Case {
    const char* name;
    bool startedFirst;
    int code23Record;
  };
  for (const Case& test : {Case{"on another object than the started one", true, 6},
                           Case{"with no synchronised start in this run", false, 5}}) {
    SCOPED_TRACE(test.name);
    StartBufferedRun();
    c::ExchangeBuffer request;
    if (test.startedFirst) {
      const auto started = RunCycles(SynchronisationOnly(22), 3);
      ASSERT_FALSE(started.empty());
      request = FollowUp(started.back());
      request.Store<std::uint8_t>(At(5, 0), 1);  // the started object only stays a transmitter
    }
    request.Store<std::uint8_t>(At(test.code23Record, 0), 23);
    request.Store<std::uint16_t>(At(test.code23Record, 2), kSync);
    const auto reply = Exchange(owner_, request);
    AdvanceBy(kCycle);
    ASSERT_TRUE(reply->Done()) << "answered at the next cycle";
    const std::size_t syncsBefore = Heard(kSync).size();
    const auto answers = RunCycles(FollowUp(reply->Data()), 5);
    EXPECT_EQ(answers.size(), 5u) << "one answer per cycle";
    EXPECT_EQ(Heard(kSync).size(), syncsBefore) << "no synchronisation frame";
    EXPECT_EQ(Status(owner_, c::IOCTL_CAN_STOP_RUN), c::kDriverSuccess);
  }
}

// The tick waits for the synchronisation frame to leave before it polls,
// but never longer than one tick, whatever budget the run asked for: the
// frame never leaves within the tick here, so every poll spends it all.
TEST_F(BufferedCycleTest, ThePollWaitsNoLongerThanOneTickWhateverTheBudget) {
  constexpr int kCycles = 6;
  constexpr unsigned kReadsPerTick = 4 * 128;  // one read takes at least a microsecond
  constexpr unsigned kOtherReadsPerCycle = 16;
  std::atomic<unsigned> reads{0};
  {
    const ModelAccess models(pump_);
    Controller(1).AfterRead(
        16 * 5 + 1, [&reads] { reads.fetch_add(1); }, 100'000'000);
  }
  StartBufferedRun(498, 1, 200'000);
  const auto answers = RunCycles(SynchronisationOnly(22), kCycles);
  ASSERT_GE(answers.size(), 2u);
  EXPECT_LE(reads.load(), kCycles * (kReadsPerTick + kOtherReadsPerCycle));
  EXPECT_GE(reads.load(), kReadsPerTick) << "a poll spends its tick";
}

TEST_F(BufferedCycleTest, MissingAnswersAreRepeatedThenReported) {
  const auto streaming = StreamSixtyEntries();
  ASSERT_FALSE(streaming.empty());
  ASSERT_FALSE(Heard(kSetpointCob[0]).empty());

  answering_ = false;
  const auto answers = RunCycles(FollowUp(streaming.back()), 30);
  ASSERT_FALSE(answers.empty());
  const auto& last = answers.back();
  EXPECT_EQ(last[At(2, 0)], 13);
  EXPECT_EQ(last[At(2, 1)], 2) << "answer failure reported: nothing received";
  EXPECT_EQ(last[At(4, 1)], 2);
  // Once reported, the run keeps answering, after each wait for the
  // answers that stay away.
  const auto more = RunCycles(FollowUp(last), 8);
  EXPECT_GE(more.size(), 2u);
  EXPECT_EQ(more.back()[At(2, 1)], 2);
}

TEST_F(BufferedCycleTest, ARequestWithoutCode23DisarmsAndEveryCycleAnswers) {
  StartBufferedRun();
  auto answers = RunCycles(SynchronisationOnly(22), 3);
  ASSERT_FALSE(answers.empty());
  c::ExchangeBuffer plain = FollowUp(answers.back());
  plain.Store<std::uint8_t>(At(5, 0), 1);  // the object only stays a transmitter
  const auto reply = Exchange(owner_, plain);
  AdvanceBy(kCycle);
  ASSERT_TRUE(reply->Done());
  const std::size_t syncsBefore = Heard(kSync).size();
  answers = RunCycles(FollowUp(reply->Data()), 5);
  EXPECT_EQ(answers.size(), 5u) << "one answer per cycle";
  EXPECT_EQ(Heard(kSync).size(), syncsBefore) << "no synchronisation frame any more";
}

TEST_F(BufferedCycleTest, FixedCycleSendsTheSynchronisationAtTheSendTickWhileArmed) {
  owner_ = Open();
  ASSERT_EQ(StartRun(owner_, {}), c::kDriverSuccess);
  started_ = Now();
  auto answers = RunCycles(SynchronisationOnly(22), 6);
  ASSERT_EQ(answers.size(), 6u);
  EXPECT_EQ(answers.back()[At(5, 0)], 23);
  const auto syncs = Heard(kSync);
  ASSERT_GE(syncs.size(), 5u);
  for (std::size_t i = 1; i < syncs.size(); ++i)
    EXPECT_EQ(syncs[i].at - syncs[i - 1].at, kCycle) << "one frame per cycle";
}

}  // namespace
}  // namespace vantor::canlayer::testing
