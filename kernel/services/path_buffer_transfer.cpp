#include "kernel/services/path_buffer_transfer.h"

#include <array>
#include <cstring>
#include <optional>
#include <span>

#include "common/path_buffer.h"
#include "kernel/core/motion/path_interpolation.h"
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

StatusCode Transfer(Kernel& kernel) {
  return UnderPathLock(kernel, [&](KernelData& data) -> StatusCode {
    if (const StatusCode refused = CheckMotionGuards(data, kTransferGuards); Failed(refused)) {
      return refused;
    }
    const auto buffer = MappedBuffer(kernel);
    if (!buffer) return common::kKernelPathBufferError;
    auto header = buffer->Header();
    const std::uint32_t count = header.Get(pb::kCount);
    // Counts beyond the mapping are not the library's: nothing is taken.
    if (count > buffer->recordRoom || header.Get(pb::kCapacity) > buffer->recordRoom) {
      return common::kKernelPathBufferError;
    }
    motion::PathMotion& path = data.motionRuntime.path;
    motion::SegmentQueue& queue = path.queue;
    PathSegment* const foundTail = queue.tail;
    const std::int64_t queuedBefore = queue.count;
    const PathPlanningView view(data, PathCoordinateCount(kernel));
    KernelPathEvents events;
    const auto takeBack = [&](std::uint32_t index, StatusCode result) {
      (void)kernel.Block().Store<std::uint32_t>(kFailedRecordNumber, index + 1);
      header.Set(pb::kCount, 0u);
      motion::PathFlags flags;
      flags.pathActive = data.state.pathActive;
      motion::TruncateSegmentQueue(path, flags, foundTail);
      data.state.pathActive = flags.pathActive;
      return result;
    };
    std::uint32_t taken = 0;
    std::uint32_t added = 0;
    common::PathBufferRecord copy;
    for (; taken < count && queue.capacity > queuedBefore + taken; ++taken) {
      PathSegment* segment = NewPathSegment();
      if (segment == nullptr) return takeBack(taken, common::kKernelOutOfResources);
      const auto record = CopyRecord(*buffer, taken, copy);
      if (!motion::PrepareSegment(record, queue.tail, *segment, view.Context(), events)) {
        const StatusCode result = motion::ResultOfSegmentError(segment->error);
        DiscardPathSegment(*segment);
        if (Failed(result)) return takeBack(taken, result);
        continue;
      }
      motion::AppendSegment(queue, *segment);
      ++added;
    }
    const std::uint32_t left = count - taken;
    if (taken > 0) {
      std::memmove(buffer->Record(0), buffer->Record(taken),
                   std::size_t{left} * common::kPathBufferRecordSize);
      header.Set(pb::kCount, left);
    }
    if (added > 0) {
      JoinStartedPath(data.state);
      PlanQueuedPath(data);
    }
    // A full queue is told to the library as well: it keeps its records
    // and hands them over again.
    if (left > 0 || queue.capacity == queue.count) return common::kKernelPathBufferError;
    return common::kKernelSuccess;
  });
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
