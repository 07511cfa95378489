#include "kernel/services/axis_command_support.h"

#include <algorithm>

#include "kernel/core/motion/motion_inputs.h"
#include "kernel/core/motion/wire_values.h"

namespace vantor::kernel {

namespace cb = common::communication_block;

std::uint32_t ConfiguredCoordinateCount(const KernelData& data) {
  return static_cast<std::uint32_t>(
      std::clamp<std::int32_t>(data.coordinateCount, 0, motion::kMaxCoordinates));
}

std::uint32_t PayloadCoordinateCount(const Kernel& kernel) {
  return std::min(kernel.Block().Get(cb::kCurrentCoordinateCount),
                  ConfiguredCoordinateCount(kernel.data));
}

std::uint32_t PayloadWord(const Kernel& kernel, std::size_t offset) {
  return kernel.Block().Load<std::uint32_t>(cb::PayloadAt(offset)).value_or(0);
}

std::int64_t PayloadWireValue(const Kernel& kernel, std::size_t offset) {
  return kernel.Block().Load<std::int64_t>(cb::PayloadAt(offset)).value_or(0);
}

void PutPayloadWireValue(const Kernel& kernel, std::size_t offset, double value) {
  static_cast<void>(
      kernel.Block().Store<std::int64_t>(cb::PayloadAt(offset), motion::RealToWireValue(value)));
}

bool IsNoMoveValue(std::int64_t value, bool int32Values) {
  return value == (int32Values ? std::int64_t{common::kNoMoveValue32} : common::kNoMoveWireValue);
}

void AnswerCommand(Kernel& kernel, common::StatusCode result) {
  kernel.Block().Set(cb::kResult, result);
}

}  // namespace vantor::kernel
