// Exports of the programmed velocities, the override and the machine's
// configuration.
#include <array>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "interface/drill_plugin.h"
#include "interface/export_frame.h"
#include "interface/include/linkora.h"
#include "interface/motion_payloads.h"
#include "interface/motion_request.h"
#include "platform/os/library_path.h"

namespace vantor::interface {
namespace {

using common::CommandCode;
namespace cb = common::communication_block;

static_assert(sizeof(LinkoraVelocityRecord) == 4 * kVelocityWords &&
              sizeof(LinkoraVelocityRecord) == 32);
static_assert(offsetof(LinkoraVelocityRecord, LinearTeachInVel) == 16);
static_assert(offsetof(LinkoraVelocityRecord, CurrentRotationVel) == 28);
static_assert(sizeof(LinkoraConfigurationRecord) == 4 * kConfigurationWords &&
              sizeof(LinkoraConfigurationRecord) == 188);

common::StatusCode SetVelocity(const LinkoraVelocityRecord* record, std::uint32_t size) {
  if (size != sizeof(LinkoraVelocityRecord)) return common::kLibraryRecordSizeMismatch;
  if (record == nullptr) return common::kLibraryCallParameterInvalid;
  VelocityRecord words;
  std::memcpy(words.data(), record, sizeof *record);
  return SendMotionCommand(CommandCode::SetVelocity, PathBufferUse::Ignore,
                           [&](ChannelCounts) { return VelocityPayload(words); });
}

// On a failure the caller's record stays as it was.
common::StatusCode GetVelocity(LinkoraVelocityRecord* record, std::uint32_t size) {
  if (size != sizeof(LinkoraVelocityRecord)) return common::kLibraryRecordSizeMismatch;
  if (record == nullptr) return common::kLibraryCallParameterInvalid;
  return ReadMotionAnswer(CommandCode::GetVelocity,
                          [&](common::ConstCommunicationBlockView answer, ChannelCounts) {
                            const VelocityRecord words = ReadVelocityAnswer(answer);
                            std::memcpy(record, words.data(), sizeof *record);
                          });
}

common::StatusCode SetOverride(std::uint32_t percent) {
  return SendMotionCommand(CommandCode::SetOverride, PathBufferUse::Ignore,
                           [&](ChannelCounts) { return OneWordPayload(percent); });
}

common::StatusCode GetOverride(std::uint32_t* percent) {
  if (percent == nullptr) return common::kLibraryCallParameterInvalid;
  return ReadMotionAnswer(CommandCode::GetOverride,
                          [&](common::ConstCommunicationBlockView answer, ChannelCounts) {
                            *percent = answer.Load<std::uint32_t>(cb::PayloadAt(0)).value_or(0);
                          });
}

bool DrillPluginFilePresent() {
  std::error_code error;
  return std::filesystem::exists(os::ModuleFolder() + "/" + kDrillPluginFileName, error);
}

// The record is zeroed first, so a failure leaves it empty.
common::StatusCode GetConfiguration(LinkoraConfigurationRecord* record, std::uint32_t size) {
  if (size != sizeof(LinkoraConfigurationRecord)) return common::kLibraryRecordSizeMismatch;
  if (record == nullptr) return common::kLibraryCallParameterInvalid;
  std::memset(record, 0, sizeof *record);
  return ReadMotionAnswer(CommandCode::GetConfiguration,
                          [&](common::ConstCommunicationBlockView answer, ChannelCounts) {
                            ConfigurationRecord words = ReadConfigurationAnswer(answer);
                            if (DrillPluginFilePresent()) {
                              words[0] = static_cast<std::int32_t>(
                                  static_cast<std::uint32_t>(words[0]) | kConfigurationDrillFlag);
                            }
                            std::memcpy(record, words.data(), sizeof *record);
                          });
}

}  // namespace
}  // namespace vantor::interface

using namespace vantor;

LINKORA_EXPORT LinkoraStatus mctl_GetConfiguration(LinkoraConfigurationRecord* record,
                                                   uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_GetConfiguration",
                              [&] { return interface::GetConfiguration(record, size); });
}

LINKORA_EXPORT LinkoraStatus mctl_SetVelocity(const LinkoraVelocityRecord* record, uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_SetVelocity",
                              [&] { return interface::SetVelocity(record, size); });
}

LINKORA_EXPORT LinkoraStatus mctl_GetVelocity(LinkoraVelocityRecord* record, uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_GetVelocity",
                              [&] { return interface::GetVelocity(record, size); });
}

LINKORA_EXPORT LinkoraStatus mctl_SetOverride(uint32_t percent) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_SetOverride",
                              [&] { return interface::SetOverride(percent); });
}

LINKORA_EXPORT LinkoraStatus mctl_GetOverride(uint32_t* percent) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_GetOverride",
                              [&] { return interface::GetOverride(percent); });
}
