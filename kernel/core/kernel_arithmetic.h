// Small integer helpers of the kernel's command handlers.
#pragma once

#include <cstdint>
#include <optional>

namespace vantor::kernel {

// The next multiple of 512 strictly above `value` (1000 -> 1024,
// 1024 -> 1536): the CNC initialisation and the reset round buffer sizes up
// to whole 512-byte blocks with it. A result that does not fit in 32 bits is
// refused instead of wrapping.
constexpr std::optional<std::uint32_t> NextMultipleOf512(std::uint32_t value) noexcept {
  constexpr std::uint64_t kBlock = 512;
  const std::uint64_t next = (static_cast<std::uint64_t>(value) / kBlock + 1) * kBlock;
  if (next > UINT32_MAX) return std::nullopt;
  return static_cast<std::uint32_t>(next);
}

constexpr std::uint32_t MaxU32(std::uint32_t a, std::uint32_t b) noexcept { return a > b ? a : b; }

static_assert(NextMultipleOf512(0) == 512u);
static_assert(NextMultipleOf512(1000) == 1024u);
static_assert(NextMultipleOf512(1024) == 1536u);

}  // namespace vantor::kernel
