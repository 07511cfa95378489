#include "kernel/services/driver_commands.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "common/driver_records.h"
#include "common/driver_requests.h"
#include "kernel/core/kernel_guards.h"

namespace vantor::kernel {

namespace cb = common::communication_block;

namespace {

// What a request reports when the driver wrote no status word of its own.
constexpr common::StatusCode kNoDriverAnswer = common::kKernelDriverMissing;

void WriteResult(Kernel& kernel, common::StatusCode result) {
  kernel.Block().Set(cb::kResult, result);
}

// One request on the synchronous handle. The status word in `output` is
// preset to an error first, so a request that fails without writing it
// never reports what an earlier request left there.
template <std::size_t OutputSize>
common::StatusCode RunDriverRequest(Kernel& kernel, std::uint32_t requestCode,
                                    std::span<const std::uint8_t> input,
                                    common::ByteRecord<OutputSize>& output,
                                    std::size_t statusOffset) {
  output.template Store<std::uint32_t>(statusOffset, kNoDriverAnswer);
  const auto sent = kernel.driverLink->DeviceRequest(requestCode, input, output.MutableBytes());
  if (sent != common::kKernelSuccess) return sent;
  const auto status = output.template Load<std::uint32_t>(statusOffset);
  return common::KernelResultFromDriver(status.value_or(kNoDriverAnswer));
}

AfterCommand RunStatusOnlyRequest(Kernel& kernel, std::uint32_t requestCode,
                                  std::span<const std::uint8_t> input) {
  common::ByteRecord<4> answer;
  WriteResult(kernel, RunDriverRequest(kernel, requestCode, input, answer, 0));
  return AfterCommand::KeepServing;
}

}  // namespace

AfterCommand HandleClaimDevice(Kernel& kernel) {
  return RunStatusOnlyRequest(kernel, common::IOCTL_CAN_CLAIM, {});
}

AfterCommand HandleReleaseDevice(Kernel& kernel) {
  return RunStatusOnlyRequest(kernel, common::IOCTL_CAN_RELEASE, {});
}

AfterCommand HandleDynPortIn(Kernel& kernel) {
  auto block = kernel.Block();
  common::ByteRecord<common::kDynPortInInputSize> input;
  input.Set(common::dyn_port_in::kPort, *block.Load<std::uint16_t>(cb::PayloadAt(2)));
  common::ByteRecord<common::kDynPortInOutputSize> output;
  const auto result = RunDriverRequest(kernel, common::IOCTL_CAN_DYN_PORT_IN, input.Bytes(), output,
                                       common::dyn_port_in::kStatus.kOffset);
  if (result == common::kKernelSuccess) {
    block.Store<std::uint8_t>(cb::kPayloadOffset, output.Get(common::dyn_port_in::kValue));
  }
  WriteResult(kernel, result);
  return AfterCommand::KeepServing;
}

AfterCommand HandleDynPortOut(Kernel& kernel) {
  auto block = kernel.Block();
  common::ByteRecord<common::kDynPortOutSize> input;
  // The value travels in the low byte of the first 16-bit word.
  input.Set(common::dyn_port_out::kValue, *block.Load<std::uint8_t>(cb::kPayloadOffset));
  input.Set(common::dyn_port_out::kPort, *block.Load<std::uint16_t>(cb::PayloadAt(2)));
  common::ByteRecord<common::kDynPortOutSize> output;
  WriteResult(kernel, RunDriverRequest(kernel, common::IOCTL_CAN_DYN_PORT_OUT, input.Bytes(),
                                       output, common::dyn_port_out::kStatus.kOffset));
  return AfterCommand::KeepServing;
}

AfterCommand HandleStaPortReport(Kernel& kernel) {
  namespace spt = common::static_port_table;
  auto block = kernel.Block();
  common::StaticPortTable table;
  for (std::size_t slot = 0; slot < common::kStaticPortSlotCount; ++slot) {
    const std::size_t from = cb::kPayloadOffset + slot * spt::kSlotSize;
    table.Store<std::uint8_t>(spt::SlotOffset(slot) + spt::kSlotKind,
                              *block.Load<std::uint8_t>(from + spt::kSlotKind));
    table.Store<std::uint16_t>(spt::SlotOffset(slot) + spt::kSlotPort,
                               *block.Load<std::uint16_t>(from + spt::kSlotPort));
  }
  common::StaticPortTable answer;
  WriteResult(kernel, RunDriverRequest(kernel, common::IOCTL_CAN_STA_PORT_REPORT, table.Bytes(),
                                       answer, spt::kStatus.kOffset));
  return AfterCommand::KeepServing;
}

AfterCommand HandleStaPortAccess(Kernel& kernel) {
  namespace spa = common::static_port_access;
  constexpr std::size_t kSlotBytes = spa::kSlotSize * common::kStaticPortSlotCount;
  auto block = kernel.Block();
  common::StaticPortAccess access;
  std::array<std::uint8_t, kSlotBytes> slots{};
  block.CopyOut(cb::kPayloadOffset, slots);
  access.CopyIn(0, slots);
  common::StaticPortAccess answer;
  const auto result = RunDriverRequest(kernel, common::IOCTL_CAN_STA_PORT_ACCESS, access.Bytes(),
                                       answer, spa::kStatus.kOffset);
  if (result == common::kKernelSuccess) {
    answer.CopyOut(0, slots);
    block.CopyIn(cb::kPayloadOffset, slots);
  }
  WriteResult(kernel, result);
  return AfterCommand::KeepServing;
}

AfterCommand HandleStaPortGetCon(Kernel& kernel) {
  namespace spt = common::static_port_table;
  auto block = kernel.Block();
  common::StaticPortTable answer;
  const auto result = RunDriverRequest(kernel, common::IOCTL_CAN_STA_PORT_GET_CON, {}, answer,
                                       spt::kStatus.kOffset);
  if (result == common::kKernelSuccess) {
    for (std::size_t slot = 0; slot < common::kStaticPortSlotCount; ++slot) {
      const std::size_t to = cb::kPayloadOffset + slot * spt::kSlotSize;
      block.Store<std::uint8_t>(to + spt::kSlotKind,
                                *answer.Load<std::uint8_t>(spt::SlotOffset(slot) + spt::kSlotKind));
      block.Store<std::uint16_t>(
          to + spt::kSlotPort, *answer.Load<std::uint16_t>(spt::SlotOffset(slot) + spt::kSlotPort));
    }
  }
  WriteResult(kernel, result);
  return AfterCommand::KeepServing;
}

namespace {

// Counter ticks in microseconds, truncated toward zero.
std::uint32_t TicksToMicroseconds(std::uint32_t ticks, std::uint64_t frequency) {
  const auto signedTicks = static_cast<std::int64_t>(static_cast<std::int32_t>(ticks));
  const std::int64_t microseconds =
      signedTicks * 1'000'000 /
      static_cast<std::int64_t>(std::min<std::uint64_t>(frequency, INT64_MAX));
  return static_cast<std::uint32_t>(
      static_cast<std::int32_t>(std::clamp<std::int64_t>(microseconds, INT32_MIN, INT32_MAX)));
}

}  // namespace

AfterCommand HandleGetLatencyTime(Kernel& kernel) {
  namespace lr = common::latency_record;
  const auto state = CheckCanState(kernel.data);
  if (state != common::kKernelSuccess) {
    WriteResult(kernel, state);
    return AfterCommand::KeepServing;
  }
  common::LatencyRecord latency;
  const auto result = RunDriverRequest(kernel, common::IOCTL_CAN_GET_LATENCY_TIME, {}, latency,
                                       lr::kStatus.kOffset);
  if (result != common::kKernelSuccess) {
    WriteResult(kernel, result);
    return AfterCommand::KeepServing;
  }
  auto block = kernel.Block();
  block.Store<std::uint32_t>(cb::PayloadAt(0), latency.Get(lr::kCycleMicroseconds));
  const std::uint64_t frequency = latency.Get(lr::kCounterFrequency);
  const std::array<std::uint32_t, 4> intervals = {
      latency.Get(lr::kInterruptIntervalMin), latency.Get(lr::kInterruptIntervalMax),
      latency.Get(lr::kCompletionIntervalMin), latency.Get(lr::kCompletionIntervalMax)};
  for (std::size_t i = 0; i < intervals.size(); ++i) {
    // Without a counter frequency the intervals cannot be converted.
    const std::uint32_t value = frequency == 0 ? 0 : TicksToMicroseconds(intervals[i], frequency);
    block.Store<std::uint32_t>(cb::PayloadAt(4 + 4 * i), value);
  }
  WriteResult(kernel, common::kKernelSuccess);
  return AfterCommand::KeepServing;
}

}  // namespace vantor::kernel
