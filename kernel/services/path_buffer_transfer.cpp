#include "kernel/services/path_buffer_transfer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <span>

#include "common/path_buffer.h"
#include "kernel/core/motion/segment_queue.h"
#include "kernel/services/cycle_turns.h"
#include "kernel/services/path_command_frame.h"

namespace vantor::kernel {

namespace {

namespace cb = common::communication_block;
namespace pb = common::path_buffer;
namespace pr = common::path_buffer_record;
using common::StatusCode;
using motion::PathSegment;
using G = MotionGuard;

constexpr std::size_t kFailedRecordNumber = cb::PayloadAt(0);
// An event name and its terminator must fit these bytes of the record.
constexpr std::size_t kEventRecordLength = pr::kPayloadOffset + pr::kMaxEventNameLength + 1;

constexpr MotionGuard kBufferOnGuards[] = {
    G::CycleRunning, G::BusInOrder,          G::SyncInOrder, G::PeripheryPdoInOrder,
    G::NoBreak,      G::PathModeOn,          G::NoTeachMode, G::NoPowerOff,
    G::NoQuickStop,  G::NoBridgeOutsideTest, G::NoMoveOut,   G::NodesReady,
};
constexpr MotionGuard kTransferGuards[] = {
    G::CycleRunning, G::BusInOrder,          G::SyncInOrder, G::PeripheryPdoInOrder, G::NoBreak,
    G::NoTeachMode,  G::NoPowerOff,          G::NoQuickStop, G::NoBridgeOutsideTest, G::NoMoveOut,
    G::NodesReady,   G::PathModeForTransfer,
};

bool Failed(StatusCode result) { return result != common::kKernelSuccess; }

// The mapped buffer: its header and as many whole records as it holds.
struct SharedBuffer {
  std::uint8_t* bytes = nullptr;
  std::size_t recordRoom = 0;

  common::PathBufferHeaderView Header() const {
    return common::PathBufferHeaderView(std::span<std::uint8_t, common::kPathBufferHeaderSize>(
        bytes, common::kPathBufferHeaderSize));
  }
  std::uint8_t* Record(std::size_t index) const { return bytes + pb::RecordOffset(index); }
};

std::optional<SharedBuffer> MappedBuffer(Kernel& kernel) {
  os::Mapping& mapping = kernel.link.pathBufferMapping;
  if (mapping.data() == nullptr || mapping.size() < common::kPathBufferHeaderSize) {
    return std::nullopt;
  }
  return SharedBuffer{reinterpret_cast<std::uint8_t*>(mapping.data()),
                      pb::RecordsThatFit(mapping.size())};
}

StatusCode EnableBuffer(Kernel& kernel, bool on) {
  return UnderPathLock(kernel, [&](KernelData& data) {
    if (on) {
      if (const StatusCode refused = CheckMotionGuards(data, kBufferOnGuards); Failed(refused)) {
        return refused;
      }
    }
    const auto buffer = MappedBuffer(kernel);
    if (!buffer) return common::kKernelPathBufferError;
    auto header = buffer->Header();
    if ((header.Get(pb::kEnabled) != 0) != on) {
      header.Set(pb::kEnabled, on ? 1u : 0u);
      header.Set(pb::kCount, 0u);
    }
    return common::kKernelSuccess;
  });
}

// One record as the library left it, copied out of the shared memory so
// that the preparation reads a record that no one changes meanwhile.
std::span<const std::uint8_t> CopyRecord(const SharedBuffer& buffer, std::size_t index,
                                         common::PathBufferRecord& copy) {
  std::memcpy(copy.WriteData(), buffer.Record(index), common::kPathBufferRecordSize);
  const std::span<const std::uint8_t> record = copy.Bytes();
  const bool event = copy.Get(pr::kCommandCode) == motion::kEventRecordCode;
  return event ? record.first(kEventRecordLength) : record;
}

// Records prepared in one hold of the kernel data lock: no hold grows with
// the buffer, and between holds the cycle gets the lock.
constexpr std::uint32_t kRecordsPerHold = 32;
// A hand-over that finds the queue's tail gone after a hold (the path ran
// out or was stopped meanwhile) starts again against the new tail, at most
// this often; then it takes nothing and the library hands over again.
constexpr int kHandOverAttempts = 3;

// The later holds of the kernel data lock: the command's preconditions and
// guards again, since the cycle may have stopped the machine in between.
// Retired segments are not freed here: the tail found may be among them.
template <typename Work>
StatusCode InNextHold(Kernel& kernel, Work work) {
  if (const StatusCode refused = CheckCommandPreconditions(kernel.data); Failed(refused)) {
    return refused;
  }
  KernelDataLock lock(kernel.data);
  if (!lock.held()) return common::kKernelCncNotInitialized;
  if (const StatusCode refused = CheckMotionGuards(kernel.data, kTransferGuards); Failed(refused)) {
    return refused;
  }
  return work(kernel.data);
}

// Segments prepared from the buffer's records, linked behind the tail the
// hand-over found but not queued: the cycle sees none of them before every
// record is prepared, so a failing record leaves the queue as it was found.
// Whatever was not queued is freed with the list.
class PreparedSegments {
 public:
  explicit PreparedSegments(PathSegment* foundTail) : foundTail_(foundTail) {}
  PreparedSegments(const PreparedSegments&) = delete;
  PreparedSegments& operator=(const PreparedSegments&) = delete;
  ~PreparedSegments() {
    KernelPathEvents events;
    motion::FreeSegments(list_, events);
  }

