#include "kernel/core/canopen/multi_axis_moveout.h"

#include <algorithm>
#include <cmath>

#include "kernel/core/canopen/axis_chain.h"
#include "kernel/core/canopen/axis_profile_move.h"
#include "kernel/core/canopen/axis_services.h"
#include "kernel/core/canopen/canopen_constants.h"
#include "kernel/core/canopen/masked_axis_sdo.h"
#include "kernel/core/canopen/moveout_limits.h"
#include "kernel/core/canopen/pdo_motion.h"

namespace vantor::canopen {

using common::StatusCode;

namespace {

constexpr std::uint8_t kNegativeLimitInput = 0x01;
constexpr std::uint8_t kPositiveLimitInput = 0x02;
constexpr std::uint16_t kDigitalInputs = 0x60FD;
constexpr std::uint16_t kHomingMethod = 0x6098;
// Homing on the position where the drive stands.
constexpr std::uint8_t kHomeHere = 34;
constexpr std::uint8_t kHomingMode = 6;
constexpr std::uint16_t kStartHoming = 0x001F;

bool InMask(NodeMask mask, std::uint32_t k) noexcept { return (mask & (NodeMask{1} << k)) != 0; }

// The levels of a node: -1 the node itself, then each axis index.
std::int32_t LevelEnd(const NodeTable& nodes) noexcept {
  return static_cast<std::int32_t>(nodes.largestAxisCount);
}

void SetResult(NodeObject& node, std::int32_t axis, StatusCode result) noexcept {
  if (axis < 0) {
    node.request.lastResult = result;
  } else {
    node.axes[static_cast<std::size_t>(axis)].axisResult = result;
  }
}

// The masked nodes that have the level.
NodeMask HavingLevel(const NodeTable& nodes, NodeMask mask, std::int32_t axis) noexcept {
  NodeMask having = 0;
  for (std::uint32_t k = 0; k < nodes.Count(); ++k) {
    const NodeObject* node = nodes.nodes[k];
    if (node != nullptr && InMask(mask, k) && HasAxis(*node, axis)) having |= NodeMask{1} << k;
  }
  return having;
}

// A node and its axes, in level order.
template <typename Visit>
void ForEachDrive(const NodeObject& node, Visit&& visit) noexcept {
  const auto count = static_cast<std::int32_t>(
      std::min<std::uint32_t>(node.axisCount, static_cast<std::uint32_t>(kMaxNodeAxes)));
  for (std::int32_t axis = -1; axis < count; ++axis) {
    visit(axis);
  }
}

const HomingParameters& HomingOf(const NodeObject& node, std::int32_t axis) noexcept {
  return axis < 0 ? node.drive.homing : node.axes[static_cast<std::size_t>(axis)].drive.homing;
}

std::uint32_t Wire(double value) noexcept {
  if (!std::isfinite(value) || value <= 0.0) return 0;
  if (value >= 4294967295.0) return 0xFFFFFFFFu;
  return static_cast<std::uint32_t>(std::llround(value));
}

std::int32_t WireDistance(double value) noexcept {
  const double magnitude = std::fabs(value);
  if (!std::isfinite(magnitude)) return 0;
  if (magnitude >= 2147483647.0) return 2147483647;
  return static_cast<std::int32_t>(std::llround(magnitude));
}

// Reads one object of a level of the masked nodes; `answered` comes back
// with the nodes that answered, the others have lost `readOk`.
StatusCode ReadLevel(ServiceContext& context, std::int32_t axis, NodeMask having,
                     std::uint16_t index, std::uint8_t size, SdoRecords& records,
                     NodeMask& answered) noexcept {
  records = SdoRecords{};
  records[0] = MakeSdoRecord(index, 0, size);
  answered = having;
  const StatusCode result = SdoUploadFromMaskedAxis(context, true, axis, answered, records);
  if (result == kernel::kCycleNotRunning) return result;
  answered &= having;
  return common::kKernelSuccess;
}

// The state a move-out keeps of its nodes.
struct Plan {
  std::array<std::uint32_t, kMaxNodes> acceleration{};
  std::array<std::uint32_t, kMaxNodes> velocity{};
  std::array<std::int32_t, kMaxNodes> distance{};
};

class MultiAxisMoveOut {
 public:
  explicit MultiAxisMoveOut(ServiceContext& context) noexcept : context_(context) {}

