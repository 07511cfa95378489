#include "kernel/core/canopen/stop_on_input_plan.h"

#include <algorithm>

namespace vantor::canopen {

namespace {

namespace sp = common::stop_on_input_parameters;
using Mode = StopOnInputMode;

constexpr StopOnInputRole kNone{0, 0};
constexpr StopOnInputRole kStopping{1, 0};
constexpr StopOnInputRole kInput{2, 1};

// Values of the arming subindex.
constexpr std::uint32_t kArmedStopping = 1;
constexpr std::uint32_t kArmedSelectedDrive = 2;
constexpr std::uint32_t kArmedMaskDrive = 3;

bool InMask(const StopOnInputParameters& p, std::uint32_t axis) noexcept {
  return axis < 32 && (p.axisMask & (1u << axis)) != 0;
}

bool IsSelectedDrive(const StopOnInputParameters& p, std::uint32_t axis,
                     std::int32_t pass) noexcept {
  return p.inputAxis >= 0 && static_cast<std::uint32_t>(p.inputAxis) == axis &&
         p.inputSlave == pass;
}

// The stopping drive of an axis: its own drive while no axis has a slave
// or this one has none, else the slave's.
StopOnInputRole StoppingDrive(const StopOnInputMachine& machine, std::uint32_t axis,
                              std::int32_t pass) noexcept {
  const bool ownStops = !machine.AnySlave() || machine.slaveCount[axis] == 0;
  if (pass == kOwnDrivePass) return ownStops ? kStopping : kNone;
  return ownStops ? kNone : kStopping;
}

std::uint32_t ArmingValue(const StopOnInputParameters& p, std::uint32_t axis,
                          std::int32_t pass) noexcept {
  const bool own = pass == kOwnDrivePass;
  switch (p.Mode()) {
    case Mode::AxisMask:
      return own && InMask(p, axis) ? kArmedMaskDrive : kArmedStopping;
    case Mode::OneDrive:
      return own && IsSelectedDrive(p, axis, pass) ? kArmedSelectedDrive : kArmedStopping;
    default:
      return kArmedStopping;
  }
}

// The maximum acceleration as the drive takes it: whole increments, held to
// the object's range (what is not a number is none).
std::uint32_t TruncatedAcceleration(double value) noexcept {
  if (!(value > 0.0)) return 0;
  if (value >= 4294967295.0) return 0xFFFFFFFFu;
  return static_cast<std::uint32_t>(value);
}

void Add(StopOnInputWrites& list, std::uint8_t subindex, std::uint8_t size, NodeMask axes,
         auto valueOf) noexcept {
  if (axes == 0 || list.count == StopOnInputWrites::kCapacity) return;
  StopOnInputWrite& write = list.writes[list.count++];
  write.subindex = subindex;
  write.size = size;
  write.axes = axes;
  for (std::uint32_t a = 0; a < kMaxNodes; ++a) {
    if ((axes & (NodeMask{1} << a)) != 0) write.values[a] = valueOf(a);
  }
}

}  // namespace

StopOnInputParameters DecodeStopOnInputParameters(const sp::Record& r) noexcept {
  StopOnInputParameters p;
  p.mode = r.Get(sp::kMode);
  p.inputMask = r.Get(sp::kInputMask);
  p.inputLevels = r.Get(sp::kInputLevels);
  p.perMoveStopValue = r.Get(sp::kPerMoveStopValue);
  p.axisMask = r.Get(sp::kAxisMask);
  p.inputAxis = r.Get(sp::kInputAxis);
  p.inputSlave = r.Get(sp::kInputSlave);
  p.subindex6Value = r.Get(sp::kSubindex6Value);
  p.subindex7Flag = r.Get(sp::kSubindex7Flag);
  p.sourceNodeId = r.Get(sp::kSourceNodeId);
  p.sourceCobId = r.Get(sp::kSourceCobId);
  p.sourceValid = r.Get(sp::kSourceValid);
  return p;
}

sp::Record EncodeStopOnInputParameters(const StopOnInputParameters& p) noexcept {
  sp::Record r;
  r.Set(sp::kMode, p.mode);
  r.Set(sp::kInputMask, p.inputMask);
  r.Set(sp::kInputLevels, p.inputLevels);
  r.Set(sp::kPerMoveStopValue, p.perMoveStopValue);
  r.Set(sp::kAxisMask, p.axisMask);
  r.Set(sp::kInputAxis, p.inputAxis);
  r.Set(sp::kInputSlave, p.inputSlave);
  r.Set(sp::kSubindex6Value, p.subindex6Value);
  r.Set(sp::kSubindex7Flag, p.subindex7Flag);
  r.Set(sp::kSourceNodeId, p.sourceNodeId);
  r.Set(sp::kSourceCobId, p.sourceCobId);
  r.Set(sp::kSourceValid, p.sourceValid);
  return r;
}

bool StopOnInputMachine::AnySlave() const noexcept { return LargestSlaveCount() != 0; }

std::uint32_t StopOnInputMachine::LargestSlaveCount() const noexcept {
  std::uint32_t largest = 0;
  for (std::uint32_t a = 0; a < interpolatedCount && a < kMaxNodes; ++a) {
    largest = std::max(largest, slaveCount[a]);
  }
  return largest;
}

NodeMask StopOnInputMachine::AxesInPass(std::int32_t pass) const noexcept {
  NodeMask axes = 0;
  for (std::uint32_t a = 0; a < interpolatedCount && a < kMaxNodes; ++a) {
    if (pass == kOwnDrivePass || (pass >= 0 && static_cast<std::uint32_t>(pass) < slaveCount[a])) {
      axes |= NodeMask{1} << a;
    }
  }
  return axes;
}

StopOnInputMachine DescribeStopOnInputMachine(const NodeTable& nodes,
                                              std::uint32_t interpolatedCount) noexcept {
  StopOnInputMachine machine;
  machine.interpolatedCount = std::min<std::uint32_t>(interpolatedCount, nodes.Count());
  for (std::uint32_t a = 0; a < machine.interpolatedCount; ++a) {
    const NodeObject* node = nodes.nodes[a];
    if (node == nullptr) {
      // A hole in the table ends the interpolated axes there.
      machine.interpolatedCount = a;
      break;
    }
    machine.nodeId[a] = node->nodeId;
    machine.slaveCount[a] = std::min<std::uint32_t>(node->axisCount, kMaxNodeAxes);
    for (std::uint32_t k = 0; k < machine.slaveCount[a]; ++k) {
      machine.slaveNodeId[a][k] = static_cast<std::uint8_t>(node->axes[k].nodeId);
    }
    machine.maxAcceleration[a] = TruncatedAcceleration(node->drive.maxAcceleration);
  }
  return machine;
}

StopOnInputRole StopOnInputAxisRole(const StopOnInputParameters& p,
                                    const StopOnInputMachine& machine, std::uint32_t axis,
                                    std::int32_t pass) noexcept {
  if (axis >= machine.interpolatedCount || axis >= kMaxNodes) return kNone;
  switch (p.Mode()) {
    case Mode::InputModule:
      return StoppingDrive(machine, axis, pass);
    case Mode::AxisMask:
      if (!InMask(p, axis)) return StoppingDrive(machine, axis, pass);
      return pass == kOwnDrivePass ? kInput : kStopping;
    case Mode::OneDrive:
      return IsSelectedDrive(p, axis, pass) ? kInput : kStopping;
    default:
      return kNone;
  }
}

StopOnInputWrites StopOnInputPassWrites(const StopOnInputParameters& p,
                                        const StopOnInputMachine& machine, std::int32_t pass,
                                        bool on) noexcept {
  namespace so = stop_on_input;
  StopOnInputWrites list;
  const NodeMask axes = machine.AxesInPass(pass);
  const auto zero = [](std::uint32_t) { return 0u; };
  Add(list, so::kArmed, 1, axes, zero);
  Add(list, so::kArming, 1, axes, zero);
  if (!on) return list;
  Add(list, so::kRole, 1, axes,
      [&](std::uint32_t a) { return StopOnInputAxisRole(p, machine, a, pass).role; });
  Add(list, so::kStopValue, 4, axes, [&](std::uint32_t a) { return machine.maxAcceleration[a]; });
  Add(list, so::kRoleFlag, 1, axes,
      [&](std::uint32_t a) { return StopOnInputAxisRole(p, machine, a, pass).flag; });
  if (p.Mode() == Mode::OneDrive && pass == p.inputSlave && p.inputAxis >= 0) {
    const NodeMask selected = axes & (NodeMask{1} << p.inputAxis);
    Add(list, so::kSubindex6, 1, selected, [&](std::uint32_t) { return p.subindex6Value; });
  }
  if (p.Mode() == Mode::AxisMask && pass == kOwnDrivePass) {
    const NodeMask masked = axes & p.axisMask;
    Add(list, so::kSubindex6, 1, masked, [&](std::uint32_t) { return p.subindex6Value; });
    Add(list, so::kSubindex7, 1, masked,
        [&](std::uint32_t) { return p.subindex7Flag != 0 ? 1u : 0u; });
  }
  Add(list, so::kInputMask, 1, axes, [&](std::uint32_t) { return p.inputMask; });
  Add(list, so::kInputLevels, 1, axes, [&](std::uint32_t) { return p.inputLevels; });
  Add(list, so::kArming, 1, axes, [&](std::uint32_t a) { return ArmingValue(p, a, pass); });
  return list;
}

}  // namespace vantor::canopen
