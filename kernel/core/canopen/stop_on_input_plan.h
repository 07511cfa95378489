// The stop-on-input mode's decisions, apart from the bus: which parameter
// records are accepted (and what the kernel fills in), which role each
// drive takes, and the writes to the drives' stop-on-input object (0x205C)
// that configure them, pass by pass.
//
// Pass -1 is the interpolated axes' own drives, pass k >= 0 the drives of
// their slave axis k.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "common/stop_on_input_records.h"
#include "kernel/core/canopen/cob_id.h"
#include "kernel/core/canopen/node_object.h"

namespace vantor::canopen {

inline constexpr std::int32_t kOwnDrivePass = -1;

// Subindices of the drives' stop-on-input object.
namespace stop_on_input {
inline constexpr std::uint8_t kArming = 1;
inline constexpr std::uint8_t kRole = 2;
inline constexpr std::uint8_t kStopValue = 3;
inline constexpr std::uint8_t kRoleFlag = 4;
inline constexpr std::uint8_t kLatchedPosition = 5;
inline constexpr std::uint8_t kSubindex6 = 6;
inline constexpr std::uint8_t kSubindex7 = 7;
inline constexpr std::uint8_t kInputByte = 8;
inline constexpr std::uint8_t kInputMask = 9;
inline constexpr std::uint8_t kInputLevels = 10;
inline constexpr std::uint8_t kArmed = 11;
inline constexpr std::uint8_t kLatchState = 12;
// A latch state's low byte from this on: the position is latched.
inline constexpr std::uint8_t kLatchedFrom = 128;
}  // namespace stop_on_input

enum class StopOnInputMode : std::uint8_t { Off = 0, InputModule = 1, OneDrive = 2, AxisMask = 3 };

// The decoded parameter record of codes 87 and 88.
struct StopOnInputParameters {
  std::uint8_t mode = 0;
  std::uint8_t inputMask = 0;
  std::uint8_t inputLevels = 0;
  std::uint32_t perMoveStopValue = 0;
  std::uint32_t axisMask = 0;
  std::int32_t inputAxis = 0;
  std::int32_t inputSlave = kOwnDrivePass;
  std::uint32_t subindex6Value = 0;
  std::uint32_t subindex7Flag = 0;
  std::uint8_t sourceNodeId = 0;
  std::uint16_t sourceCobId = 0;
  std::uint32_t sourceValid = 0;

  StopOnInputMode Mode() const noexcept { return static_cast<StopOnInputMode>(mode); }
  friend bool operator==(const StopOnInputParameters&, const StopOnInputParameters&) = default;
};

StopOnInputParameters DecodeStopOnInputParameters(
    const common::stop_on_input_parameters::Record& record) noexcept;
common::stop_on_input_parameters::Record EncodeStopOnInputParameters(
    const StopOnInputParameters& parameters) noexcept;

// What the decisions need of the machine: the interpolated axes and, for
// each, the slave axes its node carries and its largest acceleration.
struct StopOnInputMachine {
  std::uint32_t interpolatedCount = 0;
  std::array<std::uint32_t, kMaxNodes> slaveCount{};
  std::array<std::uint8_t, kMaxNodes> nodeId{};
  std::array<std::array<std::uint8_t, kMaxNodeAxes>, kMaxNodes> slaveNodeId{};
  std::array<std::uint32_t, kMaxNodes> maxAcceleration{};

  bool AnySlave() const noexcept;
  // The largest slave count among the interpolated axes: the passes run
  // from -1 up to it, exclusive.
  std::uint32_t LargestSlaveCount() const noexcept;
  // Bit a: interpolated axis a has a drive in `pass`.
  NodeMask AxesInPass(std::int32_t pass) const noexcept;
};

// Takes the interpolated axes of `nodes` (the first `interpolatedCount`
// nodes). The caller holds the kernel data lock.
StopOnInputMachine DescribeStopOnInputMachine(const NodeTable& nodes,
                                              std::uint32_t interpolatedCount) noexcept;

// Checks `parameters` and fills in what the kernel chooses: in mode 3 the
// mask cut to the interpolated axes, its first axis and the own drive; in
// modes 2 and 3 the input source's node id, its third transmit PDO and its
// validity. `cobIdFree` answers whether an application may use a node id
// and COB-ID (mode 1). False: the record is refused, and may be changed.
template <typename CobIdFree>
bool ValidateStopOnInputPar(StopOnInputParameters& parameters, const StopOnInputMachine& machine,
                            CobIdFree cobIdFree) noexcept;

struct StopOnInputRole {
  std::uint8_t role = 0;  // 0 none, 1 stopping drive, 2 input drive
  std::uint8_t flag = 0;
  friend bool operator==(const StopOnInputRole&, const StopOnInputRole&) = default;
};

// The role of interpolated axis `axis`'s drive in `pass`.
StopOnInputRole StopOnInputAxisRole(const StopOnInputParameters& parameters,
                                    const StopOnInputMachine& machine, std::uint32_t axis,
                                    std::int32_t pass) noexcept;

// One write of the configuration: the same subindex on the masked axes,
// each with its own value.
struct StopOnInputWrite {
  std::uint8_t subindex = 0;
  std::uint8_t size = 1;
  NodeMask axes = 0;
  std::array<std::uint32_t, kMaxNodes> values{};
};

struct StopOnInputWrites {
  static constexpr std::size_t kCapacity = 10;
  std::array<StopOnInputWrite, kCapacity> writes{};
  std::size_t count = 0;
};

// The writes of one pass, switching the drives on (the whole sequence) or
// off (disarmed and unarmed only). Empty for a pass without drives.
StopOnInputWrites StopOnInputPassWrites(const StopOnInputParameters& parameters,
                                        const StopOnInputMachine& machine, std::int32_t pass,
                                        bool on) noexcept;

// ---- Template definition ------------------------------------------------------------------
template <typename CobIdFree>
bool ValidateStopOnInputPar(StopOnInputParameters& p, const StopOnInputMachine& machine,
                            CobIdFree cobIdFree) noexcept {
  const std::uint32_t count = machine.interpolatedCount;
  switch (p.Mode()) {
    case StopOnInputMode::Off:
      return true;
    case StopOnInputMode::InputModule:
      return cobIdFree(p.sourceNodeId, p.sourceCobId) && p.sourceValid == 1;
    case StopOnInputMode::AxisMask: {
      const std::uint32_t axes = count >= 32 ? ~0u : (1u << count) - 1u;
      p.axisMask &= axes;
      if (p.axisMask == 0) return false;
      p.inputAxis = __builtin_ctz(p.axisMask);
      p.inputSlave = kOwnDrivePass;
      break;
    }
    case StopOnInputMode::OneDrive:
      if (p.inputAxis < 0 || static_cast<std::uint32_t>(p.inputAxis) >= count) return false;
      if (p.inputSlave < kOwnDrivePass ||
          (p.inputSlave >= 0 &&
           static_cast<std::uint32_t>(p.inputSlave) >= machine.slaveCount[p.inputAxis])) {
        return false;
      }
      break;
    default:
      return false;
  }
  if (p.subindex6Value != 0) return false;
  const auto axis = static_cast<std::size_t>(p.inputAxis);
  p.sourceNodeId = p.inputSlave == kOwnDrivePass
                       ? machine.nodeId[axis]
                       : machine.slaveNodeId[axis][static_cast<std::size_t>(p.inputSlave)];
  p.sourceCobId = MakeTpdoCobId(3, p.sourceNodeId);
  p.sourceValid = 1;
  return true;
}

}  // namespace vantor::canopen
