#include "kernel/core/canopen/drive_parameters.h"

#include <array>

#include "kernel/core/canopen/axis_drive_settings.h"
#include "kernel/core/canopen/axis_services.h"
#include "kernel/core/canopen/canopen_constants.h"
#include "kernel/core/canopen/slot_sdo.h"
#include "kernel/core/canopen/slot_sequence.h"

namespace vantor::canopen {

using common::StatusCode;
using kernel::StatusFlag;

namespace {

bool Failed(StatusCode result) noexcept { return result != common::kKernelSuccess; }

constexpr std::uint16_t kPositionOptionIndex = 0x60FB;
constexpr std::uint8_t kPositionOptionSub6 = 6;
constexpr std::uint8_t kPositionOptionSub4 = 4;
constexpr std::uint16_t kHomeSwitchIndex = object::kDriveOptions;
constexpr std::uint8_t kHomeSwitchSubindex = 13;
constexpr std::uint16_t kBufferIndex = 0x60C4;
constexpr std::uint16_t kInterpolationPeriodIndex = 0x60C2;
constexpr std::uint8_t kInterpolationPeriodExponent = 0xFA;  // 10^-6 s
constexpr std::uint16_t kInterpolationSubModeIndex = 0x60C0;
constexpr std::uint16_t kInterpolationSubMode = 0xFFFF;
constexpr std::uint16_t kLimitSwitchBridgeIndex = 0x2054;
constexpr std::uint32_t kMicrosecondsPerCycleDivider = 512;

double Unsigned(std::uint32_t raw) noexcept { return static_cast<double>(raw); }
double Signed(std::uint32_t raw) noexcept {
  return static_cast<double>(static_cast<std::int32_t>(raw));
}

// One object of the read-out and where its value goes.
struct ParameterObject {
  std::uint16_t index;
  std::uint8_t subindex;
  std::uint8_t size;
  void (*store)(NodeObject& node, std::uint32_t raw) noexcept;
};

constexpr std::array<ParameterObject, 20> kParameterObjects = {{
    {0x607F, 0, 4,
     [](NodeObject& n, std::uint32_t v) noexcept {
       n.uploadedDrive.maxProfileVelocity = Unsigned(v);
     }},
    {0x60C5, 0, 4,
     [](NodeObject& n, std::uint32_t v) noexcept {
       n.uploadedDrive.maxAcceleration = Unsigned(v);
     }},
    {0x2040, 0, 4,
     [](NodeObject& n, std::uint32_t v) noexcept { n.uploadedDrive.maxVelocity = Unsigned(v); }},
    {object::kProfileAcceleration, 0, 4,
     [](NodeObject& n, std::uint32_t v) noexcept {
       n.uploadedDrive.profileAcceleration = Unsigned(v);
     }},
    {object::kTargetVelocity, 0, 4,
     [](NodeObject& n, std::uint32_t v) noexcept { n.uploadedDrive.targetVelocity = Signed(v); }},
    {object::kProfileVelocity, 0, 4,
     [](NodeObject& n, std::uint32_t v) noexcept {
       n.uploadedDrive.profileVelocity = Unsigned(v);
     }},
    {object::kEndVelocity, 0, 4,
     [](NodeObject& n, std::uint32_t v) noexcept { n.uploadedDrive.endVelocity = Unsigned(v); }},
    {kPositionOptionIndex, kPositionOptionSub6, 1,
     [](NodeObject& n, std::uint32_t v) noexcept {
       n.uploadedDrive.positionOption = static_cast<std::uint8_t>(v);
     }},
    {kPositionOptionIndex, 5, 2,
     [](NodeObject& n, std::uint32_t v) noexcept {
       n.uploadedDrive.positionOptionParameter = Unsigned(v & 0xFFFF);
     }},
    {object::kPositionFactor, 1, 4,
     [](NodeObject& n, std::uint32_t v) noexcept { n.uploadedGear.numerator = v; }},
    {object::kPositionFactor, 2, 4,
     [](NodeObject& n, std::uint32_t v) noexcept { n.uploadedGear.denominator = v; }},
    {0x2041, 0, 1,
     [](NodeObject& n, std::uint32_t v) noexcept {
       n.uploadedDrive.directionFlag = (v & 0xFF) == 0 ? 1 : 0;
     }},
    {0x608A, 0, 1,
     [](NodeObject& n, std::uint32_t v) noexcept {
       n.uploadedDrive.velocityScaling = (v & 0xFF) == 0 ? 1 : 0;
     }},
    {0x607C, 0, 4,
     [](NodeObject& n, std::uint32_t v) noexcept {
       n.uploadedDrive.homing.homeOffset = Signed(v);
     }},
    {0x6098, 0, 1,
     [](NodeObject& n, std::uint32_t v) noexcept {
       n.uploadedDrive.homing.method = static_cast<std::uint8_t>(v & 0xFF);
     }},
    {0x6099, 1, 4,
     [](NodeObject& n, std::uint32_t v) noexcept {
       n.uploadedDrive.homing.switchSearchSpeed = Unsigned(v);
     }},
    {0x6099, 2, 4,
     [](NodeObject& n, std::uint32_t v) noexcept {
       n.uploadedDrive.homing.zeroSearchSpeed = Unsigned(v);
     }},
    {0x609A, 0, 4,
     [](NodeObject& n, std::uint32_t v) noexcept {
       n.uploadedDrive.homing.acceleration = Unsigned(v);
     }},
    {kHomeSwitchIndex, kHomeSwitchSubindex, 4,
     [](NodeObject& n, std::uint32_t v) noexcept {
       n.uploadedDrive.homeSwitchDistance = Signed(v);
     }},
    {0x607E, 0, 1,
     [](NodeObject& n, std::uint32_t v) noexcept {
       n.uploadedDrive.polarity = static_cast<std::uint8_t>(v);
     }},
}};

bool IsPositionOption(const ParameterObject& object) noexcept {
  return object.index == kPositionOptionIndex && object.subindex == kPositionOptionSub6;
}
bool IsHomeSwitch(const ParameterObject& object) noexcept {
  return object.index == kHomeSwitchIndex && object.subindex == kHomeSwitchSubindex;
}

void FinishUpload(NodeObject& node) noexcept {
  DriveParameters& drive = node.uploadedDrive;
  if (!DriveParametersValid(drive, node.uploadedGear)) {
    FinishNodeRequestWith(node, common::kKernelNodeParameterInvalid);
    return;
  }
  node.uploadedGear.changed = 0;
  if (drive.velocityScaling != 0) {
    const double ratio = static_cast<double>(node.uploadedGear.numerator) /
                         static_cast<double>(node.uploadedGear.denominator);
    drive.maxProfileVelocity /= ratio;
    drive.maxAcceleration /= ratio;
    drive.maxVelocity /= ratio;
  }
  FinishNodeRequestWith(node, common::kKernelSuccess);
}

double RatioOf(const GearRatio& gear) noexcept {
  return static_cast<double>(gear.numerator) / static_cast<double>(gear.denominator);
}

// Every value of the node held in drive units follows a new gear: positions,
// velocities and accelerations, of the node and of its axis records.
void RescaleDriveUnits(DriveParameters& drive, double factor) noexcept {
  for (double* value : {&drive.maxProfileVelocity, &drive.maxAcceleration, &drive.maxVelocity,
                        &drive.profileAcceleration, &drive.targetVelocity, &drive.profileVelocity,
                        &drive.endVelocity, &drive.homing.homeOffset, &drive.homeSwitchDistance,
                        &drive.homing.switchSearchSpeed, &drive.homing.zeroSearchSpeed,
                        &drive.homing.acceleration}) {
    *value *= factor;
  }
}

void RescaleNode(NodeObject& node, double factor) noexcept {
  for (double* value : {&node.position, &node.softwareLimit1, &node.softwareLimit2,
                        &node.profileVelocity, &node.profileAcceleration}) {
    *value *= factor;
  }
  RescaleDriveUnits(node.drive, factor);
  for (std::uint32_t a = 0; a < node.axisCount && a < kMaxNodeAxes; ++a) {
    node.axes[a].profileVelocity *= factor;
    node.axes[a].profileAcceleration *= factor;
    RescaleDriveUnits(node.axes[a].drive, factor);
  }
}

// The node frame: the step on the chosen nodes, their results kept, then
// the axis twin. kCycleNotRunning as it comes, any failure as
// kKernelOperationFailed.
template <typename Prepare, typename Filter, typename Twin>
StatusCode RunWithTwin(ServiceContext& context, NodeStepFunction step, Prepare&& prepare,
                       Filter takesPart, Twin&& twin) noexcept {
  const StatusCode run = RunOnNodes(context, context.nodes.AllNodes(), step, prepare, 1, takesPart);
  if (run != common::kKernelSuccess) return run;
  const StatusCode nodes = CollectNodeResults(context, false);
  const StatusCode axes = twin();
  if (axes == kernel::kCycleNotRunning) return axes;
  return Failed(nodes) || Failed(axes) ? common::kKernelOperationFailed : common::kKernelSuccess;
}

// Downloads that the node and its axes take alike.
template <std::size_t N>
void PutSame(NodeObject& node, const std::array<SdoDownloadItem, N>& items) noexcept {
  PutDownloadSequence(*node.request.requestRecord, items);
}

struct Interpolated {
  bool operator()(const NodeObject& node) const noexcept { return node.handlingAxis == 0; }
};

// The position option byte a drive takes: 0 while the option is on, else
// the byte it held at start-up.
std::array<SdoDownloadItem, 1> PositionOptionWrite(const DriveParameters& drive,
                                                   std::uint32_t value) noexcept {
  const std::uint8_t subindex = drive.positionOptionSubindex == kPositionOptionSub4
                                    ? kPositionOptionSub4
                                    : kPositionOptionSub6;
  return {{{kPositionOptionIndex, subindex, 1, value != 0 ? 0u : drive.positionOption}}};
}

std::array<SdoDownloadItem, 4> ProfileWrite(const DriveParameters& drive) noexcept {
  const auto integer = [](double v) {
    return static_cast<std::uint32_t>(static_cast<std::int64_t>(v));
  };
  return {{{object::kProfileAcceleration, 0, 4, integer(drive.profileAcceleration)},
           {object::kTargetVelocity, 0, 4, integer(drive.targetVelocity)},
           {object::kProfileVelocity, 0, 4, integer(drive.profileVelocity)},
           {object::kEndVelocity, 0, 4, integer(drive.endVelocity)}}};
}

std::array<SdoDownloadItem, 1> BufferDepthWrite(ServiceContext& context,
                                                std::uint32_t value) noexcept {
  const DriveWorkingValues working = context.host.WorkingValues();
  const std::uint32_t depth = value != 0 ? working.teachInBufferDepth : working.pathBufferDepth;
  return {{{kBufferIndex, 2, 1, depth & 0xFF}}};
}

std::array<SdoDownloadItem, 2> InterpolationPeriodWrite(ServiceContext& context) noexcept {
  const std::uint32_t micros =
      context.host.WorkingValues().cycleDivider * kMicrosecondsPerCycleDivider;
  return {{{kInterpolationPeriodIndex, 1, 2, micros & 0xFFFF},
           {kInterpolationPeriodIndex, 2, 1, kInterpolationPeriodExponent}}};
}

constexpr std::array<SdoDownloadItem, 1> kSubModeWrite = {
    {{kInterpolationSubModeIndex, 0, 2, kInterpolationSubMode}}};

std::array<SdoDownloadItem, 1> BridgeWrite(bool on) noexcept {
  return {{{kLimitSwitchBridgeIndex, 0, 1, on ? 1u : 0u}}};
}

// The twin of a download sequence on every axis; `items(node, axis)` gives
// each axis its downloads.
template <typename Items>
StatusCode DownloadOnAxes(ServiceContext& context, Items&& items) noexcept {
  return RunStepOnAxes(context, context.nodes.AllNodes(), DownloadSequenceStep, false,
                       [&](NodeObject& node, std::uint32_t, std::int32_t axis) {
                         const auto list = items(node, axis);
                         PutDownloadSequence(*node.request.requestRecord, list);
                       });
}

}  // namespace

bool DriveParametersValid(const DriveParameters& drive, const GearRatio& gear) noexcept {
  return drive.maxProfileVelocity != 0.0 && drive.maxAcceleration != 0.0 &&
         drive.maxVelocity != 0.0 && drive.positionOptionParameter != 0.0 && gear.numerator != 0 &&
         gear.denominator != 0 && drive.homing.switchSearchSpeed != 0.0 &&
         drive.homing.zeroSearchSpeed != 0.0 && drive.homing.acceleration != 0.0 &&
         drive.homeSwitchDistance >= 0.0;
}

void DriveParameterUploadStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept {
  NodeObject* node = SteppedNode(cycle, nodeNumber);
  if (node == nullptr) return;
  std::size_t item = SequenceItemOf(node->request.step);
  if (item == 0 && node->request.step <= 1) {
    node->uploadedDrive = DriveParameters{};
    node->uploadedGear = GearRatio{};
  }
  for (;;) {
    if (item >= kParameterObjects.size()) {
      FinishUpload(*node);
      return;
    }
    const ParameterObject& object = kParameterObjects[item];
    const std::uint8_t subindex =
        IsPositionOption(object) ? node->uploadedDrive.positionOptionSubindex : object.subindex;
    std::array<std::uint8_t, 4> value{};
    if (StepSequenceUpload(cycle, *node, item, object.index, subindex, object.size, value) ==
        CheckState::Pending) {
      return;
    }
    const StatusCode result = node->request.requestResult;
    const bool missing = result == common::kKernelCanMessageInvalid && value[0] == 1;
    if (missing && IsPositionOption(object) && subindex == kPositionOptionSub6) {
      // A drive without sub 6 keeps its option byte in sub 4.
      node->uploadedDrive.positionOptionSubindex = kPositionOptionSub4;
      node->request.step = SequenceFrameStep(item);
      continue;
    }
    if (missing && IsHomeSwitch(object)) {
      value = {};
    } else if (Failed(result)) {
      FinishNodeRequest(*node);
      return;
    }
    object.store(*node, ValueOf(value));
    ++item;
    node->request.step = SequenceFrameStep(item);
  }
}

double HomePositionOffset(const NodeTable& nodes, std::uint32_t nodeNumber,
                          std::int32_t axis) noexcept {
  const NodeObject* node = nodes.ByNumber(nodeNumber);
  if (node == nullptr || axis < -1 || (axis >= 0 && !HasAxis(*node, axis))) return 0.0;
  const DriveParameters& drive =
      axis < 0 ? node->drive : node->axes[static_cast<std::size_t>(axis)].drive;
  switch (drive.homing.method) {
    case 1:
    case 2:
    case 3:
    case 6:
      return drive.homing.homeOffset + drive.homeSwitchDistance;
    default:
      return drive.homing.homeOffset;
  }
}

StatusCode ReadDriveParameters(ServiceContext& context) noexcept {
  {
    HostLock lock(context.host);
    if (!context.host.IsResetPending()) return common::kKernelSuccess;
  }
  const StatusCode run = RunWithTwin(
      context, DriveParameterUploadStep, [](NodeObject&, std::uint32_t) {}, EveryNode{},
      [&] {
        {
          HostLock lock(context.host);
          for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
            NodeObject* node = context.nodes.nodes[k];
            if (node == nullptr || Failed(node->request.requestResult)) continue;
            node->drive = node->uploadedDrive;
            node->gear = node->uploadedGear;
            node->scalingDivisor = RatioOf(node->gear);
          }
        }
        return ReadDriveParametersOnAxes(context);
      });
  if (run == kernel::kCycleNotRunning) return run;
  HostLock lock(context.host);
  // Values that were not read are not judged: the failed read already
  // says why.
  StatusCode result = run;
  if (run == common::kKernelSuccess && !CheckGantryHomeOffsets(context.nodes)) {
    result = common::kKernelOperationFailed;
  }
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    NodeObject* node = context.nodes.nodes[k];
    if (node == nullptr) continue;
    node->reference.drive = node->drive;
    node->reference.gear = node->gear;
  }
  return result;
}

