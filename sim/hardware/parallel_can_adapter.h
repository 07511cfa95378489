#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "sim/hardware/clock_out_divider.h"
#include "sim/hardware/i82527.h"
#include "sim/hardware/parallel_port.h"
#include "sim/hardware/simulation.h"

namespace vantor::sim {

// The CAN adapter on the parallel port: an 82527 reached one register at a
// time through the port.
//
// Strobed byte access (output direction, strobe line active): a select-in
// pulse latches the data lines as the register address, an auto-feed pulse
// writes the data lines into the addressed register. With the port in input
// direction, an auto-feed pulse reads the addressed register and the adapter
// drives it onto the data lines until auto-feed drops. BUSY low (status bit
// 7 reads 1) tells the host the adapter is ready.
//
// EPP access: an address cycle latches the register address, data cycles
// write or read the addressed register.
//
// The controller's clock output divided by 2048 pulses the acknowledge line
// (the port's interrupt) while the controller's port-2 bit 2 is an output
// driven low.
class ParallelCanAdapter : public ParallelPeripheral {
 public:
  static constexpr int kTickLineBit = 2;

  ParallelCanAdapter(Simulation& simulation, ParallelPort& port, I82527::Config controller);
  ~ParallelCanAdapter() override;
  ParallelCanAdapter(const ParallelCanAdapter&) = delete;
  ParallelCanAdapter& operator=(const ParallelCanAdapter&) = delete;

  I82527& Controller() { return *controller_; }
  const ClockOutDivider& Tick() const { return *tick_; }

  // The adapter stops answering the handshake (BUSY stays high, EPP cycles
  // time out) until cleared.
  void SetStuckNotReady(bool stuck) { stuck_not_ready_ = stuck; }

  void ControlChanged(std::uint8_t before, std::uint8_t after, std::uint8_t data) override;
  std::optional<std::uint8_t> DrivenData() const override { return driven_; }
  bool Busy() const override { return stuck_not_ready_; }
  bool EppAddressWrite(std::uint8_t value) override;
  bool EppAddressRead(std::uint8_t& value) override;
  bool EppDataWrite(std::uint8_t value) override;
  bool EppDataRead(std::uint8_t& value) override;

 private:
  void OnTickEdge();

  Simulation& simulation_;
  ParallelPort& port_;
  std::unique_ptr<I82527> controller_;
  std::unique_ptr<ClockOutDivider> tick_;
  std::uint8_t address_ = 0;
  std::optional<std::uint8_t> driven_;
  bool stuck_not_ready_ = false;
};

}  // namespace vantor::sim
