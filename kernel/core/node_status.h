// The two rows of drive status flags that the kernel keeps per node.
//
// The cycle evaluates every drive answer into a current row; a failed check
// also clears the flag in the latched row, where it stays until the reset.
// Each row holds 14 flags, 1 meaning "good", in the order the complete status
// shows them, then the drive error number and the start word.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vantor::kernel {

// Flags in row order; the letters are the names the drive evaluation and the
// guards use.
enum class StatusFlag : std::uint8_t {
  A,  // started: no NMT, answer or drive error
  B,  // the node's request frames are sent
  C,  // the node's answer frames arrive
  I,  // no fault reaction
  G,  // operation enabled
  H,  // not switch-on-disabled
  J,  // amplifier enabled
  K,  // no current-limit warning
  L,  // main voltage present
  F,  // positive hardware limit switch free
  E,  // negative hardware limit switch free
  D,  // homed, position valid
  M,  // no following error
  N,  // run enable: parameters written
};
inline constexpr std::size_t kStatusFlagCount = 14;

struct NodeStatusRow {
  std::array<std::uint32_t, kStatusFlagCount> flags{};
  std::int16_t driveErrorNumber = 0;
  std::array<std::uint8_t, 2> spare{};
  std::uint32_t startWord = 0;

  constexpr bool Has(StatusFlag flag) const noexcept {
    return flags[static_cast<std::size_t>(flag)] != 0;
  }
  constexpr void Set(StatusFlag flag, bool good) noexcept {
    flags[static_cast<std::size_t>(flag)] = good ? 1u : 0u;
  }
  constexpr void SetAll(bool good) noexcept { flags.fill(good ? 1u : 0u); }
};
static_assert(sizeof(NodeStatusRow) == 64, "14 flags, error number, two bytes, start word");
static_assert(offsetof(NodeStatusRow, driveErrorNumber) == 56);
static_assert(offsetof(NodeStatusRow, startWord) == 60);

}  // namespace vantor::kernel
