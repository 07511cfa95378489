#include "kernel/core/canopen/axis_profile_move.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "kernel/core/canopen/canopen_constants.h"
#include "kernel/core/canopen/masked_axis_sdo.h"

namespace vantor::canopen {

using common::StatusCode;

namespace {

constexpr std::size_t kLevels = kMaxNodeAxes + 1;  // the node level and each axis index

// The levels a move runs on: index 0 is the node level (-1).
struct Levels {
  std::int32_t first;
  std::int32_t end;
  static std::size_t Slot(std::int32_t axis) noexcept { return static_cast<std::size_t>(axis + 1); }
};

std::uint32_t RoundedWire(double value) noexcept {
  if (!std::isfinite(value) || value <= 0.0) return 0;
  if (value >= 4294967295.0) return 0xFFFFFFFFu;
  return static_cast<std::uint32_t>(std::llround(value));
}

struct ProfileValues {
  double velocity;
  double acceleration;
};

ProfileValues ProfileOf(const NodeObject& node, std::int32_t axis) noexcept {
  if (axis < 0) return {node.profileVelocity, node.profileAcceleration};
  const NodeAxis& entry = node.axes[static_cast<std::size_t>(axis)];
  return {entry.profileVelocity, entry.profileAcceleration};
}

class ProfileMove {
 public:
  ProfileMove(ServiceContext& context, bool includeNode, NodeMask mask,
              std::span<const std::int32_t> positions) noexcept
      : context_(context),
        mask_(mask),
        positions_(positions),
        levels_{includeNode ? -1 : 0, static_cast<std::int32_t>(context.nodes.largestAxisCount)} {}

  StatusCode Run() noexcept {
    if (Start() == kernel::kCycleNotRunning) return kernel::kCycleNotRunning;
    if (Await() == kernel::kCycleNotRunning) return kernel::kCycleNotRunning;
    if (Leave() == kernel::kCycleNotRunning) return kernel::kCycleNotRunning;
    StoreOutcomes();
    if (faulted_) return common::kKernelGantryCompensationFailed;
    return failed_ ? common::kKernelOperationFailed : common::kKernelSuccess;
  }

 private:
  // A masked download on one level; the mask narrows to the nodes that
  // took it.
  StatusCode Write(std::int32_t axis, NodeMask& mask, const SdoRecords& records,
                   bool sameRecord) noexcept {
    const NodeMask before = mask;
    const StatusCode result =
        SdoDownloadToMaskedAxis(context_, false, sameRecord, axis, mask, records);
    if (result == common::kKernelOperationFailed) NoteFailures(axis, before & ~mask);
    return result;
  }

  // The first failure of each drive is what its result tells at the end;
  // a drive that failed once takes no further part.
  void NoteFailures(std::int32_t axis, NodeMask candidates) noexcept {
    HostLock lock(context_.host);
    for (std::uint32_t k = 0; k < context_.nodes.Count(); ++k) {
      const NodeObject* node = context_.nodes.nodes[k];
      const NodeMask bit = NodeMask{1} << k;
      if (node == nullptr || (candidates & bit) == 0 || !HasAxis(*node, axis)) continue;
      failed_ = true;
      if ((spoiled_[Levels::Slot(axis)] & bit) != 0) continue;
      spoiled_[Levels::Slot(axis)] |= bit;
      reasons_[Levels::Slot(axis)][k] = node->request.requestResult;
    }
  }
  StatusCode WriteSame(std::int32_t axis, NodeMask& mask, std::uint16_t index, std::uint8_t size,
                       std::uint32_t value) noexcept {
    SdoRecords records{};
    records[0] = MakeSdoRecord(index, 0, size, value);
    return Write(axis, mask, records, true);
  }

  // Parameters, target and the start of the move on every level; what took
  // all of it moves.
  StatusCode Start() noexcept {
    for (std::int32_t axis = levels_.first; axis < levels_.end; ++axis) {
      NodeMask mask = mask_;
      SdoRecords accelerations{};
      SdoRecords velocities{};
      SdoRecords targets{};
      {
        HostLock lock(context_.host);
        for (std::uint32_t k = 0; k < context_.nodes.Count(); ++k) {
          const NodeObject* node = context_.nodes.nodes[k];
          if (node == nullptr || !HasAxis(*node, axis)) continue;
          const ProfileValues profile = ProfileOf(*node, axis);
          accelerations[k] =
              MakeSdoRecord(object::kProfileAcceleration, 0, 4, RoundedWire(profile.acceleration));
          velocities[k] =
              MakeSdoRecord(object::kProfileVelocity, 0, 4, RoundedWire(profile.velocity));
          targets[k] = MakeSdoRecord(object::kTargetPosition, 0, 4,
                                     static_cast<std::uint32_t>(positions_[k]));
          plans_[Levels::Slot(axis)][k] =
              ProfileValues{static_cast<double>(RoundedWire(profile.velocity)),
                            static_cast<double>(RoundedWire(profile.acceleration))};
        }
      }
      const StatusCode steps[] = {
          WriteSame(axis, mask, object::kControlword, 2, ds402::kEnableOperation),
          WriteSame(axis, mask, object::kModesOfOperation, 1, ds402::kProfilePositionMode),
          Write(axis, mask, accelerations, false),
          Write(axis, mask, velocities, false),
          WriteSame(axis, mask, object::kEndVelocity, 4, 0),
          Write(axis, mask, targets, false),
          PlanFrom(axis, mask),
          WriteSame(axis, mask, object::kControlword, 2, ds402::kStartAbsoluteMove),
      };
      for (StatusCode step : steps) {
        if (step == kernel::kCycleNotRunning) return step;
      }
      moving_[Levels::Slot(axis)] = mask;
    }
    return common::kKernelSuccess;
  }

