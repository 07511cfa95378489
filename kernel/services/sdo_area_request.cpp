#include "kernel/services/sdo_area_request.h"

#include <algorithm>

namespace vantor::kernel {

namespace cb = common::communication_block;

SdoAreaRequest ReadSdoAreaRequest(common::ConstCommunicationBlockView block) noexcept {
  SdoAreaRequest request;
  request.cobId = block.Get(cb::kSdoRequestCobId);
  const auto data = block.GetBytes(cb::kSdoRequestData);
  std::copy(data.begin(), data.end(), request.data.begin());
  request.length = block.Get(cb::kSdoRequestLength);
  request.answerCobId = block.Get(cb::kSdoAnswerCobId);
  request.timeoutMicroseconds = block.Get(cb::kSdoTimeoutMicroseconds);
  return request;
}

namespace {

bool IsValidNmtCommand(const SdoAreaRequest& request) noexcept {
  if (request.length != kNmtFrameLength) return false;
  const bool knownCommand = std::find(kAllowedNmtCommands.begin(), kAllowedNmtCommands.end(),
                                      request.data[0]) != kAllowedNmtCommands.end();
  // Node id 0 addresses all nodes.
  return knownCommand && request.data[1] <= kMaxNodeId;
}

bool IsCarriableFrame(const SdoAreaRequest& request) noexcept {
  return request.cobId <= kMaxCobId && request.length <= kMaxFrameLength &&
         request.answerCobId <= kMaxCobId;
}

}  // namespace

common::StatusCode CheckSdoAreaRequest(common::Channel channel, bool cycleThreadRunning,
                                       const SdoAreaRequest& request) noexcept {
  if (channel == common::Channel::NoCan) return common::kKernelCanOperationInactive;
  if (!cycleThreadRunning) return common::kDriverNoController;
  if (request.IsNmtCommand()) {
    return IsValidNmtCommand(request) ? common::kKernelSuccess : common::kKernelCanMessageInvalid;
  }
  return IsCarriableFrame(request) ? common::kKernelSuccess : common::kKernelCanMessageInvalid;
}

void WriteSdoAreaRefusal(common::CommunicationBlockView block, common::StatusCode result) noexcept {
  block.Set(cb::kSdoResult, result);
}

}  // namespace vantor::kernel
