#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/can_station.h"
#include "sim/hardware/i82527_registers.h"
#include "sim/hardware/simulation.h"

namespace vantor::sim {

// Register-level model of an Intel 82527 CAN controller on one bus: control
// and status (initialisation, bus-off with recovery, error warning, last error
// code), CPU interface, clock out, bit timing, masks, port 2, and 15 message
// objects with the pair semantics of their control bits and object 15's
// double buffer. The chip's time comes from the simulation; it is reached
// through Read and Write of its 256 register addresses, each one access of
// the chip (the card or adapter in front of it charges the access time).
class I82527 : public CanStation {
 public:
  struct Config {
    std::string name = "82527";
    std::uint32_t crystal_hz = 16'000'000;
    // What the board drives onto the port pins that are inputs. On the
    // card, port-2 bits 7 and 6 read 1 and 0, which tells the drivers a
    // controller is fitted.
    std::uint8_t port1_pins = 0xFF;
    std::uint8_t port2_pins = 0xBF;
  };

  struct PortWrite {
    SimTime time = 0;
    std::uint8_t value = 0;
  };

  I82527(Simulation& simulation, Config config);

  const std::string& Name() const { return config_.name; }

  // --- Register surface ---------------------------------------------------
  std::uint8_t Read(std::uint8_t address);
  void Write(std::uint8_t address, std::uint8_t value);

  // Power-on reset of every register and object.
  void HardwareReset();

  // --- Fault injection and hooks -------------------------------------------
  // Bit 7 of the CPU interface register reads 1 (a chip held in reset).
  void SetResetStatus(bool in_reset) { reset_status_ = in_reset; }
  // The next read of `address` answers `value` instead of the register.
  void OverrideNextRead(std::uint8_t address, std::uint8_t value);
  // After each of the next `times` reads of `address`, `action` runs: a
  // frame can arrive between two register reads of the drivers.
  void AfterRead(std::uint8_t address, std::function<void()> action, unsigned times = 1);
  // Shorthand: the frame arrives from the bus right after the read.
  void InjectFrameAfterRead(std::uint8_t address, const CanFrame& frame, unsigned times = 1);

  // --- Observation -------------------------------------------------------
  bool InInit() const { return (control_ & i82527::kControlInit) != 0; }
  bool IsBusOff() const { return bus_off_; }
  int TransmitErrorCount() const { return transmit_errors_; }
  int ReceiveErrorCount() const { return receive_errors_; }
  std::uint8_t Port2Output() const { return port2_output_; }
  std::uint8_t Port2Configuration() const { return port2_configuration_; }
  // Level of a port-2 pin as the board sees it: an input pin floats high.
  bool Port2PinHigh(int bit) const;
  // The latest writes of the port-2 output register, oldest first.
  const std::deque<PortWrite>& Port2History() const { return port2_history_; }

  // Clock output: period of one clock-out cycle times `divisor`, so the
  // board's tick divider needs no fractions; 0 while the output is off.
  SimTime ClockOutPeriodTimes(std::uint32_t divisor) const;
  // Changes whenever the clock output is switched or its divider changes.
  std::uint64_t ClockOutGeneration() const { return clock_out_generation_; }
  SimTime ClockOutChangedAt() const { return clock_out_changed_at_; }

  // --- CanStation ----------------------------------------------------------
  std::optional<CanFrame> FrameToSend() override;
  SimTime BitTime() const override;
  void FrameSent(SimTime now) override;
  void FrameFailed(CanTransmitError error, SimTime now) override;
  bool Acknowledges() const override;
  void FrameReceived(const CanFrame& frame, SimTime now) override;
  void FrameUnreadable(SimTime now) override;
  SimTime NextDeadline() const override;
  void AdvanceTo(SimTime now) override;

 private:
  struct StoredFrame {
    std::array<std::uint8_t, 4> arbitration{};
    std::uint8_t configuration = 0;
    std::array<std::uint8_t, 8> data{};
  };

