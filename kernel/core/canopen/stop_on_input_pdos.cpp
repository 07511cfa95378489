#include "kernel/core/canopen/stop_on_input_pdos.h"

#include <array>

#include "kernel/core/canopen/canopen_constants.h"
#include "kernel/core/canopen/node_services.h"
#include "kernel/core/canopen/pdo_config_step.h"
#include "kernel/core/canopen/request_record.h"
#include "kernel/core/canopen/stop_on_input_drives.h"
#include "kernel/core/kernel_status.h"

namespace vantor::canopen {

namespace {

using common::StatusCode;
namespace pdo = pdo_mapping_request;

constexpr std::uint16_t kSourceTpdo = 3;
constexpr std::uint16_t kStopInputRpdo = 4;
constexpr std::uint16_t kFeedbackTpdo = 1;
constexpr std::uint8_t kEverySyncType = 1;
constexpr std::uint8_t kOnReceiptType = 0xFF;
constexpr std::uint8_t kSwitchedOffType = 0xF1;
constexpr std::uint16_t kSendInhibitTime = 10;
constexpr std::uint16_t kSwitchedOffInhibitTime = 65000;

bool Failed(StatusCode result) { return result != common::kKernelSuccess; }

struct Layout {
  bool transmit = false;
  std::uint16_t pdoNumber = 0;
  std::uint8_t transmissionType = 0;
  std::uint16_t inhibitTime = 0;
  std::uint8_t entryCount = 0;
  std::array<std::uint32_t, 4> entries{};
};

void Fill(RequestRecord& record, const Layout& layout, std::uint16_t cobId) {
  record = RequestRecord{};
  record.Set(pdo::kDirection, layout.transmit ? 1u : 0u);
  record.Set(pdo::kPdoNumber, layout.pdoNumber);
  record.Set(pdo::kObjectCount, layout.entryCount);
  record.Set(pdo::kCobId, cobId);
  record.Set(pdo::kTransmissionType, layout.transmissionType);
  record.Set(pdo::kInhibitTime, layout.inhibitTime);
  for (std::size_t i = 0; i < layout.entryCount; ++i) {
    record.Store<std::uint32_t>(pdo::kEntriesOffset + 4 * i, layout.entries[i]);
  }
}

// Configures `layout` on the nodes of `mask` (the identifier per node from
// `cobIdOf`); every node's last result takes its request result, and with
// `markFailures` a failed node loses its run enable.
template <typename CobIdOf>
StatusCode ConfigureOnNodes(ServiceContext& context, NodeMask mask, const Layout& layout,
                            CobIdOf cobIdOf, bool markFailures) {
  if (mask == 0) return common::kKernelSuccess;
  const StatusCode run = RunOnNodes(
      context, mask, PdoConfigStep,
      [&](NodeObject& node, std::uint32_t) {
        Fill(*node.request.requestRecord, layout, cobIdOf(node));
      },
      pdo_config_entry::kIdentifierFirst);
  if (Failed(run)) return run;
  HostLock lock(context.host);
  StatusCode result = common::kKernelSuccess;
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    NodeObject* node = context.nodes.nodes[k];
    if (node == nullptr || (mask & (NodeMask{1} << k)) == 0) continue;
    node->request.lastResult = node->request.requestResult;
    if (!Failed(node->request.requestResult)) continue;
    if (markFailures) node->SetFlagInBothRows(kernel::StatusFlag::N, false);
    result = common::kKernelOperationFailed;
  }
  return result;
}

// Modes 2 and 3: the input drive sends its input byte (its own drive the
// stop-on-input object's, a slave drive its digital inputs). An own drive
// that is the only interpolated axis has nobody to send to.
StatusCode MapInputSourceTpdo(ServiceContext& context, const StopOnInputParameters& p,
                              const StopOnInputMachine& machine, bool on) {
  if (p.inputAxis < 0 || static_cast<std::uint32_t>(p.inputAxis) >= machine.interpolatedCount) {
    return common::kKernelOperationFailed;
  }
  const bool ownDrive = p.inputSlave == kOwnDrivePass;
  if (ownDrive && machine.interpolatedCount == 1) return common::kKernelSuccess;
  Layout layout{true, kSourceTpdo, kSwitchedOffType, kSwitchedOffInhibitTime, 0, {}};
  if (on) {
    layout.transmissionType = kEverySyncType;
    layout.inhibitTime = kSendInhibitTime;
    layout.entryCount = 1;
    layout.entries[0] = ownDrive
                            ? pdo::MappingEntry(object::kStopOnInput, stop_on_input::kInputByte, 8)
                            : pdo::MappingEntry(object::kDigitalInputs, 0, 8);
  }
  const AddressingKeeper keeper(context);
  const NodeMask source = NodeMask{1} << p.inputAxis;
  if (!ownDrive) {
    HostLock lock(context.host);
    if (NodeObject* node = context.nodes.nodes[static_cast<std::size_t>(p.inputAxis)]) {
      SwitchToAxis(*node, p.inputSlave);
    }
  }
  return ConfigureOnNodes(
      context, source, layout, [&](const NodeObject&) { return p.sourceCobId; }, false);
}

}  // namespace

NodeMask StoppingDrivesOfInput(const StopOnInputParameters& p,
                               const StopOnInputMachine& machine) noexcept {
  const NodeMask all = machine.AxesInPass(kOwnDrivePass);
  switch (p.Mode()) {
    case StopOnInputMode::InputModule:
      return all;
    case StopOnInputMode::OneDrive:
      if (p.inputSlave == kOwnDrivePass && p.inputAxis >= 0) {
        return all & ~(NodeMask{1} << p.inputAxis);
      }
      return all;
    case StopOnInputMode::AxisMask:
      return all & ~static_cast<NodeMask>(p.axisMask);
    default:
      return 0;
  }
}

StatusCode ConfigureStopOnInputPdos(ServiceContext& context, const StopOnInputParameters& p,
                                    bool on) noexcept {
  const StopOnInputMachine machine = ReadStopOnInputMachine(context);
  const NodeMask interpolated = machine.AxesInPass(kOwnDrivePass);
  if (p.Mode() == StopOnInputMode::OneDrive || p.Mode() == StopOnInputMode::AxisMask) {
    if (const StatusCode r = MapInputSourceTpdo(context, p, machine, on); Failed(r)) return r;
  }
  Layout receive{false, kStopInputRpdo, kSwitchedOffType, 0, 0, {}};
  if (on) {
    receive.transmissionType = kOnReceiptType;
    receive.entryCount = 1;
    receive.entries[0] = pdo::MappingEntry(object::kStopOnInput, stop_on_input::kInputByte, 8);
  }
  if (const StatusCode r = ConfigureOnNodes(
          context, StoppingDrivesOfInput(p, machine), receive,
          [&](const NodeObject&) { return p.sourceCobId; }, false);
      Failed(r)) {
    return r;
  }
  Layout feedback{true,
                  kFeedbackTpdo,
                  kEverySyncType,
                  kSendInhibitTime,
                  3,
                  {pdo::MappingEntry(object::kPositionActual, 0, 32),
                   pdo::MappingEntry(object::kStatusword, 0, 16),
                   pdo::MappingEntry(object::kDigitalInputs, 0, 8),
                   pdo::MappingEntry(object::kStopOnInput, stop_on_input::kInputByte, 8)}};
  if (on) feedback.entryCount = 4;
  return ConfigureOnNodes(
      context, interpolated, feedback,
      [](const NodeObject& node) { return node.feedbackTpdoCobId; }, true);
}

}  // namespace vantor::canopen
