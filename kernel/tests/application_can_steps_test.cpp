// The raw request's framing and completion, stepped by hand over one
// exchange record: which records it takes, how it ends, and that it gives
// back every record and mutex it took.
#include <gtest/gtest.h>

#include <thread>

#include "kernel/core/application_can_steps.h"
#include "kernel/core/kernel_locks.h"
#include "platform/os/wait.h"

namespace vantor::kernel {
namespace {

namespace mr = common::message_record;
namespace eb = common::exchange_buffer;
using common::MessageCode;

class ApplicationCanStepsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    request_.completion = os::Event::CreateUnnamed(os::EventReset::Manual, true).take();
    exchange_.Set(eb::kStatus, common::kDriverSuccess);
    exchange_.Set(eb::kCycleMicroseconds, 1000);
    table_.fill(1);
    table_[0] = 0;
  }

  void HandOver(std::uint16_t cobId, std::uint8_t length, std::uint16_t answerCobId,
                std::int32_t timeoutMicroseconds = 10000) {
    request_.completion.Set();
    request_.ClearRequest();
    request_.cobId = cobId;
    request_.length = length;
    request_.answerCobId = answerCobId;
    request_.timeoutMicroseconds = static_cast<std::uint32_t>(timeoutMicroseconds);
    request_.microsecondsLeft = timeoutMicroseconds;
    request_.completion.Reset();
  }

  RawRequestCycle Cycle(bool withTable = true) {
    return RawRequestCycle{request_, exchange_, nodes_, withTable ? &table_ : nullptr, stopping_};
  }

  void Start(bool withTable = true) {
    auto cycle = Cycle(withTable);
    StartApplicationCanRequest(cycle);
  }
  void Complete(bool withTable = true) {
    auto cycle = Cycle(withTable);
    CompleteApplicationCanRequest(cycle);
  }

  common::MessageRecordView Record(std::size_t k) { return *common::MessageRecordIn(exchange_, k); }

  // The driver reports a frame received in record k.
  void Receive(std::size_t k, std::uint8_t result, std::uint8_t length) {
    Record(k).Set(mr::kResult, result);
    Record(k).Set(mr::kLength, length);
    Record(k).MutableBytes(mr::kData)[0] = 0x4B;
  }

  bool Completed() { return os::WaitForOne(request_.completion, 0).acquired(); }

  bool AllRecordsFree() const {
    for (std::size_t k = 1; k < table_.size(); ++k) {
      if (table_[k] == 0) return false;
    }
    return true;
  }

  ApplicationCanRequest request_;
  common::ExchangeBuffer exchange_;
  NodeConfiguration nodes_;
  FreeRecordTable table_{};
  bool stopping_ = false;
};

TEST_F(ApplicationCanStepsTest, OutsideCncModeUsesRecords14And15) {
  HandOver(0x601, 8, 0x581);
  Start(false);
  ASSERT_EQ(request_.busy, 1u);
  EXPECT_EQ(Record(14).Get(mr::kCode), static_cast<std::uint8_t>(MessageCode::SendOnceAndRelease));
  EXPECT_EQ(Record(14).Get(mr::kResult), common::message_result::kPending);
  EXPECT_EQ(Record(15).Get(mr::kCode), static_cast<std::uint8_t>(MessageCode::StartSingleReceive));
  EXPECT_EQ(Record(15).Get(mr::kResult), common::receive_object_result::kNone);
  EXPECT_EQ(Record(15).Get(mr::kCobId), 0x581);

  Receive(15, common::receive_object_result::kOneFrame, 4);
  Complete(false);
  ASSERT_TRUE(Completed());
  EXPECT_EQ(request_.result, common::kKernelSuccess);
  EXPECT_EQ(request_.answerLength, 4);
  EXPECT_EQ(request_.answerData[0], 0x4B);
  EXPECT_EQ(Record(14).Get(mr::kCode), 0);
  // The mask request bytes that share record 15 are left alone.
  EXPECT_EQ(exchange_.Get(eb::kGlobalMaskRequest), 0);
}

TEST_F(ApplicationCanStepsTest, CncModeTakesTheLowestFreeRecordsAndGivesThemBack) {
  table_[1] = 0;  // in use by the object list
  HandOver(0x601, 8, 0x581);
  Start();
  EXPECT_EQ(request_.sendRecord, 2);
  EXPECT_EQ(request_.answerRecord, 15);
  EXPECT_EQ(table_[2], 0u);
  EXPECT_EQ(table_[15], 0u);

  Receive(15, common::receive_object_result::kOneFrame, 8);
  Complete();
  ASSERT_TRUE(Completed());
  EXPECT_EQ(table_[2], 1u);
  EXPECT_EQ(table_[15], 1u);
  EXPECT_EQ(table_[1], 0u);
}

