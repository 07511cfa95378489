// What the shared CAN layer needs from the driver around it: who it is, and
// how the card or port delivers the tick interrupt.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "common/driver_records.h"
#include "common/driver_status.h"
#include "platform/devhost/io_request.h"

namespace vantor::canlayer {

// Which of the three drivers a channel belongs to; it decides which
// requests beyond the shared set the device knows.
enum class CanDriverRole : std::uint8_t {
  kChannelOne,    // the card's owner: also serves channel 2's share of the card
  kChannelTwo,    // the card's second channel, clocked through channel 1
  kParallelPort,  // the adapter on the parallel port: also serves the port requests
};

struct CanChannelSettings {
  CanDriverRole role = CanDriverRole::kChannelOne;
  common::InterfaceKind interfaceKind = common::InterfaceKind::Pci;
  std::uint8_t channel = 1;  // what a run record must carry
  common::DriverVersion version = common::kPciDriverVersion;
  // A byte-wide output port for timing marks, when the machine has one.
  std::optional<std::uint16_t> testPort;
  // Run mode 1: a cycle is always exactly N ticks; off, a cycle also begins
  // early once a full cycle length has passed on the performance counter.
  bool exactTickBufferedCycle = false;
  // Receive reads of codes 15, 19 and 21 report a frame that overwrote an
  // unread one as result 3; off, such a frame counts as a plain frame (0).
  bool reportOverwrittenFrames = false;
};

// The tick's way from the hardware to the handler. Calls marked "interrupt
// lock" run with the device's interrupt lock held; each hook that touches
// the card's bridge takes the card lock itself, because both channels'
// handlers change the bridge's interrupt register. The channel-2 driver's
// hooks send channel 1's internal requests, even under its own interrupt
// lock: channel 1 never calls back into channel 2, so no cycle can form.
class CanFrontEnd {
 public:
  virtual ~CanFrontEnd() = default;

  // Run start, before the handler is connected. The channel-2 driver asks
  // channel 1 here to clock the card; a refusal is the start's answer.
  virtual common::DriverStatus PrepareTickSource(std::uint8_t tickDivider) {
    (void)tickDivider;
    return common::kDriverSuccess;
  }
  // Interrupt lock: the handler is connected; let the tick through. False
  // when the tick source refused (the channel-2 line could not be enabled):
  // the handler is disconnected again and the start fails.
  virtual bool EnableTickSource() = 0;
  // The connect failed after PrepareTickSource succeeded.
  virtual void AbandonTickSource() {}
  // First thing in every interrupt: clears a latched tick edge.
  virtual void AcknowledgeTick() = 0;
  // Interrupt lock: the run ends; switch the interrupt output off. False
  // when that was refused (the run then stays).
  virtual bool DisableTickSource() = 0;
  // After the handler is gone while another user still needs the line:
  // clear the latched edge and switch the output on again.
  virtual void ResumeInterruptOutput() = 0;
  // After the handler is gone.
  virtual void ReleaseTickSource() {}
};

// The device's request table for the driver host: the shared set, the port
// requests (answered "not implemented" by the card drivers) and, for the
// channel-1 driver only, channel 2's requests, which only drivers may send.
std::vector<devhost::RequestSpec> CanRequestTable(CanDriverRole role);

}  // namespace vantor::canlayer
