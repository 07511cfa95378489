// Exports of the user PDOs: registering a CAN object in the kernel's list,
// removing it, and reading and writing its data.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

#include "common/pdo_command_records.h"
#include "interface/channel_access.h"
#include "interface/cnc_mode.h"
#include "interface/export_frame.h"
#include "interface/include/linkora.h"

namespace vantor::interface {
namespace {

namespace ap = common::assign_pdo;
namespace pd = common::pdo_data;
constexpr std::uint32_t kAssignPdo = 47;
constexpr std::uint32_t kClearPdo = 48;
constexpr std::uint32_t kReadPdo = 49;
constexpr std::uint32_t kWritePdo = 50;

// The caller's records are the payload as it stands.
static_assert(sizeof(LinkoraPdoAssignment) == ap::kRecordSize);
static_assert(offsetof(LinkoraPdoAssignment, NodeId) == ap::kNodeId.kOffset - ap::kDirection.kOffset);
static_assert(offsetof(LinkoraPdoAssignment, CobId) == ap::kCobId.kOffset - ap::kDirection.kOffset);
static_assert(offsetof(LinkoraPdoAssignment, Length) == ap::kLength.kOffset - ap::kDirection.kOffset);
static_assert(offsetof(LinkoraPdoAssignment, Mask) == ap::kMask.kOffset - ap::kDirection.kOffset);
static_assert(offsetof(LinkoraPdoAssignment, Period) == ap::kPeriod.kOffset - ap::kDirection.kOffset);
static_assert(sizeof(LinkoraPdoData) == pd::kRecordSize);
static_assert(offsetof(LinkoraPdoData, Data) == pd::kData.kOffset - pd::kCobId.kOffset);
static_assert(offsetof(LinkoraPdoData, Length) == pd::kLength.kOffset - pd::kCobId.kOffset);
static_assert(offsetof(LinkoraPdoData, Mismatch) == pd::kMismatch.kOffset - pd::kCobId.kOffset);

using PdoPayload = std::array<std::uint8_t, pd::kRecordSize>;

// The standard area with the CNC mode, or the reason why not.
common::StatusCode AcquireCncChannel(ChannelGrant& grant) {
  const auto acquired = AcquireChannel(AreaKind::Standard, HomingCheck::Wait, grant);
  if (acquired != common::kLibrarySuccess) return acquired;
  return InCncMode() ? common::kLibrarySuccess : common::kLibraryCncNotInitialized;
}

common::StatusCode AssignPdo(const LinkoraPdoAssignment* record, std::uint32_t size) {
  if (size != sizeof(LinkoraPdoAssignment)) return common::kLibraryRecordSizeMismatch;
  if (record == nullptr) return common::kLibraryCallParameterInvalid;
  ChannelGrant grant;
  const auto acquired = AcquireCncChannel(grant);
  if (acquired != common::kLibrarySuccess) return acquired;
  std::array<std::uint8_t, ap::kRecordSize> payload{};
  std::memcpy(payload.data(), record, payload.size());
  return RunStandardRequest(grant, kAssignPdo, payload);
}

common::StatusCode ClearPdo(std::uint16_t cobId) {
  ChannelGrant grant;
  const auto acquired = AcquireCncChannel(grant);
  if (acquired != common::kLibrarySuccess) return acquired;
  std::array<std::uint8_t, sizeof cobId> payload{};
  std::memcpy(payload.data(), &cobId, payload.size());
  return RunStandardRequest(grant, kClearPdo, payload);
}

// Codes 49 and 50 on the caller's data record: what the kernel answers
// goes back into it; without an answer its length and mismatch word are 0.
enum class PdoDirection { Read, Write };

common::StatusCode ExchangePdoData(LinkoraPdoData* record, std::uint32_t size,
                                   PdoDirection direction) {
  if (size != sizeof(LinkoraPdoData)) return common::kLibraryRecordSizeMismatch;
  if (record == nullptr) return common::kLibraryCallParameterInvalid;
  ChannelGrant grant;
  const auto acquired = AcquireCncChannel(grant);
  if (acquired != common::kLibrarySuccess) {
    record->Length = 0;
    record->Mismatch = 0;
    return acquired;
  }
  PdoPayload payload{};
  std::memcpy(payload.data(), &record->CobId, sizeof record->CobId);
  const bool write = direction == PdoDirection::Write;
  if (write) {
    const std::size_t dataOffset = pd::kData.kOffset - pd::kCobId.kOffset;
    const std::size_t count = std::min<std::size_t>(record->Length, sizeof record->Data);
    std::memcpy(payload.data() + dataOffset, record->Data, count);
    payload[pd::kLength.kOffset - pd::kCobId.kOffset] = record->Length;
  }
  const auto result =
      RunStandardRequest(grant, write ? kWritePdo : kReadPdo, payload);
  if (result == common::kLibraryKernelNotFound || result == common::kLibraryCallParameterInvalid) {
    record->Length = 0;
    record->Mismatch = 0;
    return result;
  }
  const auto block = grant.block();
  record->Mismatch = block.Get(pd::kMismatch);
  if (result != common::kKernelSuccess) {
    record->Length = 0;
    return result;
  }
  // The length comes from the kernel: never beyond the record's data.
  const std::uint8_t length = block.Get(pd::kLength);
  record->Length = length;
  if (!write) {
    const auto data = block.GetBytes(pd::kData);
    std::copy_n(data.begin(), std::min<std::size_t>(length, sizeof record->Data), record->Data);
  }
  return result;
}

}  // namespace
}  // namespace vantor::interface

using namespace vantor;

LINKORA_EXPORT LinkoraStatus cpctl_AssignPdo(const LinkoraPdoAssignment* record, uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "cpctl_AssignPdo",
                              [&] { return interface::AssignPdo(record, size); });
}

LINKORA_EXPORT LinkoraStatus cpctl_ClearPdo(uint16_t cobId) {
  static std::mutex lock;
  return interface::RunExport(lock, "cpctl_ClearPdo", [&] { return interface::ClearPdo(cobId); });
}

LINKORA_EXPORT LinkoraStatus cpctl_ReadPdo(LinkoraPdoData* record, uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "cpctl_ReadPdo", [&] {
    return interface::ExchangePdoData(record, size, interface::PdoDirection::Read);
  });
}

LINKORA_EXPORT LinkoraStatus cpctl_WritePdo(LinkoraPdoData* record, uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "cpctl_WritePdo", [&] {
    return interface::ExchangePdoData(record, size, interface::PdoDirection::Write);
  });
}