TEST_F(ApplicationCanStepsTest, AnswerTakesALowRecordWhenFifteenIsBusy) {
  table_[15] = 0;
  HandOver(0x601, 8, 0x581);
  Start();
  EXPECT_EQ(request_.sendRecord, 1);
  EXPECT_EQ(request_.answerRecord, 2);
  EXPECT_EQ(Record(2).Get(mr::kResult), common::message_result::kNothingReceived);
  Receive(2, common::message_result::kDone, 8);
  Complete();
  ASSERT_TRUE(Completed());
  EXPECT_EQ(request_.result, common::kKernelSuccess);
  EXPECT_EQ(table_[1], 1u);
  EXPECT_EQ(table_[2], 1u);
}

TEST_F(ApplicationCanStepsTest, SingleRecordRequestsLeakNoAnswerRecord) {
  struct Case {
    const char* name;
    std::uint16_t cobId;
    std::uint8_t length;
    MessageCode code;
    std::uint8_t doneResult;
  };
  const Case cases[] = {
      {"remote", 0x701, 0, MessageCode::RemoteRequest, common::message_result::kDone},
      {"nmt", 0, 2, MessageCode::SendOnce, common::message_result::kDone},
  };
  for (const auto& c : cases) {
    // The area's answer identifier is not used by these kinds.
    HandOver(c.cobId, c.length, 0x581);
    Start();
    EXPECT_EQ(request_.sendRecord, 1) << c.name;
    EXPECT_EQ(request_.answerRecord, 0) << c.name;
    EXPECT_EQ(Record(1).Get(mr::kCode), static_cast<std::uint8_t>(c.code)) << c.name;
    Record(1).Set(mr::kResult, c.doneResult);
    Complete();
    ASSERT_TRUE(Completed()) << c.name;
    EXPECT_EQ(request_.result, common::kKernelSuccess) << c.name;
    EXPECT_TRUE(AllRecordsFree()) << c.name;
  }
}

TEST_F(ApplicationCanStepsTest, WithoutFreeRecordsTheRequestWaitsAndItsTimeDoesNotRun) {
  for (std::size_t k = 1; k <= 14; ++k) table_[k] = 0;
  HandOver(0x601, 8, 0x581, 3000);
  for (int cycle = 0; cycle < 5; ++cycle) {
    Complete();
    Start();
  }
  EXPECT_EQ(request_.busy, 0u);
  EXPECT_EQ(request_.microsecondsLeft, 3000);
  EXPECT_FALSE(Completed());
  EXPECT_EQ(table_[15], 1u);

  // A frame record but no answer record: the frame record goes back.
  table_[15] = 0;
  table_[3] = 1;
  Start();
  EXPECT_EQ(request_.busy, 0u);
  EXPECT_EQ(table_[3], 1u);

  table_[15] = 1;
  Start();
  EXPECT_EQ(request_.busy, 1u);
  EXPECT_EQ(request_.sendRecord, 3);
}

struct EndCase {
  const char* name;
  std::uint16_t cobId;
  std::uint8_t length;
  std::uint8_t watchedRecord;
  std::uint8_t driverResult;
  std::uint8_t answerLength;
  common::StatusCode driverStatus;
  common::StatusCode expected;
};

class ApplicationCanEndTest : public ApplicationCanStepsTest,
                              public ::testing::WithParamInterface<EndCase> {};

