// What the homing step of a node's slot reads of the kernel beyond the node
// table: the break an application may set, the test mode, how many nodes in
// front of the table are interpolated axes and whether the handwheel is
// linked (its time stamp lengthens the drives' first transmit PDO). The
// cycle fills it each time it runs the slots.
#pragma once

#include <cstdint>

namespace vantor::canopen {

// The kernel's homing-break event as the cycle sees it: polled, never
// waited on.
class HomingBreakSignal {
 public:
  virtual bool IsSet() noexcept = 0;
  virtual void Reset() noexcept = 0;

 protected:
  ~HomingBreakSignal() = default;
};

struct HomingCycleState {
  HomingBreakSignal* breakSignal = nullptr;  // null: never set
  std::uint32_t testMode = 0;
  std::uint32_t interpolatedNodeCount = 0;
  std::uint32_t handwheelLinked = 0;
};

}  // namespace vantor::canopen
