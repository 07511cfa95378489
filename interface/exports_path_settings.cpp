// Exports of the path's settings: the path coordinates, the path ramp, the
// cylinder radius, the look-ahead fill levels, the working-plane rotation
// and the path velocity factor.
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
using common::ConstCommunicationBlockView;

constexpr std::size_t kRampValues = 4;
constexpr std::uint32_t kRampRecordSize = kRampValues * sizeof(std::int32_t);
constexpr std::uint32_t kRadiusRecordSize = sizeof(std::int32_t);

static_assert(sizeof(LinkoraPlaneRotation) == 8);
static_assert(offsetof(LinkoraPlaneRotation, Angle) == 4);

common::StatusCode GetRamp(std::int32_t* ramp, std::uint32_t size) {
  if (size != kRampRecordSize) return common::kLibraryRecordSizeMismatch;
  if (ramp == nullptr) return common::kLibraryCallParameterInvalid;
  return ReadMotionAnswer(CommandCode::GetRamp,
                          [&](ConstCommunicationBlockView answer, ChannelCounts) {
                            for (std::size_t i = 0; i < kRampValues; ++i)
                              ramp[i] = AnswerWireValue(answer, 8 * i);
                          });
}

common::StatusCode SetRamp(const std::int32_t* ramp, std::uint32_t size) {
  if (size != kRampRecordSize) return common::kLibraryRecordSizeMismatch;
  if (ramp == nullptr) return common::kLibraryCallParameterInvalid;
  return SendMotionCommand(CommandCode::SetRamp, PathBufferUse::Ignore, [&](ChannelCounts) {
    Payload payload;
    for (std::size_t i = 0; i < kRampValues; ++i) payload.Wire(ramp[i]);
    return payload;
  });
}

common::StatusCode SetCylinderPar(std::uint32_t coordinate, const std::int32_t* radius,
                                  std::uint32_t size) {
  if (size != kRadiusRecordSize) return common::kLibraryRecordSizeMismatch;
  if (radius == nullptr) return common::kLibraryCallParameterInvalid;
  return SendMotionCommand(CommandCode::SetCylinderPar, PathBufferUse::Ignore, [&](ChannelCounts) {
    Payload payload;
    payload.U32(coordinate).Zeros(4).Wire(*radius);
    return payload;
  });
}

common::StatusCode ChangeLookAheadBuffer(std::uint32_t pairSelect, std::uint32_t levelSelect) {
  return SendMotionCommand(CommandCode::ChangeLookAheadBuffer, PathBufferUse::Refuse,
                           [&](ChannelCounts) {
                             Payload payload;
                             payload.U32(FlagWord(pairSelect == 0)).U32(FlagWord(levelSelect == 0));
                             return payload;
                           });
}

common::StatusCode GetLookAheadBufferStatus(std::uint32_t pairSelect, std::uint32_t* status) {
  if (status == nullptr) return common::kLibraryCallParameterInvalid;
  return ExchangeMotionCommand(
      CommandCode::GetLookAheadBufferStatus, PathBufferUse::Ignore,
      [&](ChannelCounts) { return OneWordPayload(FlagWord(pairSelect == 0)); },
      [&](ConstCommunicationBlockView answer, ChannelCounts) {
        *status = FlagWord(AnswerWord(answer, 4) == 0);
      });
}

common::StatusCode SetPlaneRotation(const LinkoraPlaneRotation* rotation, std::uint32_t size) {
  if (size != sizeof(LinkoraPlaneRotation)) return common::kLibraryRecordSizeMismatch;
  if (rotation == nullptr) return common::kLibraryCallParameterInvalid;
  return SendMotionCommand(CommandCode::SetPlaneRotPar, PathBufferUse::Ignore, [&](ChannelCounts) {
    Payload payload;
    payload.U32(rotation->Plane).U32(static_cast<std::uint32_t>(rotation->Angle));
    return payload;
  });
}

common::StatusCode GetPlaneRotation(LinkoraPlaneRotation* rotation, std::uint32_t size) {
  if (size != sizeof(LinkoraPlaneRotation)) return common::kLibraryRecordSizeMismatch;
  if (rotation == nullptr) return common::kLibraryCallParameterInvalid;
  return ReadMotionAnswer(CommandCode::GetPlaneRotPar,
                          [&](ConstCommunicationBlockView answer, ChannelCounts) {
                            rotation->Plane = AnswerWord(answer, 0);
                            rotation->Angle = static_cast<std::int32_t>(AnswerWord(answer, 4));
                          });
}

}  // namespace
}  // namespace vantor::interface

using namespace vantor;
using common::CommandCode;
using interface::PathBufferUse;

LINKORA_EXPORT LinkoraStatus mctl_GetPathCoor(uint32_t* pathCoordinateMask) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_GetPathCoor", [&] {
    return interface::ReadWordAnswer(CommandCode::GetPathCoor, PathBufferUse::Refuse,
                                     pathCoordinateMask);
  });
}

LINKORA_EXPORT LinkoraStatus mctl_SetPathCoor(uint32_t pathCoordinateMask) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_SetPathCoor", [&] {
    return interface::SendWordCommand(CommandCode::SetPathCoor, PathBufferUse::Refuse,
                                      pathCoordinateMask);
  });
}

LINKORA_EXPORT LinkoraStatus mctl_GetRamp(int32_t* ramp, uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_GetRamp", [&] { return interface::GetRamp(ramp, size); });
}

LINKORA_EXPORT LinkoraStatus mctl_SetRamp(const int32_t* ramp, uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_SetRamp", [&] { return interface::SetRamp(ramp, size); });
}

LINKORA_EXPORT LinkoraStatus mctl_SetCylinderPar(uint32_t coordinate, const int32_t* radius,
                                                 uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_SetCylinderPar",
                              [&] { return interface::SetCylinderPar(coordinate, radius, size); });
}

LINKORA_EXPORT LinkoraStatus mctl_ChangeLookAheadBuffer(uint32_t pairSelect, uint32_t levelSelect) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_ChangeLookAheadBuffer", [&] {
    return interface::ChangeLookAheadBuffer(pairSelect, levelSelect);
  });
}

LINKORA_EXPORT LinkoraStatus mctl_GetLookAheadBufferStatus(uint32_t pairSelect, uint32_t* status) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_GetLookAheadBufferStatus", [&] {
    return interface::GetLookAheadBufferStatus(pairSelect, status);
  });
}

LINKORA_EXPORT LinkoraStatus mctl_SetPlaneRotPar(const LinkoraPlaneRotation* rotation,
                                                 uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_SetPlaneRotPar",
                              [&] { return interface::SetPlaneRotation(rotation, size); });
}

LINKORA_EXPORT LinkoraStatus mctl_GetPlaneRotPar(LinkoraPlaneRotation* rotation, uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_GetPlaneRotPar",
                              [&] { return interface::GetPlaneRotation(rotation, size); });
}

LINKORA_EXPORT LinkoraStatus mctl_SetPathVelFac(uint32_t factor) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_SetPathVelFac", [&] {
    return interface::SendWordCommand(CommandCode::SetPathVelFac, PathBufferUse::Ignore, factor);
  });
}

LINKORA_EXPORT LinkoraStatus mctl_GetPathVelFac(uint32_t* factor) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_GetPathVelFac", [&] {
    return interface::ReadWordAnswer(CommandCode::GetPathVelFac, PathBufferUse::Ignore, factor);
  });
}
