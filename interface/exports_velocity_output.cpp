// Exports of the velocity-proportional output: a CAN object whose value
// follows the path velocity.
#include <array>
#include <cstddef>
#include <cstring>

#include "common/velocity_output_records.h"
#include "interface/export_frame.h"
#include "interface/include/linkora.h"
#include "interface/motion_payloads.h"
#include "interface/motion_request.h"

namespace vantor::interface {
namespace {

using common::CommandCode;
namespace cb = common::communication_block;
namespace start = common::velocity_output_start;
namespace parameters = common::velocity_output_parameters;
namespace state = common::velocity_output_state;

// The caller's records have the payload's layout.
template <typename Field>
constexpr bool At(std::size_t recordOffset, Field field) {
  return cb::PayloadAt(recordOffset) == field.kOffset;
}
static_assert(sizeof(LinkoraVelPropOutputRecord) == start::kRecordSize);
static_assert(At(offsetof(LinkoraVelPropOutputRecord, NodeId), start::kNodeId));
static_assert(At(offsetof(LinkoraVelPropOutputRecord, CobId), start::kCobId));
static_assert(At(offsetof(LinkoraVelPropOutputRecord, DataLength), start::kDataLength));
static_assert(At(offsetof(LinkoraVelPropOutputRecord, Compare), start::kCompare));
static_assert(At(offsetof(LinkoraVelPropOutputRecord, Mask), start::kMask));
static_assert(At(offsetof(LinkoraVelPropOutputRecord, Expected), start::kExpected));
static_assert(At(offsetof(LinkoraVelPropOutputRecord, Period), start::kPeriod));
static_assert(sizeof(LinkoraVelPropOutputWorkPar) == parameters::kRecordSize);
static_assert(At(offsetof(LinkoraVelPropOutputWorkPar, Divisor), parameters::kDivisor));
static_assert(At(offsetof(LinkoraVelPropOutputWorkPar, DelayMicroseconds),
                 parameters::kDelayMicroseconds));
static_assert(sizeof(LinkoraVelPropOutputActPar) == state::kRecordSize);
static_assert(At(offsetof(LinkoraVelPropOutputActPar, Enable), state::kEnable));
static_assert(At(offsetof(LinkoraVelPropOutputActPar, EffectiveDelayMicroseconds),
                 state::kEffectiveDelayMicroseconds));

template <std::size_t Length>
void PutWords(Payload& payload, const std::uint8_t (&bytes)[Length]) {
  static_assert(Length % sizeof(std::uint32_t) == 0);
  for (std::size_t at = 0; at < Length; at += sizeof(std::uint32_t)) {
    std::uint32_t word = 0;
    std::memcpy(&word, bytes + at, sizeof word);
    payload.U32(word);
  }
}

// Field by field: the record's unused bytes go as zeros, so that the data
// length, which the kernel reads as a 32-bit word, is the caller's byte.
Payload StartPayload(const LinkoraVelPropOutputRecord& record) {
  Payload payload;
  payload.U32(record.Mode).U32(record.DelayMicroseconds).U32(record.Direction).U32(record.Guarding);
  payload.U8(record.NodeId).Zeros(1).U16(record.CobId);
  payload.U8(record.DataLength).Zeros(3);
  payload.U32(record.Compare);
  PutWords(payload, record.Mask);
  PutWords(payload, record.Expected);
  payload.U32(record.AnswerTimeout).U32(record.Period);
  return payload;
}

common::StatusCode Activate(const LinkoraVelPropOutputRecord* record, std::uint32_t size) {
  if (size != sizeof(LinkoraVelPropOutputRecord)) return common::kLibraryRecordSizeMismatch;
  if (record == nullptr) return common::kLibraryCallParameterInvalid;
  return SendMotionCommand(CommandCode::ActivateVelPropOutputMode, PathBufferUse::Ignore,
                           [&](ChannelCounts) { return StartPayload(*record); });
}

common::StatusCode SetWorkParameters(const LinkoraVelPropOutputWorkPar* record,
                                     std::uint32_t size) {
  if (size != sizeof(LinkoraVelPropOutputWorkPar)) return common::kLibraryRecordSizeMismatch;
  if (record == nullptr) return common::kLibraryCallParameterInvalid;
  return SendMotionCommand(CommandCode::SetVelPropOutputWorkPar, PathBufferUse::Ignore,
                           [&](ChannelCounts) {
                             Payload payload;
                             payload.U32(record->Enable)
                                 .U32(static_cast<std::uint32_t>(record->Gain))
                                 .U32(static_cast<std::uint32_t>(record->Divisor))
                                 .U32(static_cast<std::uint32_t>(record->Offset))
                                 .U32(record->DelayMicroseconds);
                             return payload;
                           });
}

common::StatusCode GetActualParameters(LinkoraVelPropOutputActPar* record, std::uint32_t size) {
  if (size != sizeof(LinkoraVelPropOutputActPar)) return common::kLibraryRecordSizeMismatch;
  if (record == nullptr) return common::kLibraryCallParameterInvalid;
  return ReadMotionAnswer(CommandCode::GetVelPropOutputActPar,
                          [&](common::ConstCommunicationBlockView answer, ChannelCounts) {
                            std::array<std::uint32_t, sizeof *record / sizeof(std::uint32_t)> words;
                            for (std::size_t i = 0; i < words.size(); ++i) {
                              words[i] = AnswerWord(answer, sizeof(std::uint32_t) * i);
                            }
                            std::memcpy(record, words.data(), sizeof *record);
                          });
}

}  // namespace
}  // namespace vantor::interface

using namespace vantor;

LINKORA_EXPORT LinkoraStatus
mctl_ActivateVelPropOutputMode(const LinkoraVelPropOutputRecord* record, uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_ActivateVelPropOutputMode",
                              [&] { return interface::Activate(record, size); });
}

LINKORA_EXPORT LinkoraStatus mctl_DeactivateVelPropOutputMode(void) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_DeactivateVelPropOutputMode", [] {
    return interface::SendBareCommand(common::CommandCode::DeactivateVelPropOutputMode);
  });
}

LINKORA_EXPORT LinkoraStatus mctl_SetVelPropOutputWorkPar(const LinkoraVelPropOutputWorkPar* record,
                                                          uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_SetVelPropOutputWorkPar",
                              [&] { return interface::SetWorkParameters(record, size); });
}

LINKORA_EXPORT LinkoraStatus mctl_GetVelPropOutputActPar(LinkoraVelPropOutputActPar* record,
                                                         uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_GetVelPropOutputActPar",
                              [&] { return interface::GetActualParameters(record, size); });
}