  // The segment the next record is prepared behind.
  PathSegment* Newest() const { return list_.last != nullptr ? list_.last : foundTail_; }
  void Add(PathSegment& segment) {
    motion::PushSegment(list_, segment);
    // The preparation looks back from here into the queue.
    if (list_.first == &segment) segment.previous = foundTail_;
  }
  std::uint32_t count() const { return list_.count; }

  // Under the lock, with the queue's tail still the one found.
  void AppendTo(motion::SegmentQueue& queue) {
    PathSegment* segment = list_.first;
    for (std::uint32_t i = 0; i < list_.count && segment != nullptr; ++i) {
      PathSegment* const next = segment->next;
      motion::AppendSegment(queue, *segment);
      segment = next;
    }
    list_ = motion::SegmentList{};
  }

 private:
  PathSegment* const foundTail_;
  motion::SegmentList list_;
};

// One hand-over: the buffer's records prepared a few per hold, then queued
// in one hold.
class HandOver {
 public:
  explicit HandOver(Kernel& kernel) : kernel_(kernel) {}

  // The result, or nothing when the queue's tail went away meanwhile.
  std::optional<StatusCode> Run() {
    if (const StatusCode opened =
            UnderPathLock(kernel_, [&](KernelData& data) { return Open(data); });
        Failed(opened)) {
      return opened;
    }
    prepared_.emplace(foundTail_);
    while (taken_ < room_) {
      turns_.BetweenHolds();
      const StatusCode step =
          InNextHold(kernel_, [&](KernelData& data) { return PrepareSome(data); });
      if (tailGone_) return std::nullopt;
      if (Failed(step)) return failedRecord_ ? TakeBack(step) : step;
    }
    turns_.BetweenHolds();
    const StatusCode queued = InNextHold(kernel_, [&](KernelData& data) { return Queue(data); });
    if (tailGone_) return std::nullopt;
    if (Failed(queued)) return queued;
    KeepRecordsLeft();
    // A full queue is told to the library as well: it keeps its records
    // and hands them over again.
    return left_ > 0 || queueFull_ ? common::kKernelPathBufferError : common::kKernelSuccess;
  }

 private:
  StatusCode Open(KernelData& data) {
    if (const StatusCode refused = CheckMotionGuards(data, kTransferGuards); Failed(refused)) {
      return refused;
    }
    buffer_ = MappedBuffer(kernel_);
    if (!buffer_) return common::kKernelPathBufferError;
    const auto header = buffer_->Header();
    count_ = header.Get(pb::kCount);
    // Counts beyond the mapping are not the library's: nothing is taken.
    if (count_ > buffer_->recordRoom || header.Get(pb::kCapacity) > buffer_->recordRoom) {
      return common::kKernelPathBufferError;
    }
    const motion::SegmentQueue& queue = data.motionRuntime.path.queue;
    foundTail_ = queue.tail;
    const std::int64_t free = std::int64_t{queue.capacity} - queue.count;
    room_ = static_cast<std::uint32_t>(std::clamp<std::int64_t>(free, 0, count_));
    return common::kKernelSuccess;
  }

