// A client that takes tarnis1, starts a run and exchanges until it is
// killed: the test ends it with SIGKILL to see that its run goes with it.
// It says "running" on stderr once the first cycle came back, and ends by
// itself after a minute so that no lost client outlives a test run.
#include <chrono>
#include <cstdio>

#include "drivers/host/tests/run_client.h"

int main() {
  using namespace vantor;
  auto opened = os::DeviceHandle::Open("\\\\.\\tarnis1");
  if (opened.error != os::DeviceOpenError::kNone) {
    std::fprintf(stderr, "cannot open tarnis1\n");
    return 1;
  }
  os::DeviceHandle& handle = opened.handle;
  if (host::testing::DriverStatus(handle, common::IOCTL_CAN_CLAIM) != common::kDriverSuccess ||
      host::testing::StartClientRun(handle, {}) != common::kDriverSuccess) {
    std::fprintf(stderr, "cannot start a run\n");
    return 1;
  }
  host::testing::Exchanger exchanger(handle);
  common::ExchangeBuffer buffer;
  bool told = false;
  const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (std::chrono::steady_clock::now() < end) {
    if (!exchanger.Exchange(buffer)) {
      std::fprintf(stderr, "exchange failed\n");
      return 1;
    }
    if (!told) {
      std::fprintf(stderr, "running\n");
      told = true;
    }
  }
  return 0;
}