  struct MessageObject {
    bool valid = false;
    bool transmit_interrupt = false;
    bool receive_interrupt = false;
    bool interrupt_pending = false;
    bool remote_pending = false;
    bool transmit_request = false;
    bool lost_or_updating = false;  // MsgLst on a receiver, CPUUpd on a transmitter
    bool new_data = false;
    StoredFrame frame;
    // Bumped on every CPU change of content or of the send request, so a
    // frame in flight knows whether the CPU asked for another one meanwhile.
    std::uint32_t generation = 0;
  };

  struct ReadHook {
    std::uint8_t address = 0;
    std::function<void()> action;
    unsigned remaining = 0;
  };

  static constexpr std::size_t kPortHistoryLength = 1024;
  static constexpr int kWarningLimit = 96;
  static constexpr int kErrorPassiveLimit = 128;
  static constexpr int kBusOffLimit = 256;
  // The receive error counter stops here; a receiver never goes bus-off.
  static constexpr int kReceiveErrorLimit = 255;

  std::uint8_t ReadRegister(std::uint8_t address);
  void WriteRegister(std::uint8_t address, std::uint8_t value);
  std::uint8_t ReadObject(int number, std::uint8_t offset) const;
  void WriteObject(int number, std::uint8_t offset, std::uint8_t value);
  void WriteControl(std::uint8_t value);
  void WriteStatus(std::uint8_t value);
  void WriteCpuInterface(std::uint8_t value);
  void WriteClockOut(std::uint8_t value);
  void WritePort2Output(std::uint8_t value);
  void RunReadHooks(std::uint8_t address);

  bool Online() const { return !InInit() && !bus_off_; }
  bool ConfigurationWritable() const;
  std::uint8_t Status() const;
  std::uint8_t InterruptIdentifier() const;
  std::uint16_t GlobalStandardMask() const;
  std::uint16_t Message15StandardMask() const;
  static std::uint16_t StandardIdentifier(const StoredFrame& frame);
  static bool IsTransmitObject(const MessageObject& object);
  static bool IsExtendedObject(const MessageObject& object);
  int FindReceiver(const CanFrame& frame) const;
  int FindRemoteAnswerer(const CanFrame& frame) const;
  void StoreReceived(int number, const CanFrame& frame);
  void StoreInObject15(const CanFrame& frame);
  void CountTransmitError(std::uint8_t last_error, int increment);
  void EnterBusOff();
  void FinishBusOffRecovery();

  Simulation& simulation_;
  Config config_;

  std::uint8_t control_ = 0;
  std::uint8_t status_flags_ = 0;  // wake, RXOK, TXOK and the last error code
  std::uint8_t cpu_interface_ = 0;
  bool reset_status_ = false;
  std::array<std::uint8_t, 256> plain_registers_{};  // registers without behaviour of their own
  std::uint8_t clock_out_ = 0;
  std::uint8_t bit_timing0_ = 0;
  std::uint8_t bit_timing1_ = 0;
  std::uint8_t port2_configuration_ = 0;
  std::uint8_t port2_output_ = 0;
  std::uint8_t port1_configuration_ = 0;
  std::uint8_t port1_output_ = 0;
  std::deque<PortWrite> port2_history_;

  std::array<MessageObject, i82527::kMessageObjectCount + 1> objects_{};  // index 0 unused
  std::optional<StoredFrame> object15_shadow_;

  int transmit_errors_ = 0;
  int receive_errors_ = 0;
  bool bus_off_ = false;
  SimTime recovery_ends_ = kNever;

  // The object whose frame was last offered to the bus, and its generation.
  int offered_object_ = 0;
  std::uint32_t offered_generation_ = 0;

  std::uint64_t clock_out_generation_ = 0;
  SimTime clock_out_changed_at_ = 0;

  std::optional<std::pair<std::uint8_t, std::uint8_t>> read_override_;
  std::vector<ReadHook> read_hooks_;
};

}  // namespace vantor::sim
