#include "interface/motion_request.h"

#include <cstddef>

#include "interface/cnc_mode.h"
#include "interface/path_buffer_append.h"

namespace vantor::interface {

common::StatusCode MotionRequest::Open() {
  const common::StatusCode acquired =
      AcquireChannel(AreaKind::Standard, HomingCheck::Refuse, grant_);
  if (acquired != common::kLibrarySuccess) return acquired;
  if (!InCncMode()) {
    grant_.Release();
    return common::kLibraryCncNotInitialized;
  }
  counts_ = ReadChannelCounts(grant_.block());
  return common::kLibrarySuccess;
}

common::StatusCode MotionRequest::Send(common::CommandCode code,
                                       std::span<const std::uint8_t> payload) {
  return common::LibraryResultFromKernel(
      RunStandardRequest(grant_, static_cast<std::uint32_t>(code), payload));
}

common::StatusCode MotionRequest::Send(common::CommandCode code, PathBufferUse use,
                                       const Payload& payload) {
  switch (use) {
    case PathBufferUse::Ignore:
      break;
    case PathBufferUse::Refuse:
      if (DllPathBufferOn()) return common::kLibraryDllPathBufferActive;
      break;
    case PathBufferUse::Append:
      if (IsPathBufferEnabled()) {
        return AppendPathBufferRecord(static_cast<std::uint32_t>(code),
                                      std::as_bytes(payload.Bytes()));
      }
      break;
  }
  return Send(code, payload.Bytes());
}

common::StatusCode SendBareCommand(common::CommandCode code) {
  return SendMotionCommand(code, PathBufferUse::Ignore, [](ChannelCounts) { return Payload(); });
}

common::StatusCode SendWordCommand(common::CommandCode code, PathBufferUse use,
                                   std::uint32_t word) {
  return SendMotionCommand(code, use, [&](ChannelCounts) { return OneWordPayload(word); });
}

common::StatusCode ReadWordAnswer(common::CommandCode code, PathBufferUse use,
                                  std::uint32_t* word) {
  if (word == nullptr) return common::kLibraryCallParameterInvalid;
  return ExchangeMotionCommand(
      code, use, [](ChannelCounts) { return Payload(); },
      [&](common::ConstCommunicationBlockView answer, ChannelCounts) {
        *word = AnswerWord(answer, 0);
      });
}

}  // namespace vantor::interface