  StatusCode Run(NodeMask mask) noexcept {
    alive_ = Select(mask);
    selected_ = alive_;
    const StatusCode phases = RunPhases();
    if (phases == kernel::kCycleNotRunning) return phases;
    return failed_ ? common::kKernelOperationFailed : common::kKernelSuccess;
  }

  // Phase 11: the chain stays uncoupled.
  StatusCode Uncouple() noexcept {
    const KeptFailures kept = KeepFailures();
    const StatusCode result = SetAxisChainState(context_, false, false, selected_);
    PutBackFailures(kept);
    if (result == kernel::kCycleNotRunning) return result;
    if (result != common::kKernelSuccess) failed_ = true;
    return failed_ ? common::kKernelOperationFailed : common::kKernelSuccess;
  }

 private:
  // A drive's failure in an earlier phase stays its result after a later
  // write that went through.
  using KeptFailures = std::array<std::array<StatusCode, kMaxNodeAxes + 1>, kMaxNodes>;
  KeptFailures KeepFailures() noexcept {
    KeptFailures kept{};
    HostLock lock(context_.host);
    for (std::uint32_t k = 0; k < context_.nodes.Count(); ++k) {
      const NodeObject* node = context_.nodes.nodes[k];
      if (node == nullptr) continue;
      ForEachDrive(*node, [&](std::int32_t axis) {
        kept[k][static_cast<std::size_t>(axis + 1)] =
            axis < 0 ? node->request.lastResult
                     : node->axes[static_cast<std::size_t>(axis)].axisResult;
      });
    }
    return kept;
  }
  void PutBackFailures(const KeptFailures& kept) noexcept {
    HostLock lock(context_.host);
    for (std::uint32_t k = 0; k < context_.nodes.Count(); ++k) {
      NodeObject* node = context_.nodes.nodes[k];
      if (node == nullptr || !InMask(selected_, k)) continue;
      ForEachDrive(*node, [&](std::int32_t axis) {
        const StatusCode before = kept[k][static_cast<std::size_t>(axis + 1)];
        if (before != common::kKernelSuccess) SetResult(*node, axis, before);
      });
    }
  }

  NodeMask Select(NodeMask mask) noexcept {
    HostLock lock(context_.host);
    NodeMask selected = 0;
    for (std::uint32_t k = 0; k < context_.nodes.Count(); ++k) {
      NodeObject* node = context_.nodes.nodes[k];
      if (node == nullptr || node->axisCount == 0 || !InMask(mask, k)) continue;
      selected |= NodeMask{1} << k;
      ForEachDrive(*node,
                   [&](std::int32_t axis) { SetResult(*node, axis, common::kKernelSuccess); });
    }
    return selected;
  }

  StatusCode RunPhases() noexcept {
    LimitSwitchStates states;
    StatusCode step = ReadLimitSwitchStates(context_, alive_, states);
    if (step != common::kKernelSuccess) return step;
    Drop(alive_ & ~states.readOk, true);
    alive_ &= states.enabled & states.OnSwitch();
    // Only the nodes that take part are uncoupled at the end.
    selected_ = alive_;
    // Saved for the direction of the last move.
    onPositive_ = alive_ & states.OnPositiveSwitch();
    MakePlan();

    using Phase = StatusCode (MultiAxisMoveOut::*)() noexcept;
    constexpr Phase kPhases[] = {
        &MultiAxisMoveOut::Reference,          &MultiAxisMoveOut::PrepareChain,
        &MultiAxisMoveOut::MoveOffSwitch,      &MultiAxisMoveOut::AwaitOffSwitch,
        &MultiAxisMoveOut::CompensateStop,     &MultiAxisMoveOut::PrepareChain,
        &MultiAxisMoveOut::MoveToSafeDistance, &MultiAxisMoveOut::CompensateEnd,
    };
    for (Phase phase : kPhases) {
      step = (this->*phase)();
      if (step != common::kKernelSuccess) return step;
    }
    return common::kKernelSuccess;
  }

  // The nodes leave the later phases; with `failure` the result tells.
  void Drop(NodeMask nodes, bool failure) noexcept {
    nodes &= alive_;
    if (nodes == 0) return;
    alive_ &= ~nodes;
    if (failure) failed_ = true;
  }

