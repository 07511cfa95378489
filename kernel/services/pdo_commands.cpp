#include "kernel/services/pdo_commands.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "common/pdo_command_records.h"
#include "kernel/core/can_object_steps.h"
#include "kernel/core/canopen/can_object_admission.h"
#include "kernel/core/canopen/can_object_cycle.h"
#include "kernel/core/canopen/cob_id.h"
#include "kernel/core/kernel_guards.h"
#include "kernel/core/kernel_locks.h"

namespace vantor::kernel {

namespace {

namespace cb = common::communication_block;
namespace ap = common::assign_pdo;
namespace pd = common::pdo_data;
using canopen::CanObjectEntry;
using canopen::CanObjectList;

// The longest period or answer time-out: the list counts time in signed
// 32-bit words.
constexpr std::uint32_t kLongestTime = 0x7FFFFFFF;

void WriteResult(Kernel& kernel, common::StatusCode result) {
  kernel.Block().Set(cb::kResult, result);
}

// The CAN state and the locks every command needs; kKernelSuccess with
// the locks held.
template <typename Work>
common::StatusCode UnderObjectListLock(Kernel& kernel, Work work) {
  const common::StatusCode state = CheckCanState(kernel.data);
  if (state != common::kKernelSuccess) return state;
  KernelDataAndObjectListLock lock(kernel.data);
  // The CNC exit closed the locks between the test and the wait.
  if (!lock.held()) return common::kKernelCncNotInitialized;
  return work(kernel.canObjects);
}

template <std::size_t N>
std::array<std::uint8_t, N> BytesOf(std::span<const std::uint8_t, N> bytes) {
  std::array<std::uint8_t, N> copy{};
  std::copy(bytes.begin(), bytes.end(), copy.begin());
  return copy;
}

bool IsHandwheelPdo(const canopen::KernelCanObjects& owners, std::uint16_t cobId) {
  return owners.handwheelCobIds[0] == cobId || owners.handwheelCobIds[1] == cobId;
}

bool IsVelocityOutput(const canopen::KernelCanObjects& owners, std::uint16_t cobId) {
  return owners.velocityOutputOn != 0 && owners.velocityOutputCobId == cobId;
}

// The guarding object of a guarded node or axis.
bool IsNodeGuarding(const canopen::NodeTable& nodes, std::uint16_t cobId) {
  for (std::uint32_t number = 1; number <= nodes.Count(); ++number) {
    const canopen::NodeObject* node = nodes.ByNumber(number);
    if (node == nullptr) continue;
    if (node->guarded != 0 && canopen::MakeHeartbeatCobId(node->nodeId) == cobId) return true;
    const std::uint32_t axisCount =
        std::min<std::uint32_t>(node->axisCount, static_cast<std::uint32_t>(canopen::kMaxNodeAxes));
    for (std::uint32_t axis = 0; axis < axisCount; ++axis) {
      const canopen::NodeAxis& each = node->axes[axis];
      if (each.guarded != 0 && canopen::MakeHeartbeatCobId(each.nodeId) == cobId) return true;
    }
  }
  return false;
}

canopen::CanObjectParameters ReadAssignment(common::CommunicationBlockView block) {
  canopen::CanObjectParameters p;
  p.direction = block.Get(ap::kDirection);
  p.guarding = block.Get(ap::kGuarding);
  p.nodeId = block.Get(ap::kNodeId);
  p.cobId = block.Get(ap::kCobId);
  p.length = block.Get(ap::kLength);
  p.compare = block.Get(ap::kCompare);
  p.mask = BytesOf(block.GetBytes(ap::kMask));
  p.expected = BytesOf(block.GetBytes(ap::kExpected));
  return p;
}

bool IsAdmissible(const canopen::CanObjectParameters& p, std::uint32_t answerTimeout,
                  std::uint32_t period, const Kernel& kernel) {
  const CanObjectList& list = kernel.canObjects;
  const canopen::KernelCanObjects& owners = list.kernelObjects;
  if (p.guarding != 0 && (p.direction != 0 || p.length != 1)) return false;
  if (period == 0 || period > kLongestTime) return false;
  if (answerTimeout == 0 || answerTimeout > kLongestTime) return false;
  if (p.length < 1 || p.length > common::kCanDataSize) return false;
  if (canopen::IsUserCobIdFree(p.guarding, p.nodeId, p.cobId, ConfiguredCanNodes(kernel.data),
                               list) == 0) {
    return false;
  }
  if (owners.reservedFlag == 1 && owners.reservedCobId == p.cobId) return false;
  if (kernel.data.state.IsCncInitialised() && owners.handwheelLinked != 0 &&
      (IsHandwheelPdo(owners, p.cobId) || owners.handwheelNodeId == p.nodeId)) {
    return false;
  }
  return true;
}

struct DataReply {
  std::array<std::uint8_t, common::kCanDataSize> data{};
  std::uint8_t length = 0;
  std::uint32_t mismatch = 0;
};

void WriteDataReply(common::CommunicationBlockView block, const DataReply& reply, bool withData) {
  if (withData) {
    auto data = block.MutableBytes(pd::kData);
    std::copy(reply.data.begin(), reply.data.end(), data.begin());
  }
  block.Set(pd::kLength, reply.length);
  block.Set(pd::kMismatch, reply.mismatch);
}

bool IsCompareEntry(const CanObjectEntry& entry) {
  return entry.compare != 0 && !entry.IsTransmit() && !entry.IsGuarding();
}

}  // namespace

AfterCommand HandleAssignPdo(Kernel& kernel) {
  auto block = kernel.Block();
  const auto result = UnderObjectListLock(kernel, [&](CanObjectList& list) {
    canopen::CanObjectParameters p = ReadAssignment(block);
    const std::uint32_t answerTimeout = block.Get(ap::kAnswerTimeout);
    const std::uint32_t period = block.Get(ap::kPeriod);
    if (!IsAdmissible(p, answerTimeout, period, kernel)) return common::kKernelPdoParameterInvalid;
    p.answerTimeout = static_cast<std::int32_t>(answerTimeout);
    p.period = static_cast<std::int32_t>(period);
    return canopen::AppendCanObject(list, p) != nullptr ? common::kKernelSuccess
                                                        : common::kKernelOutOfResources;
  });
  WriteResult(kernel, result);
  return AfterCommand::KeepServing;
}

AfterCommand HandleRemovePdo(Kernel& kernel) {
  const std::uint16_t cobId = kernel.Block().Get(common::remove_pdo::kCobId);
  const auto result = UnderObjectListLock(kernel, [&](CanObjectList& list) {
    const canopen::KernelCanObjects& owners = list.kernelObjects;
    const bool kernelOwned =
        IsNodeGuarding(ConfiguredCanNodes(kernel.data), cobId) ||
        std::find(owners.peripheralCobIds.begin(), owners.peripheralCobIds.end(), cobId) !=
            owners.peripheralCobIds.end() ||
        (owners.handwheelLinked != 0 && IsHandwheelPdo(owners, cobId)) ||
        IsVelocityOutput(owners, cobId);
    if (kernelOwned) return common::kKernelPdoParameterInvalid;
    return canopen::RemoveCanObject(canopen::KeepEntry::No, cobId, list) != 0
               ? common::kKernelSuccess
               : common::kKernelPdoParameterInvalid;
  });
  WriteResult(kernel, result);
  return AfterCommand::KeepServing;
}

AfterCommand HandleReadPdo(Kernel& kernel) {
  auto block = kernel.Block();
  const std::uint16_t cobId = block.Get(pd::kCobId);
  DataReply reply;
  const auto result = UnderObjectListLock(kernel, [&](CanObjectList& list) {
    CanObjectEntry* entry = canopen::FindCanObject(cobId, list);
    if (entry == nullptr) return common::kKernelPdoParameterInvalid;
    const common::StatusCode entryResult = entry->result;
    if (entryResult == common::kKernelSuccess) {
      if (entry->done != 0) {
        reply.length = entry->length;
        std::copy_n(entry->data.begin(), std::min<std::size_t>(entry->length, reply.data.size()),
                    reply.data.begin());
        if (entry->IsGuarding()) reply.data[0] &= canopen::kGuardingStateMask;
      }
      if (IsCompareEntry(*entry) && canopen::ReceivedDataDiffers(*entry)) reply.mismatch = 1;
    } else if (IsCompareEntry(*entry)) {
      reply.mismatch = 1;
    }
    if (!entry->IsTransmit() && entry->active == 0) {
      entry->active = 1;
      entry->countdown = 0;
      entry->result = common::kKernelSuccess;
    }
    return entryResult;
  });
  WriteDataReply(block, reply, true);
  WriteResult(kernel, result);
  return AfterCommand::KeepServing;
}

AfterCommand HandleWritePdo(Kernel& kernel) {
  auto block = kernel.Block();
  const std::uint16_t cobId = block.Get(pd::kCobId);
  const std::uint8_t length = block.Get(pd::kLength);
  const auto data = BytesOf(block.GetBytes(pd::kData));
  DataReply reply;
  const auto result = UnderObjectListLock(kernel, [&](CanObjectList& list) {
    CanObjectEntry* entry = canopen::FindCanObject(cobId, list);
    if (entry == nullptr || !entry->IsTransmit() || IsVelocityOutput(list.kernelObjects, cobId) ||
        entry->length != length) {
      return common::kKernelPdoParameterInvalid;
    }
    const common::StatusCode entryResult = entry->result;
    if (entryResult == common::kKernelSuccess) {
      std::copy_n(data.begin(), std::min<std::size_t>(length, data.size()), entry->data.begin());
      if (entry->countdown > 0) entry->countdown = 0;
      entry->active = 1;
    } else if (entry->compare != 0) {
      reply.mismatch = 1;
    }
    reply.length = entry->done != 0 ? entry->length : 0;
    return entryResult;
  });
  WriteDataReply(block, reply, false);
  WriteResult(kernel, result);
  return AfterCommand::KeepServing;
}

}  // namespace vantor::kernel
