#include "kernel/core/canopen/module_identification.h"

#include <algorithm>
#include <array>
#include <memory>
#include <new>

#include "kernel/core/canopen/axis_services.h"
#include "kernel/core/canopen/canopen_constants.h"
#include "kernel/core/canopen/message_slots.h"
#include "kernel/core/canopen/module_type.h"
#include "kernel/core/canopen/slot_sdo.h"

namespace vantor::canopen {

using common::StatusCode;

namespace {

namespace ir = identify_request;

constexpr std::uint16_t kSoftwareVersionIndex = 0x100A;
constexpr std::uint16_t kPowerStageIndex = object::kDriveOptions;
constexpr std::uint8_t kPowerStageSubindex = 10;
constexpr const char* kDualDriveMark = "ZEB22/ZEB44";

enum Step : std::int32_t {
  kFrameInitiate = 1,
  kCheckInitiate = 2,
  kCheckSegment = 3,
  kAwaitAbort = 4,
  kCheckPowerStage = 5,
};

bool Failed(StatusCode result) noexcept { return result != common::kKernelSuccess; }

std::span<std::uint8_t> TextBytes(RequestRecord& record) noexcept {
  return record.MutableBytes().subspan(ir::kText.kOffset, ir::kText.kLength);
}

std::span<char> TextChars(RequestRecord& record) noexcept {
  const std::span<std::uint8_t> bytes = TextBytes(record);
  return {reinterpret_cast<char*>(bytes.data()), bytes.size()};
}

void Terminate(RequestRecord& record, std::size_t length) noexcept {
  TextBytes(record)[std::min(length, ir::kMaxAnswer)] = 0;
}

void Describe(NodeObject& node, std::uint32_t variant) noexcept {
  DescribeModuleType(variant, TextChars(*node.request.requestRecord));
  FinishNodeRequestWith(node, common::kKernelSuccess);
}

// The text is complete: a dual drive is asked which stage it is first.
void Classify(CycleContext& cycle, NodeObject& node) noexcept {
  RequestRecord& record = *node.request.requestRecord;
  const std::span<const char> text = TextChars(record);
  const std::string_view view(
      text.data(),
      static_cast<std::size_t>(std::find(text.begin(), text.end(), '\0') - text.begin()));
  if (view.find(kDualDriveMark) == view.npos) {
    Describe(node, 0);
    return;
  }
  if (!FrameSlotUpload(cycle, node, kPowerStageIndex, kPowerStageSubindex)) {
    FinishNodeRequestWith(node, common::kKernelCanMessageInvalid);
    return;
  }
  node.request.step = kCheckPowerStage;
}

// Received this far with `remaining` still to come: the answer is cut at
// its limit and the server told that the transfer ends.
void CutAndAbort(CycleContext& cycle, NodeObject& node, std::size_t received) noexcept {
  Terminate(*node.request.requestRecord, received);
  ReleaseRecord(cycle.exchange, node.answerRecord);
  node.request.countdown = node.countdownReload;
  if (!SendSdoAbort(cycle.exchange, kSoftwareVersionIndex, 0, node.sdoRequestCobId,
                    node.sendRecord)) {
    FinishNodeRequestWith(node, common::kKernelCanMessageInvalid);
    return;
  }
  node.request.step = kAwaitAbort;
}

bool RequestSegment(CycleContext& cycle, NodeObject& node, bool toggle) noexcept {
  node.request.countdown = node.countdownReload;
  if (BuildSdoSegmentRequest(cycle.exchange, toggle, RouteOf(node))) return true;
  FinishNodeRequestWith(node, common::kKernelCanMessageInvalid);
  return false;
}

void CheckInitiate(CycleContext& cycle, NodeObject& node) noexcept {
  RequestRecord& record = *node.request.requestRecord;
  std::array<std::uint8_t, 4> first{};
  InitiateAnswer answer;
  const SdoExpectation expected{false, kSoftwareVersionIndex, 0, node.answerRecord, 0};
  if (CheckSdoInitiateResponse(cycle.exchange, expected, answer, node.request.countdown,
                               node.request.requestResult, first) == CheckState::Pending) {
    return;
  }
  if (Failed(node.request.requestResult)) {
    FinishNodeRequest(node);
    return;
  }
  if (answer.expedited) {
    const std::size_t count = std::min<std::size_t>(answer.byteCount, first.size());
    std::copy_n(first.begin(), count, TextBytes(record).begin());
    Terminate(record, count);
    Classify(cycle, node);
    return;
  }
  record.Set(ir::kRemaining, ValueOf(first));
  record.Set(ir::kReceived, 0u);
  record.Set(ir::kToggle, 0u);
  if (record.Get(ir::kRemaining) == 0) {
    Terminate(record, 0);
    Classify(cycle, node);
    return;
  }
  if (RequestSegment(cycle, node, false)) node.request.step = kCheckSegment;
}

void CheckSegment(CycleContext& cycle, NodeObject& node) noexcept {
  RequestRecord& record = *node.request.requestRecord;
  const bool toggle = record.Get(ir::kToggle) != 0;
  std::uint32_t remaining = record.Get(ir::kRemaining);
  std::uint32_t received = record.Get(ir::kReceived);
  // The text field less its terminator: a segment never writes beyond it.
  const std::span<std::uint8_t> text = TextBytes(record).first(ir::kMaxAnswer);
  SegmentAnswer answer;
  const SegmentState state = CheckSdoSegmentResponse(
      cycle.exchange, toggle, remaining, node.answerRecord, node.request.countdown,
      node.request.requestResult, answer, text, received);
  if (state == SegmentState::Pending) return;
  if (state == SegmentState::WouldOverflow) {
    // A short segment earlier left less room than a full one needs.
    CutAndAbort(cycle, node, received);
    return;
  }
  if (Failed(node.request.requestResult)) {
    FinishNodeRequest(node);
    return;
  }
  received += answer.count;
  remaining -= std::min<std::uint32_t>(answer.count, remaining);
  const bool more = remaining > 0 && !answer.last;
  record.Set(ir::kReceived, received);
  record.Set(ir::kRemaining, remaining);
  if (received >= ir::kMaxAnswer) {
    if (more) {
      CutAndAbort(cycle, node, ir::kMaxAnswer);
    } else {
      Terminate(record, ir::kMaxAnswer);
      Classify(cycle, node);
    }
    return;
  }
  if (!more) {
    Terminate(record, received);
    Classify(cycle, node);
    return;
  }
  record.Set(ir::kToggle, toggle ? 0u : 1u);
  RequestSegment(cycle, node, !toggle);
}

void AwaitAbort(CycleContext& cycle, NodeObject& node) noexcept {
  StatusCode sent = common::kKernelSuccess;
  if (CheckFrameSent(cycle.exchange, node.sendRecord, node.request.countdown, sent) ==
      CheckState::Pending) {
    return;
  }
  Classify(cycle, node);
}

void CheckPowerStage(CycleContext& cycle, NodeObject& node) noexcept {
  std::array<std::uint8_t, 1> stage{};
  if (AwaitSlotUpload(cycle, node, kPowerStageIndex, kPowerStageSubindex, 1, stage) ==
      CheckState::Pending) {
    return;
  }
  if (Failed(node.request.requestResult)) {
    FinishNodeRequest(node);
    return;
  }
  Describe(node, stage[0]);
}

// Arms the identification on the chosen nodes (the slot already points at
// the drive) and waits.
template <typename Filter>
StatusCode RunIdentification(ServiceContext& context, NodeMask mask, std::int32_t axis,
                             Filter takesPart) noexcept {
  return RunOnNodes(
      context, mask, IdentifyModuleStep,
      [axis](NodeObject& node, std::uint32_t) {
        SwitchToAxis(node, axis);
        node.request.requestRecord->MutableBytes()[ir::kText.kOffset] = 0;
      },
      kFrameInitiate, takesPart);
}

// Without a configured node the external axes are asked through a slot
// of their own in node 1's place, on message records 1 and 2, which no
// node holds then; it leaves the table when the axes are done.
class StandInSlot {
 public:
  explicit StandInSlot(ServiceContext& context) noexcept : context_(context) {}
  StandInSlot(const StandInSlot&) = delete;
  StandInSlot& operator=(const StandInSlot&) = delete;
  ~StandInSlot() {
    if (!node_) return;
    HostLock lock(context_.host);
    context_.nodes.nodes[0] = nullptr;
    context_.nodes.nodeCount = 0;
  }

