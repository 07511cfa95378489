#include "kernel/core/axis_exchange.h"

#include <array>
#include <cstddef>
#include <utility>

namespace vantor::kernel {

namespace {

template <typename T, std::size_t N>
void SwapEntries(std::array<T, N>& values, std::uint32_t a, std::uint32_t b) noexcept {
  if (a < N && b < N) std::swap(values[a], values[b]);
}

}  // namespace

void ExchangeAxes(KernelData& data, std::uint32_t a, std::uint32_t b) noexcept {
  if (a == b || a >= canopen::kMaxNodes || b >= canopen::kMaxNodes) return;
  data.nodeConfiguration.ExchangeNodesOfAxes(a, b);
  MotionRuntime& runtime = data.motionRuntime;
  SwapEntries(runtime.nodes, a, b);

  // Coordinate i moves node i: the coordinate goes with its drive.
  SwapEntries(data.coordinates, a, b);
  SwapEntries(data.savedConfiguration.coordinates, a, b);
  SwapEntries(data.planning.cylinderRadii, a, b);
  SwapEntries(data.planning.nodeLimits, a, b);
  SwapEntries(data.planning.rampOverridesSet, a, b);
  SwapEntries(runtime.axes, a, b);
  SwapEntries(runtime.path.axes, a, b);

  // The entry's column is where the driver sends the drive's set-points
  // (its send record's rank), so column, scaling and last value stay with
  // the drive; only the coordinate it stands for is the axis's own.
  std::array<motion::EntryAxis, motion::kMaxInterpolatedAxes>& entries = runtime.path.entryAxes;
  if (a < entries.size() && b < entries.size()) {
    std::swap(entries[a], entries[b]);
    std::swap(entries[a].coordinate, entries[b].coordinate);
  }
}

}  // namespace vantor::kernel
