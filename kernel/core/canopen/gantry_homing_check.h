// The first reset's check of the gantry homing objects of the drives:
// 0x6510 sub 20 (the pair homes with the gantry PDO), 0x6510 sub 21 (its
// homing mode) and 0x2043 sub 14 (the drive reports the gantry phases),
// read on every node that has them and on its axes. It sets each node's
// gantry PDO homing flag and the gantry wait flags of node and axes.
#pragma once

#include <array>
#include <cstdint>

#include "common/status_code.h"
#include "kernel/core/canopen/node_services.h"

namespace vantor::canopen {

class GantryHomingCheck {
 public:
  explicit GantryHomingCheck(ServiceContext& context) noexcept : context_(context) {}

  // kKernelSuccess; a failed read's result; kKernelOperationFailed when a
  // node's axes disagree on having sub 20 or a drive broke a rule (its
  // result then kKernelNodeParameterInvalid).
  common::StatusCode Run() noexcept;

 private:
  enum class Rule { PdoHoming, HomingMode, WaitReport };

  // Which nodes have sub 20 on node and axes.
  common::StatusCode FindCheckedNodes() noexcept;
  // Reads one object on the node level and then each axis index of the
  // checked nodes and applies `rule` to the answers; a break shows in the
  // nodes' last results at the end.
  common::StatusCode ReadAndJudge(std::uint16_t index, std::uint8_t subindex, Rule rule) noexcept;
  // Whether the answer keeps the rule; also keeps what later rules need.
  // The caller holds the kernel data lock.
  bool Judge(Rule rule, std::uint32_t k, NodeObject& node, std::int32_t axis,
             std::uint32_t value) noexcept;
  // A node without a drive that reports the phases fails.
  common::StatusCode RequireWaitingDrive() noexcept;
  void StoreFlags() noexcept;

  // A drive other than 1 may report no phases only on a gantry node that
  // homes with the PDO and starts up in mode 0.
  bool MayWaitSilently(std::uint32_t k, const NodeObject& node) const noexcept {
    return node.axisCount > 0 && pdoHoming_[k] != 0 && node.startUpMode == 0;
  }
  bool Checked(std::uint32_t k) const noexcept { return (checked_ & (NodeMask{1} << k)) != 0; }

  ServiceContext& context_;
  NodeMask checked_ = 0;
  std::array<std::uint32_t, kMaxNodes> pdoHoming_{};   // sub 20 of the node
  std::array<std::uint32_t, kMaxNodes> homingMode_{};  // sub 21 of the node
  std::array<std::uint32_t, kMaxNodes> waitMark_{};
  std::array<common::StatusCode, kMaxNodes> pending_{};
};

}  // namespace vantor::canopen