  // The slot in node 1's place, or null when the table holds nodes or no
  // signal or memory can be had.
  NodeObject* Place() noexcept {
    if (context_.nodes.Count() != 0) return nullptr;
    NodeSetup setup;
    setup.sendRecord = 1;
    setup.answerRecord = 2;
    setup.completionEvent = context_.host.SpareCompletionSignal();
    if (setup.completionEvent == nullptr) return nullptr;
    node_.reset(new (std::nothrow) NodeObject(setup));
    if (!node_) return nullptr;
    HostLock lock(context_.host);
    context_.nodes.nodes[0] = node_.get();
    context_.nodes.nodeCount = 1;
    return node_.get();
  }

 private:
  ServiceContext& context_;
  std::unique_ptr<NodeObject> node_;
};

}  // namespace

void IdentifyModuleStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept {
  NodeObject* node = SteppedNode(cycle, nodeNumber);
  if (node == nullptr) return;
  switch (node->request.step) {
    case kFrameInitiate:
      if (!FrameSlotUpload(cycle, *node, kSoftwareVersionIndex, 0)) {
        FinishNodeRequestWith(*node, common::kKernelCanMessageInvalid);
        return;
      }
      node->request.step = kCheckInitiate;
      return;
    case kCheckInitiate:
      CheckInitiate(cycle, *node);
      return;
    case kCheckSegment:
      CheckSegment(cycle, *node);
      return;
    case kAwaitAbort:
      AwaitAbort(cycle, *node);
      return;
    case kCheckPowerStage:
      CheckPowerStage(cycle, *node);
      return;
    default:
      FinishNodeRequestWith(*node, common::kKernelCanMessageInvalid);
      return;
  }
}

void CopyDescription(const RequestRecord& record, ModuleDescription& into) noexcept {
  const auto text = record.Bytes().subspan(ir::kText.kOffset, ir::kText.kLength);
  const std::size_t length = std::min<std::size_t>(
      static_cast<std::size_t>(std::find(text.begin(), text.end(), 0) - text.begin()),
      kMaxModuleDescription);
  into.fill('\0');
  std::copy_n(text.begin(), length, into.begin());
}

StatusCode IdentifyModules(ServiceContext& context, std::span<ExternalAxis> externalAxes) noexcept {
  {
    HostLock lock(context.host);
    if (!context.host.IsResetPending()) return common::kKernelSuccess;
  }
  const StatusCode run = RunIdentification(context, context.nodes.AllNodes(), -1, EveryNode{});
  if (run != common::kKernelSuccess) return run;
  {
    HostLock lock(context.host);
    for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
      NodeObject* node = context.nodes.nodes[k];
      if (node == nullptr || Failed(node->request.requestResult)) continue;
      CopyDescription(*node->request.requestRecord, node->description);
    }
  }
  const StatusCode nodes = CollectNodeResults(context, false);
  const StatusCode axes = IdentifyModulesOnAxes(context);
  if (axes == kernel::kCycleNotRunning) return axes;
  {
    HostLock lock(context.host);
    for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
      NodeObject* node = context.nodes.nodes[k];
      if (node != nullptr) node->reference.description = node->description;
    }
  }
  if (Failed(nodes) || Failed(axes)) return common::kKernelOperationFailed;
  return IdentifyExternalAxes(context, externalAxes);
}

