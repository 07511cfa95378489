#include "kernel/core/canopen/node_object.h"

#include <cmath>
#include <limits>

namespace vantor::canopen {

std::int32_t CountdownReloadFor(double answerTimeoutMicroseconds,
                                std::uint32_t cycleMicroseconds) noexcept {
  if (cycleMicroseconds == 0 || !std::isfinite(answerTimeoutMicroseconds)) return 1;
  const double cycles = std::trunc(std::fabs(answerTimeoutMicroseconds) / cycleMicroseconds);
  // An absurd time-out from the record is held at the longest countdown the
  // slot can count rather than wrapping into a negative one.
  constexpr double kLongest = std::numeric_limits<std::int32_t>::max() - 1;
  return static_cast<std::int32_t>(cycles < kLongest ? cycles : kLongest) + 1;
}

NodeObject::NodeObject(const NodeSetup& setup) noexcept
    : handlingAxis(setup.handlingAxis),
      handlingMode(setup.handlingMode),
      axisCount(setup.axisCount < kMaxNodeAxes ? setup.axisCount
                                               : static_cast<std::uint32_t>(kMaxNodeAxes)),
      nodeId(setup.nodeId),
      sendRecord(setup.sendRecord),
      answerRecord(setup.answerRecord),
      countdownReload(CountdownReloadFor(setup.answerTimeoutMicroseconds, setup.cycleMicroseconds)),
      controlRpdo(setup.controlRpdo),
      motionRpdo(setup.motionRpdo),
      controlRpdoCobId(MakeRpdoCobId(setup.controlRpdo, setup.nodeId)),
      setpointRpdoCobId(MakeRpdoCobId(setup.motionRpdo, setup.nodeId)),
      feedbackTpdoCobId(MakeTpdoCobId(1, setup.nodeId)),
      timeStampSource(setup.timeStampSource),
      sdoRequestCobId(MakeSdoRequestCobId(setup.nodeId)),
      sdoResponseCobId(MakeSdoResponseCobId(setup.nodeId)),
      startUpMode(setup.startUpMode) {
  const double bootMs = std::trunc(setup.bootTimeMicroseconds / 1000.0);
  bootTimeMs = std::isfinite(bootMs) && std::fabs(bootMs) < std::numeric_limits<std::int32_t>::max()
                   ? static_cast<std::int32_t>(bootMs)
                   : 0;
  for (std::uint32_t i = 0; i < axisCount; ++i) {
    NodeAxis& axis = axes[i];
    axis.nodeId = setup.axisNodeIds[i];
    axis.sdoRequestCobId = MakeSdoRequestCobId(axis.nodeId);
    axis.sdoResponseCobId = MakeSdoResponseCobId(axis.nodeId);
  }
  request.completionEvent = setup.completionEvent;
  request.requestRecord = &requestRecord;
}

NodeObject* NodeTable::ByAnswerRecord(std::uint32_t record) const noexcept {
  for (std::uint32_t i = 0; i < Count(); ++i) {
    if (nodes[i] != nullptr && nodes[i]->answerRecord == record) return nodes[i];
  }
  return nullptr;
}

void NodeTable::UpdateLargestAxisCount() noexcept {
  largestAxisCount = 0;
  for (std::uint32_t i = 0; i < Count(); ++i) {
    if (nodes[i] != nullptr && nodes[i]->axisCount > largestAxisCount) {
      largestAxisCount = nodes[i]->axisCount;
    }
  }
}

NodeObject* SteppedNode(CycleContext& cycle, std::uint32_t nodeNumber) noexcept {
  NodeObject* node = cycle.nodes.ByNumber(nodeNumber);
  if (node == nullptr || node->request.requestRecord == nullptr) return nullptr;
  return node;
}

void FinishNodeRequest(NodeObject& node) noexcept {
  node.request.step = 0;
  node.request.stepFunction = nullptr;
  if (node.request.completionEvent != nullptr) node.request.completionEvent->Set();
}

void FinishNodeRequestWith(NodeObject& node, common::StatusCode result) noexcept {
  node.request.requestResult = result;
  FinishNodeRequest(node);
}

void FrameOrFinish(NodeObject& node, bool framed, std::int32_t nextStep) noexcept {
  if (!framed) {
    FinishNodeRequestWith(node, common::kKernelCanMessageInvalid);
    return;
  }
  node.request.step = nextStep;
}

void ArmNodeRequest(NodeObject& node, NodeStepFunction step, std::int32_t startStep) noexcept {
  if (node.request.completionEvent != nullptr) node.request.completionEvent->Reset();
  node.request.stepFunction = step;
  node.request.step = startStep;
  node.stopFlag = 0;
}

void RunNodeSteps(CycleContext& cycle) noexcept {
  for (std::uint32_t i = 0; i < cycle.nodes.Count(); ++i) {
    NodeObject* node = cycle.nodes.nodes[i];
    if (node != nullptr && node->request.stepFunction != nullptr) {
      node->request.stepFunction(cycle, i + 1);
    }
  }
}

void CompletePendingRequests(NodeTable& nodes, GlobalRequest* global) noexcept {
  for (std::uint32_t i = 0; i < nodes.Count(); ++i) {
    NodeObject* node = nodes.nodes[i];
    if (node == nullptr || node->request.stepFunction == nullptr) continue;
    FinishNodeRequestWith(*node, common::kKernelSuccess);
  }
  if (global != nullptr && global->stepFunction != nullptr) {
    global->stepFunction = nullptr;
    global->step = 0;
    global->requestResult = common::kKernelSuccess;
    if (global->completionEvent != nullptr) global->completionEvent->Set();
  }
}

}  // namespace vantor::canopen