  // Reads where the drives stand and plans their moves; a drive whose
  // position stays unknown has no plan but still moves.
  StatusCode PlanFrom(std::int32_t axis, NodeMask mask) noexcept {
    if (mask == 0) return common::kKernelSuccess;
    SdoRecords records{};
    records[0] = MakeSdoRecord(object::kPositionActual, 0, 4);
    NodeMask read = mask;
    const StatusCode result = SdoUploadFromMaskedAxis(context_, true, axis, read, records);
    if (result == kernel::kCycleNotRunning) return result;
    for (std::uint32_t k = 0; k < kMaxNodes; ++k) {
      if ((read & (NodeMask{1} << k)) == 0) continue;
      const auto standing = static_cast<std::int32_t>(records[k].Get(sdo_request::kValue));
      const double distance =
          std::fabs(static_cast<double>(positions_[k]) - static_cast<double>(standing));
      const ProfileValues& plan = plans_[Levels::Slot(axis)][k];
      longestPlanSeconds_ = std::max(
          longestPlanSeconds_, PlannedMoveSeconds(distance, plan.velocity, plan.acceleration));
    }
    return common::kKernelSuccess;
  }

  bool AnyMoving() const noexcept {
    return std::any_of(moving_.begin(), moving_.end(), [](NodeMask m) { return m != 0; });
  }

  std::uint64_t LimitMs() const noexcept { return MoveTimeLimitMs(longestPlanSeconds_); }

  // Looks at the moving drives until each has arrived, faulted or failed
  // to answer, or the time is up.
  StatusCode Await() noexcept {
    const std::uint64_t deadline = context_.host.MonotonicMilliseconds() + LimitMs();
    while (AnyMoving()) {
      for (std::int32_t axis = levels_.first; axis < levels_.end; ++axis) {
        if (Look(axis) == kernel::kCycleNotRunning) return kernel::kCycleNotRunning;
      }
      if (!AnyMoving()) break;
      if (context_.host.MonotonicMilliseconds() >= deadline) return HaltTheMoving();
      context_.host.Sleep(kProfileMovePollMs);
    }
    return common::kKernelSuccess;
  }

  StatusCode Look(std::int32_t axis) noexcept {
    NodeMask& moving = moving_[Levels::Slot(axis)];
    if (moving == 0) return common::kKernelSuccess;
    SdoRecords records{};
    records[0] = MakeSdoRecord(object::kStatusword, 0, 2);
    NodeMask answered = moving;
    const StatusCode result = SdoUploadFromMaskedAxis(context_, true, axis, answered, records);
    if (result == kernel::kCycleNotRunning) return result;
    if (result == common::kKernelOperationFailed) NoteFailures(axis, moving & ~answered);
    for (std::uint32_t k = 0; k < kMaxNodes; ++k) {
      const NodeMask bit = NodeMask{1} << k;
      if ((moving & bit) == 0) continue;
      if ((answered & bit) == 0) {
        moving &= ~bit;
        continue;
      }
      const auto statusword = static_cast<std::uint16_t>(records[k].Get(sdo_request::kValue));
      if ((statusword & ds402::kFollowingError) != 0 ||
          (statusword & ds402::kStateMask) != ds402::kOperationEnabled) {
        faults_[Levels::Slot(axis)] |= bit;
        moving &= ~bit;
      } else if ((statusword & ds402::kTargetReached) != 0) {
        moving &= ~bit;
      }
    }
    return common::kKernelSuccess;
  }

  // The time is up: whatever still moves is halted and counts as faulted.
  StatusCode HaltTheMoving() noexcept {
    for (std::int32_t axis = levels_.first; axis < levels_.end; ++axis) {
      NodeMask& moving = moving_[Levels::Slot(axis)];
      if (moving == 0) continue;
      faults_[Levels::Slot(axis)] |= moving;
      NodeMask halted = moving;
      moving = 0;
      if (WriteSame(axis, halted, object::kControlword, 2, ds402::kHalt) ==
          kernel::kCycleNotRunning) {
        return kernel::kCycleNotRunning;
      }
    }
    return common::kKernelSuccess;
  }

