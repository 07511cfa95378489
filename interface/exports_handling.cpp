// Exports of the handling axes: the handling mode, a handling axis's move
// mode, its move parameters, position moves and velocity turns, the
// motion state of a set of them, and the list of external handling axes.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "interface/export_frame.h"
#include "interface/include/linkora.h"
#include "interface/motion_payloads.h"
#include "interface/motion_request.h"

namespace vantor::interface {
namespace {

using common::CommandCode;
using common::ConstCommunicationBlockView;

constexpr std::uint32_t kMoveParameterWords = 6;
constexpr std::uint32_t kMoveWords = 4;
constexpr std::uint32_t kTurnWords = 2;
constexpr std::uint32_t kWordSize = sizeof(std::int32_t);
// The request of code 66: the axis, then room for the answer.
constexpr std::size_t kMoveParameterPayload = 48;

// The kernel's motion states: run, halt, and the end of the moves.
constexpr std::uint32_t kStateRun = 0;
constexpr std::uint32_t kStateHalt = 1;
constexpr std::uint32_t kStateEnd = 3;

std::uint32_t MotionState(std::uint32_t state) {
  return state == kStateRun || state == kStateHalt ? state : kStateEnd;
}

// The list of code 100: the count, then 40-byte entries of three words
// and a name.
namespace ext_list {
constexpr std::size_t kEntries = 6;
constexpr std::size_t kFirst = 4;
constexpr std::size_t kEntrySize = 40;
constexpr std::size_t kName = 12;
constexpr std::size_t kNameCapacity = kEntrySize - kName;
static_assert(sizeof(LinkoraExtHandlingAxis) == kEntrySize);
static_assert(offsetof(LinkoraExtHandlingAxis, AmplifyName) == kName);
static_assert(sizeof(LinkoraExtHandlingAxis::AmplifyName) == kNameCapacity);
static_assert(offsetof(LinkoraExtHandlingAxisList, Axes) == kFirst);
static_assert(sizeof(LinkoraExtHandlingAxisList) == kFirst + kEntries * kEntrySize);
static_assert(sizeof(LinkoraExtHandlingAxisList) == 244);
}  // namespace ext_list

common::StatusCode GetMoveParameters(std::uint32_t axis, std::int32_t* parameters,
                                     std::uint32_t size) {
  if (size != kMoveParameterWords * kWordSize) return common::kLibraryRecordSizeMismatch;
  if (parameters == nullptr) return common::kLibraryCallParameterInvalid;
  return ExchangeMotionCommand(
      CommandCode::GetHandlingAxisMovePar, PathBufferUse::Ignore,
      [&](ChannelCounts) {
        Payload payload;
        payload.U32(axis).Zeros(kMoveParameterPayload - kWordSize);
        return payload;
      },
      [&](ConstCommunicationBlockView answer, ChannelCounts) {
        parameters[0] = static_cast<std::int32_t>(FlagWord(AnswerWord(answer, 4) != 0));
        for (std::size_t i = 1; i < kMoveParameterWords; ++i) {
          parameters[i] = AnswerWireValue(answer, 8 * i);
        }
      });
}

common::StatusCode Move(std::uint32_t axis, const std::int32_t* move, std::uint32_t size) {
  if (size != kMoveWords * kWordSize) return common::kLibraryRecordSizeMismatch;
  if (move == nullptr) return common::kLibraryCallParameterInvalid;
  return SendMotionCommand(CommandCode::HandlingAxisMove, PathBufferUse::Ignore,
                           [&](ChannelCounts) {
                             Payload payload;
                             payload.U32(axis).U32(FlagWord(move[0] != 0));
                             for (std::size_t i = 1; i < kMoveWords; ++i) payload.Wire(move[i]);
                             return payload;
                           });
}

common::StatusCode Turn(std::uint32_t axis, const std::int32_t* turn, std::uint32_t size) {
  if (size != kTurnWords * kWordSize) return common::kLibraryRecordSizeMismatch;
  if (turn == nullptr) return common::kLibraryCallParameterInvalid;
  return SendMotionCommand(CommandCode::HandlingAxisTurn, PathBufferUse::Ignore,
                           [&](ChannelCounts) {
                             Payload payload;
                             payload.U32(axis).Zeros(kWordSize).Wire(turn[0]).Wire(turn[1]);
                             return payload;
                           });
}

void ReadExternalAxes(ConstCommunicationBlockView answer, LinkoraExtHandlingAxisList& list) {
  namespace e = ext_list;
  list = LinkoraExtHandlingAxisList{};
  list.Count = AnswerWord(answer, 0);
  for (std::size_t k = 0; k < e::kEntries; ++k) {
    const std::size_t entry = e::kFirst + k * e::kEntrySize;
    LinkoraExtHandlingAxis& axis = list.Axes[k];
    axis.NodeId = AnswerWord(answer, entry);
    axis.DeviceTypeFlag = AnswerWord(answer, entry + 4);
    axis.MessageTimeout = AnswerWord(answer, entry + 8);
    std::array<std::uint8_t, e::kNameCapacity> name{};
    static_cast<void>(
        answer.CopyOut(common::communication_block::PayloadAt(entry + e::kName), name));
    // At most 27 characters, always terminated.
    const auto length =
        static_cast<std::size_t>(std::find(name.begin(), name.end() - 1, 0) - name.begin());
    std::memcpy(axis.AmplifyName, name.data(), length);
  }
}

common::StatusCode GetExternalAxes(LinkoraExtHandlingAxisList* list, std::uint32_t size) {
  if (size != sizeof(LinkoraExtHandlingAxisList)) return common::kLibraryRecordSizeMismatch;
  if (list == nullptr) return common::kLibraryCallParameterInvalid;
  return ReadMotionAnswer(
      CommandCode::GetExtHandlingAxisPar,
      [&](ConstCommunicationBlockView answer, ChannelCounts) { ReadExternalAxes(answer, *list); });
}

}  // namespace
}  // namespace vantor::interface

