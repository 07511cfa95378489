// The fake kernel's path state: path mode, start, a segment queue that
// only counts, and the hand-over of the DLL path buffer, with the
// kernel's rules for what it takes and what it leaves.
//
// VANTOR_FAKE_KERNEL_PATH_FILE  file that every path record the kernel
//                               takes is appended to, 272 bytes each: code,
//                               a zero word, the payload as far as the
//                               command reads it, zeros
// VANTOR_FAKE_KERNEL_TAKE_LIMIT most records one hand-over takes
//
// A started path runs off everything queued before the next command.
#pragma once

#include <cstdint>
#include <vector>

#include "common/communication_block.h"
#include "common/kernel_object_names.h"
#include "common/path_buffer.h"
#include "common/status_code.h"
#include "platform/os/named_objects.h"

namespace vantor::fake_kernel {

class FakePath {
 public:
  FakePath();

  // Opens the channel's path buffer, as the CNC initialisation does.
  void AttachBuffer(common::Channel channel);
  static bool Serves(std::uint32_t code);
  common::StatusCode Serve(std::uint32_t code, common::CommunicationBlockView block);

 private:
  common::StatusCode Queue(std::uint32_t code, common::ConstCommunicationBlockView block);
  common::StatusCode Transfer(common::CommunicationBlockView block);
  void Log(const std::vector<common::PathBufferRecord>& records) const;

  os::Mapping buffer_;
  bool pathMode_ = false;
  bool pathStarted_ = false;
  std::uint32_t capacity_ = 1000;
  std::uint32_t queued_ = 0;
  std::uint32_t takeLimit_ = UINT32_MAX;
};

}  // namespace vantor::fake_kernel
