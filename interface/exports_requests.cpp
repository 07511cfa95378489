// Exports of texts, trace output and raw SDO frames.
#include <algorithm>
#include <cstring>
#include <string>

#include "common/status_texts.h"
#include "interface/channel_access.h"
#include "interface/export_frame.h"
#include "interface/include/linkora.h"

namespace vantor::interface {
namespace {

namespace cb = common::communication_block;

constexpr int kSdoAttempts = 3;

static_assert(sizeof(LinkoraSdoFrame) == 32);
static_assert(offsetof(LinkoraSdoFrame, ResponseCobId) == 12);
static_assert(offsetof(LinkoraSdoFrame, ResponseLength) == 22);
static_assert(offsetof(LinkoraSdoFrame, TimeUsed) == 28);

common::StatusCode GetErrorText(std::uint32_t code, std::int32_t language, char* text,
                                std::uint32_t size) {
  // Nothing can be written into a buffer without room for the terminator.
  if (text == nullptr || size == 0) return common::kLibrarySuccess;
  std::string deviceName;
  {
    std::shared_lock guard(Link().guard);
    deviceName = Link().messageDeviceName;
  }
  const std::string message =
      common::FormatStatusMessage(code, common::LanguageFromFlag(language), deviceName);
  const std::size_t length = std::min<std::size_t>(message.size(), size - 1);
  std::memcpy(text, message.data(), length);
  text[length] = '\0';
  return common::kLibrarySuccess;
}

common::StatusCode InitDebugViewOutput(const LinkoraTraceFilter* filter, std::uint32_t size) {
  if (size != sizeof(LinkoraTraceFilter)) return common::kLibraryRecordSizeMismatch;
  ChannelGrant grant;
  const auto acquired = AcquireChannel(AreaKind::Standard, HomingCheck::Wait, grant);
  if (acquired != common::kLibrarySuccess) return acquired;
  if (filter == nullptr) return common::kLibraryCallParameterInvalid;
  const bool withNames = filter->Names != nullptr && filter->NameCount != 0;
  LibraryTrace().SetFilter(filter->AllFlag != 0, filter->Prefix, withNames ? filter->NameCount : 0,
                           withNames ? filter->Names : nullptr);
  return common::kLibrarySuccess;
}

common::StatusCode ComViaSdo(LinkoraSdoFrame* frame, std::uint32_t size) {
  if (size != sizeof(LinkoraSdoFrame)) return common::kLibraryRecordSizeMismatch;
  if (frame == nullptr) return common::kLibraryCallParameterInvalid;
  ChannelGrant grant;
  const auto acquired = AcquireChannel(AreaKind::Sdo, HomingCheck::Wait, grant);
  if (acquired != common::kLibrarySuccess) return acquired;
  if (frame->RequestLength > cb::kSdoFrameDataSize) return common::kKernelCanMessageInvalid;

  auto block = grant.block();
  std::uint32_t timeUsed = 0;
  common::StatusCode result = common::kKernelCanMessageTimeout;
  for (int attempt = 0; attempt < kSdoAttempts; ++attempt) {
    block.Set(cb::kSdoRequestLength, frame->RequestLength);
    block.Set(cb::kSdoRequestCobId, frame->RequestCobId);
    block.Set(cb::kSdoAnswerCobId, frame->ResponseCobId);
    block.Set(cb::kSdoTimeoutMicroseconds, frame->Timeout);
    block.CopyIn(cb::kSdoRequestData.kOffset,
                 std::span<const std::uint8_t>(frame->RequestData, frame->RequestLength));
    const auto answered = RunSdoRequest(grant);
    if (answered != common::kLibrarySuccess) return answered;
    timeUsed += block.Get(cb::kSdoElapsedMicroseconds);
    result = block.Get(cb::kSdoResult);
    if (result == common::kKernelSuccess) {
      // The answer's length comes from the kernel: never beyond the frame.
      const std::uint8_t length =
          std::min<std::uint8_t>(block.Get(cb::kSdoAnswerLength), cb::kSdoFrameDataSize);
      frame->TimeUsed = timeUsed;
      frame->ResponseLength = length;
      block.CopyOut(cb::kSdoAnswerData.kOffset,
                    std::span<std::uint8_t>(frame->ResponseData, length));
      return common::kLibrarySuccess;
    }
  }
  frame->TimeUsed = timeUsed;
  return result;
}

}  // namespace
}  // namespace vantor::interface

using namespace vantor;

LINKORA_EXPORT LinkoraStatus mctl_GetErrorText(uint32_t code, int32_t language, char* text,
                                               uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_GetErrorText",
                              [&] { return interface::GetErrorText(code, language, text, size); });
}

LINKORA_EXPORT LinkoraStatus mctl_InitDebugViewOutput(const LinkoraTraceFilter* filter,
                                                      uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_InitDebugViewOutput",
                              [&] { return interface::InitDebugViewOutput(filter, size); });
}

LINKORA_EXPORT LinkoraStatus cpctl_ComViaSdo(LinkoraSdoFrame* frame, uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "cpctl_ComViaSdo",
                              [&] { return interface::ComViaSdo(frame, size); });
}
