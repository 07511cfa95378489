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

// A command built by `build` whose answer `read` takes from the block on
// kernel success only: (ChannelCounts) -> Payload and
// (ConstCommunicationBlockView, ChannelCounts) -> void. `use` is Refuse or
// Ignore: a command that has an answer is never stored in the DLL path
// buffer, so Append counts as Ignore.
template <typename Build, typename Read>
common::StatusCode ExchangeMotionCommand(common::CommandCode code, PathBufferUse use, Build build,
                                         Read read) {
  MotionRequest request;
  const common::StatusCode opened = request.Open();
  if (opened != common::kLibrarySuccess) return opened;
  const PathBufferUse sent =
      use == PathBufferUse::Refuse ? PathBufferUse::Refuse : PathBufferUse::Ignore;
  const common::StatusCode result = request.Send(code, sent, build(request.counts()));
  if (result == common::kLibrarySuccess) read(request.answer(), request.counts());
  return result;
}

// A command without payload whose answer `read` takes from the block on
// success: (ConstCommunicationBlockView, ChannelCounts) -> void.
template <typename Read>
common::StatusCode ReadMotionAnswer(common::CommandCode code, Read read) {
  return ExchangeMotionCommand(
      code, PathBufferUse::Ignore, [](ChannelCounts) { return Payload(); }, read);
}

// A command without payload whose answer is the result alone.
common::StatusCode SendBareCommand(common::CommandCode code);

// A command of one word whose answer is the result alone.
common::StatusCode SendWordCommand(common::CommandCode code, PathBufferUse use, std::uint32_t word);

// A command without payload whose answer is one word at P+0, written to
// `word` on success only; 0xC9140006 for a missing `word`, nothing sent.
common::StatusCode ReadWordAnswer(common::CommandCode code, PathBufferUse use, std::uint32_t* word);

}  // namespace vantor::interface