  // The alive nodes whose node or axis result tells of a failure.
  NodeMask FailedAmong(NodeMask mask) noexcept {
    HostLock lock(context_.host);
    NodeMask failed = 0;
    for (std::uint32_t k = 0; k < context_.nodes.Count(); ++k) {
      const NodeObject* node = context_.nodes.nodes[k];
      if (node == nullptr || !InMask(mask, k)) continue;
      bool bad = node->request.lastResult != common::kKernelSuccess;
      for (std::uint32_t a = 0; a < node->axisCount && a < kMaxNodeAxes; ++a) {
        bad = bad || node->axes[a].axisResult != common::kKernelSuccess;
      }
      if (bad) failed |= NodeMask{1} << k;
    }
    return failed;
  }

  // A service over the alive nodes: a stopped cycle ends everything, the
  // nodes it failed leave.
  StatusCode Settle(StatusCode result, NodeMask mask) noexcept {
    if (result == kernel::kCycleNotRunning) return result;
    if (result != common::kKernelSuccess) Drop(FailedAmong(mask), true);
    return common::kKernelSuccess;
  }

  void MakePlan() noexcept {
    HostLock lock(context_.host);
    for (std::uint32_t k = 0; k < context_.nodes.Count(); ++k) {
      const NodeObject* node = context_.nodes.nodes[k];
      if (node == nullptr || !InMask(alive_, k)) continue;
      double acceleration = node->drive.homing.acceleration;
      double velocity = node->drive.homing.zeroSearchSpeed;
      double offset = node->drive.homing.homeOffset;
      for (std::uint32_t a = 0; a < node->axisCount && a < kMaxNodeAxes; ++a) {
        const HomingParameters& axis = node->axes[a].drive.homing;
        acceleration = std::min(acceleration, axis.acceleration);
        velocity = std::min(velocity, axis.zeroSearchSpeed);
        offset = LargerMagnitude(offset, axis.homeOffset);
      }
      plan_.acceleration[k] = Wire(acceleration);
      plan_.velocity[k] = Wire(velocity);
      const std::int32_t distance = WireDistance(offset);
      plan_.distance[k] = InMask(onPositive_, k) ? -distance : distance;
    }
  }

  StatusCode SendControlword(std::uint32_t k, std::uint16_t controlword) noexcept {
    const NodeObject& node = *context_.nodes.nodes[k];
    const std::array<std::uint8_t, 2> bytes{static_cast<std::uint8_t>(controlword),
                                            static_cast<std::uint8_t>(controlword >> 8)};
    return SendRawFrame(context_, k, MakeRpdoCobId(node.controlRpdo, node.nodeId), 2, bytes);
  }

  // Phase 3: a node not homed in both rows is homed where it stands.
  StatusCode Reference() noexcept {
    for (std::uint32_t k = 0; k < context_.nodes.Count(); ++k) {
      NodeObject* node = context_.nodes.nodes[k];
      if (node == nullptr || !InMask(alive_, k)) continue;
      if (node->latched.Has(kernel::StatusFlag::D) && node->current.Has(kernel::StatusFlag::D)) {
        continue;
      }
      referenced_ |= NodeMask{1} << k;
      const StatusCode homed = HomeWhereItStands(k);
      if (homed == kernel::kCycleNotRunning) return homed;
      if (homed != common::kKernelSuccess) {
        Drop(NodeMask{1} << k, true);
        continue;
      }
      const StatusCode restored = RestoreHomingMethods(k);
      if (restored == kernel::kCycleNotRunning) return restored;
      if (restored != common::kKernelSuccess) {
        HostLock lock(context_.host);
        node->SetFlagInBothRows(kernel::StatusFlag::N, false);
        Drop(NodeMask{1} << k, true);
      }
    }
    return common::kKernelSuccess;
  }

  // The controlword by process data, homing mode and the homing on the
  // spot on node and axes, and its start; the first failure ends it.
  StatusCode HomeWhereItStands(std::uint32_t k) noexcept {
    const std::uint16_t controlRpdo = context_.nodes.nodes[k]->controlRpdo;
    StatusCode step =
        MapObjectToRpdo(context_, k, controlRpdo, kPdoOnReceipt, 16, object::kControlword, 0);
    if (step == common::kKernelSuccess) step = SendControlword(k, ds402::kEnableOperation);
    if (step == common::kKernelSuccess) {
      step = SdoDownloadToNodeAxes(context_, true, k, object::kModesOfOperation, 0, 1, kHomingMode);
    }
    if (step == common::kKernelSuccess) {
      step = SdoDownloadToNodeAxes(context_, true, k, kHomingMethod, 0, 1, kHomeHere);
    }
    if (step == common::kKernelSuccess) step = SendControlword(k, kStartHoming);
    return step;
  }