bool CheckGantryHomeOffsets(const NodeTable& nodes) noexcept {
  bool passed = true;
  for (std::uint32_t k = 0; k < nodes.Count(); ++k) {
    NodeObject* node = nodes.nodes[k];
    if (node == nullptr || node->gantryPdoHoming == 0 || node->axisCount == 0) continue;
    const std::uint32_t number = k + 1;
    double farthest = HomePositionOffset(nodes, number, -1);
    std::int32_t winner = -1;
    for (std::uint32_t a = 0; a < node->axisCount && a < kMaxNodeAxes; ++a) {
      const double offset = HomePositionOffset(nodes, number, static_cast<std::int32_t>(a));
      if (offset > farthest) {
        farthest = offset;
        winner = static_cast<std::int32_t>(a);
      }
    }
    if (winner >= 0) {
      NodeAxis& axis = node->axes[static_cast<std::size_t>(winner)];
      if (axis.gantryWait != 0) continue;
      axis.axisResult = common::kKernelNodeParameterInvalid;
    } else {
      if (node->gantryWait != 0) continue;
      node->request.lastResult = common::kKernelNodeParameterInvalid;
    }
    passed = false;
  }
  return passed;
}

StatusCode ReadDriveParametersOnAxes(ServiceContext& context) noexcept {
  if (context.nodes.largestAxisCount == 0) return common::kKernelSuccess;
  AddressingKeeper keeper(context);
  StatusCode result = common::kKernelSuccess;
  for (std::uint32_t a = 0; a < context.nodes.largestAxisCount; ++a) {
    const auto axis = static_cast<std::int32_t>(a);
    const StatusCode run = RunOnNodes(
        context, context.nodes.AllNodes(), DriveParameterUploadStep,
        [&](NodeObject& node, std::uint32_t) { SwitchToAxis(node, axis); }, 1,
        [&](const NodeObject& node) { return HasAxis(node, axis); });
    if (run != common::kKernelSuccess) return run;
    {
      HostLock lock(context.host);
      for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
        NodeObject* node = context.nodes.nodes[k];
        if (node == nullptr || !HasAxis(*node, axis) || Failed(node->request.requestResult)) {
          continue;
        }
        NodeAxis& entry = node->axes[a];
        entry.drive = node->uploadedDrive;
        entry.gear = node->uploadedGear;
        const bool sameGear = entry.gear.numerator == node->gear.numerator &&
                              entry.gear.denominator == node->gear.denominator &&
                              entry.drive.velocityScaling == node->drive.velocityScaling;
        if (!sameGear) node->request.requestResult = common::kKernelNodeParameterInvalid;
      }
    }
    if (Failed(CollectAxisResults(context, false, axis))) result = common::kKernelOperationFailed;
  }
  return result;
}

