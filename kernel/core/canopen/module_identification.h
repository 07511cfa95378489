// Module identification: every node, every further axis and every external
// handling axis is asked for its manufacturer software version (0x100A),
// and the answer becomes the module description that the status commands
// show.
#pragma once

#include <cstdint>
#include <span>

#include "common/status_code.h"
#include "kernel/core/canopen/node_services.h"

namespace vantor::canopen {

// The identification's layout of the request record: the segmented
// transfer's state, then the answer text (at most 49 characters and a
// terminator), which becomes the description.
namespace identify_request {
inline constexpr common::Field<std::uint32_t, 0> kToggle{};
inline constexpr common::Field<std::uint32_t, 4> kRemaining{};
inline constexpr common::Field<std::uint32_t, 8> kReceived{};
inline constexpr std::size_t kMaxAnswer = 49;
inline constexpr common::BytesField<12, kMaxAnswer + 1> kText{};
static_assert(kText.kEnd <= kRequestRecordSize);
}  // namespace identify_request

// Reads 0x100A of the drive the slot points at; an answer longer than 49
// characters is cut there and its transfer aborted. A dual drive is also
// asked which power stage it is (0x6510 sub 10). The description is left
// in the record's text.
void IdentifyModuleStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept;

// The description the step left in the record.
void CopyDescription(const RequestRecord& record, ModuleDescription& into) noexcept;

// An external handling axis as the initialisation lists it.
struct ExternalAxis {
  std::uint32_t active = 0;
  std::int32_t countdownReload = 1;
  std::uint16_t sdoRequestCobId = 0;
  std::uint16_t sdoResponseCobId = 0;
  ModuleDescription description{};
};

// Only while a reset is pending (else kKernelSuccess): every node, then
// every axis, then the external axes. kKernelOperationFailed when a node
// or axis failed (each keeps its old description and its cause).
common::StatusCode IdentifyModules(ServiceContext& context,
                                   std::span<ExternalAxis> externalAxes) noexcept;
common::StatusCode IdentifyModulesOnAxes(ServiceContext& context) noexcept;

// Every active external axis through the slot of node 1, which is lent
// and given back as it was (without a configured node a slot of their own
// stands in for it); an inactive one is "Unknown Amplify" without
// traffic. kKernelExternalHandlingAxisError when one does not answer (the
// others are still identified); kKernelOutOfResources when the stand-in
// slot cannot be had.
common::StatusCode IdentifyExternalAxes(ServiceContext& context,
                                        std::span<ExternalAxis> externalAxes) noexcept;

}  // namespace vantor::canopen
