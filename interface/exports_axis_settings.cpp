// Exports of the axes' settings: gear ratios, ramps and ramp overrides,
// the exchange of two interpolated axes and the homed flags.
#include <array>
#include <cstddef>
#include <cstring>

#include "interface/export_frame.h"
#include "interface/include/linkora.h"
#include "interface/motion_payloads.h"
#include "interface/motion_request.h"

namespace vantor::interface {
namespace {

using common::CommandCode;

static_assert(sizeof(LinkoraGearRatio) == 8);
static_assert(sizeof(LinkoraSynAxisGearRatio) == 16);
static_assert(offsetof(LinkoraSynAxisGearRatio, SlaveDenominator) == 12);
static_assert(sizeof(LinkoraAxisRamp) == 52);
static_assert(offsetof(LinkoraAxisRamp, OverridePercent) == 16);
static_assert(sizeof(LinkoraAxisRampOverride) == 36);

// A record of 32-bit words, travelling behind the axis index at P+4 on.
template <typename Record>
constexpr std::size_t kRecordWords = sizeof(Record) / sizeof(std::uint32_t);

template <typename Record>
common::StatusCode SetAxisWords(CommandCode code, std::uint32_t axis, const Record* record,
                                std::uint32_t size) {
  static_assert(sizeof(Record) % sizeof(std::uint32_t) == 0);
  if (size != sizeof(Record)) return common::kLibraryRecordSizeMismatch;
  if (record == nullptr) return common::kLibraryCallParameterInvalid;
  std::array<std::uint32_t, kRecordWords<Record>> words;
  std::memcpy(words.data(), record, sizeof *record);
  return SendMotionCommand(code, PathBufferUse::Ignore, [&](ChannelCounts) {
    Payload payload;
    payload.U32(axis);
    for (const std::uint32_t word : words) payload.U32(word);
    return payload;
  });
}

// The record is written only after the kernel's success.
template <typename Record>
common::StatusCode GetAxisWords(CommandCode code, std::uint32_t axis, Record* record,
                                std::uint32_t size) {
  static_assert(sizeof(Record) % sizeof(std::uint32_t) == 0);
  if (size != sizeof(Record)) return common::kLibraryRecordSizeMismatch;
  if (record == nullptr) return common::kLibraryCallParameterInvalid;
  return ExchangeMotionCommand(
      code, PathBufferUse::Ignore, [&](ChannelCounts) { return OneWordPayload(axis); },
      [&](common::ConstCommunicationBlockView answer, ChannelCounts) {
        std::array<std::uint32_t, kRecordWords<Record>> words;
        for (std::size_t i = 0; i < words.size(); ++i) {
          words[i] = AnswerWord(answer, sizeof(std::uint32_t) * (1 + i));
        }
        std::memcpy(record, words.data(), sizeof *record);
      });
}

common::StatusCode ExchangeInterAxis(std::uint32_t axisA, std::uint32_t axisB) {
  return SendMotionCommand(CommandCode::ExchangeInterAxis, PathBufferUse::Refuse,
                           [&](ChannelCounts) {
                             Payload payload;
                             payload.U32(axisA).U32(axisB);
                             return payload;
                           });
}

}  // namespace
}  // namespace vantor::interface

using namespace vantor;
using common::CommandCode;

LINKORA_EXPORT LinkoraStatus mctl_GetAxisGearRatio(uint32_t axis, LinkoraGearRatio* ratio,
                                                   uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_GetAxisGearRatio", [&] {
    return interface::GetAxisWords(CommandCode::GetAxisGearRatio, axis, ratio, size);
  });
}

LINKORA_EXPORT LinkoraStatus mctl_SetAxisGearRatio(uint32_t axis, const LinkoraGearRatio* ratio,
                                                   uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_SetAxisGearRatio", [&] {
    return interface::SetAxisWords(CommandCode::SetAxisGearRatio, axis, ratio, size);
  });
}

LINKORA_EXPORT LinkoraStatus mctl_GetSynAxisGearRatio(uint32_t axis, LinkoraSynAxisGearRatio* ratio,
                                                      uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_GetSynAxisGearRatio", [&] {
    return interface::GetAxisWords(CommandCode::GetSynAxisGearRatio, axis, ratio, size);
  });
}

LINKORA_EXPORT LinkoraStatus mctl_SetSynAxisGearRatio(uint32_t axis,
                                                      const LinkoraSynAxisGearRatio* ratio,
                                                      uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_SetSynAxisGearRatio", [&] {
    return interface::SetAxisWords(CommandCode::SetSynAxisGearRatio, axis, ratio, size);
  });
}

LINKORA_EXPORT LinkoraStatus mctl_GetAxisRamp(uint32_t axis, LinkoraAxisRamp* ramp, uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_GetAxisRamp", [&] {
    return interface::GetAxisWords(CommandCode::GetAxisRamp, axis, ramp, size);
  });
}

LINKORA_EXPORT LinkoraStatus mctl_SetAxisRampOverride(uint32_t axis,
                                                      const LinkoraAxisRampOverride* rampOverride,
                                                      uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_SetAxisRampOverride", [&] {
    return interface::SetAxisWords(CommandCode::SetAxisRampOverride, axis, rampOverride, size);
  });
}

LINKORA_EXPORT LinkoraStatus mctl_ExchangeInterAxis(uint32_t axisA, uint32_t axisB) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_ExchangeInterAxis",
                              [&] { return interface::ExchangeInterAxis(axisA, axisB); });
}

LINKORA_EXPORT LinkoraStatus mctl_ResetReferenceFlag(uint32_t axisMask) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_ResetReferenceFlag", [&] {
    return interface::SendWordCommand(CommandCode::ResetReferenceFlag,
                                      interface::PathBufferUse::Refuse, axisMask);
  });
}