StatusCode WritePositionOption(ServiceContext& context, std::uint32_t value) noexcept {
  {
    HostLock lock(context.host);
    if (!context.host.WorkingValues().positionOption) return common::kKernelSuccess;
  }
  return RunWithTwin(
      context, DownloadSequenceStep,
      [&](NodeObject& node, std::uint32_t) {
        PutSame(node, PositionOptionWrite(node.drive, value));
      },
      Interpolated{}, [&] { return WritePositionOptionOnAxes(context, value); });
}

StatusCode WritePositionOptionOnAxes(ServiceContext& context, std::uint32_t value) noexcept {
  {
    HostLock lock(context.host);
    if (!context.host.WorkingValues().positionOption) return common::kKernelSuccess;
  }
  NodeMask interpolated = 0;
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    const NodeObject* node = context.nodes.nodes[k];
    if (node != nullptr && Interpolated{}(*node)) interpolated |= NodeMask{1} << k;
  }
  return RunStepOnAxes(
      context, interpolated, DownloadSequenceStep, false,
      [&](NodeObject& node, std::uint32_t, std::int32_t axis) {
        PutSame(node, PositionOptionWrite(node.axes[static_cast<std::size_t>(axis)].drive, value));
      });
}

StatusCode SetGearRatio(ServiceContext& context, std::uint32_t nodeIndex, std::uint32_t numerator,
                        std::uint32_t denominator) noexcept {
  if (nodeIndex >= context.nodes.Count() || context.nodes.nodes[nodeIndex] == nullptr) {
    return common::kKernelOperationFailed;
  }
  if (numerator == 0 || denominator == 0) return common::kKernelGearRatioInvalid;
  NodeObject& node = *context.nodes.nodes[nodeIndex];
  const std::array<SdoDownloadItem, 2> writes = {
      {{object::kPositionFactor, 1, 4, numerator}, {object::kPositionFactor, 2, 4, denominator}}};
  {
    HostLock lock(context.host);
    node.gear.changed = 1;
  }
  const StatusCode run = RunOnNodes(context, NodeMask{1} << nodeIndex, DownloadSequenceStep,
                                    [&](NodeObject& n, std::uint32_t) { PutSame(n, writes); });
  if (run != common::kKernelSuccess) return run;
  HostLock lock(context.host);
  node.request.lastResult = node.request.requestResult;
  if (Failed(node.request.requestResult)) {
    node.SetFlagInBothRows(StatusFlag::N, false);
    return common::kKernelOperationFailed;
  }
  const GearRatio next{numerator, denominator, 1};
  const double factor = RatioOf(node.gear) / RatioOf(next);
  node.gear = next;
  node.scalingDivisor = RatioOf(next);
  RescaleNode(node, factor);
  return common::kKernelSuccess;
}