  // The drives of `mask_` on this level that neither failed nor faulted.
  NodeMask GoodOn(std::int32_t axis) const noexcept {
    const std::size_t slot = Levels::Slot(axis);
    return mask_ & ~spoiled_[slot] & ~faults_[slot];
  }

  // Ends the profile moves and puts the drives that arrived back into the
  // mode they work in.
  StatusCode Leave() noexcept {
    for (std::int32_t axis = levels_.first; axis < levels_.end; ++axis) {
      NodeMask mask = mask_;
      if (WriteSame(axis, mask, object::kControlword, 2, ds402::kEndProfileMove) ==
          kernel::kCycleNotRunning) {
        return kernel::kCycleNotRunning;
      }
    }
    for (std::int32_t axis = levels_.first; axis < levels_.end; ++axis) {
      NodeMask mask = GoodOn(axis);
      SdoRecords modes{};
      {
        HostLock lock(context_.host);
        for (std::uint32_t k = 0; k < context_.nodes.Count(); ++k) {
          if (const NodeObject* node = context_.nodes.nodes[k]) {
            modes[k] = MakeSdoRecord(object::kModesOfOperation, 0, 1, WorkingModeOf(*node));
          }
        }
      }
      const StatusCode steps[] = {
          WriteSame(axis, mask, object::kControlword, 2, ds402::kHalt),
          WriteSame(axis, mask, object::kProfileVelocity, 4, 0),
          Write(axis, mask, modes, false),
      };
      for (StatusCode step : steps) {
        if (step == kernel::kCycleNotRunning) return step;
      }
    }
    return common::kKernelSuccess;
  }

  static std::uint32_t WorkingModeOf(const NodeObject& node) noexcept {
    if (node.handlingAxis == 0) return ds402::kInterpolatedPositionMode;
    return node.handlingMode > 0 ? ds402::kProfilePositionMode : ds402::kProfileVelocityMode;
  }

  // A drive that faulted or ran out of time keeps that as its result, one
  // that failed a transfer its first failure.
  void StoreOutcomes() noexcept {
    HostLock lock(context_.host);
    for (std::int32_t axis = levels_.first; axis < levels_.end; ++axis) {
      const std::size_t slot = Levels::Slot(axis);
      for (std::uint32_t k = 0; k < context_.nodes.Count(); ++k) {
        NodeObject* node = context_.nodes.nodes[k];
        const NodeMask bit = NodeMask{1} << k;
        if (node == nullptr || ((faults_[slot] | spoiled_[slot]) & bit) == 0) continue;
        StatusCode outcome = reasons_[slot][k];
        if ((faults_[slot] & bit) != 0) {
          faulted_ = true;
          outcome = common::kKernelGantryCompensationFailed;
        }
        if (axis < 0) {
          node->request.lastResult = outcome;
        } else {
          node->axes[static_cast<std::size_t>(axis)].axisResult = outcome;
        }
      }
    }
  }

  ServiceContext& context_;
  NodeMask mask_;
  std::span<const std::int32_t> positions_;
  Levels levels_;
  std::array<NodeMask, kLevels> moving_{};
  std::array<NodeMask, kLevels> faults_{};
  std::array<NodeMask, kLevels> spoiled_{};
  std::array<std::array<StatusCode, kMaxNodes>, kLevels> reasons_{};
  std::array<std::array<ProfileValues, kMaxNodes>, kLevels> plans_{};
  double longestPlanSeconds_ = 0.0;
  bool failed_ = false;
  bool faulted_ = false;
};

}  // namespace

std::uint64_t MoveTimeLimitMs(double plannedSeconds) noexcept {
  if (!(plannedSeconds > 0.0)) return kProfileMoveSlackMs;
  const double planned = std::ceil(2000.0 * plannedSeconds);
  constexpr double kLongest = 1e15;
  return static_cast<std::uint64_t>(std::min(planned, kLongest)) + kProfileMoveSlackMs;
}

double PlannedMoveSeconds(double distance, double velocity, double acceleration) noexcept {
  if (!std::isfinite(distance) || !std::isfinite(velocity) || velocity <= 0.0) return -1.0;
  distance = std::fabs(distance);
  if (!std::isfinite(acceleration) || acceleration <= 0.0) return distance / velocity;
  // Ramps up and down take v/a each and cover v^2/a together.
  const double rampDistance = velocity * velocity / acceleration;
  if (distance >= rampDistance) return distance / velocity + velocity / acceleration;
  return 2.0 * std::sqrt(distance / acceleration);
}

StatusCode SetupAxesProfileMode(ServiceContext& context, bool includeNode, NodeMask mask,
                                std::span<const std::int32_t> positions) noexcept {
  if (positions.size() < context.nodes.Count()) return common::kKernelOperationFailed;
  if (mask == 0) return common::kKernelSuccess;
  AddressingKeeper keeper(context);
  ProfileMove move(context, includeNode, mask, positions);
  return move.Run();
}

}  // namespace vantor::canopen
