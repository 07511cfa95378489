#include "interface/path_buffer_append.h"

#include <algorithm>

#include "common/path_buffer.h"
#include "interface/cnc_mode.h"
#include "interface/link_state.h"

namespace vantor::interface {

namespace pb = common::path_buffer;
namespace pbr = common::path_buffer_record;

bool IsPathBufferEnabled() { return DllPathBufferOn(); }

common::StatusCode AppendPathBufferRecord(std::uint32_t code, std::span<const std::byte> payload) {
  const os::Mapping& mapping = Link().pathBuffer;
  if (!mapping.valid() || payload.size() > pbr::kPayloadCapacity) {
    return common::kLibraryCallParameterInvalid;
  }
  const std::span<std::uint8_t> bytes(reinterpret_cast<std::uint8_t*>(mapping.data()),
                                      mapping.size());
  auto header = common::PathBufferHeaderView::Over(bytes);
  if (!header) return common::kLibraryCallParameterInvalid;
  // Capacity and count come from shared memory: never beyond the mapping.
  const std::size_t capacity =
      std::min<std::size_t>(header->Get(pb::kCapacity), pb::RecordsThatFit(mapping.size()));
  const std::uint32_t count = header->Get(pb::kCount);
  if (count >= capacity) return common::kLibraryDllPathBufferActive;
  auto record = common::PathBufferRecordView::Over(bytes.subspan(pb::RecordOffset(count)));
  if (!record) return common::kLibraryDllPathBufferActive;
  record->Fill(0, common::kPathBufferRecordSize, 0);
  record->Set(pbr::kCommandCode, code);
  record->CopyIn(pbr::kPayloadOffset,
                 std::span<const std::uint8_t>(
                     reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size()));
  header->Set(pb::kCount, count + 1);
  return common::kLibrarySuccess;
}

}  // namespace vantor::interface