StatusCode RestoreGearRatios(ServiceContext& context) noexcept {
  NodeMask changed = 0;
  {
    HostLock lock(context.host);
    for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
      NodeObject* node = context.nodes.nodes[k];
      if (node == nullptr) continue;
      if (node->gear.changed != 0) changed |= NodeMask{1} << k;
    }
    if (changed == 0) {
      for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
        if (context.nodes.nodes[k] != nullptr) {
          context.nodes.nodes[k]->request.lastResult = common::kKernelSuccess;
        }
      }
    }
  }
  StatusCode nodes = common::kKernelSuccess;
  if (changed != 0) {
    const StatusCode run =
        RunOnNodes(context, changed, DownloadSequenceStep, [](NodeObject& node, std::uint32_t) {
          const GearRatio& gear = node.reference.gear;
          const std::array<SdoDownloadItem, 2> writes = {
              {{object::kPositionFactor, 1, 4, gear.numerator},
               {object::kPositionFactor, 2, 4, gear.denominator}}};
          PutSame(node, writes);
        });
    if (run != common::kKernelSuccess) return run;
    HostLock lock(context.host);
    for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
      NodeObject* node = context.nodes.nodes[k];
      if (node == nullptr || (changed & (NodeMask{1} << k)) == 0) continue;
      node->request.lastResult = node->request.requestResult;
      if (Failed(node->request.requestResult)) {
        nodes = common::kKernelOperationFailed;
        continue;
      }
      const GearRatio reference = node->reference.gear;
      if (reference.numerator == 0 || reference.denominator == 0) continue;
      const double factor = RatioOf(node->gear) / RatioOf(reference);
      node->gear = GearRatio{reference.numerator, reference.denominator, 0};
      node->scalingDivisor = RatioOf(reference);
      for (double* value : {&node->position, &node->softwareLimit1, &node->softwareLimit2}) {
        *value *= factor;
      }
    }
  }
  const StatusCode axes = RestoreGearRatiosOnAxes(context);
  if (axes == kernel::kCycleNotRunning) return axes;
  return Failed(nodes) || Failed(axes) ? common::kKernelOperationFailed : common::kKernelSuccess;
}

