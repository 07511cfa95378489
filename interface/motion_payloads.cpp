#include "interface/motion_payloads.h"

#include <algorithm>

#include "common/byte_order.h"
#include "common/cnc_init_record.h"
#include "common/path_buffer.h"

namespace vantor::interface {

namespace cb = common::communication_block;

static_assert(Payload::kCapacity == common::path_buffer_record::kPayloadCapacity);

namespace {

constexpr std::uint32_t kMaxCoordinates = common::cnc_init_record::kMaxCoordinates;
constexpr std::uint32_t kMaxAxes = common::cnc_init_record::kMaxAxes;
static_assert(kMaxCoordinates < kPositionSlots && kMaxAxes < kPositionSlots);

// The axis-index pair of the plane an arc lies in: 0 XY, 1 XZ, 2 YZ, 3 XZ
// turned the other way (for circles); any other names no plane.
struct PlanePair {
  std::int64_t first = 0;
  std::int64_t second = 0;
};

PlanePair CirclePlane(std::int32_t plane) {
  switch (plane) {
    case 0:
      return {0, 1};
    case 1:
    case 3:
      return {0, 2};
    case 2:
      return {1, 2};
    default:
      return {};
  }
}

// Helices know no turned plane: plane 3 names no pair, like any unknown
// plane, and the kernel refuses it.
PlanePair HelixPlane(std::int32_t plane) {
  switch (plane) {
    case 0:
      return {0, 1};
    case 1:
      return {0, 2};
    case 2:
      return {1, 2};
    default:
      return {};
  }
}

constexpr std::int32_t kTurnedPlane = 3;

}  // namespace

ChannelCounts ReadChannelCounts(common::ConstCommunicationBlockView block) {
  const std::uint32_t coordinates =
      std::min({block.Get(cb::kCurrentCoordinateCount), block.Get(cb::kConfiguredCoordinateCount),
                kMaxCoordinates});
  return {coordinates, std::min(block.Get(cb::kAxisCount), kMaxAxes)};
}

Payload& Payload::U8(std::uint8_t value) {
  if (size_ < kCapacity) bytes_[size_++] = value;
  return *this;
}

Payload& Payload::U16(std::uint16_t value) {
  if (size_ + sizeof value <= kCapacity) {
    common::StoreLittleEndian(bytes_.data() + size_, value);
    size_ += sizeof value;
  }
  return *this;
}

Payload& Payload::U32(std::uint32_t value) {
  if (size_ + sizeof value <= kCapacity) {
    common::StoreLittleEndian(bytes_.data() + size_, value);
    size_ += sizeof value;
  }
  return *this;
}

Payload& Payload::I64(std::int64_t value) {
  if (size_ + sizeof value <= kCapacity) {
    common::StoreLittleEndian(bytes_.data() + size_, value);
    size_ += sizeof value;
  }
  return *this;
}

Payload& Payload::Wire(std::int32_t value) { return I64(common::Int32ToWire(value)); }

Payload& Payload::Zeros(std::size_t count) {
  size_ = std::min(kCapacity, size_ + count);
  return *this;
}

Payload OneWordPayload(std::uint32_t value) {
  Payload payload;
  payload.U32(value);
  return payload;
}

Payload LinePayload(bool absolute, bool rapid, std::span<const std::int32_t, kPositionSlots> target,
                    std::uint32_t coordinates) {
  Payload payload;
  payload.U32(absolute ? 1 : 0).U32(rapid ? 1 : 0);
  for (std::uint32_t i = 0; i < std::min(coordinates, kMaxCoordinates); ++i) {
    payload.Wire(target[i]);
  }
  return payload;
}

Payload CirclePayload(bool absolute, std::span<const std::int32_t, kCircleWords> record,
                      std::uint32_t coordinates) {
  const std::int32_t plane = record[0];
  const bool clockwise = record[1] != 0;
  const PlanePair pair = CirclePlane(plane);
  const bool direction = plane == kTurnedPlane ? !clockwise : clockwise;
  Payload payload;
  payload.U32(absolute ? 1 : 0).Zeros(4);
  payload.I64(pair.first).I64(pair.second);
  payload.I64(direction ? 1 : 0);
  payload.Wire(record[2]).Wire(record[3]);
  for (std::uint32_t i = 0; i < std::min(coordinates, kMaxCoordinates); ++i) {
    payload.Wire(record[4 + i]);
  }
  return payload;
}

Payload HelixPayload(bool absolute, std::span<const std::int32_t, kHelixWords> record,
                     std::uint32_t coordinates) {
  const PlanePair pair = HelixPlane(record[0]);
  Payload payload;
  payload.U32(absolute ? 1 : 0).Zeros(4);
  payload.I64(pair.first).I64(pair.second);
  payload.I64(record[1] != 0 ? 1 : 0);
  payload.Wire(record[2]).Wire(record[3]).Wire(record[4]);
  for (std::uint32_t i = 0; i < std::min(coordinates, kMaxCoordinates); ++i) {
    payload.Wire(record[5 + i]);
  }
  return payload;
}

Payload ZeroPointPayload(bool absolute, std::span<const std::int32_t, kPositionSlots> zeroPoint,
                         std::uint32_t coordinates) {
  Payload payload;
  payload.U32(absolute ? 1 : 0).Zeros(4);
  for (std::uint32_t i = 0; i < std::min(coordinates, kMaxCoordinates); ++i) {
    payload.Wire(zeroPoint[i]);
  }
  return payload;
}

namespace {

// Word order of the velocity record against the wire: the wire has the
// processing velocities first, then teach-in, then rapid.
namespace velocity_word {
inline constexpr std::size_t kLinearProcess = 0;
inline constexpr std::size_t kRotationProcess = 1;
inline constexpr std::size_t kLinearRapid = 2;
inline constexpr std::size_t kRotationRapid = 3;
inline constexpr std::size_t kLinearTeachIn = 4;
inline constexpr std::size_t kRotationTeachIn = 5;
inline constexpr std::size_t kCurrentLinear = 6;
inline constexpr std::size_t kCurrentRotation = 7;
}  // namespace velocity_word

constexpr std::array<std::size_t, kVelocityWords> kVelocityWireOrder = {
    velocity_word::kLinearProcess,   velocity_word::kRotationProcess, velocity_word::kLinearTeachIn,
    velocity_word::kRotationTeachIn, velocity_word::kLinearRapid,     velocity_word::kRotationRapid,
    velocity_word::kCurrentLinear,   velocity_word::kCurrentRotation};
constexpr std::size_t kProgrammedVelocities = 6;
constexpr std::size_t kVelocityPayloadSize = 64;
}  // namespace

Payload VelocityPayload(std::span<const std::int32_t, kVelocityWords> velocities) {
  Payload payload;
  for (std::size_t slot = 0; slot < kProgrammedVelocities; ++slot) {
    payload.Wire(velocities[kVelocityWireOrder[slot]]);
  }
  // The two current velocities are only read: their slots go as zeros.
  payload.Zeros(kVelocityPayloadSize - 8 * kProgrammedVelocities);
  return payload;
}

std::int32_t AnswerWireValue(common::ConstCommunicationBlockView block, std::size_t payloadOffset) {
  return common::WireToInt32(block.Load<std::int64_t>(cb::PayloadAt(payloadOffset)).value_or(0));
}

std::uint32_t AnswerWord(common::ConstCommunicationBlockView block, std::size_t payloadOffset) {
  return block.Load<std::uint32_t>(cb::PayloadAt(payloadOffset)).value_or(0);
}

VelocityRecord ReadVelocityAnswer(common::ConstCommunicationBlockView block) {
  VelocityRecord record{};
  for (std::size_t slot = 0; slot < kVelocityWords; ++slot) {
    record[kVelocityWireOrder[slot]] = AnswerWireValue(block, 8 * slot);
  }
  return record;
}

void ReadWireValues(common::ConstCommunicationBlockView block, std::uint32_t count,
                    std::span<std::int32_t, kPositionSlots> target) {
  for (std::uint32_t i = 0; i < std::min<std::size_t>(count, kPositionSlots); ++i) {
    target[i] = AnswerWireValue(block, 8 * i);
  }
}

ConfigurationRecord ReadConfigurationAnswer(common::ConstCommunicationBlockView block) {
  // Answer word k sets this bit of the flags word.
  constexpr std::array<int, 8> kFlagBits = {0, 1, 2, 17, 7, 12, 18, 28};
  constexpr std::size_t kCountOffset = 32;
  constexpr std::size_t kEntriesOffset = 40;
  constexpr std::size_t kEntryBlockSize = 32;

  ConfigurationRecord record{};
  std::uint32_t flags = 0;
  for (std::size_t k = 0; k < kFlagBits.size(); ++k) {
    if (AnswerWord(block, 4 * k) != 0) flags |= 1u << kFlagBits[k];
  }
  record[0] = static_cast<std::int32_t>(flags);
  const std::uint32_t count =
      std::min<std::uint32_t>(AnswerWord(block, kCountOffset), kConfigurationEntries);
  record[1] = static_cast<std::int32_t>(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t at = kEntriesOffset + kEntryBlockSize * i;
    std::int32_t* entry = record.data() + 2 + kConfigurationEntryWords * i;
    entry[0] = AnswerWord(block, at + 4) == 0 ? 1 : 0;
    entry[1] = AnswerWord(block, at) != 0 ? 1 : 0;
    entry[2] = static_cast<std::int32_t>(AnswerWord(block, at + 8));
    entry[3] = AnswerWireValue(block, at + 16);
    entry[4] = AnswerWireValue(block, at + 24);
  }
  return record;
}

}  // namespace vantor::interface