  StatusCode RestoreHomingMethods(std::uint32_t k) noexcept {
    std::array<SdoRecord, kMaxNodeAxes + 1> records{};
    std::size_t count = 0;
    {
      HostLock lock(context_.host);
      const NodeObject& node = *context_.nodes.nodes[k];
      ForEachDrive(node, [&](std::int32_t axis) {
        records[count++] = MakeSdoRecord(kHomingMethod, 0, 1, HomingOf(node, axis).method);
      });
    }
    return SdoDownloadToNodeAxesEach(context_, true, false, k,
                                     std::span<const SdoRecord>(records.data(), count));
  }

  // Phases 4 and 8: uncoupled, the referenced axes brought to the extreme
  // position of their node, coupled again.
  StatusCode PrepareChain() noexcept {
    StatusCode step = Settle(SetAxisChainState(context_, false, false, alive_), alive_);
    if (step != common::kKernelSuccess) return step;
    NodeMask read = referenced_ & alive_;
    std::array<std::int32_t, kMaxNodes> positions{};
    if (read != 0) {
      const NodeMask asked = read;
      step = ReadExtremePositions(context_, read, onPositive_, positions);
      if (step == kernel::kCycleNotRunning) return step;
      Drop(asked & ~read, true);
      step = Settle(SetupAxesProfileMode(context_, false, read, positions), read);
      if (step != common::kKernelSuccess) return step;
    }
    return Settle(SetAxisChainState(context_, true, false, alive_), alive_);
  }

  StatusCode SetModeOnNodeAxes(std::uint32_t k, std::uint8_t mode) noexcept {
    return SdoDownloadToNodeAxes(context_, true, k, object::kModesOfOperation, 0, 1, mode);
  }

  std::int32_t Velocity(std::uint32_t k) const noexcept {
    const auto speed =
        static_cast<std::int32_t>(std::min<std::uint32_t>(plan_.velocity[k], 0x7FFFFFFF));
    return InMask(onPositive_, k) ? -speed : speed;
  }

  // Phase 5.
  StatusCode MoveOffSwitch() noexcept {
    for (std::uint32_t k = 0; k < context_.nodes.Count(); ++k) {
      if (!InMask(alive_, k)) continue;
      StatusCode step = SetModeOnNodeAxes(k, ds402::kProfileVelocityMode);
      if (step == kernel::kCycleNotRunning) return step;
      if (step == common::kKernelSuccess) {
        step = ProfileVelocityMoveByPdo(context_, k, plan_.acceleration[k], Velocity(k));
        if (step == kernel::kCycleNotRunning) return step;
      }
      if (step != common::kKernelSuccess) {
        if (StopVelocity(k) == kernel::kCycleNotRunning) return kernel::kCycleNotRunning;
        Drop(NodeMask{1} << k, true);
        continue;
      }
      moving_ |= NodeMask{1} << k;
    }
    return common::kKernelSuccess;
  }

  StatusCode StopVelocity(std::uint32_t k) noexcept {
    return ProfileVelocityMoveByPdo(context_, k, plan_.acceleration[k], 0);
  }

  // Halts the node and its axes where they are.
  StatusCode Halt(std::uint32_t k) noexcept {
    return SdoDownloadToNodeAxes(context_, true, k, object::kControlword, 0, 2, ds402::kHalt);
  }

  void MarkStalled(std::uint32_t k) noexcept {
    HostLock lock(context_.host);
    context_.nodes.nodes[k]->request.lastResult = common::kKernelGantryCompensationFailed;
  }

