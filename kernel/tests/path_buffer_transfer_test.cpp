// The shared path buffer handed over into the segment queue: as many
// records as the queue has room for, the rest kept at the buffer's front,
// a failing record taking back everything the hand-over added, and counts
// from the shared header that the mapping cannot hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "common/byte_order.h"
#include "kernel/tests/path_commands_fixture.h"

namespace vantor::kernel {
namespace {

namespace pb = common::path_buffer;
using common::CommandCode;
using common::StatusCode;
using testing::PathKernel;

constexpr std::uint32_t kBufferCapacity = 20;

// What a record of the test buffer holds.
enum class Kind { Line, Still, Unknown, EndlessEvent };

class BufferKernel : public PathKernel {
 public:
  explicit BufferKernel(std::uint32_t capacity = kBufferCapacity) {
    const auto size = pb::MappingSize(capacity);
    kernel().link.pathBufferMapping = os::Mapping::CreateUnnamed(*size).take();
    Header().Set(pb::kCapacity, capacity);
    Header().Set(pb::kEnabled, 1u);
    state().pathMode = 1;
  }

  common::PathBufferHeaderView Header() {
    return common::PathBufferHeaderView(std::span<std::uint8_t, common::kPathBufferHeaderSize>(
        Buffer(), common::kPathBufferHeaderSize));
  }
  std::uint8_t* Buffer() {
    return reinterpret_cast<std::uint8_t*>(kernel().link.pathBufferMapping.data());
  }

  // Record i of kind Line moves X by `first + i` (so each record is known
  // by its X value).
  void Fill(const std::vector<Kind>& kinds, std::int64_t first = 1) {
    for (std::size_t i = 0; i < kinds.size(); ++i) {
      std::uint8_t* record = Buffer() + pb::RecordOffset(i);
      std::memset(record, 0, common::kPathBufferRecordSize);
      switch (kinds[i]) {
        case Kind::Line:
        case Kind::Still:
          common::StoreLittleEndian<std::uint32_t>(record, 36);
          common::StoreLittleEndian<std::int64_t>(
              record + 16, kinds[i] == Kind::Line ? first + static_cast<std::int64_t>(i) : 0);
          break;
        case Kind::Unknown:
          common::StoreLittleEndian<std::uint32_t>(record, 99);
          break;
        case Kind::EndlessEvent:
          common::StoreLittleEndian<std::uint32_t>(record, 57);
          std::memset(record + 8, 'e', 261);
          break;
      }
    }
    Header().Set(pb::kCount, static_cast<std::uint32_t>(kinds.size()));
  }

  // The X value that the line record at `index` carries.
  std::int64_t RecordX(std::size_t index) {
    return common::LoadLittleEndian<std::int64_t>(Buffer() + pb::RecordOffset(index) + 16);
  }

  StatusCode Transfer() {
    Word(0, 0xEEEEEEEE);
    return Run(CommandCode::TransferDllPathBuffer);
  }