StatusCode IdentifyModulesOnAxes(ServiceContext& context) noexcept {
  if (context.nodes.largestAxisCount == 0) return common::kKernelSuccess;
  AddressingKeeper keeper(context);
  StatusCode result = common::kKernelSuccess;
  for (std::uint32_t a = 0; a < context.nodes.largestAxisCount; ++a) {
    const auto axis = static_cast<std::int32_t>(a);
    const StatusCode run =
        RunIdentification(context, context.nodes.AllNodes(), axis,
                          [axis](const NodeObject& node) { return HasAxis(node, axis); });
    if (run != common::kKernelSuccess) return run;
    {
      HostLock lock(context.host);
      for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
        NodeObject* node = context.nodes.nodes[k];
        if (node == nullptr || !HasAxis(*node, axis) || Failed(node->request.requestResult)) {
          continue;
        }
        CopyDescription(*node->request.requestRecord, node->axes[a].description);
      }
    }
    if (Failed(CollectAxisResults(context, false, axis))) result = common::kKernelOperationFailed;
  }
  return result;
}

StatusCode IdentifyExternalAxes(ServiceContext& context,
                                std::span<ExternalAxis> externalAxes) noexcept {
  StatusCode result = common::kKernelSuccess;
  const bool anyActive = std::any_of(externalAxes.begin(), externalAxes.end(),
                                     [](const ExternalAxis& e) { return e.active != 0; });
  StandInSlot standIn(context);
  NodeObject* lender = context.nodes.ByNumber(1);
  if (anyActive && lender == nullptr) lender = standIn.Place();
  if (anyActive && lender == nullptr) return common::kKernelOutOfResources;

  struct Saved {
    std::uint16_t requestCobId = 0;
    std::uint16_t responseCobId = 0;
    std::int32_t countdownReload = 1;
    StatusCode lastResult = common::kKernelSuccess;
    RequestRecord record{};
  } saved;
  if (lender != nullptr) {
    HostLock lock(context.host);
    saved = {lender->sdoRequestCobId, lender->sdoResponseCobId, lender->countdownReload,
             lender->request.lastResult, *lender->request.requestRecord};
  }
  for (ExternalAxis& entry : externalAxes) {
    if (entry.active == 0) {
      entry.description.fill('\0');
      std::copy_n(kUnknownAmplifier, std::char_traits<char>::length(kUnknownAmplifier),
                  entry.description.begin());
      continue;
    }
    {
      HostLock lock(context.host);
      lender->sdoRequestCobId = entry.sdoRequestCobId;
      lender->sdoResponseCobId = entry.sdoResponseCobId;
      lender->countdownReload = entry.countdownReload;
    }
    const StatusCode run = RunIdentification(context, NodeMask{1}, -1, EveryNode{});
    if (run != common::kKernelSuccess) {
      result = run;
      break;
    }
    HostLock lock(context.host);
    if (Failed(lender->request.requestResult)) {
      result = common::kKernelExternalHandlingAxisError;
    } else {
      CopyDescription(*lender->request.requestRecord, entry.description);
    }
  }
  if (lender != nullptr) {
    HostLock lock(context.host);
    lender->sdoRequestCobId = saved.requestCobId;
    lender->sdoResponseCobId = saved.responseCobId;
    lender->countdownReload = saved.countdownReload;
    lender->request.lastResult = saved.lastResult;
    *lender->request.requestRecord = saved.record;
  }
  return result;
}

}  // namespace vantor::canopen
