#include "kernel/core/canopen/gantry_homing_check.h"

#include "kernel/core/canopen/axis_services.h"
#include "kernel/core/canopen/canopen_constants.h"
#include "kernel/core/canopen/masked_axis_sdo.h"

namespace vantor::canopen {

using common::StatusCode;

namespace {

constexpr std::uint8_t kOneByte = 1;

bool Failed(StatusCode result) noexcept { return result != common::kKernelSuccess; }

}  // namespace

StatusCode GantryHomingCheck::Run() noexcept {
  const StatusCode found = FindCheckedNodes();
  if (Failed(found)) return found;
  pending_.fill(common::kKernelSuccess);
  waitMark_.fill(1);
  const StatusCode pdoHoming =
      ReadAndJudge(object::kDriveOptions, object::kGantryPdoHomingSubindex, Rule::PdoHoming);
  if (Failed(pdoHoming)) return pdoHoming;
  const StatusCode homingMode =
      ReadAndJudge(object::kDriveOptions, object::kGantryHomingModeSubindex, Rule::HomingMode);
  if (Failed(homingMode)) return homingMode;
  const StatusCode waitReport =
      ReadAndJudge(object::kAxisChain, axis_chain::kGantryWaitReport, Rule::WaitReport);
  if (Failed(waitReport)) return waitReport;
  const StatusCode waiting = RequireWaitingDrive();
  if (Failed(waiting)) return waiting;
  StoreFlags();
  return common::kKernelSuccess;
}

StatusCode GantryHomingCheck::FindCheckedNodes() noexcept {
  for (std::uint32_t k = 0; k < context_.nodes.Count(); ++k) {
    if (context_.nodes.nodes[k] == nullptr) continue;
    bool exists = false;
    bool allAgree = true;
    const StatusCode read =
        CheckObjectOnNodeAxes(context_, k, object::kDriveOptions, object::kGantryPdoHomingSubindex,
                              kOneByte, exists, allAgree);
    if (Failed(read)) return read;
    // The axes' results tell which drive differs from its node.
    if (!allAgree) return common::kKernelOperationFailed;
    if (exists) checked_ |= NodeMask{1} << k;
  }
  return common::kKernelSuccess;
}

StatusCode GantryHomingCheck::ReadAndJudge(std::uint16_t index, std::uint8_t subindex,
                                           Rule rule) noexcept {
  bool broken = false;
  for (std::int32_t axis = -1; axis < static_cast<std::int32_t>(context_.nodes.largestAxisCount);
       ++axis) {
    NodeMask mask = checked_;
    SdoRecords records;
    records[0] = MakeSdoRecord(index, subindex, kOneByte);
    const StatusCode read = SdoUploadFromMaskedAxis(context_, true, axis, mask, records);
    if (Failed(read)) return read;
    HostLock lock(context_.host);
    for (std::uint32_t k = 0; k < context_.nodes.Count(); ++k) {
      NodeObject* node = context_.nodes.nodes[k];
      if (node == nullptr || !Checked(k) || !HasAxis(*node, axis)) continue;
      if (Judge(rule, k, *node, axis, records[k].Get(sdo_request::kValue))) continue;
      broken = true;
      if (axis < 0) {
        pending_[k] = common::kKernelNodeParameterInvalid;
      } else {
        node->axes[static_cast<std::size_t>(axis)].axisResult = common::kKernelNodeParameterInvalid;
      }
    }
  }
  if (!broken) return common::kKernelSuccess;
  HostLock lock(context_.host);
  for (std::uint32_t k = 0; k < context_.nodes.Count(); ++k) {
    if (NodeObject* node = context_.nodes.nodes[k]) node->request.lastResult = pending_[k];
  }
  return common::kKernelOperationFailed;
}

bool GantryHomingCheck::Judge(Rule rule, std::uint32_t k, NodeObject& node, std::int32_t axis,
                              std::uint32_t value) noexcept {
  const bool nodeLevel = axis < 0;
  const bool hasAxes = node.axisCount > 0;
  switch (rule) {
    case Rule::PdoHoming:
      if (!nodeLevel) return value == pdoHoming_[k];
      pdoHoming_[k] = value;
      return hasAxes || value != 1;
    case Rule::HomingMode:
      if (!nodeLevel) return value == homingMode_[k];
      homingMode_[k] = value;
      if (value != 0) return true;
      return hasAxes && pdoHoming_[k] != 0 && node.startUpMode != 0;
    case Rule::WaitReport: {
      const std::uint32_t reports = value == 1 ? 1 : 0;
      if (nodeLevel) {
        waitMark_[k] = reports;
      } else {
        node.axes[static_cast<std::size_t>(axis)].gantryWait = reports;
      }
      return reports != 0 || MayWaitSilently(k, node);
    }
  }
  return false;
}

StatusCode GantryHomingCheck::RequireWaitingDrive() noexcept {
  HostLock lock(context_.host);
  StatusCode result = common::kKernelSuccess;
  for (std::uint32_t k = 0; k < context_.nodes.Count(); ++k) {
    NodeObject* node = context_.nodes.nodes[k];
    if (node == nullptr) continue;
    bool anyWaits = waitMark_[k] != 0;
    for (std::uint32_t a = 0; a < node->axisCount; ++a) anyWaits |= node->axes[a].gantryWait != 0;
    if (anyWaits) continue;
    node->gantryWait = 0;
    node->request.lastResult = common::kKernelNodeParameterInvalid;
    for (std::uint32_t a = 0; a < node->axisCount; ++a) {
      node->axes[a].axisResult = common::kKernelNodeParameterInvalid;
    }
    result = common::kKernelOperationFailed;
  }
  return result;
}

void GantryHomingCheck::StoreFlags() noexcept {
  HostLock lock(context_.host);
  for (std::uint32_t k = 0; k < context_.nodes.Count(); ++k) {
    NodeObject* node = context_.nodes.nodes[k];
    if (node == nullptr) continue;
    node->gantryPdoHoming = Checked(k) && pdoHoming_[k] == 1 ? 1 : 0;
    node->gantryWait = waitMark_[k];
  }
}

}  // namespace vantor::canopen