StatusCode RestoreProfileParameters(ServiceContext& context) noexcept {
  return RunWithTwin(
      context, DownloadSequenceStep,
      [](NodeObject& node, std::uint32_t) { PutSame(node, ProfileWrite(node.drive)); }, EveryNode{},
      [&] { return RestoreProfileParametersOnAxes(context); });
}

StatusCode RestoreProfileParametersOnAxes(ServiceContext& context) noexcept {
  return DownloadOnAxes(context, [](NodeObject& node, std::int32_t axis) {
    return ProfileWrite(node.axes[static_cast<std::size_t>(axis)].drive);
  });
}

StatusCode WriteBufferDepth(ServiceContext& context, std::uint32_t value) noexcept {
  std::array<SdoDownloadItem, 1> writes{};
  {
    HostLock lock(context.host);
    writes = BufferDepthWrite(context, value);
  }
  return RunWithTwin(
      context, DownloadSequenceStep,
      [&](NodeObject& node, std::uint32_t) { PutSame(node, writes); }, EveryNode{},
      [&] { return WriteBufferDepthOnAxes(context, value); });
}

StatusCode WriteBufferDepthOnAxes(ServiceContext& context, std::uint32_t value) noexcept {
  std::array<SdoDownloadItem, 1> writes{};
  {
    HostLock lock(context.host);
    writes = BufferDepthWrite(context, value);
  }
  return DownloadOnAxes(context, [&](NodeObject&, std::int32_t) { return writes; });
}

