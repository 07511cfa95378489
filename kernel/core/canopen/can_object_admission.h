// Which identifiers applications may use while the kernel runs its nodes:
// the COB-IDs of user objects of the CAN object list, and the raw frames of
// the SDO area.
//
// Both rules keep applications off the identifiers of the configured nodes
// and of the axes they carry (emergency, guarding, the four PDO pairs, the
// SDO pair), off SYNC and the time stamp, and off the objects the list
// already serves. The caller holds the kernel data and object list locks.
#pragma once

#include <array>
#include <cstdint>

#include "common/exchange_buffer.h"
#include "kernel/core/canopen/can_object_list.h"
#include "kernel/core/canopen/node_object.h"

namespace vantor::canopen {

// Node ids on the bus.
inline constexpr std::uint32_t kLowestNodeId = 1;
inline constexpr std::uint32_t kHighestNodeId = 127;
// The largest 11-bit identifier.
inline constexpr std::uint16_t kHighestCobId = 0x7FF;
inline constexpr std::uint16_t kSyncCobId = 0x080;
inline constexpr std::uint16_t kTimeStampCobId = 0x100;

// 1 when an axis of a configured node has `nodeId`.
std::uint32_t IsNodeIdInUse(std::uint32_t nodeId, const NodeTable& nodes) noexcept;

// 1 when an application may register a user object (guarding flag 0) or a
// guarding object for `nodeId` on `cobId`.
std::uint32_t IsUserCobIdFree(std::uint32_t guarding, std::uint32_t nodeId, std::uint32_t cobId,
                              const NodeTable& nodes, const CanObjectList& list) noexcept;

// A raw frame of the SDO area as the rule sees it.
struct CanRequestFrame {
  std::uint16_t cobId = 0;  // 0: an NMT command
  std::array<std::uint8_t, common::kCanDataSize> data{};
  std::uint8_t length = 0;
  std::uint16_t answerCobId = 0;
};

struct CanRequestAdmission {
  bool admitted = false;
  // The frame goes to a configured node or one of its axes; the cycle then
  // holds the nodes' access while it runs.
  bool kernelNodeRequest = false;
};

// Whether an application may send `frame`. Outside CNC mode everything is
// admitted.
CanRequestAdmission CheckApplicationCanRequest(const CanRequestFrame& frame, bool cncInitialised,
                                               const NodeTable& nodes,
                                               const CanObjectList& list) noexcept;

}  // namespace vantor::canopen
