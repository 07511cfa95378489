// Exports of the stop-on-input mode: its parameters, arming, the latched
// positions, the watched input port and a drive's input 4.
#include <array>
#include <span>

#include "common/stop_on_input_records.h"
#include "interface/export_frame.h"
#include "interface/include/linkora.h"
#include "interface/motion_request.h"
#include "interface/stop_on_input_payloads.h"

namespace vantor::interface {
namespace {

using common::CommandCode;
using common::StatusCode;

// One request on the standard area; on the kernel's success `read` takes
// the answer from the block.
template <typename Read>
StatusCode Request(CommandCode code, std::span<const std::uint8_t> payload, Read read) {
  MotionRequest request;
  const StatusCode opened = request.Open();
  if (opened != common::kLibrarySuccess) return opened;
  const StatusCode result = request.Send(code, payload);
  if (result == common::kLibrarySuccess) read(request.answer(), request.counts());
  return result;
}

StatusCode Send(CommandCode code, std::span<const std::uint8_t> payload) {
  return Request(code, payload, [](auto, auto) {});
}

StatusCode SetParameters(const LinkoraStopOnInputRecord* record, std::uint32_t size) {
  if (size != sizeof(LinkoraStopOnInputRecord)) return common::kLibraryRecordSizeMismatch;
  if (record == nullptr) return common::kLibraryCallParameterInvalid;
  const StopOnInputPayload payload = MakeStopOnInputPayload(*record);
  return Send(CommandCode::SetStopOnInputModePar, payload);
}

StatusCode GetParameters(LinkoraStopOnInputRecord* record, std::uint32_t size) {
  if (size != sizeof(LinkoraStopOnInputRecord)) return common::kLibraryRecordSizeMismatch;
  if (record == nullptr) return common::kLibraryCallParameterInvalid;
  return Request(CommandCode::GetStopOnInputModePar, {},
                 [&](common::ConstCommunicationBlockView answer, ChannelCounts) {
                   namespace sp = common::stop_on_input_parameters;
                   const auto bytes = answer.Bytes().subspan<sp::kBlockOffset, sp::kRecordSize>();
                   *record = ReadStopOnInputAnswer(bytes);
                 });
}

StatusCode LatchedPositions(std::int32_t* position, std::uint32_t size) {
  if (size != LINKORA_POSITION_ARRAY_SIZE) return common::kLibraryRecordSizeMismatch;
  if (position == nullptr) return common::kLibraryCallParameterInvalid;
  return Request(CommandCode::GetStopOnInputModeLatchedPos, {},
                 [&](common::ConstCommunicationBlockView answer, ChannelCounts counts) {
                   ReadWireValues(
                       answer, counts.axes,
                       std::span<std::int32_t, kPositionSlots>(position, kPositionSlots));
                 });
}

StatusCode ReadBit(std::uint32_t bit, std::uint32_t* value) {
  if (value == nullptr) return common::kLibraryCallParameterInvalid;
  const std::array<std::uint8_t, 1> payload{static_cast<std::uint8_t>(bit)};
  return Request(CommandCode::ReadStopOnInputModeBit, payload,
                 [&](common::ConstCommunicationBlockView answer, ChannelCounts) {
                   *value = answer.Get(common::stop_on_input_bit::kBitValue);
                 });
}

StatusCode ReadPort(std::uint32_t* port) {
  if (port == nullptr) return common::kLibraryCallParameterInvalid;
  return Request(CommandCode::ReadStopOnInputModePort, {},
                 [&](common::ConstCommunicationBlockView answer, ChannelCounts) {
                   *port = answer.Get(common::stop_on_input_port::kPort);
                 });
}

StatusCode Run(std::uint32_t run) {
  const std::uint32_t flag = run != 0 ? 1 : 0;
  const std::array<std::uint8_t, 4> payload{static_cast<std::uint8_t>(flag), 0, 0, 0};
  return Send(CommandCode::RunStopOnInputMode, payload);
}

StatusCode AmplifierInput(LinkoraAmplifierInput* record) {
  if (record == nullptr) return common::kLibraryCallParameterInvalid;
  const AmplifierInputPayload payload = MakeAmplifierInputPayload(*record);
  return Request(CommandCode::ReadMainAmplifyInputBit, payload,
                 [&](common::ConstCommunicationBlockView answer, ChannelCounts) {
                   record->Bit = answer.Get(common::main_amplifier_input::kInputSet);
                 });
}

}  // namespace
}  // namespace vantor::interface

using namespace vantor;

LINKORA_EXPORT LinkoraStatus mctl_SetStopOnInputModePar(const LinkoraStopOnInputRecord* record,
                                                        uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_SetStopOnInputModePar",
                              [&] { return interface::SetParameters(record, size); });
}

LINKORA_EXPORT LinkoraStatus mctl_GetStopOnInputModePar(LinkoraStopOnInputRecord* record,
                                                        uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_GetStopOnInputModePar",
                              [&] { return interface::GetParameters(record, size); });
}

LINKORA_EXPORT LinkoraStatus mctl_GetStopOnInputModeLatchedPos(int32_t* position, uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_GetStopOnInputModeLatchedPos",
                              [&] { return interface::LatchedPositions(position, size); });
}

LINKORA_EXPORT LinkoraStatus mctl_ReadStopOnInputModeBit(uint32_t bit, uint32_t* value) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_ReadStopOnInputModeBit",
                              [&] { return interface::ReadBit(bit, value); });
}

LINKORA_EXPORT LinkoraStatus mctl_ReadStopOnInputModePort(uint32_t* port) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_ReadStopOnInputModePort",
                              [&] { return interface::ReadPort(port); });
}

LINKORA_EXPORT LinkoraStatus mctl_RunStopOnInputMode(uint32_t run) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_RunStopOnInputMode", [&] { return interface::Run(run); });
}

LINKORA_EXPORT LinkoraStatus mctl_ReadMainAmplifyInputBit(LinkoraAmplifierInput* record,
                                                          uint32_t /*unused*/) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_ReadMainAmplifyInputBit",
                              [&] { return interface::AmplifierInput(record); });
}
