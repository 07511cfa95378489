// Exports of a drive's analogue input and its distance regulator: the
// conversion switched, its value read, the factor from value to distance,
// the regulator's working area, the regulator switched, its state and its
// parameters read.
#include <array>
#include <cstdint>

#include "interface/export_frame.h"
#include "interface/include/linkora.h"
#include "interface/motion_payloads.h"
#include "interface/motion_request.h"

namespace vantor::interface {
namespace {

using common::CommandCode;

// Words 0 to 9 of the parameter record are 16-bit values, 10 and 11 words.
constexpr std::size_t kParameterHalves = 10;
constexpr std::uint32_t kParameterRecordSize = 48;

std::uint16_t AnswerHalf(common::ConstCommunicationBlockView answer, std::size_t offset) {
  return answer.Load<std::uint16_t>(common::communication_block::PayloadAt(offset)).value_or(0);
}

std::int32_t SignExtended(std::uint16_t value) {
  return static_cast<std::int32_t>(static_cast<std::int16_t>(value));
}

common::StatusCode SwitchOnChannel(CommandCode code, std::uint32_t channel, std::uint32_t on) {
  return SendMotionCommand(code, PathBufferUse::Ignore, [&](ChannelCounts) {
    Payload payload;
    payload.U32(channel).U32(FlagWord(on != 0));
    return payload;
  });
}

common::StatusCode GetValue(std::uint32_t channel, std::uint32_t* valid, std::uint32_t* ready,
                            std::int32_t* value) {
  if (valid == nullptr || ready == nullptr || value == nullptr) {
    return common::kLibraryCallParameterInvalid;
  }
  return ExchangeMotionCommand(
      CommandCode::GetAdValue, PathBufferUse::Ignore,
      [&](ChannelCounts) { return OneWordPayload(channel); },
      [&](common::ConstCommunicationBlockView answer, ChannelCounts) {
        if (AnswerWord(answer, 4) == 0) {
          *valid = 0;
          return;
        }
        *valid = 1;
        if (AnswerWord(answer, 8) == 0) {
          *ready = 0;
          return;
        }
        *ready = 1;
        *value = SignExtended(AnswerHalf(answer, 12));
      });
}

common::StatusCode SetFactor(std::uint32_t channel, std::uint32_t denominator,
                             std::uint32_t numerator) {
  return SendMotionCommand(CommandCode::SetAdToDistanceFactor, PathBufferUse::Ignore,
                           [&](ChannelCounts) {
                             Payload payload;
                             payload.U32(channel)
                                 .U16(static_cast<std::uint16_t>(numerator))
                                 .U16(static_cast<std::uint16_t>(denominator));
                             return payload;
                           });
}

common::StatusCode SetArea(std::uint32_t channel, const std::array<std::uint32_t, 5>& halves,
                           std::uint32_t range) {
  return SendMotionCommand(CommandCode::SetDistanceRegulatorArea, PathBufferUse::Ignore,
                           [&](ChannelCounts) {
                             Payload payload;
                             payload.U32(channel);
                             // Only the low 16 bits of each travel.
                             for (const std::uint32_t half : halves) {
                               payload.U16(static_cast<std::uint16_t>(half));
                             }
                             payload.Zeros(2).U32(range);
                             return payload;
                           });
}

common::StatusCode GetStatus(std::uint32_t channel, std::uint32_t* inRange) {
  if (inRange == nullptr) return common::kLibraryCallParameterInvalid;
  return ExchangeMotionCommand(
      CommandCode::GetDistanceRegulatorStatus, PathBufferUse::Ignore,
      [&](ChannelCounts) { return OneWordPayload(channel); },
      [&](common::ConstCommunicationBlockView answer, ChannelCounts) {
        *inRange = FlagWord(AnswerWord(answer, 4) != 0);
      });
}

common::StatusCode GetParameters(std::uint32_t channel, std::int32_t* parameters,
                                 std::uint32_t size) {
  if (size != kParameterRecordSize) return common::kLibraryRecordSizeMismatch;
  if (parameters == nullptr) return common::kLibraryCallParameterInvalid;
  return ExchangeMotionCommand(
      CommandCode::GetDistanceRegulatorPar, PathBufferUse::Ignore,
      [&](ChannelCounts) { return OneWordPayload(channel); },
      [&](common::ConstCommunicationBlockView answer, ChannelCounts) {
        for (std::size_t i = 0; i < kParameterHalves; ++i) {
          parameters[i] = SignExtended(AnswerHalf(answer, 4 + 2 * i));
        }
        parameters[10] = static_cast<std::int32_t>(AnswerWord(answer, 24));
        parameters[11] = static_cast<std::int32_t>(AnswerWord(answer, 28));
      });
}

}  // namespace
}  // namespace vantor::interface

using namespace vantor;
using common::CommandCode;

LINKORA_EXPORT LinkoraStatus mctl_StartADConversion(uint32_t channel, uint32_t on) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_StartADConversion", [&] {
    return interface::SwitchOnChannel(CommandCode::StartAdConversion, channel, on);
  });
}

LINKORA_EXPORT LinkoraStatus mctl_GetADValue(uint32_t channel, uint32_t* valid, uint32_t* ready,
                                             int32_t* value) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_GetADValue",
                              [&] { return interface::GetValue(channel, valid, ready, value); });
}

LINKORA_EXPORT LinkoraStatus mctl_SetADtoDistanceFactor(uint32_t channel, uint32_t denominator,
                                                        uint32_t numerator) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_SetADtoDistanceFactor", [&] {
    return interface::SetFactor(channel, denominator, numerator);
  });
}

LINKORA_EXPORT LinkoraStatus mctl_SetDistanceRegulatorArea(uint32_t channel, uint32_t area0,
                                                           uint32_t area1, uint32_t area2,
                                                           uint32_t area3, uint32_t response,
                                                           uint32_t range) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_SetDistanceRegulatorArea", [&] {
    return interface::SetArea(channel, {area0, area1, area2, area3, response}, range);
  });
}

LINKORA_EXPORT LinkoraStatus mctl_StartDistanceRegulator(uint32_t channel, uint32_t on) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_StartDistanceRegulator", [&] {
    return interface::SwitchOnChannel(CommandCode::StartDistanceRegulator, channel, on);
  });
}

LINKORA_EXPORT LinkoraStatus mctl_GetDistanceRegulatorStatus(uint32_t channel, uint32_t* inRange) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_GetDistanceRegulatorStatus",
                              [&] { return interface::GetStatus(channel, inRange); });
}

LINKORA_EXPORT LinkoraStatus mctl_GetDistanceRegulatorPar(uint32_t channel, int32_t* parameters,
                                                          uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_GetDistanceRegulatorPar",
                              [&] { return interface::GetParameters(channel, parameters, size); });
}