  // Phase 6: the moving nodes are watched until they are off their switch.
  StatusCode AwaitOffSwitch() noexcept {
    const std::uint64_t deadline = context_.host.MonotonicMilliseconds() + kOffSwitchLimitMs;
    for (;;) {
      moving_ &= alive_;
      if (moving_ == 0) return common::kKernelSuccess;
      LimitSwitchStates states;
      const StatusCode read = ReadLimitSwitchStates(context_, moving_, states);
      if (read != common::kKernelSuccess) return read;
      const NodeMask keep = states.readOk & states.enabled & states.OnSwitch();
      for (std::uint32_t k = 0; k < context_.nodes.Count(); ++k) {
        const NodeMask bit = NodeMask{1} << k;
        if ((moving_ & bit) == 0 || (keep & bit) != 0) continue;
        moving_ &= ~bit;
        const StatusCode stop = StopVelocity(k);
        if (stop == kernel::kCycleNotRunning) return stop;
        if ((states.readOk & bit) == 0 || stop != common::kKernelSuccess) {
          Drop(bit, true);
        } else if ((states.enabled & bit) == 0) {
          Drop(bit, false);
        } else {
          stopped_ |= bit;
        }
      }
      if (moving_ == 0) return common::kKernelSuccess;
      if (context_.host.MonotonicMilliseconds() >= deadline) return HaltStillMoving();
      context_.host.Sleep(kMoveOutPollMs);
    }
  }

  StatusCode HaltStillMoving() noexcept {
    for (std::uint32_t k = 0; k < context_.nodes.Count(); ++k) {
      if (!InMask(moving_, k)) continue;
      if (Halt(k) == kernel::kCycleNotRunning) return kernel::kCycleNotRunning;
      MarkStalled(k);
      Drop(NodeMask{1} << k, true);
    }
    moving_ = 0;
    return common::kKernelSuccess;
  }

  // Phase 7 (halt form) and 10 (end form).
  StatusCode Compensate(std::uint16_t finalControlword, std::uint64_t limitMs) noexcept {
    NodeMask mask = stopped_ & alive_;
    if (mask == 0) return common::kKernelSuccess;
    const NodeMask asked = mask;
    const StatusCode result = CompensateSynchronisedAxes(context_, mask, finalControlword, limitMs);
    if (result == kernel::kCycleNotRunning) return result;
    Drop(asked & ~mask, true);
    return common::kKernelSuccess;
  }

  StatusCode CompensateStop() noexcept { return Compensate(ds402::kHalt, StopLimitMs()); }
  StatusCode CompensateEnd() noexcept {
    return Compensate(ds402::kEndProfileMove, SafeDistanceLimitMs());
  }

  // Twice the longest stop from the search speed, plus the slack.
  std::uint64_t StopLimitMs() const noexcept {
    double longest = 0.0;
    for (std::uint32_t k = 0; k < kMaxNodes; ++k) {
      if (!InMask(stopped_, k) || plan_.velocity[k] == 0) continue;
      const double velocity = plan_.velocity[k];
      const double acceleration = plan_.acceleration[k];
      longest = std::max(longest, acceleration > 0.0 ? velocity / acceleration : 0.0);
    }
    return MoveTimeLimitMs(longest);
  }

  std::uint64_t SafeDistanceLimitMs() const noexcept {
    double longest = 0.0;
    for (std::uint32_t k = 0; k < kMaxNodes; ++k) {
      if (!InMask(stopped_, k)) continue;
      longest = std::max(
          longest, PlannedMoveSeconds(plan_.distance[k], plan_.velocity[k], plan_.acceleration[k]));
    }
    return MoveTimeLimitMs(longest);
  }

  // Phase 9: a relative move away from the switch by the home offset.
  StatusCode MoveToSafeDistance() noexcept {
    for (std::uint32_t k = 0; k < context_.nodes.Count(); ++k) {
      if (!InMask(stopped_ & alive_, k)) continue;
      StatusCode step = SetModeOnNodeAxes(k, ds402::kProfilePositionMode);
      if (step == common::kKernelSuccess) {
        step = ProfilePositionMoveByPdo(context_, false, false, k, plan_.acceleration[k],
                                        plan_.velocity[k], plan_.distance[k]);
      }
      if (step == kernel::kCycleNotRunning) return step;
      if (step != common::kKernelSuccess) Drop(NodeMask{1} << k, true);
    }
    return common::kKernelSuccess;
  }