  StatusCode PrepareSome(KernelData& data) {
    if (data.motionRuntime.path.queue.tail != foundTail_) {
      tailGone_ = true;
      return common::kKernelSuccess;
    }
    const PathPlanningView view(data, PathCoordinateCount(kernel_));
    KernelPathEvents events;
    common::PathBufferRecord copy;
    for (const std::uint32_t end = std::min(room_, taken_ + kRecordsPerHold); taken_ < end;
         ++taken_) {
      PathSegment* segment = NewPathSegment();
      if (segment == nullptr) {
        failedRecord_ = true;
        return common::kKernelOutOfResources;
      }
      const auto record = CopyRecord(*buffer_, taken_, copy);
      if (!motion::PrepareSegment(record, prepared_->Newest(), *segment, view.Context(), events)) {
        const StatusCode result = motion::ResultOfSegmentError(segment->error);
        DiscardPathSegment(*segment);
        if (Failed(result)) {
          failedRecord_ = true;
          return result;
        }
        continue;
      }
      prepared_->Add(*segment);
    }
    return common::kKernelSuccess;
  }

  StatusCode Queue(KernelData& data) {
    motion::SegmentQueue& queue = data.motionRuntime.path.queue;
    if (queue.tail != foundTail_) {
      tailGone_ = true;
      return common::kKernelSuccess;
    }
    if (prepared_->count() > 0) {
      prepared_->AppendTo(queue);
      JoinStartedPath(data.state);
      PlanQueuedPath(data);
    }
    queueFull_ = queue.capacity == queue.count;
    return common::kKernelSuccess;
  }

  // The failing record is named; the buffer is emptied and nothing queued.
  StatusCode TakeBack(StatusCode result) {
    prepared_.reset();
    (void)kernel_.Block().Store<std::uint32_t>(kFailedRecordNumber, taken_ + 1);
    buffer_->Header().Set(pb::kCount, 0u);
    return result;
  }

  // The records not taken move to the front of the buffer.
  void KeepRecordsLeft() {
    left_ = count_ - taken_;
    if (taken_ == 0) return;
    std::memmove(buffer_->Record(0), buffer_->Record(taken_),
                 std::size_t{left_} * common::kPathBufferRecordSize);
    buffer_->Header().Set(pb::kCount, left_);
  }

  Kernel& kernel_;
  CycleTurns turns_;
  std::optional<SharedBuffer> buffer_;
  std::uint32_t count_ = 0;  // records in the buffer
  std::uint32_t room_ = 0;   // records the queue has room for
  std::uint32_t taken_ = 0;  // records prepared or skipped
  std::uint32_t left_ = 0;
  PathSegment* foundTail_ = nullptr;
  std::optional<PreparedSegments> prepared_;
  bool tailGone_ = false;
  bool failedRecord_ = false;
  bool queueFull_ = false;
};

StatusCode Transfer(Kernel& kernel) {
  for (int attempt = 0; attempt < kHandOverAttempts; ++attempt) {
    if (const std::optional<StatusCode> result = HandOver(kernel).Run()) return *result;
  }
  return common::kKernelPathBufferError;
}

}  // namespace

AfterCommand HandleEnableDllPathBuffer(Kernel& kernel) {
  const bool on = kernel.Block().Load<std::uint32_t>(cb::PayloadAt(0)).value_or(0) != 0;
  AnswerPathCommand(kernel, EnableBuffer(kernel, on));
  return AfterCommand::KeepServing;
}

AfterCommand HandleTransferDllPathBuffer(Kernel& kernel) {
  AnswerPathCommand(kernel, Transfer(kernel));
  return AfterCommand::KeepServing;
}

}  // namespace vantor::kernel
