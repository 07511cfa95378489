// A request that runs several SDO exchanges one after the other on a node's
// slot: exchange i is framed at step 2i+1 and its answer checked at step
// 2i+2. A failed exchange ends the request with its result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "kernel/core/canopen/node_object.h"
#include "kernel/core/canopen/request_record.h"
#include "kernel/core/canopen/sdo_client.h"

namespace vantor::canopen {

// The exchange a step belongs to (steps below 1 count as the first).
std::size_t SequenceItemOf(std::int32_t step) noexcept;
// The step that frames exchange `item`.
std::int32_t SequenceFrameStep(std::size_t item) noexcept;

// One cycle of exchange `item`: frames it at its frame step, else checks
// the answer. Done: the outcome is in the slot's request result.
CheckState StepSequenceUpload(CycleContext& cycle, NodeObject& node, std::size_t item,
                              std::uint16_t index, std::uint8_t subindex, std::uint8_t size,
                              std::span<std::uint8_t> data) noexcept;
CheckState StepSequenceDownload(CycleContext& cycle, NodeObject& node, std::size_t item,
                                std::uint16_t index, std::uint8_t subindex, std::uint8_t size,
                                std::uint32_t value) noexcept;

// A list of expedited downloads carried in the request record.
namespace download_sequence_request {
inline constexpr common::Field<std::uint8_t, 0> kCount{};
inline constexpr std::size_t kItemsOffset = 4;
inline constexpr std::size_t kItemLength = 8;  // u16 index, u8 subindex, u8 size, u32 value
inline constexpr std::size_t kMaxItems = (kRequestRecordSize - kItemsOffset) / kItemLength;
static_assert(kItemsOffset + kMaxItems * kItemLength <= kRequestRecordSize);
}  // namespace download_sequence_request

struct SdoDownloadItem {
  std::uint16_t index = 0;
  std::uint8_t subindex = 0;
  std::uint8_t size = 0;  // 1, 2 or 4
  std::uint32_t value = 0;
};

// Fills the record with the downloads; false when they do not fit.
bool PutDownloadSequence(RequestRecord& record, std::span<const SdoDownloadItem> items) noexcept;
SdoDownloadItem DownloadSequenceItem(const RequestRecord& record, std::size_t item) noexcept;

// Writes the record's downloads in order; ends at the first failure.
void DownloadSequenceStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept;

}  // namespace vantor::canopen
