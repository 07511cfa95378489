#include "kernel/services/handling_axis_commands.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "kernel/core/canopen/axis_drive_settings.h"
#include "kernel/core/canopen/handling_axis_moves.h"
#include "kernel/core/canopen/handling_axis_services.h"
#include "kernel/core/canopen/pdo_layout.h"
#include "kernel/core/canopen/pdo_motion.h"
#include "kernel/core/motion/wire_values.h"
#include "kernel/core/planning_limits.h"
#include "kernel/services/axis_command_support.h"
#include "kernel/services/handling_axis_support.h"

namespace vantor::kernel {

namespace {

namespace cb = common::communication_block;
using canopen::ServiceContext;
using common::StatusCode;
using G = MotionGuard;

bool Failed(StatusCode result) { return result != common::kKernelSuccess; }

AfterCommand Answer(Kernel& kernel, StatusCode result) {
  AnswerCommand(kernel, result);
  return AfterCommand::KeepServing;
}

void PutWord(const Kernel& kernel, std::size_t offset, std::uint32_t value) {
  static_cast<void>(kernel.Block().Store<std::uint32_t>(cb::PayloadAt(offset), value));
}

// A drive takes positions, velocities and accelerations in increments;
// beyond a signed 32-bit word it cannot go.
constexpr double kLargestDriveValue = 2147483647.0;

bool FitsDrive(double value) {
  return std::isfinite(value) && std::fabs(value) < kLargestDriveValue;
}

std::int32_t DriveValue(double units, double scale) {
  return static_cast<std::int32_t>(std::lround(units * scale));
}
std::uint32_t DriveMagnitude(double units, double scale) {
  return static_cast<std::uint32_t>(std::llround(std::fabs(units) * scale));
}

// I, R, C, power off, bridge outside test mode, move-out, N.
constexpr MotionGuard kMoveGuards[] = {
    G::CycleRunning, G::BusInOrder, G::SyncInOrder,         G::PeripheryPdoInOrder, G::NoBreak,
    G::NoQuickStop,  G::NoPowerOff, G::NoBridgeOutsideTest, G::NoMoveOut,           G::NodesReady,
};

// The handling axis that +0 names (its index into `index`), or null.
NodeObject* NamedHandlingAxis(Kernel& kernel, std::uint32_t& index) {
  index = PayloadWord(kernel, 0);
  return IsHandlingAxis(kernel.data, index) ? kernel.data.nodeConfiguration.Node(index) : nullptr;
}

bool HasSlaves(const NodeObject& node) { return node.can->axisCount > 0; }

// ---- Code 65 ------------------------------------------------------------------------------
StatusCode SetMoveMode(Kernel& kernel) {
  const bool toPosition = PayloadWord(kernel, 4) != 0;
  std::uint32_t index = 0;
  bool slaves = false;
  return OnHandlingDrives(
      kernel, kHandlingDriveGuards,
      [&](KernelData&, canopen::NodeMask& rearm, bool& nothingToDo) {
        const NodeObject* node = NamedHandlingAxis(kernel, index);
        if (node == nullptr) return common::kKernelAxisNumberInvalid;
        const bool inPosition = node->can->handlingMode > 0;
        nothingToDo = inPosition == toPosition;
        if (nothingToDo) return common::kKernelSuccess;
        if (!IsHandlingAxisIdle(*node)) return common::kKernelSegmentMotionAlreadyActive;
        slaves = HasSlaves(*node);
        rearm = canopen::NodeMask{1} << index;
        return common::kKernelSuccess;
      },
      [&](ServiceContext& context) {
        // The node's own drive first, then the slave drives that follow it.
        StatusCode result = toPosition ? canopen::HoldHandlingAxisPosition(context, index)
                                       : canopen::SetVelocityModeHalted(context, index);
        if (Failed(result) || !slaves) return result;
        return toPosition ? canopen::HoldHandlingAxisPositionOnAxes(context, index)
                          : canopen::SetVelocityModeHaltedOnAxes(context, index);
      },
      [&](KernelData& data, StatusCode result) {
        if (Failed(result)) return result;
        NodeObject* found = data.nodeConfiguration.Node(index);
        if (found == nullptr) return common::kKernelAxisNumberInvalid;
        NodeObject& node = *found;
        node.can->handlingMode = toPosition ? 1 : 0;
        if (!toPosition) {
          FreeCoordinateLimits(data, index);
          node.motion.commandedVelocity = 0.0;
        }
        return result;
      });
}

// ---- Code 66 ------------------------------------------------------------------------------
constexpr MotionGuard kReadGuards[] = {G::CycleRunning, G::BusInOrder, G::SyncInOrder};

StatusCode GetMoveParameters(Kernel& kernel) {
  return UnderKernelLock(kernel, ResetGate::Check, kReadGuards, [&](KernelData& data) {
    std::uint32_t index = 0;
    const NodeObject* node = NamedHandlingAxis(kernel, index);
    if (node == nullptr) return common::kKernelAxisNumberInvalid;
    for (const NodeStatusRow* row : {&node->can->latched, &node->can->current}) {
      if (!row->Has(StatusFlag::A) || !row->Has(StatusFlag::C)) {
        return common::kKernelNodeWasInErrorState;
      }
    }
    const bool inPosition = node->can->handlingMode > 0;
    const double offset = node->zeroPoint;
    const double current = node->motion.inMotion != 0 ? node->motion.measuredVelocity : 0.0;
    PutWord(kernel, 4, inPosition ? 1 : 0);
    PutPayloadWireValue(kernel, 8, node->can->profileAcceleration);
    PutPayloadWireValue(kernel, 16,
                        inPosition ? node->can->profileVelocity : node->motion.commandedVelocity);
    PutPayloadWireValue(kernel, 24, current);
    PutPayloadWireValue(kernel, 32, inPosition ? node->motion.targetPosition - offset : 0.0);
    PutPayloadWireValue(kernel, 40, data.motionRuntime.nodes[index].actual - offset);
    return common::kKernelSuccess;
  });
}

// ---- Codes 67, 68 -------------------------------------------------------------------------
// A payload value, or `kept` for the keep marker.
double ValueOrKept(Kernel& kernel, std::size_t offset, double kept) {
  const std::int64_t wire = PayloadWireValue(kernel, offset);
  if (IsNoMoveValue(wire, kernel.data.motion.path.int32Values)) return kept;
  return motion::WireValueToReal(wire);
}

// What a move sends, in drive increments.
struct DriveMove {
  std::uint32_t acceleration = 0;
  std::uint32_t velocity = 0;
  std::int32_t target = 0;  // velocity mode: the signed velocity
};

// The target in units fits the drive of the node and of each slave.
bool TargetFitsDrives(const canopen::NodeObject& can, double target) {
  if (!FitsDrive(target) || !FitsDrive(target * can.PositionScale())) return false;
  const motion::NodeLimits limits = DriveLimitsOfNode(can, {});
  for (std::uint32_t a = 0; a < limits.axisCount && a < limits.axisScalingFactors.size(); ++a) {
    if (!FitsDrive(target * limits.axisScalingFactors[a])) return false;
  }
  return true;
}

// A value above a known maximum is cut to it (an unknown maximum is 0).
double Limited(double value, double maximum) {
  return maximum > 0.0 ? std::min(value, maximum) : value;
}

// An axis with slave axes moves by process data (`start`); its PDOs then
// carry their usual objects again, and either failing fails the move.
template <typename Start>
StatusCode ByProcessData(ServiceContext& context, std::uint32_t index, Start start) {
  const StatusCode started = start();
  if (started == kCycleNotRunning) return started;
  const canopen::NodeMask self = canopen::NodeMask{1} << index;
  const StatusCode control = canopen::MapControlwordToRpdo(context, self);
  if (control == kCycleNotRunning) return control;
  const StatusCode setpoints = canopen::MapSetpointRpdoMasked(context, self);
  if (setpoints == kCycleNotRunning) return setpoints;
  if (Failed(control) || Failed(setpoints)) return common::kKernelOperationFailed;
  return started;
}

// What a move or turn learned under the lock for the talk and its end.
struct AxisMove {
  std::uint32_t index = 0;
  bool slaves = false;
  double acceleration = 0.0;  // units/s^2
  double velocity = 0.0;      // units/s; signed for a turn
  double target = 0.0;        // units
  DriveMove drive;
};

StatusCode MoveAxis(Kernel& kernel) {
  const bool absolute = PayloadWord(kernel, 4) != 0;
  AxisMove m;
  return OnHandlingDrives(
      kernel, kMoveGuards,
      [&](KernelData&, canopen::NodeMask& rearm, bool&) {
        NodeObject* node = NamedHandlingAxis(kernel, m.index);
        if (node == nullptr) return common::kKernelAxisNumberInvalid;
        canopen::NodeObject& can = *node->can;
        if (can.handlingMode <= 0) return common::kKernelHandlingSubModeInvalid;
        m.acceleration = ValueOrKept(kernel, 8, can.profileAcceleration);
        m.velocity = ValueOrKept(kernel, 16, can.profileVelocity);
        const motion::NodeLimits limits = DriveLimitsOfNode(can, {});
        if (!(m.velocity > 0.0)) return common::kKernelVelocityInvalid;
        m.velocity = Limited(m.velocity, limits.maxVelocity);
        if (!(m.acceleration > 0.0)) return common::kKernelRampParameterInvalid;
        m.acceleration = Limited(m.acceleration, limits.maxAcceleration);
        const std::int64_t wireTarget = PayloadWireValue(kernel, 24);
        if (IsNoMoveValue(wireTarget, kernel.data.motion.path.int32Values)) {
          m.target = node->motion.targetPosition;
        } else {
          const double base = absolute ? node->zeroPoint : node->motion.targetPosition;
          m.target = motion::WireValueToReal(wireTarget) + base;
        }
        const double scale = can.PositionScale();
        if (!TargetFitsDrives(can, m.target) || !FitsDrive(m.acceleration * scale) ||
            !FitsDrive(m.velocity * scale)) {
          return common::kKernelMovementDataInvalid;
        }
        m.drive = {DriveMagnitude(m.acceleration, scale), DriveMagnitude(m.velocity, scale),
                   DriveValue(m.target, scale)};
        m.slaves = HasSlaves(*node);
        if (m.slaves && IsHandlingAxisIdle(*node)) node->motion.standing = 0;
        rearm = canopen::NodeMask{1} << m.index;
        return common::kKernelSuccess;
      },
      [&](ServiceContext& context) {
        if (!m.slaves) {
          return canopen::StartProfilePositionMove(context, m.index, m.drive.acceleration,
                                                   m.drive.velocity, m.drive.target);
        }
        return ByProcessData(context, m.index, [&] {
          return canopen::ProfilePositionMoveByPdo(
              context, true, true, m.index, m.drive.acceleration, m.drive.velocity, m.drive.target);
        });
      },
      [&](KernelData& data, StatusCode result) {
        if (Failed(result)) return result;
        NodeObject* found = data.nodeConfiguration.Node(m.index);
        if (found == nullptr) return common::kKernelAxisNumberInvalid;
        NodeObject& node = *found;
        node.can->profileAcceleration = m.acceleration;
        node.can->profileVelocity = m.velocity;
        node.motion.targetPosition = m.target;
        return result;
      });
}

StatusCode TurnAxis(Kernel& kernel) {
  AxisMove m;
  return OnHandlingDrives(
      kernel, kMoveGuards,
      [&](KernelData&, canopen::NodeMask& rearm, bool&) {
        NodeObject* node = NamedHandlingAxis(kernel, m.index);
        if (node == nullptr) return common::kKernelAxisNumberInvalid;
        canopen::NodeObject& can = *node->can;
        if (can.handlingMode > 0) return common::kKernelHandlingSubModeInvalid;
        m.acceleration = ValueOrKept(kernel, 8, can.profileAcceleration);
        m.velocity = ValueOrKept(kernel, 16, node->motion.commandedVelocity);
        if (!(m.acceleration > 0.0)) return common::kKernelRampParameterInvalid;
        if (!std::isfinite(m.velocity)) return common::kKernelVelocityInvalid;
        const double maximum = DriveLimitsOfNode(can, {}).maxVelocity;
        if (maximum > 0.0) m.velocity = std::clamp(m.velocity, -maximum, maximum);
        const double scale = can.PositionScale();
        if (!FitsDrive(m.acceleration * scale) || !FitsDrive(m.velocity * scale)) {
          return common::kKernelMovementDataInvalid;
        }
        m.drive = {DriveMagnitude(m.acceleration, scale), 0, DriveValue(m.velocity, scale)};
        m.slaves = HasSlaves(*node);
        rearm = canopen::NodeMask{1} << m.index;
        return common::kKernelSuccess;
      },
      [&](ServiceContext& context) {
        if (!m.slaves) {
          return canopen::StartProfileVelocityMove(context, m.index, m.drive.acceleration,
                                                   m.drive.target);
        }
        return ByProcessData(context, m.index, [&] {
          return canopen::ProfileVelocityMoveByPdo(context, m.index, m.drive.acceleration,
                                                   m.drive.target);
        });
      },
      [&](KernelData& data, StatusCode result) {
        if (Failed(result)) return result;
        NodeObject* found = data.nodeConfiguration.Node(m.index);
        if (found == nullptr) return common::kKernelAxisNumberInvalid;
        NodeObject& node = *found;
        node.can->profileAcceleration = m.acceleration;
        node.motion.commandedVelocity = m.velocity;
        return result;
      });
}

// ---- Code 100 -----------------------------------------------------------------------------
// +0 the count, then one entry per external axis: node id, device-type
// flag, answer time-out, the amplifier's name.
namespace external_entry {
constexpr std::size_t kFirst = 4;
constexpr std::size_t kSize = 40;
constexpr std::size_t kName = 12;
constexpr std::size_t kNameCapacity = kSize - kName;
static_assert(canopen::kModuleDescriptionLength <= kNameCapacity);
static_assert(kFirst + kMaxHandlingAxisRecords * kSize == 244);
}  // namespace external_entry

StatusCode GetExternalAxes(Kernel& kernel) {
  return UnderKernelLock(kernel, ResetGate::Skip, {}, [&](KernelData& data) {
    namespace e = external_entry;
    const auto count =
        static_cast<std::uint32_t>(std::clamp(data.handlingAxisCount, 0, kMaxHandlingAxisRecords));
    PutWord(kernel, 0, count);
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::size_t entry = e::kFirst + i * e::kSize;
      const HandlingAxisSettings& settings = data.handlingAxes[i];
      std::array<std::uint8_t, e::kSize> bytes{};
      const canopen::ModuleDescription& name = data.externalAxes[i].description;
      // The name as stored, cut at its terminator; the rest stays zero.
      const auto length =
          static_cast<std::size_t>(std::find(name.begin(), name.end() - 1, '\0') - name.begin());
      std::memcpy(bytes.data() + e::kName, name.data(), length);
      static_cast<void>(kernel.Block().CopyIn(cb::PayloadAt(entry), bytes));
      PutWord(kernel, entry, settings.nodeId);
      PutWord(kernel, entry + 4, settings.deviceTypeFlag);
      PutWord(kernel, entry + 8, settings.answerTimeoutMicroseconds);
    }
    return common::kKernelSuccess;
  });
}

}  // namespace

AfterCommand HandleSetHandlingMoveMode(Kernel& kernel) {
  return Answer(kernel, SetMoveMode(kernel));
}
AfterCommand HandleGetHandlingAxisMovePar(Kernel& kernel) {
  return Answer(kernel, GetMoveParameters(kernel));
}
AfterCommand HandleHandlingAxisMove(Kernel& kernel) { return Answer(kernel, MoveAxis(kernel)); }
AfterCommand HandleHandlingAxisTurn(Kernel& kernel) { return Answer(kernel, TurnAxis(kernel)); }
AfterCommand HandleGetExtHandlingAxisPar(Kernel& kernel) {
  return Answer(kernel, GetExternalAxes(kernel));
}

}  // namespace vantor::kernel
