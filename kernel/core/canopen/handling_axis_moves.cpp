#include "kernel/core/canopen/handling_axis_moves.h"

#include <initializer_list>

#include "kernel/core/canopen/canopen_constants.h"

namespace vantor::canopen {

using common::StatusCode;

namespace {

struct Write {
  std::uint16_t index;
  std::uint8_t size;
  std::uint32_t value;
};

// The writes in order; the first one that fails ends the sequence.
StatusCode WriteInTurn(ServiceContext& context, std::uint32_t nodeIndex,
                       std::initializer_list<Write> writes) noexcept {
  for (const Write& write : writes) {
    const StatusCode result =
        SdoDownloadToNode(context, nodeIndex, write.index, 0, write.size, write.value);
    if (result != common::kKernelSuccess) return result;
  }
  return common::kKernelSuccess;
}

std::uint32_t AsWire(std::int32_t value) noexcept { return static_cast<std::uint32_t>(value); }

}  // namespace

StatusCode HoldAtPositionDemand(ServiceContext& context, std::uint32_t nodeIndex,
                                std::uint32_t& demand) noexcept {
  const StatusCode halted =
      WriteInTurn(context, nodeIndex,
                  {{object::kControlword, 2, ds402::kHalt},
                   {object::kModesOfOperation, 1, ds402::kProfilePositionMode}});
  if (halted != common::kKernelSuccess) return halted;
  const StatusCode read =
      SdoUploadFromNode(context, nodeIndex, object::kPositionDemand, 0, 4, demand);
  if (read != common::kKernelSuccess) return read;
  return SdoDownloadToNode(context, nodeIndex, object::kTargetPosition, 0, 4, demand);
}

StatusCode SetVelocityModeHalted(ServiceContext& context, std::uint32_t nodeIndex) noexcept {
  return WriteInTurn(context, nodeIndex,
                     {{object::kControlword, 2, ds402::kHalt},
                      {object::kTargetVelocity, 4, 0},
                      {object::kModesOfOperation, 1, ds402::kProfileVelocityMode}});
}

StatusCode StartProfilePositionMove(ServiceContext& context, std::uint32_t nodeIndex,
                                    std::uint32_t acceleration, std::uint32_t velocity,
                                    std::int32_t target) noexcept {
  const StatusCode parameters = WriteInTurn(context, nodeIndex,
                                            {{object::kProfileAcceleration, 4, acceleration},
                                             {object::kProfileVelocity, 4, velocity},
                                             {object::kEndVelocity, 4, 0},
                                             {object::kTargetPosition, 4, AsWire(target)}});
  if (parameters != common::kKernelSuccess) return parameters;
  // A drive already in operation may refuse the plain enable; the start of
  // the move tells whether it runs.
  const StatusCode enabled =
      SdoDownloadToNode(context, nodeIndex, object::kControlword, 0, 2, ds402::kEnableOperation);
  if (enabled == kernel::kCycleNotRunning) return enabled;
  return SdoDownloadToNode(context, nodeIndex, object::kControlword, 0, 2,
                           ds402::kStartAbsoluteMoveNow);
}

StatusCode StartProfileVelocityMove(ServiceContext& context, std::uint32_t nodeIndex,
                                    std::uint32_t acceleration, std::int32_t velocity) noexcept {
  return WriteInTurn(context, nodeIndex,
                     {{object::kProfileAcceleration, 4, acceleration},
                      {object::kTargetVelocity, 4, AsWire(velocity)},
                      {object::kControlword, 2, ds402::kEnableOperation}});
}

}  // namespace vantor::canopen
