#include "kernel/services/cnc_initialize.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>

#include "common/cnc_init_record.h"
#include "common/kernel_object_names.h"
#include "kernel/core/driver_link_records.h"
#include "kernel/core/external_axes.h"
#include "kernel/core/kernel_status.h"
#include "kernel/core/motion_runtime.h"
#include "kernel/services/free_node_objects.h"
#include "kernel/services/path_buffer_link.h"
#include "kernel/services/path_events.h"
#include "platform/os/wait.h"

namespace vantor::kernel {

namespace {

namespace cb = common::communication_block;
namespace hw = common::can_hardware_parameters;

// The first node request result before any request ran.
constexpr common::StatusCode kNoRequestYet = common::kKernelSuccess;

bool CycleRuns(const Kernel& kernel) {
  if (kernel.driverLink == nullptr) return false;
  const os::Waitable* thread = kernel.driverLink->CycleThread();
  return thread != nullptr && os::WaitForOne(*thread, 0).kind == os::WaitKind::Timeout;
}

template <typename T>
bool Take(os::OsResult<T> made, T& into) {
  if (!made) return false;
  into = made.take();
  return true;
}

bool MakeMutex(os::Mutex& into) { return Take(os::Mutex::CreateUnnamed(false), into); }

bool MakeEvent(os::Event& into, bool signalled) {
  return Take(os::Event::CreateUnnamed(os::EventReset::Manual, signalled), into);
}

bool MakeNamedEvent(os::Event& into, common::Channel channel, common::ChannelObject object) {
  return Take(os::Event::CreateOrOpen(common::ChannelObjectName(channel, object),
                                      os::EventReset::Manual, false),
              into);
}

// The state words as a fresh configuration starts: the cycle, the bus,
// the drives, the limits and the peripheral objects in order, standing,
// not yet reset, every mode off. `cycleRunning` is set once the cycle is
// seen running at the end, `cncInitialised` last of all.
void ResetStateWords(KernelStateFlags& s) {
  for (std::uint32_t* word : {&s.syncRunning,
                              &s.velocityOutputActive,
                              &s.motionBreak,
                              &s.quickStopping,
                              &s.teachMode,
                              &s.powerOff,
                              &s.testMode,
                              &s.limitSwitchBridge,
                              &s.limitSwitchLeave,
                              &s.motionActive,
                              &s.pathMode,
                              &s.pathStarted,
                              &s.moving,
                              &s.pathActive,
                              &s.motionStop,
                              &s.motionAbort,
                              &s.resuming,
                              &s.axisLimitError,
                              &s.stopOnInputInitialised,
                              &s.stopOnInputActive,
                              &s.stopOnInputTriggered,
                              &s.handwheelInitialised,
                              &s.handwheelActive,
                              &s.handwheelOk,
                              &s.handwheelLatched,
                              &s.handwheelF1,
                              &s.handwheelF2,
                              &s.statusRefresh}) {
    *word = 0;
  }
  for (std::uint32_t* word :
       {&s.busOk, &s.drivesOk, &s.limitsOk, &s.peripheryPdoOk, &s.stopped, &s.resetPending}) {
    *word = 1;
  }
  s.reservedStateWords = {0, 1, 1};
}

bool MakeGlobalSlot(KernelData& data) {
  if (!MakeMutex(data.globalRequestMutex)) return false;
  data.globalSlot.completion = canopen::EventCompletionSignal::Create();
  if (!data.globalSlot.completion || !MakeMutex(data.resetMutex)) return false;
  canopen::GlobalRequest& request = data.globalSlot.request;
  request = {};
  request.cobId = data.globalSlot.settings.cobId;
  request.record = data.globalSlot.settings.record;
  request.completionEvent = data.globalSlot.completion.get();
  request.requestResult = kNoRequestYet;
  data.globalSlot.messageOk = {1, 1, 1, 1};
  return true;
}

bool MakeNodeConfigurationObjects(Kernel& kernel) {
  KernelData& data = kernel.data;
  NodeConfiguration& nodes = data.nodeConfiguration;
  const common::Channel channel = kernel.instance.channel;
  return MakeMutex(data.canObjectListMutex) && MakeMutex(nodes.mutex) &&
         MakeNamedEvent(nodes.homingActiveEvent, channel,
                        common::ChannelObject::HomingActiveEvent) &&
         MakeNamedEvent(nodes.homingBreakEvent, channel, common::ChannelObject::HomingBreakEvent) &&
         MakeEvent(nodes.motionDoneEvent, true) && MakeEvent(nodes.stopDoneEvent, true);
}

bool MakeNode(NodeConfiguration& nodes, std::uint32_t index, const NodeSettings& settings) {
  NodeObject& node = nodes.records[index];
  node.settings = settings;
  node.slave = {};
  node.motion = {};
  if (!MakeMutex(node.accessMutex)) return false;
  node.completion = canopen::EventCompletionSignal::Create();
  if (!node.completion || !MakeMutex(node.requestMutex)) return false;
  canopen::NodeSetup setup = settings.setup;
  setup.completionEvent = node.completion.get();
  canopen::NodeObject* layer = nodes.Place(index, setup);
  if (layer == nullptr) return false;
  // Every status row starts at zero, so the first reset resets and starts
  // every node.
  layer->request.requestResult = kNoRequestYet;
  layer->request.lastResult = kNoRequestYet;
  for (std::uint32_t k = 0; k < layer->axisCount; ++k) {
    layer->axes[k].axisResult = kNoRequestYet;
  }
  return true;
}

void SetUpCanObjectList(Kernel& kernel) {
  const KernelData& data = kernel.data;
  canopen::CanObjectList& list = kernel.canObjects;
  canopen::ResetCanObjectList(list);
  for (std::uint32_t i = 0; i < data.nodeConfiguration.BoundedNodeCount(); ++i) {
    const canopen::NodeObject& node = *data.nodeConfiguration.records[i].can;
    list.freeRecords[node.sendRecord] = 0;
    list.freeRecords[node.answerRecord] = 0;
  }
  list.freeRecords[data.globalSlot.settings.record] = 0;
}

CncConfiguration CollectConfiguration(const KernelData& data) {
  CncConfiguration saved;
  saved.motion = data.motion;
  saved.coordinateCount = data.coordinateCount;
  for (std::size_t i = 0; i < data.coordinates.size(); ++i) {
    saved.coordinates[i] = data.coordinates[i].settings;
  }
  const NodeConfiguration& nodes = data.nodeConfiguration;
  saved.interpolatedNodeCount = static_cast<std::int32_t>(nodes.interpolatedNodeCount);
  saved.nodeCount = static_cast<std::int32_t>(nodes.table.nodeCount);
  saved.largestSlaveAxisCount = nodes.table.largestAxisCount;
  for (std::size_t i = 0; i < nodes.records.size(); ++i) saved.nodes[i] = nodes.records[i].settings;
  saved.handlingAxisCount = data.handlingAxisCount;
  saved.handlingAxes = data.handlingAxes;
  saved.globalSlot = data.globalSlot.settings;
  saved.handwheel = data.handwheel;
  saved.drive = data.driveWorkingValues;
  return saved;
}

common::StatusCode Fail(Kernel& kernel, common::StatusCode result) {
  FreeNodeObjects(kernel);
  return result;
}

common::StatusCode Initialize(Kernel& kernel) {
  KernelData& data = kernel.data;
  if (kernel.instance.channel == common::Channel::NoCan) return common::kKernelCanOperationInactive;
  // A second initialisation is refused with the same code as a missing one.
  if (data.state.IsCncInitialised()) return common::kKernelCncNotInitialized;
  // A stopped cycle is answered before anything divides by its time.
  const std::uint32_t interruptCycle = kernel.settings.hardware.Get(hw::kInterruptCycle);
  if (interruptCycle == 0 || !CycleRuns(kernel)) return kCycleNotRunning;
  const std::uint32_t cycleMicroseconds = DriverCycleMicroseconds(interruptCycle);

  // The record is read from a private copy, so that what was checked is
  // what is built even while the application writes the block.
  std::array<std::uint8_t, common::kMaxCncInitPayloadSize> record{};
  std::memcpy(record.data(), kernel.link.communicationMapping.data() + cb::kPayloadOffset,
              record.size());
  const ChannelFacts channel{
      .cycleMicroseconds = cycleMicroseconds,
      .bitRateCode = kernel.settings.hardware.Get(hw::kBaudRateForCan),
      .lookAheadEntries = kernel.settings.hardware.Get(hw::kLookAheadDesPosiMaxNo)};
  const CncConfigurationResult read = ReadCncConfiguration(record, channel);
  if (read.result != common::kKernelSuccess) return read.result;
  const CncConfiguration& c = read.configuration;

  if (!MakeMutex(data.motionMutex) || !OpenPathBuffer(kernel)) {
    return Fail(kernel, common::kKernelOutOfResources);
  }
  data.motion = c.motion;
  ResetStateWords(data.state);
  data.coordinateCount = c.coordinateCount;
  for (std::size_t i = 0; i < data.coordinates.size(); ++i) {
    data.coordinates[i] = {};
    data.coordinates[i].settings = c.coordinates[i];
  }

  data.globalSlot.settings = c.globalSlot;
  if (!MakeGlobalSlot(data) || !MakeNodeConfigurationObjects(kernel)) {
    return Fail(kernel, common::kKernelOutOfResources);
  }

  NodeConfiguration& nodes = data.nodeConfiguration;
  nodes.interpolatedNodeCount = static_cast<std::uint32_t>(c.interpolatedNodeCount);
  nodes.table.nodeCount = static_cast<std::uint32_t>(c.nodeCount);
  for (std::uint32_t i = 0; i < nodes.table.nodeCount; ++i) {
    if (!MakeNode(nodes, i, c.nodes[i])) return Fail(kernel, common::kKernelOutOfResources);
  }
  nodes.table.UpdateLargestAxisCount();
  nodes.table.timeStamp = {};
  nodes.table.timeStamp.objectIndex = c.globalSlot.templateWord;
  nodes.table.timeStamp.objectSubindex = c.globalSlot.templateByte;
  nodes.driveErrorsRead = 0;
  nodes.slaveDriveErrorsRead = 0;
  nodes.slaveInputsRead = 0;

  data.handlingAxisCount = c.handlingAxisCount;
  data.handlingAxes = c.handlingAxes;
  // A new configuration knows no descriptions yet.
  data.externalAxes = {};
  ConfigureExternalAxes(c.handlingAxes, c.handlingAxisCount, data.externalAxes);
  data.handwheel = c.handwheel;
  data.driveWorkingValues = c.drive;
  data.driveWorkingValues.cycleDivider =
      static_cast<std::uint32_t>(std::max<std::int16_t>(1, TicksForMicroseconds(interruptCycle)));
  data.state.syncRunning = 0;

  if (!CycleRuns(kernel)) return Fail(kernel, kCycleNotRunning);
  data.state.cycleRunning = 1;
  data.savedConfiguration = CollectConfiguration(data);
  // The drives' limits come with the first reset.
  data.planning = {};
  SetUpMotionRuntime(data);
  data.motionRuntime.setPathEvent = SetKernelPathEvent;
  SetUpCanObjectList(kernel);
  data.state.SetCncInitialised(true);
  return common::kKernelSuccess;
}

}  // namespace

AfterCommand HandleCncInitialize(Kernel& kernel) {
  kernel.Block().Set(cb::kResult, Initialize(kernel));
  return AfterCommand::KeepServing;
}

}  // namespace vantor::kernel
