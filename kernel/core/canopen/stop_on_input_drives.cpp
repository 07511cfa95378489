#include "kernel/core/canopen/stop_on_input_drives.h"

#include <cmath>

#include "kernel/core/canopen/canopen_constants.h"
#include "kernel/core/canopen/node_services.h"
#include "kernel/core/kernel_status.h"

namespace vantor::canopen {

namespace {

using common::StatusCode;
namespace so = stop_on_input;

constexpr std::uint8_t kOneByte = 1;
constexpr std::uint8_t kTwoBytes = 2;
constexpr std::uint8_t kFourBytes = 4;
constexpr std::uint32_t kInputPortModeOn = 1;

bool Failed(StatusCode result) { return result != common::kKernelSuccess; }

// A failed download is the drives' failure; a stopped cycle stays itself.
StatusCode DriveFailure(StatusCode result) {
  return result == kernel::kCycleNotRunning ? result : common::kKernelOperationFailed;
}

// Points the slots of the axes in `axes` at their drive of `pass`.
void PointAtPass(ServiceContext& context, NodeMask axes, std::int32_t pass) {
  HostLock lock(context.host);
  for (std::uint32_t a = 0; a < context.nodes.Count(); ++a) {
    NodeObject* node = context.nodes.nodes[a];
    if (node != nullptr && (axes & (NodeMask{1} << a)) != 0) SwitchToAxis(*node, pass);
  }
}

// Runs `writes` on the drives of `pass`, the addressing put back after.
StatusCode RunPass(ServiceContext& context, std::int32_t pass, const StopOnInputWrites& writes) {
  if (writes.count == 0) return common::kKernelSuccess;
  const AddressingKeeper keeper(context);
  PointAtPass(context, writes.writes[0].axes, pass);
  for (std::size_t i = 0; i < writes.count; ++i) {
    const StopOnInputWrite& write = writes.writes[i];
    SdoRecords records;
    for (std::uint32_t a = 0; a < kMaxNodes; ++a) {
      records[a] = MakeSdoRecord(object::kStopOnInput, write.subindex, write.size, write.values[a]);
    }
    if (const StatusCode r = SdoDownloadToNodes(context, true, write.axes, records); Failed(r)) {
      return DriveFailure(r);
    }
  }
  return common::kKernelSuccess;
}

// Runs the writes `writesOf(pass)` gives for every pass.
template <typename WritesOf>
StatusCode RunEveryPass(ServiceContext& context, const StopOnInputMachine& machine,
                        WritesOf writesOf) {
  const auto passes = static_cast<std::int32_t>(machine.LargestSlaveCount());
  for (std::int32_t pass = kOwnDrivePass; pass < passes; ++pass) {
    if (const StatusCode r = RunPass(context, pass, writesOf(pass)); Failed(r)) return r;
  }
  return common::kKernelSuccess;
}

// One subindex, one value per axis, on every drive of `pass`.
StopOnInputWrites SingleWrite(const StopOnInputMachine& machine, std::int32_t pass,
                              std::uint8_t subindex, std::uint8_t size,
                              const std::array<std::uint32_t, kMaxNodes>& values) {
  StopOnInputWrites writes;
  const NodeMask axes = machine.AxesInPass(pass);
  if (axes == 0) return writes;
  writes.writes[0] = StopOnInputWrite{subindex, size, axes, values};
  writes.count = 1;
  return writes;
}

// Reads one object of every interpolated axis's own drive.
StatusCode ReadOwnDrives(ServiceContext& context, std::uint16_t index, std::uint8_t subindex,
                         std::uint8_t size, SdoRecords& records, std::uint32_t& count) {
  count = ReadStopOnInputMachine(context).interpolatedCount;
  records.fill(MakeSdoRecord(index, subindex, size));
  const NodeMask axes = (NodeMask{1} << count) - 1;
  if (axes == 0) return common::kKernelSuccess;
  return SdoUploadFromNodes(context, axes, records);
}

}  // namespace

StopOnInputMachine ReadStopOnInputMachine(ServiceContext& context) noexcept {
  HostLock lock(context.host);
  return DescribeStopOnInputMachine(context.nodes, context.host.InterpolatedNodeCount());
}

StatusCode ConfigureStopOnInputDrives(ServiceContext& context,
                                      const StopOnInputParameters& parameters, bool on) noexcept {
  const StopOnInputMachine machine = ReadStopOnInputMachine(context);
  return RunEveryPass(context, machine, [&](std::int32_t pass) {
    return StopOnInputPassWrites(parameters, machine, pass, on);
  });
}

StatusCode ArmStopOnInputDrives(ServiceContext& context, bool arm) noexcept {
  const StopOnInputMachine machine = ReadStopOnInputMachine(context);
  std::array<std::uint32_t, kMaxNodes> values{};
  values.fill(arm ? 1u : 0u);
  return RunEveryPass(context, machine, [&](std::int32_t pass) {
    return SingleWrite(machine, pass, so::kArmed, kOneByte, values);
  });
}

StatusCode CheckStopOnInputPortModes(ServiceContext& context,
                                     const StopOnInputParameters& parameters) noexcept {
  const auto mode = parameters.Mode();
  if (mode != StopOnInputMode::OneDrive && mode != StopOnInputMode::AxisMask) {
    return common::kKernelSuccess;
  }
  const NodeMask axes = mode == StopOnInputMode::AxisMask
                            ? static_cast<NodeMask>(parameters.axisMask)
                            : NodeMask{1} << parameters.inputAxis;
  SdoRecords records;
  records.fill(MakeSdoRecord(object::kDriveOptions, object::kInputPortModeSubindex, kOneByte));
  StatusCode read = common::kKernelSuccess;
  {
    const AddressingKeeper keeper(context);
    PointAtPass(context, axes, parameters.inputSlave);
    read = SdoUploadFromNodes(context, axes, records);
  }
  if (Failed(read)) return read;
  for (std::uint32_t a = 0; a < kMaxNodes; ++a) {
    if ((axes & (NodeMask{1} << a)) == 0) continue;
    if (records[a].Get(sdo_request::kValue) != kInputPortModeOn) {
      return common::kKernelInputPortModeInvalid;
    }
  }
  return common::kKernelSuccess;
}

StatusCode AreStopOnInputPositionsLatched(ServiceContext& context) noexcept {
  SdoRecords records;
  std::uint32_t count = 0;
  const StatusCode read =
      ReadOwnDrives(context, object::kStopOnInput, so::kLatchState, kTwoBytes, records, count);
  if (Failed(read)) return read;
  for (std::uint32_t a = 0; a < count; ++a) {
    if ((records[a].Get(sdo_request::kValue) & 0xFFu) < so::kLatchedFrom) {
      return common::kKernelStopOnInputNotLatched;
    }
  }
  return common::kKernelSuccess;
}

StatusCode ReadStopOnInputLatchedPositions(ServiceContext& context,
                                           LatchedPositions& positions) noexcept {
  SdoRecords records;
  const StatusCode read = ReadOwnDrives(context, object::kStopOnInput, so::kLatchedPosition,
                                        kFourBytes, records, positions.count);
  if (Failed(read)) return read;
  for (std::uint32_t a = 0; a < positions.count; ++a) {
    positions.increments[a] = static_cast<std::int32_t>(records[a].Get(sdo_request::kValue));
  }
  return common::kKernelSuccess;
}

StatusCode ResynchroniseAxisPositions(ServiceContext& context) noexcept {
  SdoRecords records;
  std::uint32_t count = 0;
  const StatusCode read =
      ReadOwnDrives(context, object::kPositionDemand, 0, kFourBytes, records, count);
  if (Failed(read) || count == 0) return read;
  std::array<std::int32_t, kMaxNodes> positions{};
  {
    HostLock lock(context.host);
    for (std::uint32_t a = 0; a < count; ++a) {
      positions[a] = static_cast<std::int32_t>(records[a].Get(sdo_request::kValue));
      if (NodeObject* node = context.nodes.nodes[a]) {
        node->position = static_cast<double>(positions[a]);
      }
    }
    context.host.TakeNodePositionsIntoAxisRecords();
  }
  const NodeMask axes = (NodeMask{1} << count) - 1;
  return context.host.SetupAxesProfileMode(true, axes, positions);
}

std::uint32_t StopOnInputStopValue(double perAxis, double scale,
                                   std::uint32_t maxAcceleration) noexcept {
  if (perAxis == 0.0) return maxAcceleration;
  const double value = std::fabs(perAxis) * scale;
  // What is no number or lies beyond the object's range is held to it.
  if (!(value > 0.0)) return 0;
  if (value >= 4294967295.0) return 0xFFFFFFFFu;
  return static_cast<std::uint32_t>(value);
}

StatusCode UpdateStopOnInputStopValue(ServiceContext& context,
                                      const std::array<double, kMaxNodes>& perAxis,
                                      double scale) noexcept {
  const StopOnInputMachine machine = ReadStopOnInputMachine(context);
  std::array<std::uint32_t, kMaxNodes> values{};
  for (std::uint32_t a = 0; a < machine.interpolatedCount; ++a) {
    values[a] = StopOnInputStopValue(perAxis[a], scale, machine.maxAcceleration[a]);
  }
  return RunEveryPass(context, machine, [&](std::int32_t pass) {
    return SingleWrite(machine, pass, so::kStopValue, kFourBytes, values);
  });
}

}  // namespace vantor::canopen