StatusCode WriteInterpolationPeriod(ServiceContext& context) noexcept {
  std::array<SdoDownloadItem, 2> writes{};
  {
    HostLock lock(context.host);
    writes = InterpolationPeriodWrite(context);
  }
  return RunWithTwin(
      context, DownloadSequenceStep,
      [&](NodeObject& node, std::uint32_t) { PutSame(node, writes); }, EveryNode{},
      [&] { return WriteInterpolationPeriodOnAxes(context); });
}

StatusCode WriteInterpolationPeriodOnAxes(ServiceContext& context) noexcept {
  std::array<SdoDownloadItem, 2> writes{};
  {
    HostLock lock(context.host);
    writes = InterpolationPeriodWrite(context);
  }
  return DownloadOnAxes(context, [&](NodeObject&, std::int32_t) { return writes; });
}

StatusCode WriteInterpolationSubMode(ServiceContext& context) noexcept {
  return RunWithTwin(
      context, DownloadSequenceStep,
      [](NodeObject& node, std::uint32_t) { PutSame(node, kSubModeWrite); }, EveryNode{},
      [&] { return WriteInterpolationSubModeOnAxes(context); });
}

StatusCode WriteInterpolationSubModeOnAxes(ServiceContext& context) noexcept {
  return DownloadOnAxes(context, [](NodeObject&, std::int32_t) { return kSubModeWrite; });
}