TEST_P(ApplicationCanEndTest, EndsOnceWithItsResult) {
  const EndCase& c = GetParam();
  HandOver(c.cobId, c.length, 0x581, 2500);
  Start(false);
  Receive(c.watchedRecord, c.driverResult, c.answerLength);
  exchange_.Set(eb::kStatus, c.driverStatus);
  // Three cycles of 1000 us use up the 2500 us of a request still waiting.
  for (int cycle = 0; cycle < 3 && !Completed(); ++cycle) Complete(false);
  ASSERT_TRUE(Completed());
  EXPECT_EQ(request_.result, c.expected);
  EXPECT_EQ(request_.busy, 0u);
  // A remote request's record keeps waiting for its answer unless the time
  // ran out; every other record goes back to the driver released.
  const bool remote = c.cobId != 0 && c.length == 0;
  if (!remote || c.expected == common::kKernelCanMessageTimeout) {
    EXPECT_EQ(Record(14).Get(mr::kCode), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Ends, ApplicationCanEndTest,
    ::testing::Values(
        EndCase{"answer_nothing_yet", 0x601, 8, 15, 0, 0, common::kDriverSuccess,
                common::kKernelCanMessageTimeout},
        EndCase{"answer_two_frames", 0x601, 8, 15, 2, 8, common::kDriverSuccess,
                common::kKernelCanMessageInvalid},
        EndCase{"answer_longer_than_a_frame", 0x601, 8, 15, 1, 9, common::kDriverSuccess,
                common::kKernelCanMessageInvalid},
        EndCase{"remote_controller_error", 0x701, 0, 14, common::message_result::kControllerError,
                0, common::kDriverSuccess, common::kKernelCanMessageInvalid},
        EndCase{"remote_nothing_yet", 0x701, 0, 14, common::message_result::kNothingReceived, 0,
                common::kDriverSuccess, common::kKernelCanMessageTimeout},
        EndCase{"nmt_not_sent", 0, 2, 14, common::message_result::kPending, 0,
                common::kDriverSuccess, common::kKernelCanMessageTimeout},
        EndCase{"nmt_send_failed", 0, 2, 14, common::message_result::kControllerError, 0,
                common::kDriverSuccess, common::kKernelCanMessageInvalid},
        EndCase{"driver_failed", 0x601, 8, 15, 1, 8, common::kDriverBusOff, common::kDriverBusOff}),
    [](const ::testing::TestParamInfo<EndCase>& info) { return info.param.name; });

TEST_F(ApplicationCanStepsTest, NodeRequestHoldsEveryNodeAccessMutexUntilItEnds) {
  nodes_.Place(0, canopen::NodeSetup{.nodeId = 1});
  nodes_.Place(1, canopen::NodeSetup{.nodeId = 2});
  NodeObject& first = nodes_.records[0];
  NodeObject& second = nodes_.records[1];
  first.accessMutex = os::Mutex::CreateUnnamed(false).take();
  second.accessMutex = os::Mutex::CreateUnnamed(false).take();
  nodes_.table.nodeCount = 2;

  HandOver(0x601, 8, 0x581);
  request_.kernelNodeRequest = 1;
  // A drive stop owns the nodes: the request waits.
  stopping_ = true;
  Start(false);
  EXPECT_EQ(request_.busy, 0u);
  stopping_ = false;

  // A handler holds a node: the request waits without blocking the cycle.
  auto held = os::Event::CreateUnnamed(os::EventReset::Manual, false).take();
  auto done = os::Event::CreateUnnamed(os::EventReset::Manual, false).take();
  std::thread handler([&] {
    EXPECT_TRUE(os::WaitForOne(second.accessMutex, 1000).acquired());
    held.Set();
    static_cast<void>(os::WaitForOne(done, 10000));
    static_cast<void>(second.accessMutex.Release());
  });
  ASSERT_TRUE(os::WaitForOne(held, 10000).acquired());
  Start(false);
  EXPECT_EQ(request_.busy, 0u);
  EXPECT_EQ(request_.nodeAccessHeld, 0u);
  done.Set();
  handler.join();

  Start(false);
  ASSERT_EQ(request_.busy, 1u);
  EXPECT_EQ(request_.nodeAccessHeld, 1u);
  Receive(15, common::receive_object_result::kOneFrame, 8);
  Complete(false);
  ASSERT_TRUE(Completed());
  EXPECT_EQ(request_.nodeAccessHeld, 0u);
  EXPECT_EQ(request_.kernelNodeRequest, 0u);
  // Another thread can take both again.
  std::thread other([&] {
    EXPECT_TRUE(LockNodeAccessMutexes(nodes_, 1000).acquired());
    UnlockNodeAccessMutexes(nodes_);
  });
  other.join();
}

TEST_F(ApplicationCanStepsTest, NodeRequestWithoutNodesIsFramedAtOnce) {
  HandOver(0x601, 8, 0x581);
  request_.kernelNodeRequest = 1;
  Start(false);
  EXPECT_EQ(request_.busy, 1u);
  EXPECT_EQ(request_.nodeAccessHeld, 0u);
}

TEST_F(ApplicationCanStepsTest, WayOutGivesBackTheNodeAccess) {
  nodes_.Place(0, canopen::NodeSetup{.nodeId = 1});
  NodeObject& node = nodes_.records[0];
  node.accessMutex = os::Mutex::CreateUnnamed(false).take();
  nodes_.table.nodeCount = 1;
  HandOver(0x601, 8, 0x581);
  request_.kernelNodeRequest = 1;
  Start(false);
  ASSERT_EQ(request_.nodeAccessHeld, 1u);
  ReleaseApplicationCanRequestMutexes(request_, nodes_);
  EXPECT_EQ(request_.nodeAccessHeld, 0u);
  std::thread other([&] {
    EXPECT_TRUE(os::WaitForOne(node.accessMutex, 1000).acquired());
    static_cast<void>(node.accessMutex.Release());
  });
  other.join();
}

}  // namespace
}  // namespace vantor::kernel
