#include "interface/path_requests.h"

#include <cstring>

#include "common/communication_block.h"
#include "common/path_buffer.h"
#include "interface/channel_access.h"
#include "interface/cnc_mode.h"
#include "interface/dll_path_buffer.h"
#include "interface/link_state.h"
#include "interface/path_buffer_append.h"

namespace vantor::interface {

namespace cb = common::communication_block;

namespace {

constexpr std::uint32_t kPathVelocityCommand = 39;
constexpr std::uint32_t kQueueStatusCommand = 45;
constexpr std::uint32_t kTransferCommand = 52;
constexpr std::uint32_t kPathEventCommand = 57;

// The velocity setting's layout: six wire values in a zeroed 64 bytes.
constexpr std::size_t kVelocityPayloadSize = 64;
// Processing, teach-in, then rapid pair of the caller's record.
constexpr std::array<std::size_t, 6> kVelocityWireOrder = {0, 1, 4, 5, 2, 3};

// The event name and its terminator at P+260, whatever the name's length.
constexpr std::size_t kMaxEventNameLength = common::path_buffer_record::kMaxEventNameLength;
constexpr std::size_t kEventPayloadSize = kMaxEventNameLength + 1;

// The standard area with CNC mode: what every path request needs first.
common::StatusCode AcquirePathChannel(ChannelGrant& grant) {
  const auto acquired = AcquireChannel(AreaKind::Standard, HomingCheck::Refuse, grant);
  if (acquired != common::kLibrarySuccess) return acquired;
  if (!InCncMode()) return common::kLibraryCncNotInitialized;
  return common::kLibrarySuccess;
}

// Sends the record, or stores it in the DLL path buffer while that is on.
common::StatusCode SendOrAppend(std::uint32_t command, std::span<const std::uint8_t> payload) {
  ChannelGrant grant;
  const auto acquired = AcquirePathChannel(grant);
  if (acquired != common::kLibrarySuccess) return acquired;
  if (IsPathBufferEnabled()) return AppendPathBufferRecord(command, std::as_bytes(payload));
  return common::LibraryResultFromKernel(RunStandardRequest(grant, command, payload));
}

std::uint32_t AnswerWord(const ChannelGrant& grant, std::size_t payloadOffset) {
  return grant.block().Load<std::uint32_t>(cb::PayloadAt(payloadOffset)).value_or(0);
}

}  // namespace

common::StatusCode SendPathSwitch(PathSwitch which, std::uint32_t value) {
  ChannelGrant grant;
  const auto acquired = AcquirePathChannel(grant);
  if (acquired != common::kLibrarySuccess) return acquired;
  const auto buffer = ReadDllPathBuffer(Link().pathBuffer);
  const bool bufferOn = buffer && buffer->enabled;
  if (which == PathSwitch::PathMode && bufferOn) return common::kLibraryDllPathBufferActive;
  // Records still waiting in the buffer would be lost to a path that ends.
  if (which == PathSwitch::PathStart && value == 0 && bufferOn && buffer->count > 0) {
    return common::kLibraryDllPathBufferActive;
  }
  std::array<std::uint8_t, 4> payload{};
  std::memcpy(payload.data(), &value, payload.size());
  return common::LibraryResultFromKernel(
      RunStandardRequest(grant, static_cast<std::uint32_t>(which), payload));
}

common::StatusCode SetPathVelocity(std::span<const std::int32_t, 8> velocity) {
  std::array<std::uint8_t, kVelocityPayloadSize> payload{};
  for (std::size_t i = 0; i < kVelocityWireOrder.size(); ++i) {
    const std::int64_t wire = common::Int32ToWire(velocity[kVelocityWireOrder[i]]);
    common::StoreLittleEndian<std::int64_t>(payload.data() + 8 * i, wire);
  }
  return SendOrAppend(kPathVelocityCommand, payload);
}

common::StatusCode SetPathEvent(const char* name) {
  if (name == nullptr) return common::kLibraryCallParameterInvalid;
  std::array<std::uint8_t, kEventPayloadSize> payload{};
  std::memcpy(payload.data(), name, ::strnlen(name, kMaxEventNameLength));
  return SendOrAppend(kPathEventCommand, payload);
}

common::StatusCode TransferDllPathBuffer(std::uint32_t& recordNumber) {
  ChannelGrant grant;
  const auto acquired = AcquirePathChannel(grant);
  if (acquired != common::kLibrarySuccess) return acquired;
  if (!IsPathBufferEnabled()) return common::kLibraryDllPathBufferActive;
  recordNumber = 0;
  const std::array<std::uint8_t, 4> payload{};
  const auto result = RunStandardRequest(grant, kTransferCommand, payload);
  if (result == common::kKernelSuccess) return common::kLibrarySuccess;
  // A kernel that ended wrote no record number.
  if (result != common::kLibraryKernelNotFound) recordNumber = AnswerWord(grant, 0);
  return result;
}

common::StatusCode GetPathQueueStatus(PathQueueStatus& status) {
  ChannelGrant grant;
  const auto acquired = AcquirePathChannel(grant);
  if (acquired != common::kLibrarySuccess) return acquired;
  const auto result = RunStandardRequest(grant, kQueueStatusCommand, {});
  if (result != common::kKernelSuccess) return result;
  const bool pathMode = AnswerWord(grant, 0) != 0;
  const bool pathStarted = AnswerWord(grant, 4) != 0;
  const std::uint32_t capacity = AnswerWord(grant, 8);
  const std::uint32_t queued = AnswerWord(grant, 12);
  const std::uint32_t busy = pathMode || pathStarted ? 1 : 0;
  status = {(pathMode ? 1u : 0u) | (pathStarted ? 2u : 0u),
            busy,
            capacity,
            queued,
            capacity > queued ? capacity - queued : 0,
            0,
            pathMode ? 1u : 0u,
            busy,
            0};
  return common::kLibrarySuccess;
}

common::StatusCode GetDllPathBufferStatus(DllPathBufferStatus& status) {
  ChannelGrant grant;
  const auto acquired = AcquirePathChannel(grant);
  if (acquired != common::kLibrarySuccess) return acquired;
  // A channel without a path buffer (NoCan) shows one of no records.
  const auto buffer = ReadDllPathBuffer(Link().pathBuffer).value_or(DllPathBufferState{});
  status = {buffer.enabled ? 1u : 0u, buffer.capacity, buffer.count, buffer.Free()};
  return common::kLibrarySuccess;
}

}  // namespace vantor::interface
