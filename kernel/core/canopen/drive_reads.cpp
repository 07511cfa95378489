#include "kernel/core/canopen/drive_reads.h"

#include <algorithm>
#include <array>

#include "kernel/core/canopen/message_slots.h"
#include "kernel/core/canopen/slot_sdo.h"

namespace vantor::canopen {

namespace {

constexpr std::int32_t kFrameStep = 1;
constexpr std::int32_t kCheckStep = 2;

constexpr std::uint16_t kErrorFieldIndex = 0x1003;
constexpr std::uint8_t kNewestErrorSubindex = 1;
constexpr std::uint16_t kDigitalInputsIndex = 0x60FD;

struct DriveErrorRow {
  std::uint16_t code;
  DriveError error;
};

// Sorted by code for the search below.
constexpr std::array<DriveErrorRow, 33> kDriveErrors = {{
    {0x0000, {0}},
    {0x2320, {13}},
    {0x2330, {39}},
    {0x3100, {32}},
    {0x3110, {37}},
    {0x4210, {14}},
    {0x4220, {15}},
    {0x5010, {16}},
    {0x5114, {33}},
    {0x5441, {24}},
    {0x5442, {25}},
    {0x5444, {26}},
    {0x5530, {34}},
    {0x6010, {31}},
    {0x6100, {12}},
    {0x6101, {35}},
    {0x6102, {43}},
    {0x6103, {44, true, true}},
    {0x6104, {33}},
    {0x6105, {43}},
    {0x7305, {17}},
    {0x7306, {18}},
    {0x7307, {19, false, true}},
    {0x7308, {22}},
    {0x7309, {28}},
    {0x730A, {29}},
    {0x730B, {41}},
    {0x730C, {42, true, true}},
    {0x7400, {38}},
    {0x8100, {21}},
    {0x8120, {23}},
    {0x9010, {27}},
    {0xFF10, {36}},
}};
static_assert(std::is_sorted(kDriveErrors.begin(), kDriveErrors.end(),
                             [](const DriveErrorRow& a, const DriveErrorRow& b) {
                               return a.code < b.code;
                             }));

void WriteDriveError(NodeObject& node, const DriveError& error) noexcept {
  node.latched.driveErrorNumber = error.number;
  node.current.driveErrorNumber = error.number;
  if (error.clearsHomed) node.SetFlagInBothRows(kernel::StatusFlag::D, false);
  if (error.clearsStartWord) {
    node.latched.startWord = 0;
    node.current.startWord = 0;
  }
}

// Frames the upload at step 1; later steps hand back the finished check.
CheckState StepUpload(CycleContext& cycle, NodeObject& node, std::uint16_t index,
                      std::uint8_t subindex, std::uint8_t size, std::span<std::uint8_t> into) {
  if (node.request.step == kFrameStep) {
    if (!FrameSlotUpload(cycle, node, index, subindex)) {
      node.request.requestResult = common::kKernelCanMessageInvalid;
      return CheckState::Done;
    }
    node.request.step = kCheckStep;
    return CheckState::Pending;
  }
  return AwaitSlotUpload(cycle, node, index, subindex, size, into);
}

}  // namespace

DriveError DriveErrorFor(std::uint16_t emergencyCode) noexcept {
  const auto row =
      std::lower_bound(kDriveErrors.begin(), kDriveErrors.end(), emergencyCode,
                       [](const DriveErrorRow& r, std::uint16_t code) { return r.code < code; });
  if (row == kDriveErrors.end() || row->code != emergencyCode) return {kUnknownDriveError};
  return row->error;
}

void DriveErrorStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept {
  NodeObject* node = SteppedNode(cycle, nodeNumber);
  if (node == nullptr) return;
  std::array<std::uint8_t, 4> value{};
  if (StepUpload(cycle, *node, kErrorFieldIndex, kNewestErrorSubindex, 4, value) !=
      CheckState::Done) {
    return;
  }
  if (node->request.requestResult == common::kKernelSuccess) {
    WriteDriveError(*node, DriveErrorFor(static_cast<std::uint16_t>(ValueOf(value))));
  } else {
    WriteDriveError(*node, {kDriveErrorReadFailed});
  }
  FinishNodeRequest(*node);
}

void ReadDigitalInputsStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept {
  NodeObject* node = SteppedNode(cycle, nodeNumber);
  if (node == nullptr) return;
  std::array<std::uint8_t, 1> inputs{};
  if (StepUpload(cycle, *node, kDigitalInputsIndex, 0, 1, inputs) != CheckState::Done) return;
  namespace di = digital_inputs_request;
  RequestRecord& record = *node->request.requestRecord;
  const bool valid = node->request.requestResult == common::kKernelSuccess;
  record.Set(di::kValid, valid ? 1u : 0u);
  record.Set(di::kInputs, valid ? inputs[0] : std::uint8_t{0});
  FinishNodeRequest(*node);
}

void NodeRecordStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept {
  NodeObject* node = SteppedNode(cycle, nodeNumber);
  if (node == nullptr) return;
  namespace mode = node_record_mode;
  const std::int32_t requested = node->request.step;
  if (requested != mode::kArm && requested != mode::kClear && requested != mode::kArmLate) {
    FinishNodeRequestWith(*node, common::kKernelCanMessageInvalid);
    return;
  }
  ClearRecord(cycle.exchange, node->sendRecord);
  ClearRecord(cycle.exchange, node->answerRecord);
  bool armed = true;
  if (requested != mode::kClear) {
    // The answer record takes the feedback PDO every cycle, not once.
    const auto answer = RecordOf(cycle.exchange, node->answerRecord);
    armed = answer.has_value();
    if (armed) {
      const auto code = requested == mode::kArm ? common::MessageCode::StartAnswerObject
                                                : common::MessageCode::StartAnswerObjectLate;
      WriteRecord(*answer, code, 0, CanFrame{node->feedbackTpdoCobId, 0, {}});
    }
  }
  node->cyclicExchange = requested == mode::kClear ? 0 : 1;
  if (requested != mode::kArmLate) {
    cycle.exchange.Set(common::exchange_buffer::kRingControl, std::uint8_t{0});
  }
  FinishNodeRequestWith(*node, armed ? common::kKernelSuccess : common::kKernelCanMessageInvalid);
}

common::StatusCode ReadDriveErrors(ServiceContext& context) noexcept {
  return RunOnNodes(context, context.nodes.AllNodes(), DriveErrorStep, [](NodeObject&, auto) {});
}

common::StatusCode ArmAllNodeRecords(ServiceContext& context, RecordArming arming,
                                     bool collect) noexcept {
  const std::int32_t mode =
      arming == RecordArming::Arm ? node_record_mode::kArm : node_record_mode::kClear;
  const common::StatusCode run = RunOnNodes(
      context, context.nodes.AllNodes(), NodeRecordStep, [](NodeObject&, auto) {}, mode);
  if (run != common::kKernelSuccess) return run;
  return collect ? CollectNodeResults(context, false) : common::kKernelSuccess;
}

common::StatusCode ArmNodeRecordsMasked(ServiceContext& context, bool collect,
                                        NodeMask mask) noexcept {
  mask &= context.nodes.AllNodes();
  const common::StatusCode run = RunOnNodes(
      context, mask, NodeRecordStep, [](NodeObject&, auto) {}, node_record_mode::kArmLate);
  if (run != common::kKernelSuccess) return run;
  return collect ? CollectMaskedResults(context, false, mask, -1) : common::kKernelSuccess;
}

common::StatusCode ArmNodeRecord(ServiceContext& context, bool collect,
                                 std::uint32_t nodeIndex) noexcept {
  if (nodeIndex >= context.nodes.Count() || context.nodes.nodes[nodeIndex] == nullptr) {
    return common::kKernelOperationFailed;
  }
  return ArmNodeRecordsMasked(context, collect, NodeMask{1} << nodeIndex);
}

}  // namespace vantor::canopen
