// Requests of the SDO area: one raw CAN exchange that an application asks
// the kernel to carry on its channel.
//
// The server thread reads the area, checks it here, and hands what passes to
// the real-time cycle, which sends the frame and collects the answer. What
// this check refuses is answered at once and never reaches the bus.
#pragma once

#include <array>
#include <cstdint>

#include "common/communication_block.h"
#include "common/kernel_object_names.h"
#include "common/status_code.h"

namespace vantor::kernel {

// NMT command specifiers an application may send.
inline constexpr std::array<std::uint8_t, 5> kAllowedNmtCommands = {0x01, 0x02, 0x80, 0x81, 0x82};
inline constexpr std::uint8_t kNmtFrameLength = 2;
inline constexpr std::uint8_t kMaxNodeId = 127;
inline constexpr std::uint16_t kMaxCobId = 0x7FF;
inline constexpr std::uint8_t kMaxFrameLength = 8;

// The application's request as read from the SDO area, taken in one go so
// that every later step works on the same values.
struct SdoAreaRequest {
  std::uint16_t cobId = 0;
  std::array<std::uint8_t, common::communication_block::kSdoFrameDataSize> data{};
  std::uint8_t length = 0;
  std::uint16_t answerCobId = 0;
  std::uint32_t timeoutMicroseconds = 0;

  bool IsNmtCommand() const noexcept { return cobId == common::communication_block::kNmtCobId; }
};

SdoAreaRequest ReadSdoAreaRequest(common::ConstCommunicationBlockView block) noexcept;

// The checks made before a request is handed to the cycle, in this order:
// no CAN on the channel, no cycle running, an NMT command that is not one an
// application may send, a frame that CAN cannot carry. kKernelSuccess when
// the request may go to the cycle.
common::StatusCode CheckSdoAreaRequest(common::Channel channel, bool cycleThreadRunning,
                                       const SdoAreaRequest& request) noexcept;

// Writes the result of a request that is answered without reaching the bus.
void WriteSdoAreaRefusal(common::CommunicationBlockView block, common::StatusCode result) noexcept;

}  // namespace vantor::kernel
