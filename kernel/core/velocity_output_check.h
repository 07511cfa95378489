// What an application asks for when it starts the velocity-proportional
// output (command 101), and the rules it must keep.
#pragma once

#include <array>
#include <cstdint>

#include "common/exchange_buffer.h"
#include "kernel/core/canopen/can_object_list.h"
#include "kernel/core/canopen/node_object.h"
#include "kernel/core/cnc_configuration.h"

namespace vantor::kernel {

// The output's data lengths and modes.
inline constexpr std::uint32_t kMinVelocityOutputLength = 1;
inline constexpr std::uint32_t kMaxVelocityOutputLength = 4;

struct VelocityOutputStart {
  std::uint32_t mode = 0;
  std::uint32_t delayMicroseconds = 0;
  // The output's CAN object.
  std::uint32_t direction = 0;
  std::uint32_t guarding = 0;
  std::uint8_t nodeId = 0;
  std::uint16_t cobId = 0;
  std::uint32_t dataLength = 0;
  std::uint32_t compare = 0;
  std::array<std::uint8_t, common::kCanDataSize> mask{};
  std::array<std::uint8_t, common::kCanDataSize> expected{};
  std::uint32_t answerTimeout = 0;
  std::uint32_t period = 0;
};

// What the rules compare the request with.
struct VelocityOutputContext {
  double cycleTimeSeconds = 0.0;
  // The set-point entries kept queued in the driver now: the output cannot
  // lag the drives by less.
  std::uint16_t fillLevel = 0;
  const canopen::NodeTable* nodes = nullptr;
  const canopen::CanObjectList* canObjects = nullptr;
  const HandwheelSettings* handwheel = nullptr;
};

// The longest delay (498 cycles) and the shortest (the fill level), in
// microseconds, rounded.
std::uint32_t LargestVelocityOutputDelay(double cycleTimeSeconds) noexcept;
std::uint32_t SmallestVelocityOutputDelay(std::uint16_t fillLevel,
                                          double cycleTimeSeconds) noexcept;

// 1 when the request keeps every rule: mode 1 or 2; a delay from the
// shortest to the longest; a transmit object without guarding; period and
// answer time-out from 1 up to what the object list counts in 31 bits; 1 to
// 4 data bytes; an identifier free for a user object; a node other than the
// linked handwheel's. 0 otherwise, and without a cycle time.
std::uint32_t CheckVelPropOutputParams(const VelocityOutputStart& start,
                                       const VelocityOutputContext& context) noexcept;

}  // namespace vantor::kernel
