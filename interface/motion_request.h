// The request frame of the motion exports: the channel taken (refused
// while a homing run holds it), CNC mode checked, the counts read, and one
// command sent, or appended to the DLL path buffer while it is on.
#pragma once

#include <cstdint>
#include <span>

#include "common/command_codes.h"
#include "common/status_code.h"
#include "interface/channel_access.h"
#include "interface/motion_payloads.h"

namespace vantor::interface {

// What an export does while the DLL path buffer is on.
enum class PathBufferUse {
  Ignore,  // sent as always
  Refuse,  // 0xC914000D, nothing sent
  Append,  // stored in the buffer instead of sent; 0xC914000D when full
};

class MotionRequest {
 public:
  // Takes the channel and checks CNC mode: 0x09140000, or the refusal.
  common::StatusCode Open();
  ChannelCounts counts() const { return counts_; }

  // Sends `code` with `payload` and waits for the answer: 0x09140000 for
  // the kernel's success, else its result unchanged.
  common::StatusCode Send(common::CommandCode code, std::span<const std::uint8_t> payload);
  common::StatusCode Send(common::CommandCode code, PathBufferUse use, const Payload& payload);

  // The answer in the block, valid until the request is released.
  common::ConstCommunicationBlockView answer() const { return grant_.block(); }
  void Release() { grant_.Release(); }

 private:
  ChannelGrant grant_;
  ChannelCounts counts_;
};

// A command whose payload is built from the channel's counts and whose
// answer is the result alone. `build`: (ChannelCounts) -> Payload.
template <typename Build>
common::StatusCode SendMotionCommand(common::CommandCode code, PathBufferUse use, Build build) {
  MotionRequest request;
  const common::StatusCode opened = request.Open();
  if (opened != common::kLibrarySuccess) return opened;
  return request.Send(code, use, build(request.counts()));
}

// A command without payload whose answer `read` takes from the block on
// success: (ConstCommunicationBlockView, ChannelCounts) -> void.
template <typename Read>
common::StatusCode ReadMotionAnswer(common::CommandCode code, Read read) {
  MotionRequest request;
  const common::StatusCode opened = request.Open();
  if (opened != common::kLibrarySuccess) return opened;
  const common::StatusCode result = request.Send(code, {});
  if (result == common::kLibrarySuccess) read(request.answer(), request.counts());
  return result;
}

}  // namespace vantor::interface
