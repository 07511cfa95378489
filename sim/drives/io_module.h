// The simulated digital I/O module: two input bytes (0x6000) sent in its
// first transmit PDO when they change, two output bytes (0x6200) taken
// from its first receive PDO or by SDO. When its master is lost, the
// outputs take their error values (0x6206 selects the bits, 0x6207 gives
// their values).
#pragma once

#include <cstdint>

#include "sim/canopen/canopen_node.h"

namespace vantor::sim::drives {

constexpr std::uint8_t kIoModuleBytes = 2;

class IoModule final : public canopen::NodeApplication {
 public:
  explicit IoModule(canopen::CanopenNode& node);

  // Test hooks: the wiring at the module's terminals.
  void SetInputs(std::uint8_t byte, std::uint8_t value);
  std::uint8_t Output(std::uint8_t byte) const;

  void OnLifeGuardingLost(SimTime now) override;

 private:
  canopen::CanopenNode& node_;
};

}  // namespace vantor::sim::drives
