// The payloads of the motion commands as the kernel takes them from the
// standard area (or from a path-buffer record), and the answers read back
// into the caller's 32-bit records. Pure byte work: nothing here talks to
// the kernel.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "common/communication_block.h"

namespace vantor::interface {

// The caller's coordinate and axis arrays: nine 32-bit slots, of which the
// first `coordinates` (or `axes`) are sent or filled.
inline constexpr std::size_t kPositionSlots = 9;
using PositionArray = std::array<std::int32_t, kPositionSlots>;

struct ChannelCounts {
  std::uint32_t coordinates = 0;
  std::uint32_t axes = 0;
};

// The counts in the block's header, which any process can write: the
// current coordinate count bounded by the configured one, and both by the
// most that the controller has.
ChannelCounts ReadChannelCounts(common::ConstCommunicationBlockView block);

// A payload of at most the size of a path-buffer record's payload.
class Payload {
 public:
  static constexpr std::size_t kCapacity = 264;

  Payload& U8(std::uint8_t value);
  Payload& U16(std::uint16_t value);
  Payload& U32(std::uint32_t value);
  Payload& I64(std::int64_t value);
  // A 32-bit value as a 64-bit wire value (the no-move marker widened).
  Payload& Wire(std::int32_t value);
  Payload& Zeros(std::size_t count);

  std::span<const std::uint8_t> Bytes() const { return {bytes_.data(), size_}; }

 private:
  std::array<std::uint8_t, kCapacity> bytes_{};
  std::size_t size_ = 0;
};

// A condition as a flag word: 1 or 0.
constexpr std::uint32_t FlagWord(bool on) { return on ? 1 : 0; }

// A flag, a state or a mask: one 32-bit word.
Payload OneWordPayload(std::uint32_t value);

// Code 36: absolute and rapid flags, then the coordinates.
Payload LinePayload(bool absolute, bool rapid, std::span<const std::int32_t, kPositionSlots> target,
                    std::uint32_t coordinates);

// Code 37 from the 13 words of a circle record: plane, direction, two
// circle values, the end coordinates.
inline constexpr std::size_t kCircleWords = 13;
Payload CirclePayload(bool absolute, std::span<const std::int32_t, kCircleWords> record,
                      std::uint32_t coordinates);

// Code 38 from the 14 words of a helix record: plane, direction, three helix
// values, the end coordinates.
inline constexpr std::size_t kHelixWords = 14;
Payload HelixPayload(bool absolute, std::span<const std::int32_t, kHelixWords> record,
                     std::uint32_t coordinates);

// Code 34: absolute flag, then the zero point's coordinates.
Payload ZeroPointPayload(bool absolute, std::span<const std::int32_t, kPositionSlots> zeroPoint,
                         std::uint32_t coordinates);

// The velocity record's eight words: processing, rapid and teach-in
// velocities (linear and rotation each), then the two current velocities.
inline constexpr std::size_t kVelocityWords = 8;
using VelocityRecord = std::array<std::int32_t, kVelocityWords>;

// Codes 18 and 39: processing, teach-in and rapid velocities in 64 bytes.
Payload VelocityPayload(std::span<const std::int32_t, kVelocityWords> velocities);
// The answer of code 19 into the record's word order.
VelocityRecord ReadVelocityAnswer(common::ConstCommunicationBlockView block);

// Answer values at payload offset `payloadOffset`: a plain 32-bit word, and
// a 64-bit wire value for the 32-bit interface.
std::uint32_t AnswerWord(common::ConstCommunicationBlockView block, std::size_t payloadOffset);
std::int32_t AnswerWireValue(common::ConstCommunicationBlockView block, std::size_t payloadOffset);

// `count` 64-bit values from the payload into the first slots of `target`.
void ReadWireValues(common::ConstCommunicationBlockView block, std::uint32_t count,
                    std::span<std::int32_t, kPositionSlots> target);

// The configuration record (code 46): flags, entry count, nine entries of
// five words.
inline constexpr std::size_t kConfigurationEntries = 9;
inline constexpr std::size_t kConfigurationEntryWords = 5;
inline constexpr std::size_t kConfigurationWords =
    2 + kConfigurationEntries * kConfigurationEntryWords;
using ConfigurationRecord = std::array<std::int32_t, kConfigurationWords>;
ConfigurationRecord ReadConfigurationAnswer(common::ConstCommunicationBlockView block);
// The flag that also tells that the drilling plug-in is at hand.
inline constexpr std::uint32_t kConfigurationDrillFlag = 1u << 12;

}  // namespace vantor::interface
