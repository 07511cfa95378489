#include "kernel/services/axis_position_commands.h"

#include <array>

#include "common/path_buffer.h"
#include "kernel/core/motion/segment_queue.h"
#include "kernel/core/motion/wire_values.h"
#include "kernel/services/axis_command_support.h"

namespace vantor::kernel {

namespace {

namespace cb = common::communication_block;
namespace pb = common::path_buffer;
namespace pbr = common::path_buffer_record;
using common::StatusCode;
using Positions = std::array<double, motion::kMaxCoordinates>;

constexpr MotionGuard kHomedGuards[] = {MotionGuard::NodesHomed};
constexpr MotionGuard kCycleGuards[] = {MotionGuard::CycleRunning, MotionGuard::BusInOrder,
                                        MotionGuard::SyncInOrder, MotionGuard::NodesReady};

// Writes one value per coordinate, each minus its zero point.
void PutCoordinateValues(Kernel& kernel, std::uint32_t count, const Positions& positions) {
  for (std::uint32_t i = 0; i < count; ++i) {
    PutPayloadWireValue(kernel, 8 * i, positions[i] - kernel.data.coordinates[i].zeroOffset);
  }
}

// A coordinate list answered from `position(data, i)`.
template <typename Position>
AfterCommand AnswerCoordinates(Kernel& kernel, ResetGate reset, std::span<const MotionGuard> guards,
                               Position position) {
  const StatusCode result = UnderKernelLock(kernel, reset, guards, [&](KernelData& data) {
    const std::uint32_t count = PayloadCoordinateCount(kernel);
    Positions positions{};
    for (std::uint32_t i = 0; i < count; ++i) positions[i] = position(data, i);
    PutCoordinateValues(kernel, count, positions);
    return common::kKernelSuccess;
  });
  AnswerCommand(kernel, result);
  return AfterCommand::KeepServing;
}

void TakeSetPositions(const KernelData& data, std::uint32_t count, Positions& positions) {
  for (std::uint32_t i = 0; i < count; ++i) {
    positions[i] = data.motionRuntime.path.axes[i].setPosition;
  }
}

// Where `segment` (a line or arc, or the newest one before it) ends; the
// set positions when there is none.
void TakeEndOf(const KernelData& data, motion::PathSegment* segment, std::uint32_t count,
               Positions& positions) {
  const motion::PathSegment* motion = motion::NewestMotionSegment(segment);
  if (motion == nullptr) {
    TakeSetPositions(data, count, positions);
    return;
  }
  for (std::uint32_t i = 0; i < count; ++i) positions[i] = motion->axes[i].end;
}

std::size_t CoordinatesOffsetOf(std::uint32_t code) {
  switch (code) {
    case 36:
      return pbr::kLineCoordinatesOffset;
    case 37:
      return pbr::kArcByEndPointCoordinatesOffset;
    case 38:
      return pbr::kArcBySweepAngleCoordinatesOffset;
    default:
      return 0;
  }
}

// The moves the library still holds in its path buffer, applied in order.
// An absolute value is taken relative to the zero point, as the move itself
// will take it.
void ApplyBufferedMoves(const Kernel& kernel, std::uint32_t count, Positions& positions) {
  const os::Mapping& mapping = kernel.link.pathBufferMapping;
  const std::size_t fits = pb::RecordsThatFit(mapping.size());
  if (mapping.data() == nullptr || fits == 0) return;
  auto* base = reinterpret_cast<const std::uint8_t*>(mapping.data());
  const common::ConstByteView<common::kPathBufferHeaderSize> header(base);
  if (header.Get(pb::kEnabled) == 0) return;
  const std::size_t records = std::min<std::size_t>(header.Get(pb::kCount), fits);
  const bool int32Values = kernel.data.motion.path.int32Values;
  for (std::size_t r = 0; r < records; ++r) {
    const common::ConstByteView<common::kPathBufferRecordSize> record(base + pb::RecordOffset(r));
    const std::size_t at = CoordinatesOffsetOf(record.Get(pbr::kCommandCode));
    if (at == 0) continue;
    const bool absolute = record.Get(pbr::kAbsoluteFlag) != 0;
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::int64_t value = record.Load<std::int64_t>(at + 8 * i).value_or(0);
      if (IsNoMoveValue(value, int32Values)) continue;
      const double units = motion::WireValueToReal(value);
      positions[i] =
          absolute ? units + kernel.data.coordinates[i].zeroOffset : positions[i] + units;
    }
  }
}

// Where the motion will end, as far as the kernel and the library's buffer
// know it.
void TakeDestinations(const Kernel& kernel, std::uint32_t count, Positions& positions) {
  const KernelData& data = kernel.data;
  const KernelStateFlags& s = data.state;
  const motion::SegmentQueue& queue = data.motionRuntime.path.queue;
  if (s.pathMode != 0 && s.pathStarted != 0) {
    TakeEndOf(data, queue.tail, count, positions);
    ApplyBufferedMoves(kernel, count, positions);
  } else if (s.pathMode == 0 && s.motionActive != 0 && queue.head != nullptr) {
    TakeEndOf(data, queue.head, count, positions);
  } else {
    TakeSetPositions(data, count, positions);
  }
}

}  // namespace

