#pragma once

#include <limits>
#include <optional>

#include "sim/can_frame.h"
#include "sim/sim_time.h"

namespace vantor::sim {

constexpr SimTime kNever = std::numeric_limits<SimTime>::max();

// Why a frame did not make it onto the bus.
enum class CanTransmitError {
  kNoAcknowledge,  // no other station was on-line to acknowledge it
  kErrorFrame,     // an error frame destroyed it (injected)
  kBusOff,         // the transmitter is bus-off
};

// Anything attached to a simulated CAN bus: a controller model or a node.
// The bus owns the timing: it asks every station for the frame it wants to
// send, lets the lowest identifier win arbitration, and tells the winner
// and all other stations the outcome when the frame ends.
class CanStation {
 public:
  virtual ~CanStation() = default;

  // The frame this station would send if the bus were free now. The bus may
  // ask several times before a frame starts; the answer must not change
  // until FrameSent or FrameFailed is called for it.
  virtual std::optional<CanFrame> FrameToSend() = 0;

  // Length of one bit of this station's transmissions.
  virtual SimTime BitTime() const = 0;

  // The station's frame went out and was acknowledged at `now`.
  virtual void FrameSent(SimTime now) = 0;

  // The station's frame failed; it stays pending unless the station drops it.
  virtual void FrameFailed(CanTransmitError error, SimTime now) = 0;

  // True while the station is on-line and acknowledges frames of others.
  virtual bool Acknowledges() const = 0;

  // A frame of another station ended successfully at `now`.
  virtual void FrameReceived(const CanFrame& frame, SimTime now) = 0;

  // A frame sent at another bit time ended at `now`: the station could not
  // read it, neither received nor acknowledged it, and saw only errors.
  virtual void FrameUnreadable(SimTime /*now*/) {}

  // The next time at which the station changes state by itself (a timer, a
  // boot that completes), or kNever.
  virtual SimTime NextDeadline() const { return kNever; }

  // Lets the station's own timers run up to `now`.
  virtual void AdvanceTo(SimTime /*now*/) {}
};

}  // namespace vantor::sim