  std::vector<double> QueuedEnds() {
    std::vector<double> ends;
    for (auto* s = queue().head; s != nullptr; s = s->next) ends.push_back(s->axes[0].end);
    return ends;
  }
};

struct RoomCase {
  const char* name;
  std::int32_t queued;  // lines queued before the hand-over
  std::vector<Kind> records;
  StatusCode result;
  std::uint32_t left;
  std::int32_t queuedAfter;
};

TEST(PathBufferTransferTest, TakesWhatTheQueueHasRoomForAndKeepsTheRest) {
  const RoomCase cases[] = {
      {"more than room", 1, std::vector<Kind>(6, Kind::Line), common::kKernelPathBufferError, 3, 4},
      {"exact fill", 0, std::vector<Kind>(4, Kind::Line), common::kKernelPathBufferError, 0, 4},
      {"fewer than room", 0, std::vector<Kind>(3, Kind::Line), common::kKernelSuccess, 0, 3},
      {"empty buffer", 1, {}, common::kKernelSuccess, 0, 1},
      {"empty buffer, full queue", 4, {}, common::kKernelPathBufferError, 0, 4},
      {"still record skipped", 0, {Kind::Still, Kind::Line}, common::kKernelSuccess, 0, 1},
  };
  for (const RoomCase& c : cases) {
    SCOPED_TRACE(c.name);
    BufferKernel k;
    for (std::int32_t i = 0; i < c.queued; ++i)
      ASSERT_EQ(k.Move({100, 0, 0}), common::kKernelSuccess);
    k.Fill(c.records);
    EXPECT_EQ(k.Transfer(), c.result);
    EXPECT_EQ(k.Header().Get(pb::kCount), c.left);
    EXPECT_EQ(k.queue().count, c.queuedAfter);
    EXPECT_EQ(static_cast<std::int32_t>(k.QueuedEnds().size()), c.queuedAfter);
    if (c.left > 0) {
      // The first record not taken is now at the front.
      const auto taken = static_cast<std::int64_t>(c.records.size() - c.left);
      EXPECT_EQ(k.RecordX(0), 1 + taken);
    }
  }
}

TEST(PathBufferTransferTest, TheQueuedLinesFollowOneAnotherInRecordOrder) {
  BufferKernel k;
  k.queue().capacity = 10;
  k.Fill(std::vector<Kind>(3, Kind::Line));
  ASSERT_EQ(k.Transfer(), common::kKernelSuccess);
  EXPECT_EQ(k.QueuedEnds(), (std::vector<double>{1, 3, 6}));
  EXPECT_EQ(k.state().motionActive, 0u);
  k.state().pathStarted = 1;
  k.Fill({Kind::Line}, 4);
  ASSERT_EQ(k.Transfer(), common::kKernelSuccess);
  EXPECT_EQ(k.QueuedEnds(), (std::vector<double>{1, 3, 6, 10}));
  EXPECT_EQ(k.state().motionActive, 1u);
  EXPECT_EQ(k.state().pathActive, 1u);
}

struct FailureCase {
  const char* name;
  std::int32_t queued;
  std::vector<Kind> records;
  StatusCode result;
  std::uint32_t recordNumber;
};

TEST(PathBufferTransferTest, AFailingRecordTakesBackWhatTheHandOverAddedAndNamesTheRecord) {
  const FailureCase cases[] = {
      {"unknown code behind a queued line",
       1,
       {Kind::Line, Kind::Line, Kind::Unknown, Kind::Line},
       common::kKernelMovementDataInvalid,
       3},
      {"unknown code into an empty queue",
       0,
       {Kind::Line, Kind::Unknown},
       common::kKernelMovementDataInvalid,
       2},
      {"event name without its end",
       0,
       {Kind::Line, Kind::EndlessEvent},
       common::kKernelMovementDataInvalid,
       2},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    BufferKernel k;
    for (std::int32_t i = 0; i < c.queued; ++i)
      ASSERT_EQ(k.Move({100, 0, 0}), common::kKernelSuccess);
    motion::PathSegment* const found = k.queue().tail;
    const std::vector<double> before = k.QueuedEnds();
    k.Fill(c.records);
    EXPECT_EQ(k.Transfer(), c.result);
    EXPECT_EQ(k.AnswerWord(0), c.recordNumber);
    EXPECT_EQ(k.Header().Get(pb::kCount), 0u);
    EXPECT_EQ(k.queue().tail, found);
    EXPECT_EQ(k.queue().count, c.queued);
    EXPECT_EQ(k.QueuedEnds(), before);
  }
}

TEST(PathBufferTransferTest, HeaderCountsBeyondTheMappingTakeNothing) {
  const std::size_t room = pb::RecordsThatFit(*pb::MappingSize(kBufferCapacity));
  for (const bool countBeyond : {true, false}) {
    BufferKernel k;
    k.Fill(std::vector<Kind>(2, Kind::Line));
    const auto beyond = static_cast<std::uint32_t>(room + 1);
    if (countBeyond) {
      k.Header().Set(pb::kCount, beyond);
    } else {
      k.Header().Set(pb::kCapacity, beyond);
    }
    EXPECT_EQ(k.Transfer(), common::kKernelPathBufferError) << countBeyond;
    EXPECT_EQ(k.queue().count, 0);
    EXPECT_EQ(k.Header().Get(pb::kCount), countBeyond ? beyond : 2u);
  }
}

TEST(PathBufferTransferTest, SwitchingTheBufferEmptiesItsCountOnlyWhenItChanges) {
  BufferKernel k;
  k.Fill(std::vector<Kind>(2, Kind::Line));
  ASSERT_EQ(k.SetWord(CommandCode::EnableDllPathBuffer, 1), common::kKernelSuccess);
  EXPECT_EQ(k.Header().Get(pb::kCount), 2u) << "already on";
  ASSERT_EQ(k.SetWord(CommandCode::EnableDllPathBuffer, 0), common::kKernelSuccess);
  EXPECT_EQ(k.Header().Get(pb::kEnabled), 0u);
  EXPECT_EQ(k.Header().Get(pb::kCount), 0u);
  k.Fill(std::vector<Kind>(2, Kind::Line));
  ASSERT_EQ(k.SetWord(CommandCode::EnableDllPathBuffer, 1), common::kKernelSuccess);
  EXPECT_EQ(k.Header().Get(pb::kEnabled), 1u);
  EXPECT_EQ(k.Header().Get(pb::kCount), 0u);
}

TEST(PathBufferTransferTest, WithoutTheMappingTheBufferIsRefused) {
  PathKernel k;
  k.state().pathMode = 1;
  EXPECT_EQ(k.SetWord(CommandCode::EnableDllPathBuffer, 1), common::kKernelPathBufferError);
  EXPECT_EQ(k.Run(CommandCode::TransferDllPathBuffer), common::kKernelPathBufferError);
}

// A stand-in for the cycle while a long buffer is handed over: it takes the
// kernel data lock every 100 us and counts the takes that find the queue and
// the buffer as the hand-over found them, so inside the hand-over before its
// records are queued. At a chosen take it may change the machine, as the
// cycle can between two holds of the hand-over.
class CycleStandIn {
 public:
  using Change = std::function<void(BufferKernel&)>;
  static constexpr int kChangeAtTake = 3;

