#include "kernel/services/request_areas.h"

#include <algorithm>
#include <cstdint>

#include "kernel/core/kernel_status.h"
#include "kernel/services/sdo_area_request.h"
#include "platform/os/wait.h"

namespace vantor::kernel {

namespace cb = common::communication_block;

void ReplyToApplication(Kernel& kernel) {
  kernel.standard.applicationReady.Reset();
  kernel.standard.kernelReady.Set();
}

void ReplySdoRequest(Kernel& kernel) {
  kernel.sdo.applicationReady.Reset();
  kernel.sdo.kernelReady.Set();
}

bool IsCycleThreadRunning(const Kernel& kernel) {
  const os::Waitable* cycle = kernel.driverLink->CycleThread();
  return cycle != nullptr && os::WaitForOne(*cycle, 0).kind == os::WaitKind::Timeout;
}

namespace {

bool IsSet(const os::Event& event) { return os::WaitForOne(event, 0).acquired(); }

void AnswerAtOnce(Kernel& kernel, common::StatusCode result) {
  WriteSdoAreaRefusal(kernel.Block(), result);
  ReplySdoRequest(kernel);
}

}  // namespace

bool StartSdoRequest(Kernel& kernel) {
  const SdoAreaRequest request = ReadSdoAreaRequest(kernel.Block());
  const auto check =
      CheckSdoAreaRequest(kernel.instance.channel, IsCycleThreadRunning(kernel), request);
  if (check != common::kKernelSuccess) {
    AnswerAtOnce(kernel, check);
    return false;
  }

  // The cycle leaves the record alone while the completion event is set.
  ApplicationCanRequest& sdo = kernel.sdo;
  sdo.completion.Set();
  sdo.ClearRequest();
  sdo.cobId = request.cobId;
  sdo.length = request.length;
  std::copy_n(request.data.begin(), request.length, sdo.data.begin());
  // A frame of length 0 is a remote request for its own identifier; only a
  // data frame names the answer's identifier.
  sdo.answerCobId = (request.cobId != 0 && request.length != 0) ? request.answerCobId : 0;
  // The cycle counts the time down in a signed 32-bit word; a longer
  // time-out is cut to the longest it can count.
  sdo.timeoutMicroseconds =
      std::min<std::uint32_t>(request.timeoutMicroseconds, static_cast<std::uint32_t>(INT32_MAX));
  const auto admitted = kernel.driverLink->AdmitApplicationCanRequest(sdo);
  if (admitted != common::kKernelSuccess) {
    AnswerAtOnce(kernel, admitted);
    return false;
  }
  sdo.microsecondsLeft = static_cast<std::int32_t>(
      std::min<std::uint32_t>(sdo.timeoutMicroseconds, static_cast<std::uint32_t>(INT32_MAX)));
  sdo.completion.Reset();
  return true;
}

void FinishSdoRequest(Kernel& kernel) {
  auto block = kernel.Block();
  const ApplicationCanRequest& sdo = kernel.sdo;
  const std::int64_t elapsed =
      static_cast<std::int64_t>(sdo.timeoutMicroseconds) - sdo.microsecondsLeft;
  block.Set(cb::kSdoElapsedMicroseconds,
            static_cast<std::uint32_t>(std::clamp<std::int64_t>(elapsed, 0, UINT32_MAX)));
  if (sdo.result != common::kKernelSuccess) {
    block.Set(cb::kSdoResult, sdo.result);
  } else {
    const bool nmt = sdo.cobId == cb::kNmtCobId;
    const std::uint8_t length =
        nmt ? 0 : std::min<std::uint8_t>(sdo.answerLength, cb::kSdoFrameDataSize);
    block.Set(cb::kSdoAnswerLength, length);
    auto answer = block.MutableBytes(cb::kSdoAnswerData);
    std::copy_n(sdo.answerData.begin(), length, answer.begin());
    block.Set(cb::kSdoResult, common::kKernelSuccess);
  }
  ReplySdoRequest(kernel);
}

void FailSdoRequest(Kernel& kernel) {
  kernel.Block().Set(cb::kSdoResult, kCycleNotRunning);
  kernel.sdo.completion.Set();
  kernel.sdo.busy = 0;
  ReplySdoRequest(kernel);
}

void AnswerUnservedRequests(Kernel& kernel) {
  if (kernel.link.communicationMapping.data() == nullptr) return;
  if (IsSet(kernel.standard.applicationReady)) {
    kernel.Block().Set(cb::kResult, kCycleNotRunning);
    ReplyToApplication(kernel);
  }
  if (IsSet(kernel.sdo.applicationReady)) FailSdoRequest(kernel);
}

}  // namespace vantor::kernel