AfterCommand HandleGetAxisLastOperationError(Kernel& kernel) {
  const StatusCode result = UnderKernelLock(kernel, ResetGate::Skip, {}, [&](KernelData& data) {
    NodeConfiguration& nodes = data.nodeConfiguration;
    for (std::uint32_t i = 0; i < nodes.BoundedNodeCount(); ++i) {
      const NodeObject* node = nodes.Node(i);
      const StatusCode last = node != nullptr ? node->can->request.lastResult : 0;
      static_cast<void>(kernel.Block().Store<std::uint32_t>(cb::PayloadAt(4 * i), last));
    }
    return common::kKernelSuccess;
  });
  AnswerCommand(kernel, result);
  return AfterCommand::KeepServing;
}

AfterCommand HandleGetPosition(Kernel& kernel) {
  return AnswerCoordinates(
      kernel, ResetGate::Check, kCycleGuards,
      [](const KernelData& data, std::uint32_t i) { return data.motionRuntime.axes[i].actual; });
}

AfterCommand HandleGetDesiredPos(Kernel& kernel) {
  return AnswerCoordinates(kernel, ResetGate::Skip, kHomedGuards,
                           [](const KernelData& data, std::uint32_t i) {
                             return data.motionRuntime.path.axes[i].setPosition;
                           });
}

AfterCommand HandleGetDestinationPos(Kernel& kernel) {
  const StatusCode result =
      UnderKernelLock(kernel, ResetGate::Skip, kHomedGuards, [&](KernelData&) {
        const std::uint32_t count = PayloadCoordinateCount(kernel);
        Positions positions{};
        TakeDestinations(kernel, count, positions);
        PutCoordinateValues(kernel, count, positions);
        return common::kKernelSuccess;
      });
  AnswerCommand(kernel, result);
  return AfterCommand::KeepServing;
}

AfterCommand HandleGetAxisPosition(Kernel& kernel) {
  const StatusCode result =
      UnderKernelLock(kernel, ResetGate::Check, kCycleGuards, [&](KernelData& data) {
        NodeConfiguration& nodes = data.nodeConfiguration;
        for (std::uint32_t i = 0; i < nodes.BoundedNodeCount(); ++i) {
          const NodeObject* node = nodes.Node(i);
          const double position =
              node != nullptr ? data.motionRuntime.nodes[i].actual - node->zeroPoint : 0.0;
          PutPayloadWireValue(kernel, 8 * i, position);
        }
        return common::kKernelSuccess;
      });
  AnswerCommand(kernel, result);
  return AfterCommand::KeepServing;
}

}  // namespace vantor::kernel
