// The round trip of one command (the ping, code 1) between an application
// and a running kernel: write, signal, kernel wakes, dispatches, answers,
// application wakes. Prints the median and the 99th percentile with both
// processes unpinned, on two pinned CPUs and both on one CPU, each beside a
// bare futex ping-pong between two processes placed the same way (the
// floor, measured in the same run).
//
// Usage: kernel_command_round_trip_bench [round trips per placement]
//
// Goal: a median of at most 1.5 times the floor in every placement.
#include <sys/types.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "kernel/tests/kernel_test_client.h"
#include "platform/os/bench/round_trip_placement.h"

namespace {

using namespace vantor;
namespace bench = os::bench;

bool MeasureCommands(kernel::test_client::LibrarySide& client, bench::Placement placement,
                     std::size_t roundTrips, bench::LatencyFigures& figures) {
  if (!bench::PlaceThisSide(placement) ||
      !bench::PlaceOtherSide(static_cast<pid_t>(client.kernel().id()), placement)) {
    return false;
  }
  constexpr std::size_t kWarmUp = 200;
  for (std::size_t i = 0; i < kWarmUp; ++i) client.Command(1);
  std::vector<double> microseconds;
  microseconds.reserve(roundTrips);
  for (std::size_t i = 0; i < roundTrips; ++i) {
    const double start = bench::NowUs();
    const auto answer = client.Command(1);
    const double end = bench::NowUs();
    if (!answer.answered) {
      std::fprintf(stderr, "no answer to round trip %zu\n", i);
      return false;
    }
    microseconds.push_back(end - start);
  }
  figures = bench::Summarise(microseconds);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const long requested = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 20000;
  const std::size_t roundTrips = requested > 0 ? static_cast<std::size_t>(requested) : 20000;

  kernel::test_client::UseOwnNamespace("kernel-bench");
  kernel::test_client::LibrarySide client(common::Channel::CanOne);
  if (!client.StartKernelAnsweringPing(common::InterfaceType::Pci).answered) {
    std::fprintf(stderr, "the kernel did not start\n");
    return 1;
  }

  std::printf("command round trip (code 1), %zu round trips per placement (median / p99, us)\n",
              roundTrips);
  bool ok = true;
  for (const bench::Placement placement : bench::kPlacements) {
    if (!bench::PlacementPossible(placement)) {
      std::printf("  %-16s not possible: too few CPUs\n", bench::PlacementName(placement));
      continue;
    }
    bench::LatencyFigures command{};
    bench::LatencyFigures floor{};
    if (!MeasureCommands(client, placement, roundTrips, command) ||
        !bench::MeasureFutexFloor(placement, static_cast<int>(roundTrips), floor)) {
      std::fprintf(stderr, "measuring failed (%s)\n", bench::PlacementName(placement));
      ok = false;
      break;
    }
    std::printf("  %-16s command %8.1f / %8.1f   floor %7.1f / %7.1f   median %.2fx floor%s\n",
                bench::PlacementName(placement), command.medianUs, command.p99Us, floor.medianUs,
                floor.p99Us, command.medianUs / floor.medianUs,
                command.medianUs <= 1.5 * floor.medianUs ? "" : "  (goal: <= 1.5x)");
  }
  bench::PlaceThisSide(bench::Placement::Unpinned);
  client.Command(2);
  client.AwaitKernelEnd(10000);
  return ok ? 0 : 1;
}