using namespace vantor;
using common::CommandCode;

LINKORA_EXPORT LinkoraStatus mctl_SetHandlingMode(uint32_t on) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_SetHandlingMode", [&] {
    return interface::SendWordCommand(CommandCode::SetHandlingMode,
                                      interface::PathBufferUse::Refuse,
                                      interface::FlagWord(on != 0));
  });
}

LINKORA_EXPORT LinkoraStatus mctl_SetHandlingMoveMode(uint32_t axis, uint32_t mode) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_SetHandlingMoveMode", [&] {
    return interface::SendMotionCommand(CommandCode::SetHandlingMoveMode,
                                        interface::PathBufferUse::Ignore,
                                        [&](interface::ChannelCounts) {
                                          interface::Payload payload;
                                          payload.U32(axis).U32(interface::FlagWord(mode == 1));
                                          return payload;
                                        });
  });
}

LINKORA_EXPORT LinkoraStatus mctl_GetHandlingAxisMovePar(uint32_t axis, int32_t* parameters,
                                                         uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_GetHandlingAxisMovePar",
                              [&] { return interface::GetMoveParameters(axis, parameters, size); });
}

LINKORA_EXPORT LinkoraStatus mctl_HandlingAxisMove(uint32_t axis, const int32_t* move,
                                                   uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_HandlingAxisMove",
                              [&] { return interface::Move(axis, move, size); });
}

LINKORA_EXPORT LinkoraStatus mctl_HandlingAxisTurn(uint32_t axis, const int32_t* turn,
                                                   uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_HandlingAxisTurn",
                              [&] { return interface::Turn(axis, turn, size); });
}

LINKORA_EXPORT LinkoraStatus mctl_SetHandlingAxisMotionState(uint32_t axisMask, uint32_t state) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_SetHandlingAxisMotionState", [&] {
    return interface::SendMotionCommand(CommandCode::SetHandlingAxisMotionState,
                                        interface::PathBufferUse::Ignore,
                                        [&](interface::ChannelCounts) {
                                          interface::Payload payload;
                                          payload.U32(axisMask).U32(interface::MotionState(state));
                                          return payload;
                                        });
  });
}

LINKORA_EXPORT LinkoraStatus mctl_GetExtHandlingAxisPar(LinkoraExtHandlingAxisList* list,
                                                        uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_GetExtHandlingAxisPar",
                              [&] { return interface::GetExternalAxes(list, size); });
}
