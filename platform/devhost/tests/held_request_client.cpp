// Opens the test device, leaves one held request on it, says "held" and
// waits to be killed: the host must clean up after a client that dies.
#include <unistd.h>

#include <array>
#include <cstdio>

#include "platform/devhost/tests/test_driver.h"
#include "platform/os/device/device_handle.h"
#include "platform/os/wait.h"

int main() {
  using namespace vantor;
  auto opened = os::DeviceHandle::Open("\\\\.\\TestDev");
  if (opened.error != os::DeviceOpenError::kNone) return 2;
  auto event = os::Event::CreateUnnamed(os::EventReset::Manual, false);
  if (!event) return 3;
  std::array<std::uint8_t, 16> input{};
  std::array<std::uint8_t, 16> output{};
  os::DeviceOverlapped overlapped(*event);
  if (opened.handle.ControlOverlapped(devhost::testing::kHold, input, output, overlapped) !=
      os::kStatusPending) {
    return 4;
  }
  std::puts("held");
  std::fflush(stdout);
  for (;;) ::pause();
}
