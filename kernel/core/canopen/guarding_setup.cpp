#include "kernel/core/canopen/guarding_setup.h"

#include <array>

#include "kernel/core/canopen/axis_guarding.h"
#include "kernel/core/canopen/axis_services.h"
#include "kernel/core/canopen/cob_id.h"
#include "kernel/core/canopen/slot_sdo.h"
#include "kernel/core/canopen/slot_sequence.h"

namespace vantor::canopen {

using common::StatusCode;
using kernel::StatusFlag;

namespace {

namespace gr = guarding_request;

constexpr std::uint16_t kGuardTimeIndex = 0x100C;
constexpr std::uint16_t kLifeTimeFactorIndex = 0x100D;
constexpr std::int32_t kMicrosecondsPerMillisecond = 1000;

bool Failed(StatusCode result) noexcept { return result != common::kKernelSuccess; }

void ClearStartedAndHomed(NodeObject* node) noexcept {
  if (node == nullptr) return;
  node->SetFlagInBothRows(StatusFlag::A, false);
  node->SetFlagInBothRows(StatusFlag::D, false);
}

void ClearGuardingValues(NodeObject& node, std::uint32_t) noexcept {
  node.request.requestRecord->Set(gr::kGuardTime, std::uint16_t{0});
  node.request.requestRecord->Set(gr::kLifeTimeFactor, std::uint8_t{0});
}

}  // namespace

void GuardingParameterStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept {
  NodeObject* node = SteppedNode(cycle, nodeNumber);
  if (node == nullptr) return;
  RequestRecord& record = *node->request.requestRecord;
  for (;;) {
    const std::size_t item = SequenceItemOf(node->request.step);
    const bool guardTime = item == 0;
    std::array<std::uint8_t, 2> value{};
    if (StepSequenceUpload(cycle, *node, item, guardTime ? kGuardTimeIndex : kLifeTimeFactorIndex,
                           0, guardTime ? 2 : 1, value) == CheckState::Pending) {
      return;
    }
    if (Failed(node->request.requestResult)) {
      FinishNodeRequest(*node);
      return;
    }
    if (guardTime) {
      record.Set(gr::kGuardTime, static_cast<std::uint16_t>(ValueOf(value)));
      node->request.step = SequenceFrameStep(1);
      continue;
    }
    record.Set(gr::kLifeTimeFactor, value[0]);
    const bool valid = record.Get(gr::kGuardTime) != 0 && value[0] != 0;
    FinishNodeRequestWith(*node,
                          valid ? common::kKernelSuccess : common::kKernelNodeParameterInvalid);
    return;
  }
}

void UpdateGuardingEntry(CanObjectList& list, std::uint8_t nodeId, std::uint16_t guardTimeMs,
                         std::uint8_t lifeTimeFactor, std::uint32_t& guarded,
                         NodeObject* node) noexcept {
  const std::uint16_t cobId = MakeHeartbeatCobId(nodeId);
  CanObjectEntry* entry = FindCanObject(cobId, list);
  if (entry != nullptr && !entry->IsGuarding()) entry = nullptr;
  const std::int32_t period = static_cast<std::int32_t>(guardTimeMs) * kMicrosecondsPerMillisecond;
  if (guardTimeMs == 0 || lifeTimeFactor == 0) {
    if (entry != nullptr) RemoveCanObject(KeepEntry::No, cobId, list);
    ClearStartedAndHomed(node);
    guarded = 0;
    return;
  }
  if (entry != nullptr) {
    if (entry->answerTimeout != period || entry->period != period) {
      entry->answerTimeout = period;
      entry->period = period;
    }
    return;
  }
  CanObjectParameters parameters;
  parameters.direction = 0;
  parameters.guarding = 1;
  parameters.nodeId = nodeId;
  parameters.cobId = cobId;
  parameters.length = 1;
  parameters.answerTimeout = period;
  parameters.period = period;
  entry = AppendCanObject(list, parameters);
  ClearStartedAndHomed(node);
  // A full list leaves the drive unguarded rather than guarded by nothing.
  guarded = entry != nullptr ? 1 : 0;
}

StatusCode ReadGuardingParameters(ServiceContext& context) noexcept {
  const StatusCode run =
      RunOnNodes(context, context.nodes.AllNodes(), GuardingParameterStep, ClearGuardingValues);
  if (run != common::kKernelSuccess) return run;
  const StatusCode nodes = CollectNodeResults(context, false);
  // The axis reads go through the same records.
  std::array<RequestRecord, kMaxNodes> saved{};
  {
    HostLock lock(context.host);
    for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
      if (context.nodes.nodes[k] != nullptr)
        saved[k] = *context.nodes.nodes[k]->request.requestRecord;
    }
  }
  const StatusCode axes = ReadGuardingParametersOnAxes(context);
  if (axes == kernel::kCycleNotRunning) return axes;

