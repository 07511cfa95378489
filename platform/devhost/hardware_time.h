// The time of the hardware the drivers run on, where it is not the clock's:
// a simulated machine that a loaded computer lets fall behind the clock.
#pragma once

#include "platform/devhost/clock.h"

namespace vantor::devhost {

class HardwareTime {
 public:
  virtual ~HardwareTime() = default;
  // The counter value the hardware has reached.
  virtual Ticks HardwareNow() const noexcept = 0;
};

}  // namespace vantor::devhost
