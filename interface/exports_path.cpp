// Exports of continuous-path operation and the DLL path buffer.
#include <cstddef>
#include <cstring>

#include "interface/export_frame.h"
#include "interface/include/linkora.h"
#include "interface/path_requests.h"

using namespace vantor;

namespace {

using interface::PathSwitch;

static_assert(sizeof(LinkoraPathBufferStatus) == sizeof(interface::PathQueueStatus));
static_assert(offsetof(LinkoraPathBufferStatus, SegmentCount) == 12);
static_assert(offsetof(LinkoraPathBufferStatus, Reserved32) == 32);
static_assert(sizeof(LinkoraDllPathBufferStatus) == sizeof(interface::DllPathBufferStatus));
static_assert(offsetof(LinkoraDllPathBufferStatus, Free) == 12);

constexpr std::uint32_t kVelocityRecordSize = 8 * sizeof(std::int32_t);

}  // namespace

LINKORA_EXPORT LinkoraStatus mctl_cp_EnablePath(uint32_t) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_cp_EnablePath",
                              [] { return interface::SendPathSwitch(PathSwitch::PathMode, 1); });
}

LINKORA_EXPORT LinkoraStatus mctl_cp_DisablePath(uint32_t) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_cp_DisablePath",
                              [] { return interface::SendPathSwitch(PathSwitch::PathMode, 0); });
}

LINKORA_EXPORT LinkoraStatus mctl_cp_StartPath(uint32_t) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_cp_StartPath",
                              [] { return interface::SendPathSwitch(PathSwitch::PathStart, 1); });
}

LINKORA_EXPORT LinkoraStatus mctl_cp_EndPath(uint32_t) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_cp_EndPath",
                              [] { return interface::SendPathSwitch(PathSwitch::PathStart, 0); });
}

LINKORA_EXPORT LinkoraStatus mctl_cp_SetBufferSize(int32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_cp_SetBufferSize", [&] {
    return interface::SendPathSwitch(PathSwitch::QueueCapacity, static_cast<std::uint32_t>(size));
  });
}

LINKORA_EXPORT LinkoraStatus mctl_cp_GetBufferStatus(LinkoraPathBufferStatus* record,
                                                     uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_cp_GetBufferStatus", [&] {
    if (size != sizeof(LinkoraPathBufferStatus)) return common::kLibraryRecordSizeMismatch;
    if (record == nullptr) return common::kLibraryCallParameterInvalid;
    interface::PathQueueStatus status {};
    const auto result = interface::GetPathQueueStatus(status);
    if (result == common::kLibrarySuccess) std::memcpy(record, status.data(), sizeof *record);
    return result;
  });
}

LINKORA_EXPORT LinkoraStatus mctl_cp_SetVelocity(const int32_t* velocity, uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_cp_SetVelocity", [&] {
    if (size != kVelocityRecordSize) return common::kLibraryRecordSizeMismatch;
    if (velocity == nullptr) return common::kLibraryCallParameterInvalid;
    return interface::SetPathVelocity(std::span<const std::int32_t, 8>(velocity, 8));
  });
}

LINKORA_EXPORT LinkoraStatus mctl_cp_EventToSet(const char* eventName) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_cp_EventToSet",
                              [&] { return interface::SetPathEvent(eventName); });
}

LINKORA_EXPORT LinkoraStatus mctl_cp_EnableDllPathBuffer(uint32_t) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_cp_EnableDllPathBuffer", [] {
    return interface::SendPathSwitch(PathSwitch::DllPathBuffer, 1);
  });
}

LINKORA_EXPORT LinkoraStatus mctl_cp_DisableDllPathBuffer(uint32_t) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_cp_DisableDllPathBuffer", [] {
    return interface::SendPathSwitch(PathSwitch::DllPathBuffer, 0);
  });
}

LINKORA_EXPORT LinkoraStatus mctl_cp_TransferDllPathBuffer(uint32_t* recordNumber) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_cp_TransferDllPathBuffer", [&] {
    if (recordNumber == nullptr) return common::kLibraryCallParameterInvalid;
    return interface::TransferDllPathBuffer(*recordNumber);
  });
}

LINKORA_EXPORT LinkoraStatus mctl_cp_GetDllPathBufferStatus(LinkoraDllPathBufferStatus* record,
                                                            uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_cp_GetDllPathBufferStatus", [&] {
    if (size != sizeof(LinkoraDllPathBufferStatus)) return common::kLibraryRecordSizeMismatch;
    if (record == nullptr) return common::kLibraryCallParameterInvalid;
    interface::DllPathBufferStatus status {};
    const auto result = interface::GetDllPathBufferStatus(status);
    if (result == common::kLibrarySuccess) std::memcpy(record, status.data(), sizeof *record);
    return result;
  });
}
