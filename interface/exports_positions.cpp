// Exports of the positions and of the work zero point.
#include <array>
#include <span>

#include "interface/export_frame.h"
#include "interface/include/linkora.h"
#include "interface/motion_payloads.h"
#include "interface/motion_request.h"

namespace vantor::interface {
namespace {

using common::CommandCode;

enum class PositionList { Coordinates, Axes };

// Fills the first CoorNo (or AxisNo) values; the rest of the caller's
// array, and all of it on a failure, stays as it was.
common::StatusCode ReadPositions(CommandCode code, PositionList list, std::int32_t* target) {
  if (target == nullptr) return common::kLibraryCallParameterInvalid;
  return ReadMotionAnswer(code, [&](common::ConstCommunicationBlockView answer,
                                    ChannelCounts counts) {
    const std::uint32_t count = list == PositionList::Axes ? counts.axes : counts.coordinates;
    ReadWireValues(answer, count, std::span<std::int32_t, kPositionSlots>(target, kPositionSlots));
  });
}

common::StatusCode ReadCoordinates(CommandCode code, std::int32_t* target, std::uint32_t size) {
  if (size != LINKORA_POSITION_ARRAY_SIZE) return common::kLibraryRecordSizeMismatch;
  return ReadPositions(code, PositionList::Coordinates, target);
}

common::StatusCode SetZeroPoint(bool absolute, const std::int32_t* zeroPoint, std::uint32_t size) {
  if (size != LINKORA_POSITION_ARRAY_SIZE) return common::kLibraryRecordSizeMismatch;
  if (zeroPoint == nullptr) return common::kLibraryCallParameterInvalid;
  const std::span<const std::int32_t, kPositionSlots> values(zeroPoint, kPositionSlots);
  return SendMotionCommand(CommandCode::SetWnp, PathBufferUse::Refuse, [&](ChannelCounts counts) {
    return ZeroPointPayload(absolute, values, counts.coordinates);
  });
}

}  // namespace
}  // namespace vantor::interface

using namespace vantor;
using common::CommandCode;

LINKORA_EXPORT LinkoraStatus mctl_GetPosition(int32_t* position, uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_GetPosition", [&] {
    return interface::ReadCoordinates(CommandCode::GetPosition, position, size);
  });
}

LINKORA_EXPORT LinkoraStatus mctl_GetDestinationPos(int32_t* position, uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_GetDestinationPos", [&] {
    return interface::ReadCoordinates(CommandCode::GetDestinationPos, position, size);
  });
}

LINKORA_EXPORT LinkoraStatus mctl_GetDesiredPos(int32_t* position, uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_GetDesiredPos", [&] {
    return interface::ReadCoordinates(CommandCode::GetDesiredPos, position, size);
  });
}

// The size is not looked at: callers have always passed the nine slots.
LINKORA_EXPORT LinkoraStatus mctl_GetAxisPosition(int32_t* position, uint32_t /*size*/) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_GetAxisPosition", [&] {
    return interface::ReadPositions(CommandCode::GetAxisPosition, interface::PositionList::Axes,
                                    position);
  });
}

LINKORA_EXPORT LinkoraStatus mctl_SetActPosWNP(void) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_SetActPosWNP", [] {
    return interface::SendMotionCommand(CommandCode::SetActPosWnp, interface::PathBufferUse::Refuse,
                                        [](interface::ChannelCounts) {
                                          return interface::Payload {};
                                        });
  });
}

LINKORA_EXPORT LinkoraStatus mctl_SetWNPAbs(const int32_t* zeroPoint, uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_SetWNPAbs",
                              [&] { return interface::SetZeroPoint(true, zeroPoint, size); });
}

LINKORA_EXPORT LinkoraStatus mctl_SetWNPRel(const int32_t* zeroPoint, uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_SetWNPRel",
                              [&] { return interface::SetZeroPoint(false, zeroPoint, size); });
}

LINKORA_EXPORT LinkoraStatus mctl_GetWNP(int32_t* zeroPoint, uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_GetWNP", [&] {
    return interface::ReadCoordinates(CommandCode::GetWnp, zeroPoint, size);
  });
}

// Clearing is setting the absolute zero point to nothing, through the
// export itself.
LINKORA_EXPORT LinkoraStatus mctl_ClearWNP(void) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_ClearWNP", [] {
    const std::array<std::int32_t, interface::kPositionSlots> zeros{};
    return mctl_SetWNPAbs(zeros.data(), LINKORA_POSITION_ARRAY_SIZE);
  });
}
