#include "interface/dll_path_buffer.h"

#include <algorithm>
#include <span>

namespace vantor::interface {

namespace pb = common::path_buffer;

std::optional<common::PathBufferHeaderView> PathBufferHeader(const os::Mapping& mapping) {
  if (!mapping.valid()) return std::nullopt;
  return common::PathBufferHeaderView::Over(
      std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(mapping.data()), mapping.size()));
}

std::optional<DllPathBufferState> ReadDllPathBuffer(const os::Mapping& mapping) {
  const auto header = PathBufferHeader(mapping);
  if (!header) return std::nullopt;
  const auto fits = static_cast<std::uint32_t>(
      std::min<std::size_t>(pb::RecordsThatFit(mapping.size()), UINT32_MAX));
  DllPathBufferState state;
  state.enabled = header->Get(pb::kEnabled) != 0;
  state.capacity = std::min(header->Get(pb::kCapacity), fits);
  state.count = std::min(header->Get(pb::kCount), fits);
  return state;
}

}  // namespace vantor::interface
