// The CAN object list plugged into the real-time cycle: its service and
// scheduling around the raw request, its free-record table for the raw
// request, its state check in the motion processing, and the admission of
// the applications' raw frames on the server thread.
#pragma once

#include "kernel/core/canopen/can_object_list.h"
#include "kernel/core/canopen/node_object.h"
#include "kernel/core/cycle_steps.h"
#include "kernel/core/kernel_data.h"

namespace vantor::kernel {

// The nodes whose identifiers the list's rules protect. The CNC
// initialisation builds them into the node configuration; a kernel without
// it has none.
const canopen::NodeTable& ConfiguredCanNodes(const KernelData& data) noexcept;

// The node configuration's homing-break event as the homing steps poll it.
class HomingBreakEvent final : public canopen::HomingBreakSignal {
 public:
  explicit HomingBreakEvent(NodeConfiguration& nodes) noexcept : nodes_(nodes) {}
  bool IsSet() noexcept override;
  void Reset() noexcept override;

 private:
  NodeConfiguration& nodes_;
};

class CanObjectCycleSteps : public CycleSteps {
 public:
  CanObjectCycleSteps(KernelData& data, canopen::CanObjectList& list) noexcept
      : data_(data), list_(list), homingBreak_(data.nodeConfiguration) {}

  void ServeCanObjectList(common::ExchangeBuffer& exchange) noexcept override;
  void ScheduleCanObjects(common::ExchangeBuffer& exchange) noexcept override;
  // The global slot's installed step.
  void RunGlobalStep(common::ExchangeBuffer& exchange) noexcept override;
  void ProcessMotion(common::ExchangeBuffer& exchange) noexcept override;
  void DropPendingEvents() noexcept override;
  // The node request slots: every installed step each cycle, and every
  // pending request ended when the cycle ends.
  void RunNodeSteps(common::ExchangeBuffer& exchange) noexcept override;
  void CompletePendingRequests() noexcept override;
  // The output's ring, emptied when the exchange fails or stalls.
  void ResetVelocityOutputIndexes() noexcept override;
  FreeRecordTable* CanObjectFreeRecords() noexcept override { return &list_.freeRecords; }
  bool NodesStopping() noexcept override { return data_.nodeConfiguration.stoppingWord != 0; }
  common::StatusCode CheckApplicationCanRequest(ApplicationCanRequest& request) noexcept override;

 private:
  KernelData& data_;
  canopen::CanObjectList& list_;
  HomingBreakEvent homingBreak_;
};

}  // namespace vantor::kernel
