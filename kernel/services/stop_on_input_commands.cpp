#include "kernel/services/stop_on_input_commands.h"

#include "common/stop_on_input_records.h"
#include "kernel/core/canopen/can_object_admission.h"
#include "kernel/core/canopen/drive_reads.h"
#include "kernel/core/canopen/stop_on_input_drives.h"
#include "kernel/core/canopen/stop_on_input_pdos.h"
#include "kernel/core/kernel_guards.h"
#include "kernel/core/kernel_status.h"
#include "kernel/core/motion/wire_values.h"
#include "kernel/services/axis_command_support.h"
#include "kernel/services/kernel_service_host.h"
#include "kernel/services/node_lock_scopes.h"

namespace vantor::kernel {

namespace {

namespace sp = common::stop_on_input_parameters;
namespace cb = common::communication_block;
using canopen::ServiceContext;
using canopen::StopOnInputMode;
using canopen::StopOnInputParameters;
using common::StatusCode;

bool Failed(StatusCode result) { return result != common::kKernelSuccess; }

// The drives' input 4, as the cyclic answer carries the digital inputs.
constexpr std::uint8_t kInput4 = 0x10;
constexpr std::uint8_t kMainAmplifierInput = 4;

// The interpolated axes the cycle watches.
std::uint32_t WatchedAxes(const KernelData& data) {
  return std::min<std::uint32_t>(data.nodeConfiguration.interpolatedNodeCount,
                                 data.nodeConfiguration.BoundedNodeCount());
}

// What follows a change of the mode: not armed, nothing fired, the watch
// taking the stored pattern, and every watched port set apart from it so
// that only a fresh input fires.
void ResetInputWatch(KernelData& data) {
  KernelStateFlags& s = data.state;
  s.stopOnInputActive = 0;
  s.stopOnInputTriggered = 0;
  const StopOnInputParameters& p = data.stopOnInputParameters;
  StopOnInputWatch& watch = data.motionRuntime.stopOnInput;
  const bool initialised = s.stopOnInputInitialised != 0;
  watch.armed = initialised ? 1 : 0;
  watch.inputMask = p.inputMask;
  watch.inputPattern = p.inputLevels;
  for (std::uint32_t a = 0; a < WatchedAxes(data); ++a) {
    NodeAxisRuntime& axis = data.motionRuntime.nodes[a];
    axis.inputPort =
        initialised ? static_cast<std::uint8_t>(~(p.inputMask & p.inputLevels)) : std::uint8_t{0};
    axis.inputHit = 0;
  }
}

void ClearInputHits(KernelData& data) {
  for (std::uint32_t a = 0; a < WatchedAxes(data); ++a) data.motionRuntime.nodes[a].inputHit = 0;
}

bool AnyDistanceRegulator(const KernelData& data) {
  const NodeConfiguration& nodes = data.nodeConfiguration;
  for (std::uint32_t i = 0; i < nodes.BoundedNodeCount(); ++i) {
    const NodeObject* node = nodes.Node(i);
    if (node != nullptr && node->can->regulatorActive != 0) return true;
  }
  return false;
}

// Code 87's state tests under the lock, steps 3 to 7 of its order; `p`
// completed by the validation. Success with `nothingToDo` leaves all as is.
StatusCode CheckSetRequest(Kernel& kernel, StopOnInputParameters& p, bool& nothingToDo) {
  KernelData& data = kernel.data;
  const KernelStateFlags& s = data.state;
  if (s.resetPending != 0) return common::kKernelResetNotDone;
  if (data.nodeConfiguration.table.stopOnInputCapable == 0) {
    return common::kKernelDriveFirmwareWrong;
  }
  if (s.syncRunning == 0) return common::kKernelSyncObjectFailed;
  if (s.peripheryPdoOk == 0) return common::kKernelPeripheryPdoInvalid;
  if (s.motionActive != 0) return common::kKernelMovementSegmentActive;
  if (s.motionBreak != 0) return common::kKernelBreakModeActive;
  if (s.quickStopping != 0 || s.stopped != 0) return common::kKernelQuickStopActive;
  const bool on = p.Mode() != StopOnInputMode::Off;
  if (on && AnyDistanceRegulator(data)) return common::kKernelDistanceControlActive;
  if (on && s.handwheelInitialised != 0) return common::kKernelHandwheelAlreadyInitialized;
  const canopen::StopOnInputMachine machine = canopen::DescribeStopOnInputMachine(
      data.nodeConfiguration.table, data.nodeConfiguration.interpolatedNodeCount);
  const auto cobIdFree = [&](std::uint8_t nodeId, std::uint16_t cobId) {
    return canopen::IsUserCobIdFree(0, nodeId, cobId, data.nodeConfiguration.table,
                                    kernel.canObjects) != 0;
  };
  if (!canopen::ValidateStopOnInputPar(p, machine, cobIdFree)) {
    return common::kKernelStopOnInputParameterInvalid;
  }
  if (on && s.stopOnInputInitialised != 0) return common::kKernelStopOnInputAlreadyInitialized;
  if (CheckNodeStates(data.nodeConfiguration, s, NodeResults::Set) != common::kKernelSuccess) {
    return common::kKernelNodeWasInErrorState;
  }
  nothingToDo = !on && s.stopOnInputInitialised == 0;
  return common::kKernelSuccess;
}

// Steps 8 to 10: the drives switched on with `p`, or off with the stored
// parameters; the stored record follows only a success.
StatusCode SwitchDrives(ServiceContext& context, KernelData& data, const StopOnInputParameters& p) {
  if (p.Mode() == StopOnInputMode::Off) {
    StopOnInputParameters stored;
    {
      KernelDataLock lock(data);
      stored = data.stopOnInputParameters;
    }
    StatusCode r = canopen::ConfigureStopOnInputDrives(context, stored, false);
    if (!Failed(r)) r = canopen::ResynchroniseAxisPositions(context);
    if (!Failed(r)) r = canopen::ConfigureStopOnInputPdos(context, stored, false);
    if (Failed(r)) return r;
    KernelDataLock lock(data);
    data.stopOnInputParameters.mode = 0;
    data.state.stopOnInputInitialised = 0;
    return common::kKernelSuccess;
  }
  if (const StatusCode r = canopen::CheckStopOnInputPortModes(context, p); Failed(r)) return r;
  StatusCode r = canopen::ConfigureStopOnInputDrives(context, p, true);
  if (!Failed(r)) {
    r = canopen::ConfigureStopOnInputPdos(context, p, true);
    if (Failed(r)) static_cast<void>(canopen::ConfigureStopOnInputPdos(context, p, false));
  }
  if (Failed(r)) {
    static_cast<void>(canopen::ConfigureStopOnInputDrives(context, p, false));
    return r;
  }
  KernelDataLock lock(data);
  data.stopOnInputParameters = p;
  data.state.stopOnInputInitialised = 1;
  return common::kKernelSuccess;
}

StatusCode SetParameters(Kernel& kernel, StopOnInputParameters p) {
  KernelData& data = kernel.data;
  if (const StatusCode state = CheckCanState(data); Failed(state)) return state;
  const AllNodeLocks nodeLocks(data);
  KernelServiceHost host(data, kernel.canObjects);
  ServiceContext context = host.Context();
  {
    KernelDataAndObjectListLock lock(data);
    if (!lock.held()) return common::kKernelCncNotInitialized;
    bool nothingToDo = false;
    if (const StatusCode refused = CheckSetRequest(kernel, p, nothingToDo); Failed(refused)) {
      return refused;
    }
    if (nothingToDo) return common::kKernelSuccess;
  }
  const StatusCode result = SwitchDrives(context, data, p);
  if (result == kCycleNotRunning) return result;
  if (!Failed(result)) {
    KernelDataLock lock(data);
    if (!lock.held()) return common::kKernelCncNotInitialized;
    ResetInputWatch(data);
  }
  static_cast<void>(canopen::ArmAllNodeRecords(context, canopen::RecordArming::Arm, false));
  return result;
}

// The tests of the reading commands 89 to 91, under the kernel data lock.
StatusCode CheckReadable(const KernelData& data) {
  if (data.state.resetPending != 0) return common::kKernelResetNotDone;
  if (data.nodeConfiguration.table.stopOnInputCapable == 0) {
    return common::kKernelDriveFirmwareWrong;
  }
  if (data.state.stopOnInputInitialised == 0) return common::kKernelStopOnInputNotInitialized;
  return common::kKernelSuccess;
}

StatusCode LatchedPositions(Kernel& kernel) {
  KernelData& data = kernel.data;
  if (const StatusCode state = CheckCanState(data); Failed(state)) return state;
  const AllNodeLocks nodeLocks(data);
  KernelServiceHost host(data, kernel.canObjects);
  ServiceContext context = host.Context();
  {
    KernelDataLock lock(data);
    if (!lock.held()) return common::kKernelCncNotInitialized;
    if (const StatusCode refused = CheckReadable(data); Failed(refused)) return refused;
  }
  if (const StatusCode r = canopen::AreStopOnInputPositionsLatched(context); Failed(r)) return r;
  canopen::LatchedPositions positions;
  if (const StatusCode r = canopen::ReadStopOnInputLatchedPositions(context, positions);
      Failed(r)) {
    return r;
  }
  KernelDataLock lock(data);
  if (!lock.held()) return common::kKernelCncNotInitialized;
  for (std::uint32_t a = 0; a < positions.count && a < common::stop_on_input_latched::kAxes; ++a) {
    const double offset =
        a < ConfiguredCoordinateCount(data) ? data.coordinates[a].zeroOffset : 0.0;
    PutPayloadWireValue(kernel, 8 * a, static_cast<double>(positions.increments[a]) - offset);
  }
  return common::kKernelSuccess;
}

// The watched port byte: the first node's in mode 1, else the input axis's.
template <typename Answer>
StatusCode ReadPort(Kernel& kernel, Answer answer) {
  KernelData& data = kernel.data;
  if (const StatusCode state = CheckCanState(data); Failed(state)) return state;
  KernelDataLock lock(data);
  if (!lock.held()) return common::kKernelCncNotInitialized;
  if (const StatusCode refused = CheckReadable(data); Failed(refused)) return refused;
  const StopOnInputParameters& p = data.stopOnInputParameters;
  const std::int32_t axis = p.Mode() == StopOnInputMode::InputModule ? 0 : p.inputAxis;
  const std::uint8_t port = axis >= 0 && static_cast<std::uint32_t>(axis) < canopen::kMaxNodes
                                ? data.motionRuntime.nodes[static_cast<std::size_t>(axis)].inputPort
                                : std::uint8_t{0};
  answer(port);
  return common::kKernelSuccess;
}

// Code 92's tests under the lock, in its order.
StatusCode CheckRunRequest(KernelData& data, bool arm, bool& nothingToDo) {
  const KernelStateFlags& s = data.state;
  nothingToDo = !arm && s.stopOnInputActive == 0;
  if (nothingToDo) return common::kKernelSuccess;
  if (arm && s.syncRunning == 0) return common::kKernelSyncObjectFailed;
  if (arm && s.peripheryPdoOk == 0) return common::kKernelPeripheryPdoInvalid;
  if (s.pathMode != 0 || s.pathStarted != 0) return common::kKernelPathModeError;
  if (s.motionActive != 0) return common::kKernelMovementSegmentActive;
  if (arm && s.motionBreak != 0) return common::kKernelBreakModeActive;
  if (arm && (s.quickStopping != 0 || s.stopped != 0)) return common::kKernelQuickStopActive;
  if (CheckNodeStates(data.nodeConfiguration, s, NodeResults::Set) != common::kKernelSuccess) {
    return common::kKernelNodeWasInErrorState;
  }
  if (s.stopOnInputInitialised == 0) return common::kKernelStopOnInputNotInitialized;
  if (arm && s.stopOnInputActive != 0) return common::kKernelStopOnInputInAction;
  return common::kKernelSuccess;
}

StatusCode RunMode(Kernel& kernel, bool arm) {
  KernelData& data = kernel.data;
  if (!data.state.IsCncInitialised()) return common::kKernelCncNotInitialized;
  {
    KernelDataLock lock(data);
    if (!lock.held()) return common::kKernelCncNotInitialized;
    if (data.state.resetPending != 0) return common::kKernelResetNotDone;
  }
  const AllNodeLocks nodeLocks(data);
  KernelServiceHost host(data, kernel.canObjects);
  ServiceContext context = host.Context();
  {
    KernelDataLock lock(data);
    if (!lock.held()) return common::kKernelCncNotInitialized;
    bool nothingToDo = false;
    if (const StatusCode refused = CheckRunRequest(data, arm, nothingToDo); Failed(refused)) {
      return refused;
    }
    if (nothingToDo) return common::kKernelSuccess;
  }
  StatusCode result = canopen::ArmStopOnInputDrives(context, arm);
  // An arm that failed on one drive must not leave the others armed while
  // the mode counts as not armed: they would stop the machine unseen.
  if (arm && Failed(result) && result != kCycleNotRunning) {
    static_cast<void>(canopen::ArmStopOnInputDrives(context, false));
  }
  bool fired = false;
  {
    KernelDataLock lock(data);
    if (!lock.held()) return common::kKernelCncNotInitialized;
    fired = data.state.stopOnInputTriggered != 0;
    data.state.stopOnInputActive = arm && !Failed(result) ? 1 : 0;
    data.state.stopOnInputTriggered = 0;
    ClearInputHits(data);
  }
  if (!arm && !Failed(result) && fired) result = canopen::ResynchroniseAxisPositions(context);
  if (result == kCycleNotRunning) return result;
  static_cast<void>(canopen::ArmAllNodeRecords(context, canopen::RecordArming::Arm, false));
  return result;
}

StatusCode MainAmplifierInput(Kernel& kernel, std::uint8_t& inputSet) {
  KernelData& data = kernel.data;
  namespace mi = common::main_amplifier_input;
  const auto block = kernel.Block();
  const std::int32_t axisIndex = block.Get(mi::kAxisIndex);
  const std::uint8_t axis = block.Get(mi::kAxis);
  const std::uint8_t input = block.Get(mi::kInputNumber);
  if (!data.state.IsCncInitialised()) return common::kKernelCncNotInitialized;
  KernelDataLock lock(data);
  if (!lock.held()) return common::kKernelCncNotInitialized;
  const KernelStateFlags& s = data.state;
  if (s.resetPending != 0) return common::kKernelResetNotDone;
  if (s.cycleRunning == 0) return kCycleNotRunning;
  if (s.busOk == 0) return common::kKernelCanBusDisturbed;
  if (s.syncRunning == 0) return common::kKernelSyncObjectFailed;
  const NodeConfiguration& nodes = data.nodeConfiguration;
  const NodeObject* node =
      axisIndex >= 0 ? nodes.Node(static_cast<std::uint32_t>(axisIndex)) : nullptr;
  if (node == nullptr || axis != 0 || input != kMainAmplifierInput ||
      (node->can->inputCapabilities & canopen::kInputCapabilityInput4) == 0) {
    return common::kKernelInputPortParameterInvalid;
  }
  const std::uint8_t inputs =
      data.motionRuntime.nodes[static_cast<std::size_t>(axisIndex)].inputByte;
  inputSet = (inputs & kInput4) != 0 ? 1 : 0;
  return common::kKernelSuccess;
}

}  // namespace

AfterCommand HandleSetStopOnInputModePar(Kernel& kernel) {
  sp::Record record;
  kernel.Block().CopyOut(sp::kBlockOffset, record.MutableBytes());
  AnswerCommand(kernel, SetParameters(kernel, canopen::DecodeStopOnInputParameters(record)));
  return AfterCommand::KeepServing;
}

AfterCommand HandleGetStopOnInputModePar(Kernel& kernel) {
  KernelData& data = kernel.data;
  StatusCode result = common::kKernelCncNotInitialized;
  sp::Record record;
  if (data.state.IsCncInitialised()) {
    KernelDataLock lock(data);
    if (lock.held()) {
      // Without stored parameters only the mode byte is written.
      if (data.stopOnInputParameters.mode != 0) {
        record = canopen::EncodeStopOnInputParameters(data.stopOnInputParameters);
      }
      result = common::kKernelSuccess;
    }
  }
  if (result == common::kKernelSuccess) {
    auto block = kernel.Block();
    if (record.Get(sp::kMode) == 0) {
      block.Set(common::Field<std::uint8_t, sp::kBlockOffset>{}, 0);
    } else {
      block.CopyIn(sp::kBlockOffset, record.Bytes());
    }
  }
  AnswerCommand(kernel, result);
  return AfterCommand::KeepServing;
}

AfterCommand HandleGetStopOnInputLatchedPos(Kernel& kernel) {
  kernel.Block().Fill(cb::kPayloadOffset, common::stop_on_input_latched::kRecordSize, 0);
  AnswerCommand(kernel, LatchedPositions(kernel));
  return AfterCommand::KeepServing;
}

AfterCommand HandleReadStopOnInputBit(Kernel& kernel) {
  namespace sb = common::stop_on_input_bit;
  const std::uint8_t bit = kernel.Block().Get(sb::kBitNumber);
  const StatusCode result = ReadPort(kernel, [&](std::uint8_t port) {
    const std::uint8_t value = bit < 8 ? static_cast<std::uint8_t>((port >> bit) & 1u) : 0;
    kernel.Block().Set(sb::kBitValue, value);
  });
  AnswerCommand(kernel, result);
  return AfterCommand::KeepServing;
}

AfterCommand HandleReadStopOnInputPort(Kernel& kernel) {
  const StatusCode result = ReadPort(kernel, [&](std::uint8_t port) {
    kernel.Block().Set(common::stop_on_input_port::kPort, port);
  });
  AnswerCommand(kernel, result);
  return AfterCommand::KeepServing;
}

AfterCommand HandleRunStopOnInputMode(Kernel& kernel) {
  const bool arm = kernel.Block().Get(common::stop_on_input_run::kArm) != 0;
  AnswerCommand(kernel, RunMode(kernel, arm));
  return AfterCommand::KeepServing;
}

AfterCommand HandleReadMainAmplifyInputBit(Kernel& kernel) {
  std::uint8_t inputSet = 0;
  const StatusCode result = MainAmplifierInput(kernel, inputSet);
  if (result == common::kKernelSuccess) {
    kernel.Block().Set(common::main_amplifier_input::kInputSet, inputSet);
  }
  AnswerCommand(kernel, result);
  return AfterCommand::KeepServing;
}

}  // namespace vantor::kernel
