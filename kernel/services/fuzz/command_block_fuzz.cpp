// Feeds arbitrary commands to the kernel through its communication block:
// the dispatcher and every handler, on a block the fuzzer writes, and the
// SDO area's request. The driver link is a stand-in whose answers (status
// and bytes) come from the input too.
//
// Input: one byte for the channel, then records of
//   [code][payload length, 2 bytes little-endian][payload...]
// The code byte selects a command code (0..108 and a few beyond); the code
// 0xFF takes the record as an SDO-area request instead. The payload is
// written at the payload offset (or the SDO area) over what the block
// held before. Every command must be answered exactly once; every SDO
// request is answered at once or handed on with a frame CAN can carry.
#include <unistd.h>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "common/communication_block.h"
#include "common/fuzz_input.h"
#include "common/kernel_object_names.h"
#include "common/status_code.h"
#include "kernel/services/command_dispatcher.h"
#include "kernel/services/kernel_link.h"
#include "kernel/services/request_areas.h"
#include "kernel/services/sdo_area_request.h"
#include "platform/os/named_objects.h"
#include "platform/os/wait.h"

namespace {

using vantor::common::FuzzInput;
using vantor::common::FuzzRequire;

using namespace vantor;
using namespace vantor::kernel;
namespace cb = common::communication_block;

// A driver link that answers from the input: a zero byte is success with the
// next output bytes, anything else one of a few failures.
class InputDriverLink final : public DriverLinkPort {
 public:
  explicit InputDriverLink(FuzzInput& input) : input_(input) {}

  common::StatusCode OpenCanDevice(common::Channel,
                                   common::ConstByteView<common::kCanStartRecordSize>) override {
    const auto result = Answer();
    if (result == common::kKernelSuccess) open_ = true;
    return result;
  }
  bool IsOpen() const override { return open_; }
  std::string_view DriverVersionText() const override { return "fuzz"; }
  common::StatusCode DeviceRequest(std::uint32_t, std::span<const std::uint8_t>,
                                   std::span<std::uint8_t> output) override {
    const auto result = Answer();
    if (result != common::kKernelSuccess) return result;
    const auto bytes = input_.Take(output.size());
    std::copy(bytes.begin(), bytes.end(), output.begin());
    return result;
  }
  const os::Waitable* CycleThread() const override { return nullptr; }
  common::StatusCode AdmitApplicationCanRequest(ApplicationCanRequest& request) override {
    const auto result = Answer();
    if (result != common::kKernelSuccess) return result;
    request.result = Answer();
    request.answerLength = input_.Byte();
    const auto bytes = input_.Take(request.answerData.size());
    std::copy(bytes.begin(), bytes.end(), request.answerData.begin());
    request.microsecondsLeft = static_cast<std::int32_t>(input_.Word()) - 0x8000;
    return common::kKernelSuccess;
  }
  void CloseCanDevice() override { open_ = false; }

 private:
  common::StatusCode Answer() {
    switch (input_.Byte() & 3) {
      case 0:
        return common::kKernelSuccess;
      case 1:
        return common::kKernelDriverMissing;
      case 2:
        return common::kKernelOutOfResources;
      default:
        return common::kKernelWrongFunctionNumber;
    }
  }

  FuzzInput& input_;
  bool open_ = false;
};

os::Event ManualEvent() { return os::Event::CreateUnnamed(os::EventReset::Manual, false).take(); }

bool Signalled(const os::Event& event) {
  return os::WaitForOne(event, 0).kind == os::WaitKind::Signalled;
}

void RunCommand(Kernel& kernel, std::uint32_t code, std::span<const std::uint8_t> payload) {
  auto block = kernel.Block();
  block.Set(cb::kCommandCode, code);
  const std::size_t length = std::min(payload.size(), cb::kPayloadCapacity);
  for (std::size_t i = 0; i < length; ++i) {
    FuzzRequire(block.Store<std::uint8_t>(cb::kPayloadOffset + i, payload[i]));
  }
  kernel.standard.kernelReady.Reset();
  kernel.standard.applicationReady.Set();
  (void)DispatchCommand(kernel);
  // Answered exactly as the handshake wants it, whatever the payload.
  FuzzRequire(!Signalled(kernel.standard.applicationReady));
  FuzzRequire(Signalled(kernel.standard.kernelReady));
}

void RunSdoRequest(Kernel& kernel, std::span<const std::uint8_t> area) {
  auto block = kernel.Block();
  const std::size_t length = std::min(area.size(), cb::kSdoRequestAreaSize);
  for (std::size_t i = 0; i < length; ++i) {
    FuzzRequire(block.Store<std::uint8_t>(cb::kSdoRequestAreaOffset + i, area[i]));
  }
  kernel.sdo.kernelReady.Reset();
  kernel.sdo.applicationReady.Set();
  if (StartSdoRequest(kernel)) {
    FuzzRequire(kernel.sdo.length <= cb::kSdoFrameDataSize);
    FuzzRequire(kernel.sdo.cobId <= kMaxCobId);
    FuzzRequire(!Signalled(kernel.sdo.completion));
    FuzzRequire(!Signalled(kernel.sdo.kernelReady));
    FinishSdoRequest(kernel);
    FuzzRequire(block.Get(cb::kSdoAnswerLength) <= cb::kSdoFrameDataSize);
  }
  FuzzRequire(!Signalled(kernel.sdo.applicationReady));
  FuzzRequire(Signalled(kernel.sdo.kernelReady));
}

constexpr std::uint8_t kSdoAreaCode = 0xFF;
constexpr int kMaxCommands = 64;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const std::string name = "fuzz-command-block-" + std::to_string(::getpid());
  ::setenv("VANTOR_NAMESPACE", name.c_str(), 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  InputDriverLink driver(input);
  Kernel kernel;
  kernel.instance = {common::InterfaceType::Pci,
                     static_cast<common::Channel>(input.Byte() % common::kChannelCount)};
  kernel.settings.hardware.Set(common::can_hardware_parameters::kCanInterface, 2);
  kernel.settings.hardware.Set(common::can_hardware_parameters::kKernelModus,
                               static_cast<std::uint8_t>(kernel.instance.channel));
  kernel.link.communicationMapping =
      os::Mapping::CreateUnnamed(common::kCommunicationBlockSize).take();
  kernel.standard.applicationReady = ManualEvent();
  kernel.standard.kernelReady = ManualEvent();
  kernel.sdo.applicationReady = ManualEvent();
  kernel.sdo.kernelReady = ManualEvent();
  kernel.sdo.completion = ManualEvent();
  kernel.sdo.completion.Set();
  kernel.driverLink = &driver;

  for (int command = 0; command < kMaxCommands && !input.AtEnd(); ++command) {
    const std::uint8_t selector = input.Byte();
    const std::uint16_t length = input.Word();
    const auto payload = input.Take(length);
    if (selector == kSdoAreaCode) {
      RunSdoRequest(kernel, payload);
    } else {
      RunCommand(kernel, selector % 120u, payload);
    }
  }
  return 0;
}
