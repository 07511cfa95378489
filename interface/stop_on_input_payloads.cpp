#include "interface/stop_on_input_payloads.h"

#include <cstddef>

namespace vantor::interface {

namespace {

namespace sp = common::stop_on_input_parameters;

static_assert(sizeof(LinkoraStopOnInputRecord) == 76);
static_assert(offsetof(LinkoraStopOnInputRecord, DriveAxis) == 7 * 4);
static_assert(offsetof(LinkoraStopOnInputRecord, MaskAxes) == 13 * 4);
static_assert(sizeof(LinkoraAmplifierInput) == 16);

// The kernel's flag is "per move", the record's "keep": one is the other
// inverted.
std::uint32_t PerMove(std::uint32_t keep) { return keep == 0 ? 1 : 0; }

}  // namespace

StopOnInputPayload MakeStopOnInputPayload(const LinkoraStopOnInputRecord& r) {
  sp::Record p;
  p.Set(sp::kMode, static_cast<std::uint8_t>(r.Mode));
  switch (r.Mode) {
    case 1:
      p.Set(sp::kSourceNodeId, static_cast<std::uint8_t>(r.ModuleNodeId));
      p.Set(sp::kSourceCobId, static_cast<std::uint16_t>(r.ModuleCobId));
      // The kernel's validity word is one byte on the caller's side.
      p.Set(sp::kSourceValid, static_cast<std::uint8_t>(r.ModuleValid));
      p.Set(sp::kInputMask, static_cast<std::uint8_t>(r.ModuleInputMask));
      p.Set(sp::kInputLevels, static_cast<std::uint8_t>(r.ModuleInputLevels));
      p.Set(sp::kPerMoveStopValue, PerMove(r.ModuleKeepStopValue));
      break;
    case 2:
      p.Set(sp::kInputAxis, static_cast<std::int32_t>(r.DriveAxis));
      p.Set(sp::kInputSlave, r.DriveSlave);
      p.Set(sp::kSubindex6Value, static_cast<std::uint8_t>(r.DriveOption));
      p.Set(sp::kInputMask, static_cast<std::uint8_t>(r.DriveInputMask));
      p.Set(sp::kInputLevels, static_cast<std::uint8_t>(r.DriveInputLevels));
      p.Set(sp::kPerMoveStopValue, PerMove(r.DriveKeepStopValue));
      break;
    case 3:
      p.Set(sp::kAxisMask, r.MaskAxes);
      p.Set(sp::kSubindex6Value, static_cast<std::uint8_t>(r.MaskOption));
      p.Set(sp::kInputMask, static_cast<std::uint8_t>(r.MaskInputMask));
      p.Set(sp::kInputLevels, static_cast<std::uint8_t>(r.MaskInputLevels));
      p.Set(sp::kSubindex7Flag, r.MaskInputFlag == 1 ? 1u : 0u);
      p.Set(sp::kPerMoveStopValue, PerMove(r.MaskKeepStopValue));
      break;
    default:
      break;
  }
  StopOnInputPayload bytes{};
  const auto source = p.Bytes();
  std::copy(source.begin(), source.end(), bytes.begin());
  return bytes;
}

LinkoraStopOnInputRecord ReadStopOnInputAnswer(
    std::span<const std::uint8_t, sp::kRecordSize> answer) {
  sp::Record p;
  std::copy(answer.begin(), answer.end(), p.MutableBytes().begin());
  LinkoraStopOnInputRecord r{};
  r.Mode = p.Get(sp::kMode);
  const std::uint32_t keep = p.Get(sp::kPerMoveStopValue) == 0 ? 1 : 0;
  switch (r.Mode) {
    case 1:
      r.ModuleNodeId = p.Get(sp::kSourceNodeId);
      r.ModuleCobId = p.Get(sp::kSourceCobId);
      r.ModuleValid = static_cast<std::uint8_t>(p.Get(sp::kSourceValid));
      r.ModuleInputMask = p.Get(sp::kInputMask);
      r.ModuleInputLevels = p.Get(sp::kInputLevels);
      r.ModuleKeepStopValue = keep;
      break;
    case 2:
      r.DriveAxis = static_cast<std::uint32_t>(p.Get(sp::kInputAxis));
      r.DriveSlave = p.Get(sp::kInputSlave);
      r.DriveOption = static_cast<std::uint8_t>(p.Get(sp::kSubindex6Value));
      r.DriveInputMask = p.Get(sp::kInputMask);
      r.DriveInputLevels = p.Get(sp::kInputLevels);
      r.DriveKeepStopValue = keep;
      break;
    case 3:
      r.MaskAxes = p.Get(sp::kAxisMask);
      r.MaskOption = static_cast<std::uint8_t>(p.Get(sp::kSubindex6Value));
      r.MaskInputMask = p.Get(sp::kInputMask);
      r.MaskInputLevels = p.Get(sp::kInputLevels);
      r.MaskInputFlag = p.Get(sp::kSubindex7Flag) != 0 ? 1 : 0;
      r.MaskKeepStopValue = keep;
      break;
    default:
      break;
  }
  return r;
}

AmplifierInputPayload MakeAmplifierInputPayload(const LinkoraAmplifierInput& r) {
  AmplifierInputPayload bytes{};
  for (std::size_t i = 0; i < 4; ++i) {
    bytes[i] = static_cast<std::uint8_t>(r.AxisIndex >> (8 * i));
  }
  bytes[4] = static_cast<std::uint8_t>(r.Axis);
  bytes[5] = static_cast<std::uint8_t>(r.Input);
  return bytes;
}

}  // namespace vantor::interface