  HostLock lock(context.host);
  CanObjectsLock listLock(context.host);
  CanObjectList& list = context.host.CanObjects();
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    NodeObject* node = context.nodes.nodes[k];
    if (node == nullptr) continue;
    *node->request.requestRecord = saved[k];
    UpdateGuardingEntry(list, node->nodeId, saved[k].Get(gr::kGuardTime),
                        saved[k].Get(gr::kLifeTimeFactor), node->guarded, node);
  }
  for (std::uint32_t a = 0; a < context.nodes.largestAxisCount && a < kMaxNodeAxes; ++a) {
    for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
      NodeObject* node = context.nodes.nodes[k];
      if (node == nullptr || !HasAxis(*node, static_cast<std::int32_t>(a))) continue;
      NodeAxis& axis = node->axes[a];
      UpdateGuardingEntry(list, static_cast<std::uint8_t>(axis.nodeId),
                          axis.requestRecord.Get(gr::kGuardTime),
                          axis.requestRecord.Get(gr::kLifeTimeFactor), axis.guarded, nullptr);
    }
  }
  return Failed(nodes) || Failed(axes) ? common::kKernelOperationFailed : common::kKernelSuccess;
}

StatusCode ReadGuardingParametersOnAxes(ServiceContext& context) noexcept {
  if (context.nodes.largestAxisCount == 0) return common::kKernelSuccess;
  AddressingKeeper keeper(context);
  StatusCode result = common::kKernelSuccess;
  for (std::uint32_t a = 0; a < context.nodes.largestAxisCount; ++a) {
    const auto axis = static_cast<std::int32_t>(a);
    const StatusCode run = RunOnNodes(
        context, context.nodes.AllNodes(), GuardingParameterStep,
        [axis](NodeObject& node, std::uint32_t k) {
          SwitchToAxis(node, axis);
          ClearGuardingValues(node, k);
        },
        1, [axis](const NodeObject& node) { return HasAxis(node, axis); });
    if (run != common::kKernelSuccess) return run;
    {
      HostLock lock(context.host);
      for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
        NodeObject* node = context.nodes.nodes[k];
        if (node == nullptr || !HasAxis(*node, axis)) continue;
        node->axes[a].requestRecord = *node->request.requestRecord;
      }
    }
    if (Failed(CollectAxisResults(context, false, axis))) result = common::kKernelOperationFailed;
  }
  return result;
}

StatusCode StartGuarding(ServiceContext& context) noexcept {
  HostLock lock(context.host);
  CanObjectsLock listLock(context.host);
  CanObjectList& list = context.host.CanObjects();
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    NodeObject* node = context.nodes.nodes[k];
    if (node == nullptr || node->guarded == 0) continue;
    CanObjectEntry* entry = FindCanObject(MakeHeartbeatCobId(node->nodeId), list);
    if (entry == nullptr || !entry->IsGuarding()) continue;
    entry->active = 1;
    entry->failures = 0;
    entry->result = common::kKernelSuccess;
    if (!(node->latched.Has(StatusFlag::A) && node->current.Has(StatusFlag::A))) {
      node->SetFlagInBothRows(StatusFlag::A, true);
      entry->data[0] = kGuardingToggleBit;
    }
  }
  return StartGuardingOnAxes(context.nodes, list);
}

}  // namespace vantor::canopen
