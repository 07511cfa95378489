// The caller holds the channel's standard area (taken by AcquireChannel and
// checked for CNC mode, as every path export does before it looks at the
// buffer): the standard mutex is what keeps two processes from filling the
// same record.
#include "interface/path_buffer_append.h"

#include <algorithm>

#include "interface/cnc_mode.h"
#include "interface/dll_path_buffer.h"
#include "interface/link_state.h"

namespace vantor::interface {

namespace pb = common::path_buffer;
namespace pbr = common::path_buffer_record;

common::StatusCode AppendPathBufferRecord(std::uint32_t code, std::span<const std::byte> payload) {
  if (payload.size() > pbr::kPayloadCapacity) return common::kLibraryCallParameterInvalid;
  const os::Mapping& mapping = Link().pathBuffer;
  const auto state = ReadDllPathBuffer(mapping);
  if (!state) return common::kLibraryCncNotInitialized;
  // Off, or full as far as the mapping holds records: nothing is written.
  if (!state->enabled) return common::kLibraryDllPathBufferActive;
  if (state->Full()) return common::kLibraryPathBufferFull;

  auto record = *common::PathBufferRecordView::Over(
      std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(mapping.data()), mapping.size())
          .subspan(pb::RecordOffset(state->count)));
  // A record left from an earlier fill must not show through behind a
  // shorter payload.
  record.Fill(0, common::kPathBufferRecordSize, 0);
  record.Set(pbr::kCommandCode, code);
  record.CopyIn(pbr::kPayloadOffset,
                std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(payload.data()),
                                              payload.size()));
  PathBufferHeader(mapping)->Set(pb::kCount, state->count + 1);
  return common::kLibrarySuccess;
}

bool IsPathBufferEnabled() { return DllPathBufferOn(); }

}  // namespace vantor::interface