  ServiceContext& context_;
  NodeMask selected_ = 0;
  NodeMask alive_ = 0;
  NodeMask onPositive_ = 0;
  NodeMask referenced_ = 0;
  NodeMask moving_ = 0;
  NodeMask stopped_ = 0;
  Plan plan_{};
  bool failed_ = false;
};

}  // namespace

double LargerMagnitude(double first, double second) noexcept {
  return std::fabs(first) > std::fabs(second) ? first : second;
}

StatusCode ReadLimitSwitchStates(ServiceContext& context, NodeMask mask,
                                 LimitSwitchStates& states) noexcept {
  states = LimitSwitchStates{mask, mask, mask, mask};
  for (std::int32_t axis = -1; axis < LevelEnd(context.nodes); ++axis) {
    NodeMask having = 0;
    {
      HostLock lock(context.host);
      having = HavingLevel(context.nodes, mask & states.readOk, axis);
    }
    if (having == 0) continue;
    SdoRecords statuswords{};
    NodeMask answered = 0;
    StatusCode step =
        ReadLevel(context, axis, having, object::kStatusword, 2, statuswords, answered);
    if (step != common::kKernelSuccess) return step;
    SdoRecords inputs{};
    NodeMask inputsAnswered = 0;
    step = ReadLevel(context, axis, answered, kDigitalInputs, 1, inputs, inputsAnswered);
    if (step != common::kKernelSuccess) return step;
    states.readOk &= ~(having & ~inputsAnswered);
    for (std::uint32_t k = 0; k < kMaxNodes; ++k) {
      const NodeMask bit = NodeMask{1} << k;
      if ((inputsAnswered & bit) == 0) continue;
      const auto statusword = static_cast<std::uint16_t>(statuswords[k].Get(sdo_request::kValue));
      const auto input = static_cast<std::uint8_t>(inputs[k].Get(sdo_request::kValue));
      if ((statusword & ds402::kFollowingError) != 0 ||
          (statusword & ds402::kStateMask) != ds402::kOperationEnabled) {
        states.enabled &= ~bit;
      }
      if ((input & kPositiveLimitInput) != 0 && (input & kNegativeLimitInput) == 0) {
        states.freeOfPositive &= ~bit;
      }
      if ((input & kNegativeLimitInput) != 0) states.freeOfNegative &= ~bit;
    }
  }
  return common::kKernelSuccess;
}

StatusCode ReadExtremePositions(ServiceContext& context, NodeMask& mask, NodeMask onPositive,
                                std::array<std::int32_t, kMaxNodes>& positions) noexcept {
  std::array<bool, kMaxNodes> seen{};
  NodeMask good = mask;
  for (std::int32_t axis = -1; axis < LevelEnd(context.nodes); ++axis) {
    NodeMask having = 0;
    {
      HostLock lock(context.host);
      having = HavingLevel(context.nodes, good, axis);
    }
    if (having == 0) continue;
    SdoRecords records{};
    NodeMask answered = 0;
    const StatusCode step =
        ReadLevel(context, axis, having, object::kPositionActual, 4, records, answered);
    if (step != common::kKernelSuccess) return step;
    good &= ~(having & ~answered);
    for (std::uint32_t k = 0; k < kMaxNodes; ++k) {
      if (!InMask(answered, k)) continue;
      const auto position = static_cast<std::int32_t>(records[k].Get(sdo_request::kValue));
      if (!seen[k]) {
        positions[k] = position;
        seen[k] = true;
      } else {
        positions[k] = InMask(onPositive, k) ? std::min(positions[k], position)
                                             : std::max(positions[k], position);
      }
    }
  }
  const bool all = good == mask;
  mask = good;
  return all ? common::kKernelSuccess : common::kKernelOperationFailed;
}

StatusCode CompensateSynchronisedAxes(ServiceContext& context, NodeMask& mask,
                                      std::uint16_t finalControlword,
                                      std::uint64_t limitMs) noexcept {
  constexpr std::size_t kLevels = kMaxNodeAxes + 1;
  const std::int32_t end = LevelEnd(context.nodes);
  std::array<NodeMask, kLevels> waiting{};
  NodeMask bad = 0;
  {
    HostLock lock(context.host);
    for (std::int32_t axis = -1; axis < end; ++axis) {
      waiting[static_cast<std::size_t>(axis + 1)] = HavingLevel(context.nodes, mask, axis);
    }
  }
  const auto anyWaiting = [&] {
    return std::any_of(waiting.begin(), waiting.end(), [](NodeMask m) { return m != 0; });
  };
  // What each drive that did not arrive ends with; written last, so that
  // the final controlword does not cover it.
  std::array<std::array<StatusCode, kMaxNodes>, kLevels> reasons{};
  const auto note = [&](std::int32_t axis, NodeMask nodes, bool fromRead) {
    HostLock lock(context.host);
    for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
      const NodeObject* node = context.nodes.nodes[k];
      if (node == nullptr || !InMask(nodes, k)) continue;
      StatusCode reason = common::kKernelGantryCompensationFailed;
      if (fromRead) {
        reason = axis < 0 ? node->request.lastResult
                          : node->axes[static_cast<std::size_t>(axis)].axisResult;
      }
      reasons[static_cast<std::size_t>(axis + 1)][k] = reason;
    }
    bad |= nodes;
  };
  const std::uint64_t deadline = context.host.MonotonicMilliseconds() + limitMs;
  while (anyWaiting()) {
    for (std::int32_t axis = -1; axis < end; ++axis) {
      NodeMask& level = waiting[static_cast<std::size_t>(axis + 1)];
      if (level == 0) continue;
      SdoRecords records{};
      NodeMask answered = 0;
      const StatusCode step =
          ReadLevel(context, axis, level, object::kStatusword, 2, records, answered);
      if (step != common::kKernelSuccess) return step;
      note(axis, level & ~answered, true);
      NodeMask faulted = 0;
      for (std::uint32_t k = 0; k < kMaxNodes; ++k) {
        const NodeMask bit = NodeMask{1} << k;
        if ((answered & bit) == 0) continue;
        const auto statusword = static_cast<std::uint16_t>(records[k].Get(sdo_request::kValue));
        if ((statusword & ds402::kFollowingError) != 0 ||
            (statusword & ds402::kStateMask) != ds402::kOperationEnabled) {
          faulted |= bit;
        } else if ((statusword & ds402::kTargetReached) != 0) {
          answered &= ~bit;
        }
      }
      if (faulted != 0) note(axis, faulted, false);
      level = answered & ~faulted;
    }
    if (!anyWaiting()) break;
    if (context.host.MonotonicMilliseconds() >= deadline) {
      for (std::int32_t axis = -1; axis < end; ++axis) {
        NodeMask& level = waiting[static_cast<std::size_t>(axis + 1)];
        if (level == 0) continue;
        NodeMask halted = level;
        SdoRecords records{};
        records[0] = MakeSdoRecord(object::kControlword, 0, 2, ds402::kHalt);
        if (SdoDownloadToMaskedAxis(context, false, true, axis, halted, records) ==
            kernel::kCycleNotRunning) {
          return kernel::kCycleNotRunning;
        }
        note(axis, level, false);
        level = 0;
      }
      break;
    }
    context.host.Sleep(kMoveOutPollMs);
  }
  StatusCode result = bad != 0 ? common::kKernelOperationFailed : common::kKernelSuccess;
  for (std::int32_t axis = -1; axis < end; ++axis) {
    NodeMask level = mask;
    SdoRecords records{};
    records[0] = MakeSdoRecord(object::kControlword, 0, 2, finalControlword);
    const NodeMask having = [&] {
      HostLock lock(context.host);
      return HavingLevel(context.nodes, level, axis);
    }();
    const StatusCode step = SdoDownloadToMaskedAxis(context, false, true, axis, level, records);
    if (step == kernel::kCycleNotRunning) return step;
    if (step != common::kKernelSuccess) {
      bad |= having & ~level;
      result = common::kKernelOperationFailed;
    }
  }
  {
    HostLock lock(context.host);
    for (std::int32_t axis = -1; axis < end; ++axis) {
      for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
        const StatusCode reason = reasons[static_cast<std::size_t>(axis + 1)][k];
        NodeObject* node = context.nodes.nodes[k];
        if (node != nullptr && reason != 0 && HasAxis(*node, axis)) SetResult(*node, axis, reason);
      }
    }
  }
  mask &= ~bad;
  return result;
}

StatusCode MoveMultiAxisNodesOut(ServiceContext& context, NodeMask mask) noexcept {
  if (context.nodes.largestAxisCount == 0) return common::kKernelSuccess;
  MultiAxisMoveOut moveOut(context);
  StatusCode result = common::kKernelSuccess;
  {
    AddressingKeeper keeper(context);
    result = moveOut.Run(mask);
    if (result == kernel::kCycleNotRunning) return result;
  }
  const StatusCode uncoupled = moveOut.Uncouple();
  if (uncoupled == kernel::kCycleNotRunning) return uncoupled;
  return CombineResults(result, uncoupled);
}

}  // namespace vantor::canopen
