// Exports of the coordinates' software limit switches.
#include <cstddef>
#include <cstdint>

#include "common/complete_status_record.h"
#include "interface/complete_status_fetch.h"
#include "interface/export_frame.h"
#include "interface/include/linkora.h"
#include "interface/motion_payloads.h"
#include "interface/motion_request.h"

namespace vantor::interface {
namespace {

using common::CommandCode;
namespace cs = common::complete_status;

static_assert(sizeof(LinkoraSwlsRecord) == 88);
static_assert(offsetof(LinkoraSwlsRecord, NegLimit) == 12);
static_assert(offsetof(LinkoraSwlsRecord, PosLimit) == 48);
static_assert(offsetof(LinkoraSwlsRecord, LimitReached) == 84);

// The limits travel in eight 64-bit slots each, the negative ones from P+8,
// the positive ones from P+72.
constexpr std::size_t kLimitSlots = 8;
constexpr std::size_t kNegativeLimitsAt = 8;
constexpr std::size_t kPositiveLimitsAt = kNegativeLimitsAt + 8 * kLimitSlots;

common::StatusCode SetLimits(const LinkoraSwlsRecord* record, std::uint32_t size) {
  if (size != sizeof(LinkoraSwlsRecord)) return common::kLibraryRecordSizeMismatch;
  if (record == nullptr) return common::kLibraryCallParameterInvalid;
  const LinkoraSwlsRecord limits = *record;
  return SendMotionCommand(CommandCode::SetSwls, PathBufferUse::Ignore, [&](ChannelCounts counts) {
    Payload payload;
    payload.U32(limits.EnableMask).Zeros(4);
    for (std::size_t i = 0; i < kLimitSlots; ++i) {
      payload.I64(i < counts.coordinates ? common::Int32ToWire(limits.NegLimit[i]) : 0);
    }
    for (std::size_t i = 0; i < kLimitSlots; ++i) {
      payload.I64(i < counts.coordinates ? common::Int32ToWire(limits.PosLimit[i]) : 0);
    }
    return payload;
  });
}

// Marks the coordinates that stand at a limit now: an OK word of 0 in the
// complete status is a warning.
void MarkLimitWarnings(const common::CompleteStatusRecord& status, std::uint32_t coordinates,
                       LinkoraSwlsRecord& limits) {
  limits.NegWarningMask = 0;
  limits.PosWarningMask = 0;
  limits.LimitReached = 0;
  for (std::uint32_t i = 0; i < coordinates; ++i) {
    const bool negative =
        status.Load<std::uint32_t>(cs::CurrentNegSweWarningOffset(i)).value_or(1) == 0;
    const bool positive =
        status.Load<std::uint32_t>(cs::CurrentPosSweWarningOffset(i)).value_or(1) == 0;
    if (negative) limits.NegWarningMask |= 1u << i;
    if (positive) limits.PosWarningMask |= 1u << i;
    if (negative || positive) limits.LimitReached = 1;
  }
}

// The limits in force and the warnings of the present status; the caller's
// record changes only when both were read. The warning masks hold only
// what the status shows, whatever the caller's record held before.
common::StatusCode GetLimitStatus(LinkoraSwlsRecord* record, std::uint32_t size) {
  if (size != sizeof(LinkoraSwlsRecord)) return common::kLibraryRecordSizeMismatch;
  if (record == nullptr) return common::kLibraryCallParameterInvalid;
  LinkoraSwlsRecord limits = *record;
  std::uint32_t coordinates = 0;
  const common::StatusCode read =
      ReadMotionAnswer(CommandCode::GetSwlsStatus,
                       [&](common::ConstCommunicationBlockView answer, ChannelCounts counts) {
                         coordinates = counts.coordinates;
                         limits.EnableMask = AnswerWord(answer, 0);
                         for (std::uint32_t i = 0; i < coordinates; ++i) {
                           limits.NegLimit[i] = AnswerWireValue(answer, kNegativeLimitsAt + 8 * i);
                           limits.PosLimit[i] = AnswerWireValue(answer, kPositiveLimitsAt + 8 * i);
                         }
                       });
  if (read != common::kLibrarySuccess) return read;
  FetchedStatus fetched;
  const common::StatusCode fetchedResult = FetchCompleteStatus(fetched);
  if (fetchedResult != common::kLibrarySuccess) return fetchedResult;
  MarkLimitWarnings(fetched.record, coordinates, limits);
  *record = limits;
  return common::kLibrarySuccess;
}

common::StatusCode EnableLimits(std::uint32_t coordinateMask, std::uint32_t enableBits) {
  return SendMotionCommand(CommandCode::EnableSwls, PathBufferUse::Ignore, [&](ChannelCounts) {
    Payload payload;
    payload.U32(coordinateMask).U32(enableBits);
    return payload;
  });
}

}  // namespace
}  // namespace vantor::interface

using namespace vantor;

LINKORA_EXPORT LinkoraStatus mctl_GetSWLSStatus(LinkoraSwlsRecord* record, uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_GetSWLSStatus",
                              [&] { return interface::GetLimitStatus(record, size); });
}

LINKORA_EXPORT LinkoraStatus mctl_SetSWLS(const LinkoraSwlsRecord* record, uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_SetSWLS",
                              [&] { return interface::SetLimits(record, size); });
}

LINKORA_EXPORT LinkoraStatus mctl_EnableSWLS(uint32_t coordinateMask, uint32_t enableBits) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_EnableSWLS",
                              [&] { return interface::EnableLimits(coordinateMask, enableBits); });
}

LINKORA_EXPORT LinkoraStatus mctl_ClearSWLS(void) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_ClearSWLS", [] {
    return interface::SendBareCommand(common::CommandCode::ClearSwls);
  });
}
