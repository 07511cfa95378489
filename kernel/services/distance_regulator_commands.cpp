#include "kernel/services/distance_regulator_commands.h"

#include <optional>

#include "kernel/core/canopen/analogue_input.h"
#include "kernel/core/canopen/can_object_list.h"
#include "kernel/core/canopen/cob_id.h"
#include "kernel/core/canopen/drive_reads.h"
#include "kernel/core/kernel_guards.h"
#include "kernel/core/kernel_status.h"
#include "kernel/core/motion_runtime.h"
#include "kernel/services/axis_command_support.h"
#include "kernel/services/kernel_service_host.h"
#include "kernel/services/node_lock_scopes.h"
#include "kernel/services/node_results.h"

namespace vantor::kernel {

namespace {

namespace cb = common::communication_block;
using canopen::CanObjectList;
using canopen::ServiceContext;
using common::StatusCode;

bool Failed(StatusCode result) { return result != common::kKernelSuccess; }

constexpr std::int32_t kMicrosecondsPerMillisecond = 1000;
// Bytes of the A/D PDO: the value, then the valid and in-range bytes.
constexpr std::size_t kValidByte = 2;
constexpr std::size_t kInRangeByte = 3;

AfterCommand Answer(Kernel& kernel, StatusCode result) {
  AnswerCommand(kernel, result);
  return AfterCommand::KeepServing;
}

void PutWord(Kernel& kernel, std::size_t offset, std::uint32_t value) {
  static_cast<void>(kernel.Block().Store<std::uint32_t>(cb::PayloadAt(offset), value));
}
void PutHalf(Kernel& kernel, std::size_t offset, std::uint16_t value) {
  static_cast<void>(kernel.Block().Store<std::uint16_t>(cb::PayloadAt(offset), value));
}
std::uint16_t PayloadHalf(Kernel& kernel, std::size_t offset) {
  return kernel.Block().Load<std::uint16_t>(cb::PayloadAt(offset)).value_or(0);
}

// The node the command names at +0, or null.
NodeObject* NamedNode(Kernel& kernel) {
  return kernel.data.nodeConfiguration.Node(PayloadWord(kernel, 0));
}

// Which nodes a command takes: any of the table, or an interpolated axis's.
enum class Nodes { Any, Interpolated };

// What the commands that talk to the drive test first, under the lock.
StatusCode CheckNode(KernelData& data, const NodeObject* node, std::uint32_t index, Nodes nodes) {
  if (data.state.resetPending != 0) return common::kKernelResetNotDone;
  if (node == nullptr) return common::kKernelAxisNumberInvalid;
  if (nodes == Nodes::Interpolated && index >= data.nodeConfiguration.interpolatedNodeCount) {
    return common::kKernelAxisNumberInvalid;
  }
  if (node->can->adSupported == 0) return common::kKernelDriveFirmwareWrong;
  return common::kKernelSuccess;
}

// The frame of a command that talks to the node's drive: the node mutexes,
// then under the kernel data lock (with the object list for `lockList`)
// the node results reset, the common tests and `check`, which says whether
// there is anything to do; `talk` runs unlocked, the node records are armed
// again after it and `after` runs under the lock with its result.
template <typename Check, typename Talk, typename After>
StatusCode OnDrive(Kernel& kernel, Nodes nodes, Check check, Talk talk, After after) {
  KernelData& data = kernel.data;
  if (const StatusCode state = CheckCanState(data); Failed(state)) return state;
  const AllNodeLocks nodeLocks(data);
  KernelServiceHost host(data, kernel.canObjects);
  ServiceContext context = host.Context();
  std::uint32_t index = 0;
  {
    KernelDataLock lock(data);
    if (!lock.held()) return common::kKernelCncNotInitialized;
    ResetNodeResults(data, context);
    NodeObject* node = NamedNode(kernel);
    if (const StatusCode refused = CheckNode(data, node, PayloadWord(kernel, 0), nodes);
        Failed(refused)) {
      return refused;
    }
    bool nothingToDo = false;
    if (const StatusCode refused = check(data, *node, nothingToDo); Failed(refused)) {
      return refused;
    }
    if (nothingToDo) return common::kKernelSuccess;
    index = PayloadWord(kernel, 0);
  }
  StatusCode result = talk(context, index);
  if (result == kCycleNotRunning) return result;
  static_cast<void>(canopen::ArmAllNodeRecords(context, canopen::RecordArming::Arm, false));
  KernelDataAndObjectListLock lock(data);
  if (!lock.held()) return common::kKernelCncNotInitialized;
  NodeObject* node = data.nodeConfiguration.Node(index);
  if (node == nullptr) return common::kKernelAxisNumberInvalid;
  return after(data, *node, index, result);
}

// The node's A/D object in the list, dropped.
void DropAnalogueObject(CanObjectList& list, std::uint32_t index) {
  std::uint16_t& owned = list.kernelObjects.peripheralCobIds[index];
  if (owned == 0) return;
  static_cast<void>(canopen::RemoveCanObject(canopen::KeepEntry::No, owned, list));
  owned = 0;
}

StatusCode AppendAnalogueObject(KernelData& data, CanObjectList& list, const NodeObject& node,
                                std::uint32_t index) {
  DropAnalogueObject(list, index);
  canopen::CanObjectParameters p;
  p.direction = 0;
  p.nodeId = node.can->nodeId;
  p.cobId = canopen::MakeTpdoCobId(canopen::kAnalogueTpdo, node.can->nodeId);
  p.length = 4;
  const double cycleMicroseconds = data.motion.path.cycleTime * 1e6;
  p.answerTimeout =
      static_cast<std::int32_t>(node.can->countdownReload * std::max(cycleMicroseconds, 1.0));
  p.period = canopen::kAnaloguePeriod * kMicrosecondsPerMillisecond;
  canopen::CanObjectEntry* entry = canopen::AppendCanObject(list, p);
  if (entry == nullptr) return common::kKernelOutOfResources;
  entry->active = 1;
  list.kernelObjects.peripheralCobIds[index] = p.cobId;
  return common::kKernelSuccess;
}

const canopen::CanObjectEntry* AnalogueObject(const CanObjectList& list, std::uint32_t index) {
  const std::uint16_t cobId = list.kernelObjects.peripheralCobIds[index];
  return cobId != 0 ? canopen::FindCanObject(cobId, list) : nullptr;
}

StatusCode StartConversion(Kernel& kernel) {
  const bool on = PayloadWord(kernel, 4) != 0;
  return OnDrive(
      kernel, Nodes::Any,
      [&](KernelData&, const NodeObject& node, bool& nothingToDo) {
        const bool active = node.can->adActive != 0;
        if (!on && node.can->regulatorActive != 0) return common::kKernelDistanceControlActive;
        nothingToDo = on == active;
        return common::kKernelSuccess;
      },
      [&](ServiceContext& context, std::uint32_t index) {
        return on ? canopen::StartAnalogueConversion(context, index)
                  : canopen::StopAnalogueConversion(context, index);
      },
      [&](KernelData& data, NodeObject& node, std::uint32_t index, StatusCode result) {
        if (Failed(result)) return result;
        if (!on) {
          DropAnalogueObject(kernel.canObjects, index);
          node.can->adActive = 0;
          return result;
        }
        const StatusCode appended = AppendAnalogueObject(data, kernel.canObjects, node, index);
        if (!Failed(appended)) node.can->adActive = 1;
        return appended;
      });
}

StatusCode StartConversionAndObject(Kernel& kernel) {
  const StatusCode result = StartConversion(kernel);
  if (result != common::kKernelOutOfResources) return result;
  // No room for the CAN object: the drive stops sending again.
  KernelServiceHost host(kernel.data, kernel.canObjects);
  ServiceContext context = host.Context();
  const AllNodeLocks nodeLocks(kernel.data);
  static_cast<void>(canopen::SwitchAnalogueTpdoOff(context, PayloadWord(kernel, 0)));
  static_cast<void>(canopen::ArmAllNodeRecords(context, canopen::RecordArming::Arm, false));
  return result;
}

// Codes 76 and 80: under the kernel data and object list locks only.
template <typename Read>
StatusCode ReadAnalogue(Kernel& kernel, Read read) {
  KernelData& data = kernel.data;
  if (const StatusCode state = CheckCanState(data); Failed(state)) return state;
  KernelDataAndObjectListLock lock(data);
  if (!lock.held()) return common::kKernelCncNotInitialized;
  if (data.state.resetPending != 0) return common::kKernelResetNotDone;
  const std::uint32_t index = PayloadWord(kernel, 0);
  const NodeObject* node = data.nodeConfiguration.Node(index);
  if (node == nullptr) return common::kKernelAxisNumberInvalid;
  return read(*node, AnalogueObject(kernel.canObjects, index));
}

StatusCode GetValue(Kernel& kernel) {
  return ReadAnalogue(kernel, [&](const NodeObject& node, const canopen::CanObjectEntry* entry) {
    if (node.can->adActive == 0 || entry == nullptr) {
      return common::kKernelAdConverterNotInitialized;
    }
    if (!entry->IsInOrder()) return entry->result;
    PutWord(kernel, 4, entry->data[kValidByte] == 1 ? 1u : 0u);
    PutWord(kernel, 8, entry->done != 0 ? 1u : 0u);
    PutHalf(kernel, 12, static_cast<std::uint16_t>(entry->data[0] | (entry->data[1] << 8)));
    return common::kKernelSuccess;
  });
}

StatusCode GetStatus(Kernel& kernel) {
  return ReadAnalogue(kernel, [&](const NodeObject& node, const canopen::CanObjectEntry* entry) {
    if (node.can->regulatorActive == 0 || entry == nullptr) {
      PutWord(kernel, 4, 0);
      return common::kKernelSuccess;
    }
    if (!entry->IsInOrder()) return entry->result;
    PutWord(kernel, 4, entry->data[kInRangeByte] == 1 ? 1u : 0u);
    return common::kKernelSuccess;
  });
}

StatusCode SetFactor(Kernel& kernel) {
  const auto numerator = static_cast<std::int16_t>(PayloadHalf(kernel, 4));
  const auto denominator = static_cast<std::int16_t>(PayloadHalf(kernel, 6));
  return OnDrive(
      kernel, Nodes::Any,
      [&](KernelData&, const NodeObject& node, bool&) {
        if (denominator < 1) return common::kKernelDistanceControlDataInvalid;
        if (node.can->adActive != 0) return common::kKernelAdConverterActive;
        return common::kKernelSuccess;
      },
      [&](ServiceContext& context, std::uint32_t index) {
        StatusCode r = canopen::SdoDownloadToNode(
            context, index, canopen::object::kAnalogueConversion,
            canopen::analogue::kFactorNumerator, 2, static_cast<std::uint16_t>(numerator));
        if (!Failed(r)) {
          r = canopen::SdoDownloadToNode(context, index, canopen::object::kAnalogueConversion,
                                         canopen::analogue::kFactorDenominator, 2,
                                         static_cast<std::uint16_t>(denominator));
        }
        return r;
      },
      [](KernelData&, NodeObject&, std::uint32_t, StatusCode result) { return result; });
}

StatusCode SetArea(Kernel& kernel) {
  canopen::RegulatorArea area;
  for (std::size_t i = 0; i < area.area.size(); ++i) {
    area.area[i] = static_cast<std::int16_t>(PayloadHalf(kernel, 4 + 2 * i));
  }
  area.response = PayloadHalf(kernel, 12);
  area.range = static_cast<std::int32_t>(PayloadWord(kernel, 16));
  canopen::RegulatorRange range;
  bool hasSlave = false;
  return OnDrive(
      kernel, Nodes::Any,
      [&](KernelData&, NodeObject& node, bool&) {
        if (node.can->regulatorActive != 0) return common::kKernelDistanceControlActive;
        if (!canopen::IsAreaValid(area)) return common::kKernelDistanceControlDataInvalid;
        const canopen::RegulatorCoupling coupling = canopen::DescribeCoupling(*node.can);
        range = canopen::CheckRegulatorRange(area.range, coupling);
        if (!range.valid) return common::kKernelDistanceControlDataInvalid;
        hasSlave = coupling.hasSlave;
        node.can->workingAreaSet = 0;
        return common::kKernelSuccess;
      },
      [&](ServiceContext& context, std::uint32_t index) {
        return canopen::WriteRegulatorArea(context, index, area, hasSlave, range);
      },
      [](KernelData&, NodeObject& node, std::uint32_t, StatusCode result) {
        if (!Failed(result)) node.can->workingAreaSet = 1;
        return result;
      });
}

StatusCode CheckRegulatorSwitch(KernelData& data, const NodeObject& node, bool on,
                                bool& nothingToDo) {
  KernelStateFlags& s = data.state;
  if (s.motionActive != 0) return common::kKernelMovementSegmentActive;
  if (s.pathMode != 0 || s.pathStarted != 0) return common::kKernelPathModeError;
  if (on) {
    if (CheckNodeStates(data.nodeConfiguration, s, NodeResults::Set) != common::kKernelSuccess) {
      return common::kKernelNodeWasInErrorState;
    }
    if (s.powerOff != 0) return common::kKernelManualModeActive;
    if (s.teachMode != 0) return common::kKernelTeachInModeActive;
    if (s.limitSwitchLeave != 0) return common::kKernelLimitSwitchMoveOutActive;
    if (node.can->adActive == 0) return common::kKernelAdConverterNotInitialized;
    if (node.can->workingAreaSet == 0) return common::kKernelDistanceControlAreaNotSet;
    if (s.stopOnInputInitialised != 0) return common::kKernelStopOnInputAlreadyInitialized;
    if (s.handwheelInitialised != 0) return common::kKernelHandwheelAlreadyInitialized;
  }
  nothingToDo = on == (node.can->regulatorActive != 0);
  return common::kKernelSuccess;
}

StatusCode StartRegulator(Kernel& kernel) {
  const bool on = PayloadWord(kernel, 4) != 0;
  std::int32_t demand = 0;
  return OnDrive(
      kernel, Nodes::Interpolated,
      [&](KernelData& data, NodeObject& node, bool& nothingToDo) {
        if (!on) {
          // Off takes effect in the kernel before the drive is told.
          StatusCode r = CheckRegulatorSwitch(data, node, on, nothingToDo);
          if (!Failed(r) && !nothingToDo) node.can->regulatorActive = 0;
          return r;
        }
        return CheckRegulatorSwitch(data, node, on, nothingToDo);
      },
      [&](ServiceContext& context, std::uint32_t index) {
        return canopen::SwitchRegulator(context, index, on, demand);
      },
      [&](KernelData& data, NodeObject& node, std::uint32_t index, StatusCode result) {
        if (on) {
          if (Failed(result)) {
            node.can->SetFlagInBothRows(StatusFlag::N, false);
            return common::kKernelOperationFailed;
          }
          node.can->regulatorActive = 1;
          return result;
        }
        if (Failed(result)) return result;
        node.can->position = static_cast<double>(demand);
        TakeNodePositionIntoSetPosition(data, index);
        return result;
      });
}

StatusCode GetParameters(Kernel& kernel) {
  canopen::RegulatorCoupling coupling;
  canopen::RegulatorParameters read;
  double cycleSeconds = 0.0;
  return OnDrive(
      kernel, Nodes::Any,
      [&](KernelData& data, const NodeObject& node, bool&) {
        coupling = canopen::DescribeCoupling(*node.can);
        cycleSeconds = data.motion.path.cycleTime;
        return common::kKernelSuccess;
      },
      [&](ServiceContext& context, std::uint32_t index) {
        return canopen::ReadRegulatorParameters(context, index, read);
      },
      [&](KernelData&, NodeObject&, std::uint32_t, StatusCode result) {
        if (Failed(result)) return result;
        for (std::size_t i = 0; i < read.values.size(); ++i)
          PutHalf(kernel, 4 + 2 * i, read.values[i]);
        PutHalf(kernel, 20, canopen::RegulatorCycleRate(cycleSeconds));
        PutHalf(kernel, 22, read.response);
        PutWord(kernel, 24, canopen::RegulatorRangeLimit(coupling));
        PutWord(kernel, 28, read.range);
        return result;
      });
}

}  // namespace

AfterCommand HandleStartAdConversion(Kernel& kernel) {
  return Answer(kernel, StartConversionAndObject(kernel));
}
AfterCommand HandleGetAdValue(Kernel& kernel) { return Answer(kernel, GetValue(kernel)); }
AfterCommand HandleSetAdToDistanceFactor(Kernel& kernel) {
  return Answer(kernel, SetFactor(kernel));
}
AfterCommand HandleSetDistanceRegulatorArea(Kernel& kernel) {
  return Answer(kernel, SetArea(kernel));
}
AfterCommand HandleStartDistanceRegulator(Kernel& kernel) {
  return Answer(kernel, StartRegulator(kernel));
}
AfterCommand HandleGetDistanceRegulatorStatus(Kernel& kernel) {
  return Answer(kernel, GetStatus(kernel));
}
AfterCommand HandleGetDistanceRegulatorPar(Kernel& kernel) {
  return Answer(kernel, GetParameters(kernel));
}

StatusCode SwitchAnalogueFunctionsOffStep(Kernel& kernel, ServiceContext& context) {
  const StatusCode result = canopen::SwitchAnalogueFunctionsOff(context);
  KernelDataAndObjectListLock lock(kernel.data);
  if (!lock.held()) return result;
  const NodeConfiguration& nodes = kernel.data.nodeConfiguration;
  for (std::uint32_t k = 0; k < nodes.BoundedNodeCount(); ++k) {
    const NodeObject* node = nodes.Node(k);
    if (node != nullptr && node->can->adActive == 0) DropAnalogueObject(kernel.canObjects, k);
  }
  return result;
}

}  // namespace vantor::kernel