StatusCode SetLimitSwitchBridging(ServiceContext& context, bool on, bool collect) noexcept {
  const auto writes = BridgeWrite(on);
  const StatusCode run = RunOnNodes(context, context.nodes.AllNodes(), DownloadSequenceStep,
                                    [&](NodeObject& node, std::uint32_t) {
                                      if (!on) {
                                        node.SetFlagInBothRows(StatusFlag::F, true);
                                        node.SetFlagInBothRows(StatusFlag::E, true);
                                      }
                                      PutSame(node, writes);
                                    });
  if (run != common::kKernelSuccess) return run;
  StatusCode nodes = common::kKernelSuccess;
  if (collect) {
    nodes = CollectNodeResults(context, false);
  } else {
    HostLock lock(context.host);
    for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
      const NodeObject* node = context.nodes.nodes[k];
      if (node != nullptr && Failed(node->request.requestResult)) {
        nodes = common::kKernelOperationFailed;
      }
    }
  }
  const StatusCode axes = SetLimitSwitchBridgingOnAxes(context, on);
  if (axes == kernel::kCycleNotRunning) return axes;
  if (Failed(nodes) || Failed(axes)) return common::kKernelOperationFailed;
  HostLock lock(context.host);
  context.host.SetLimitSwitchBridge(on);
  return common::kKernelSuccess;
}

StatusCode SetLimitSwitchBridgingOnAxes(ServiceContext& context, bool on) noexcept {
  const auto writes = BridgeWrite(on);
  return DownloadOnAxes(context, [&](NodeObject&, std::int32_t) { return writes; });
}

}  // namespace vantor::canopen
