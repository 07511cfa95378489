#include "kernel/core/canopen/can_object_cycle.h"

#include <gtest/gtest.h>

#include <vector>

#include "kernel/core/canopen/received_data_condition.h"
#include "kernel/core/canopen/tests/canopen_test_support.h"

namespace vantor::canopen {
namespace {

using testing::LoggedFrame;
using testing::Rec;

constexpr std::uint8_t kReleaseCode = 0;
constexpr std::uint8_t kSendOnceCode = 2;
constexpr std::uint8_t kRemoteRequestCode = 20;
constexpr std::uint8_t kDone = 0;
constexpr std::uint8_t kPending = 1;
constexpr std::uint8_t kNothing = 2;

// A list over an exchange record on which the test plays the driver: it
// sets the elapsed time and status, answers records and runs the list's two
// cycle steps.
class ObjectListCycle : public ::testing::Test {
 protected:
  ObjectListCycle() {
    ResetCanObjectList(list_);
    SetStatus(common::kDriverSuccess);
  }

  CanObjectEntry& Add(std::uint16_t cobId, std::uint32_t direction, std::int32_t period = 1000,
                      std::int32_t timeout = 300, std::uint32_t guarding = 0) {
    CanObjectParameters p;
    p.direction = direction;
    p.guarding = guarding;
    p.nodeId = 40;
    p.cobId = cobId;
    p.length = guarding != 0 ? 1 : 2;
    p.period = period;
    p.answerTimeout = timeout;
    CanObjectEntry* entry = AppendCanObject(list_, p);
    EXPECT_NE(entry, nullptr);
    entry->active = 1;
    return *entry;
  }
  CanObjectEntry& AddGuarding(std::uint8_t node) {
    return Add(static_cast<std::uint16_t>(0x700 + node), 0, 100, 50, 1);
  }

  void SetStatus(common::StatusCode status) { exchange_.Set(common::exchange_buffer::kStatus, status); }
  void SetElapsed(std::uint32_t us) {
    exchange_.Set(common::exchange_buffer::kCycleMicroseconds, us);
  }
  // One cycle of the list, after `elapsed` microseconds.
  void Cycle(std::uint32_t elapsed) {
    SetElapsed(elapsed);
    ServeCanObjectList(list_, exchange_);
    ScheduleCanObjects(list_, exchange_);
  }
  // The driver's answer in the record an entry holds.
  void Answer(const CanObjectEntry& entry, std::uint8_t result,
              std::vector<std::uint8_t> data = {}) {
    ASSERT_NE(entry.scheduled, 0u);
    LoggedFrame frame{entry.cobId, static_cast<std::uint8_t>(data.size()), {}};
    for (std::size_t k = 0; k < data.size(); ++k) frame.data[k] = data[k];
    Rec(exchange_, entry.record).Deliver(frame, result);
  }

