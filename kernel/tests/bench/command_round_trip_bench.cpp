// The round trip of one command (the ping, code 1) between an application
// and a running kernel: write, signal, kernel wakes, dispatches, answers,
// application wakes. Prints the median and the 99th percentile.
//
// Usage: kernel_command_round_trip_bench [round trips]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "kernel/tests/kernel_test_client.h"

int main(int argc, char** argv) {
  using namespace vantor;
  using Clock = std::chrono::steady_clock;
  const long requested = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 20000;
  const std::size_t roundTrips = requested > 0 ? static_cast<std::size_t>(requested) : 20000;

  kernel::test_client::UseOwnNamespace("kernel-bench");
  kernel::test_client::LibrarySide client(common::Channel::CanOne);
  if (!client.StartKernelAnsweringPing(common::InterfaceType::Pci).answered) {
    std::fprintf(stderr, "the kernel did not start\n");
    return 1;
  }

  constexpr std::size_t kWarmUp = 200;
  for (std::size_t i = 0; i < kWarmUp; ++i) client.Command(1);

  std::vector<double> microseconds;
  microseconds.reserve(roundTrips);
  for (std::size_t i = 0; i < roundTrips; ++i) {
    const auto start = Clock::now();
    const auto answer = client.Command(1);
    const auto end = Clock::now();
    if (!answer.answered) {
      std::fprintf(stderr, "no answer to round trip %zu\n", i);
      return 1;
    }
    microseconds.push_back(std::chrono::duration<double, std::micro>(end - start).count());
  }

  client.Command(2);
  client.AwaitKernelEnd(10000);

  std::sort(microseconds.begin(), microseconds.end());
  const auto at = [&](double fraction) {
    return microseconds[std::min(microseconds.size() - 1,
                                 static_cast<std::size_t>(fraction * microseconds.size()))];
  };
  std::printf("command round trip (code 1), %zu round trips\n", microseconds.size());
  std::printf("  median %8.1f us\n", at(0.5));
  std::printf("  p99    %8.1f us\n", at(0.99));
  std::printf("  max    %8.1f us\n", microseconds.back());
  return 0;
}
