// The simulated handwheel gateway: a CANopen gateway whose transmit PDO
// carries the two button bytes (0x2001 sub 2 and 3) and the wheel's pulse
// counter (0x6401), and whose receive PDO sets its two output bytes
// (0x2000 sub 1 and 2, the lamps of the handwheel).
#pragma once

#include <cstdint>

#include "sim/canopen/canopen_node.h"

namespace vantor::sim::drives {

// What the kernel looks for in 0x1008 to recognise the gateway.
inline constexpr const char* kGatewayDeviceName = "UNIGATE ICCO-SC handwheel gateway";
inline constexpr const char* kGatewaySoftwareVersion = "V3.2.1";

class HandwheelGateway final : public canopen::NodeApplication {
 public:
  explicit HandwheelGateway(canopen::CanopenNode& node);

  // Test hooks: turning the wheel counts pulses (the counter wraps at 16
  // bits, as the gateway's does); the buttons are two bytes.
  void TurnWheel(std::int32_t pulses);
  void PressButtons(std::uint8_t first, std::uint8_t second);
  std::uint16_t Counter() const;
  std::uint8_t Output(std::uint8_t byte) const;

 private:
  canopen::CanopenNode& node_;
};

}  // namespace vantor::sim::drives