  CanObjectList list_;
  common::ExchangeBuffer exchange_;
};

TEST_F(ObjectListCycle, FifteenDueObjectsShareFourteenRecordsAndNeverRecordFifteen) {
  std::vector<CanObjectEntry*> entries;
  for (std::uint16_t k = 0; k < 15; ++k) entries.push_back(&Add(0x020 + k, 1));
  Cycle(0);
  for (std::size_t k = 0; k < 14; ++k) {
    EXPECT_EQ(entries[k]->record, k + 1) << k;
    EXPECT_EQ(Rec(exchange_, k + 1).Code(), kSendOnceCode);
    EXPECT_EQ(Rec(exchange_, k + 1).Result(), kPending);
    EXPECT_EQ(Rec(exchange_, k + 1).CobId(), 0x020 + k);
  }
  EXPECT_EQ(entries[14]->scheduled, 0u);
  EXPECT_EQ(Rec(exchange_, 15).Code(), kReleaseCode);
  EXPECT_EQ(list_.freeRecords[15], 1u);

  // The first seven are sent: the fifteenth, still due, comes first.
  for (std::size_t k = 0; k < 7; ++k) Answer(*entries[k], kDone);
  Cycle(10);
  EXPECT_EQ(entries[14]->record, 1u);
  EXPECT_EQ(entries[0]->scheduled, 0u);
  // Served with its period, then counted down in the same cycle.
  EXPECT_EQ(entries[0]->countdown, 1000 - 10);
  EXPECT_EQ(entries[0]->done, 1u);
  for (std::uint32_t record = 2; record <= 7; ++record) EXPECT_EQ(list_.freeRecords[record], 1u);
}

TEST_F(ObjectListCycle, RecordFifteenAloneIsNeverHandedOut) {
  Add(0x020, 1);
  list_.freeRecords.fill(0);
  list_.freeRecords[15] = 1;
  Cycle(0);
  EXPECT_EQ(list_.head->scheduled, 0u);
  EXPECT_EQ(Rec(exchange_, 15).Code(), kReleaseCode);
}

TEST_F(ObjectListCycle, GuardingFirstThenTheMostOverdueRelativeToItsPeriod) {
  CanObjectEntry& slow = Add(0x020, 1, 10000);  // 0.05 periods late after 500 us
  CanObjectEntry& fast = Add(0x021, 1, 100);    // 5 periods late
  CanObjectEntry& twin = Add(0x022, 1, 100);    // as late as `fast`, but later in the list
  CanObjectEntry& guarding = AddGuarding(20);   // just due
  slow.countdown = fast.countdown = twin.countdown = 0;
  guarding.countdown = 500;
  list_.freeRecords.fill(0);
  list_.freeRecords[5] = 1;
  list_.freeRecords[9] = 1;
  list_.freeRecords[12] = 1;
  Cycle(500);
  EXPECT_EQ(guarding.record, 5u);
  EXPECT_EQ(Rec(exchange_, 5).Code(), kRemoteRequestCode);
  EXPECT_EQ(Rec(exchange_, 5).Result(), kNothing);
  EXPECT_EQ(Rec(exchange_, 5).Length(), 0);
  EXPECT_EQ(fast.record, 9u);
  EXPECT_EQ(twin.record, 12u);
  EXPECT_EQ(slow.scheduled, 0u);
}

TEST_F(ObjectListCycle, InactiveAndFailedObjectsAreNotScheduled) {
  CanObjectEntry& inactive = Add(0x020, 1);
  CanObjectEntry& failed = Add(0x021, 1);
  inactive.active = 0;
  failed.result = common::kKernelCanMessageTimeout;
  failed.countdown = -5;
  Cycle(100);
  EXPECT_EQ(inactive.scheduled, 0u);
  EXPECT_EQ(failed.scheduled, 0u);
  // A failed entry no longer counts down.
  EXPECT_EQ(failed.countdown, -5);
}

TEST_F(ObjectListCycle, GuardingAnswersMustToggle) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> states;
    std::vector<common::StatusCode> results;
  };
  const common::StatusCode ok = common::kKernelSuccess;
  const common::StatusCode nmt = common::kKernelNmtError;
  const Case cases[] = {
      {"toggling operational", {0x05, 0x85, 0x05}, {ok, ok, ok}},
      {"the same toggle four times", {0x05, 0x05, 0x05, 0x05}, {ok, ok, ok, nmt}},
      {"a first answer with the toggle set", {0x85}, {ok}},
      {"pre-operational", {0x7F, 0xFF, 0x7F}, {ok, ok, nmt}},
      {"a lapse recovered", {0x05, 0x05, 0x85}, {ok, ok, ok}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FreeCanObjects(list_);
    ResetCanObjectList(list_);
    CanObjectEntry& guarding = AddGuarding(20);
    Cycle(0);
    for (std::size_t k = 0; k < c.states.size(); ++k) {
      Answer(guarding, kDone, {c.states[k]});
      Cycle(100);
      EXPECT_EQ(guarding.result, c.results[k]) << "answer " << k;
      EXPECT_EQ(guarding.data[0], c.states[k]);
    }
  }
}

TEST_F(ObjectListCycle, ThreeFailedExchangesInARowFailAnObject) {
  struct Case {
    const char* what;
    std::uint32_t direction;
    std::uint8_t recordResult;
    std::uint8_t length;
    common::StatusCode failure;
  };
  const Case cases[] = {
      {"no answer in time", 0, kNothing, 0, common::kKernelCanMessageTimeout},
      {"an answer of another length", 0, kDone, 3, common::kKernelCanMessageInvalid},
      {"a replaced frame", 0, 3, 2, common::kKernelCanMessageInvalid},
      {"not sent in time", 1, kPending, 0, common::kKernelCanMessageTimeout},
      {"a controller error", 1, 5, 0, common::kKernelCanMessageInvalid},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FreeCanObjects(list_);
    ResetCanObjectList(list_);
    CanObjectEntry& entry = Add(0x020, c.direction, 0);
    Cycle(0);
    for (std::uint8_t attempt = 1; attempt <= 3; ++attempt) {
      Answer(entry, c.recordResult, std::vector<std::uint8_t>(c.length, 0x11));
      Cycle(400);  // past the 300 us answer time-out
      EXPECT_EQ(entry.failures, attempt);
      EXPECT_EQ(entry.result, attempt < 3 ? common::kKernelSuccess : c.failure);
    }
    EXPECT_EQ(entry.scheduled, 0u);
  }
}

TEST_F(ObjectListCycle, AGoodExchangeClearsTheFailures) {
  CanObjectEntry& entry = Add(0x020, 0, 0);
  Cycle(0);
  Answer(entry, kNothing);
  Cycle(400);
  Answer(entry, kNothing);
  Cycle(400);
  ASSERT_EQ(entry.failures, 2);
  Answer(entry, kDone, {0xAB, 0xCD});
  Cycle(100);
  EXPECT_EQ(entry.failures, 0);
  EXPECT_EQ(entry.result, common::kKernelSuccess);
  EXPECT_EQ(entry.data[0], 0xAB);
  EXPECT_EQ(entry.data[1], 0xCD);
  EXPECT_EQ(entry.done, 1u);
  EXPECT_EQ(entry.answerTime, 100);
}

TEST_F(ObjectListCycle, AnObjectWaitsForItsAnswerUntilTheTimeOut) {
  CanObjectEntry& receive = Add(0x020, 0);
  CanObjectEntry& transmit = Add(0x021, 1);
  Cycle(0);
  Cycle(299);
  EXPECT_EQ(receive.scheduled, 1u);
  EXPECT_EQ(transmit.scheduled, 1u);
  EXPECT_EQ(receive.failures, 0);
  Cycle(1);
  EXPECT_EQ(receive.failures, 1);
  EXPECT_EQ(transmit.failures, 1);
  EXPECT_EQ(receive.answerTime, 300);
}

TEST_F(ObjectListCycle, AReceiveObjectWithoutAFrameIsDueAgainAtOnce) {
  CanObjectEntry& silent = Add(0x020, 0, 5000);
  CanObjectEntry& answered = Add(0x021, 0, 5000);
  Cycle(0);
  Answer(answered, kDone, {1, 2});
  Cycle(400);
  EXPECT_EQ(answered.countdown, 5000 - 400);
  EXPECT_EQ(answered.scheduled, 0u);
  // The silent one got its record back and at once a new one.
  EXPECT_EQ(silent.failures, 1);
  EXPECT_EQ(silent.scheduled, 1u);
  EXPECT_EQ(silent.countdown, -400);
}

TEST_F(ObjectListCycle, ABadDriverStatusIsOneFailureAndFreesTheRecord) {
  CanObjectEntry& entry = Add(0x020, 0, 5000, 300);
  Cycle(0);
  const std::uint16_t record = entry.record;
  ASSERT_NE(record, 0);
  SetStatus(common::kDriverBusOff);
  SetElapsed(10);  // the answer time is far from over
  ServeCanObjectList(list_, exchange_);
  EXPECT_EQ(entry.failures, 1);
  EXPECT_EQ(entry.scheduled, 0u);
  EXPECT_EQ(entry.record, 0);
  EXPECT_EQ(list_.freeRecords[record], 1u);
  EXPECT_EQ(Rec(exchange_, record).Code(), kReleaseCode);
  // The third bad status in a row is the entry's result.
  for (int k = 0; k < 2; ++k) {
    ScheduleCanObjects(list_, exchange_);
    ASSERT_EQ(entry.scheduled, 1u);
    ServeCanObjectList(list_, exchange_);
  }
  EXPECT_EQ(entry.failures, 3);
  EXPECT_EQ(entry.result, common::kDriverBusOff);
}

TEST_F(ObjectListCycle, ARemovedObjectsRecordIsReleasedBeforeTheNextScheduling) {
  CanObjectEntry& leaving = Add(0x020, 1);
  Cycle(0);
  ASSERT_EQ(leaving.record, 1u);
  EXPECT_EQ(RemoveCanObject(KeepEntry::No, 0x020, list_), 1u);
  EXPECT_EQ(list_.clearRecords[1], 1u);
  CanObjectEntry& next = Add(0x021, 1);
  Cycle(10);
  EXPECT_EQ(list_.clearRecords[1], 0u);
  EXPECT_EQ(next.record, 1u);
  EXPECT_EQ(Rec(exchange_, 1).CobId(), 0x021);
  EXPECT_EQ(RemoveCanObject(KeepEntry::No, 0x020, list_), 0u);
}

TEST_F(ObjectListCycle, TheVelocityOutputSendsItsCurrentValue) {
  CanObjectEntry& output = Add(0x230, 1);
  output.length = 3;
  static std::int32_t value = -2;
  list_.kernelObjects.velocityOutputCobId = 0x230;
  list_.kernelObjects.velocityOutputValue = [](void*) noexcept { return value; };
  list_.kernelObjects.velocityOutputOn = 1;
  Cycle(0);
  EXPECT_EQ(Rec(exchange_, 1).Length(), 3);
  EXPECT_EQ(Rec(exchange_, 1).Data(0), 0xFE);
  EXPECT_EQ(Rec(exchange_, 1).Data(1), 0xFF);
  EXPECT_EQ(Rec(exchange_, 1).Data(2), 0xFF);
  EXPECT_EQ(Rec(exchange_, 1).Data(3), 0x00);
}

TEST_F(ObjectListCycle, StatesCountFailedAndMismatchingCompareObjects) {
  CanObjectEntry& quiet = Add(0x020, 0);  // no compare word: never judged
  CanObjectEntry& matching = Add(0x021, 0);
  CanObjectEntry& differing = Add(0x022, 0);
  CanObjectEntry& failed = Add(0x023, 1);
  quiet.result = common::kKernelCanMessageTimeout;
  for (CanObjectEntry* e : {&matching, &differing, &failed}) {
    e->compare = 1;
    e->mask = {0xF0, 0xFF};
    e->expected = {0x50, 0x01};
    e->done = 1;
  }
  matching.data = {0x5A, 0x01};
  differing.data = {0x50, 0x03};
  failed.result = common::kKernelCanMessageInvalid;

  std::uint32_t periphery = 1;
  CheckCanObjectStates(periphery, list_);
  EXPECT_EQ(periphery, 0u);
  EXPECT_EQ(list_.allInOrderNow, 0u);
  EXPECT_EQ(list_.allInOrderLatched, 0u);
  EXPECT_EQ(list_.firstFaultyCobId, 0x022);
  EXPECT_EQ(list_.faultCount, 2u);

  // Back in order: the current word recovers, the latched one does not.
  differing.data = {0x5F, 0x01};
  failed.result = common::kKernelSuccess;
  periphery = 1;
  CheckCanObjectStates(periphery, list_);
  EXPECT_EQ(list_.allInOrderNow, 1u);
  EXPECT_EQ(list_.faultCount, 0u);
  EXPECT_EQ(list_.firstFaultyCobId, 0);
  EXPECT_EQ(periphery, 0u);
  list_.allInOrderLatched = 1;
  periphery = 1;
  CheckCanObjectStates(periphery, list_);
  EXPECT_EQ(periphery, 1u);
}

TEST(CanObjectPool, AFullPoolRefusesAndTakesBackWhatIsFreed) {
  CanObjectList list;
  ResetCanObjectList(list);
  CanObjectParameters p;
  p.length = 1;
  for (std::size_t k = 0; k < kCanObjectPoolSize; ++k) {
    p.cobId = static_cast<std::uint16_t>(0x200 + k);
    ASSERT_NE(AppendCanObject(list, p), nullptr) << k;
  }
  p.cobId = 0x7F0;
  EXPECT_EQ(AppendCanObject(list, p), nullptr);
  EXPECT_EQ(LastCanObject(list)->cobId, 0x200 + kCanObjectPoolSize - 1);
  EXPECT_EQ(RemoveCanObject(KeepEntry::No, 0x205, list), 1u);
  CanObjectEntry* reused = AppendCanObject(list, p);
  ASSERT_NE(reused, nullptr);
  EXPECT_EQ(LastCanObject(list), reused);
  EXPECT_EQ(reused->data[0], 0);
  FreeCanObjects(list);
  EXPECT_EQ(list.head, nullptr);
  EXPECT_EQ(list.pool.FreeCount(), kCanObjectPoolSize);
}

TEST(ReceivedDataCondition, BytesFourToSixFromTheSelectedOptionPair) {
  ConditionSource source;
  namespace cs = condition_source;
  source.Set(cs::kMaskWord, 0x1234);
  source.Set(cs::kPatternWord, 0x5678);
  source.Set(cs::kConditionWord, 0x9ABC);
  source.Set(cs::kFirstMaskOption, 0xA1);
  source.Set(cs::kFirstPatternOption, 0xA2);
  source.Set(cs::kSecondMaskOption, 0xB1);
  source.Set(cs::kSecondPatternOption, 0xB2);
  struct Case {
    std::uint32_t selector;
    std::uint8_t maskOption;
    std::uint8_t patternOption;
  };
  for (const Case c : {Case{1, 0xA1, 0xA2}, Case{0, 0xB1, 0xB2}}) {
    common::ExchangeBuffer exchange;
    exchange.MutableBytes()[common::exchange_buffer::kReceivedDataConditionOffset] = 0xEE;
    WriteReceivedDataCondition(c.selector, source, exchange);
    const std::uint8_t* bytes =
        exchange.Bytes().data() + common::exchange_buffer::kReceivedDataConditionOffset;
    const std::uint8_t expected[24] = {0, 0, 0, 0, 0x34, 0x12, c.maskOption,    0,
                                       0, 0, 0, 0, 0x78, 0x56, c.patternOption, 0,
                                       0, 0, 0, 0, 0xBC, 0x9A, 0,               0};
    for (std::size_t k = 0; k < 24; ++k) {
      EXPECT_EQ(bytes[k], expected[k]) << "selector " << c.selector << " byte " << k;
    }
  }
}

}  // namespace
}  // namespace vantor::canopen