  CycleStandIn(BufferKernel& k, Change change) : k_(k), change_(std::move(change)) {
    queuedBefore_ = k.queue().count;
    countBefore_ = k.Header().Get(pb::kCount);
    thread_ = std::thread([this] { Run(); });
  }
  ~CycleStandIn() {
    done_.store(true);
    thread_.join();
  }
  int Takes() const { return takes_.load(); }

 private:
  void Run() {
    while (!done_.load()) {
      if (!LockKernelData(k_.data())) return;
      if (k_.queue().count == queuedBefore_ && k_.Header().Get(pb::kCount) == countBefore_) {
        if (++takes_ == kChangeAtTake && change_) change_(k_);
      }
      UnlockKernelData(k_.data());
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
  }

  BufferKernel& k_;
  Change change_;
  std::int32_t queuedBefore_ = 0;
  std::uint32_t countBefore_ = 0;
  std::atomic<bool> done_{false};
  std::atomic<int> takes_{0};
  std::thread thread_;
};

constexpr std::uint32_t kLongBuffer = 4000;

// A buffer of `kLongBuffer` lines behind one queued line, in a queue with
// room for all of them.
void FillLongBuffer(BufferKernel& k) {
  k.queue().capacity = static_cast<std::int32_t>(kLongBuffer) + 2;
  ASSERT_EQ(k.Move({100, 0, 0}), common::kKernelSuccess);
  k.Fill(std::vector<Kind>(kLongBuffer, Kind::Line));
}

TEST(PathBufferTransferTest, TheCycleTakesTheLockWhileALongBufferIsPrepared) {
  BufferKernel k(kLongBuffer);
  FillLongBuffer(k);
  int takes = 0;
  {
    CycleStandIn cycle(k, {});
    ASSERT_EQ(k.Transfer(), common::kKernelSuccess);
    takes = cycle.Takes();
  }
  // Taken in one hold, the cycle could only come in before it.
  EXPECT_GE(takes, 5);
  EXPECT_EQ(k.queue().count, static_cast<std::int32_t>(kLongBuffer) + 1);
  EXPECT_EQ(k.Header().Get(pb::kCount), 0u);
  EXPECT_EQ(k.QueuedEnds().back(), 100 + kLongBuffer * (kLongBuffer + 1) / 2);
}

struct MeanwhileCase {
  const char* name;
  CycleStandIn::Change change;
  StatusCode result;
  std::int32_t queuedAfter;
  std::uint32_t left;
  double firstQueuedEnd;  // of the line queued first after the hand-over
};

TEST(PathBufferTransferTest, WhatTheCycleChangesBetweenHoldsIsHeeded) {
  const MeanwhileCase cases[] = {
      // The guards hold again at every hold: nothing is queued, the
      // library keeps its records.
      {"break", [](BufferKernel& k) { k.state().motionBreak = 1; }, common::kKernelBreakModeActive,
       1, kLongBuffer, 100},
      // The path ran out: the lines are prepared again from where the
      // drives stand, not from the end of the line that is gone.
      {"queue run out",
       [](BufferKernel& k) {
         motion::PathFlags flags;
         motion::ClearSegmentQueue(k.data().motionRuntime.path, flags);
       },
       common::kKernelSuccess, static_cast<std::int32_t>(kLongBuffer), 0, 1},
  };
  for (const MeanwhileCase& c : cases) {
    SCOPED_TRACE(c.name);
    BufferKernel k(kLongBuffer);
    FillLongBuffer(k);
    int takes = 0;
    StatusCode result = 0;
    {
      CycleStandIn cycle(k, c.change);
      result = k.Transfer();
      takes = cycle.Takes();
    }
    ASSERT_GE(takes, CycleStandIn::kChangeAtTake);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(k.queue().count, c.queuedAfter);
    EXPECT_EQ(k.Header().Get(pb::kCount), c.left);
    ASSERT_FALSE(k.QueuedEnds().empty());
    EXPECT_EQ(k.QueuedEnds().front(), c.firstQueuedEnd);
  }
}

}  // namespace
}  // namespace vantor::kernel
