#include "kernel/core/canopen/gantry_homing_objects.h"

#include <array>
#include <cmath>
#include <limits>
#include <span>

#include "kernel/core/canopen/axis_services.h"
#include "kernel/core/canopen/canopen_constants.h"

namespace vantor::canopen {

using common::StatusCode;

namespace {

constexpr std::uint16_t kHomeOffset = 0x607C;
constexpr std::uint16_t kHomingMethod = 0x6098;
constexpr std::uint16_t kHomingSpeeds = 0x6099;
constexpr std::uint8_t kSwitchSpeedSubindex = 1;
constexpr std::uint8_t kZeroSpeedSubindex = 2;
constexpr std::uint16_t kHomingAcceleration = 0x609A;

bool Failed(StatusCode result) noexcept { return result != common::kKernelSuccess; }

// A kept value as the drive's 32-bit word: rounded, held to the signed
// range (a negative offset goes out in two's complement).
std::uint32_t DriveWord(double value) noexcept {
  if (!std::isfinite(value)) return 0;
  constexpr double kLowest = std::numeric_limits<std::int32_t>::min();
  constexpr double kHighest = std::numeric_limits<std::int32_t>::max();
  const double held = std::fmin(std::fmax(std::round(value), kLowest), kHighest);
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(held));
}

// One homing object: which one, and how to take its value from a drive.
struct HomingObject {
  std::uint16_t index;
  std::uint8_t subindex;
  std::uint8_t size;
  std::uint32_t (*value)(const HomingParameters&) noexcept;
};

constexpr std::array<HomingObject, 5> kHomingObjects{{
    {kHomeOffset, 0, 4, [](const HomingParameters& p) noexcept { return DriveWord(p.homeOffset); }},
    {kHomingMethod, 0, 1,
     [](const HomingParameters& p) noexcept { return std::uint32_t{p.method}; }},
    {kHomingSpeeds, kSwitchSpeedSubindex, 4,
     [](const HomingParameters& p) noexcept { return DriveWord(p.switchSearchSpeed); }},
    {kHomingSpeeds, kZeroSpeedSubindex, 4,
     [](const HomingParameters& p) noexcept { return DriveWord(p.zeroSearchSpeed); }},
    {kHomingAcceleration, 0, 4,
     [](const HomingParameters& p) noexcept { return DriveWord(p.acceleration); }},
}};

// The node's records of one object: the node's value first, then each
// axis's, read under the kernel data lock.
std::uint32_t FillRecords(ServiceContext& context, const NodeObject& node,
                          const HomingObject& object,
                          std::array<SdoRecord, kMaxNodeAxes + 1>& records) noexcept {
  HostLock lock(context.host);
  records[0] =
      MakeSdoRecord(object.index, object.subindex, object.size, object.value(node.drive.homing));
  for (std::uint32_t a = 0; a < node.axisCount; ++a) {
    records[a + 1] = MakeSdoRecord(object.index, object.subindex, object.size,
                                   object.value(node.axes[a].drive.homing));
  }
  return node.axisCount + 1;
}

// The results of a node's drives: the node's last result, then its axes'.
using DriveResults = std::array<StatusCode, kMaxNodeAxes + 1>;

DriveResults ResultsOf(ServiceContext& context, const NodeObject& node) noexcept {
  HostLock lock(context.host);
  DriveResults results{};
  results[0] = node.request.lastResult;
  for (std::uint32_t a = 0; a < node.axisCount; ++a) results[a + 1] = node.axes[a].axisResult;
  return results;
}

// A drive whose later write went through keeps the cause of its earlier
// failure.
void KeepFailures(ServiceContext& context, NodeObject& node, const DriveResults& earlier) noexcept {
  HostLock lock(context.host);
  if (Failed(earlier[0]) && !Failed(node.request.lastResult)) {
    node.request.lastResult = earlier[0];
  }
  for (std::uint32_t a = 0; a < node.axisCount; ++a) {
    if (Failed(earlier[a + 1]) && !Failed(node.axes[a].axisResult)) {
      node.axes[a].axisResult = earlier[a + 1];
    }
  }
}

}  // namespace

StatusCode ResetGantryHomingObjects(ServiceContext& context, std::uint32_t nodeNumber) noexcept {
  NodeObject* node = context.nodes.ByNumber(nodeNumber);
  if (node == nullptr) return common::kKernelOperationFailed;
  const std::uint32_t nodeIndex = nodeNumber - 1;
  const StatusCode bridging =
      SdoDownloadToNodeAxes(context, true, nodeIndex, object::kGantryBridging, 0, 1, 0);
  if (bridging == kernel::kCycleNotRunning) return bridging;
  const DriveResults bridgingResults = ResultsOf(context, *node);
  const StatusCode search = SdoDownloadToNodeAxes(context, true, nodeIndex, object::kAxisChain,
                                                  axis_chain::kGantrySearch, 4, 0);
  if (search == kernel::kCycleNotRunning) return search;
  if (!Failed(bridging)) return search;
  KeepFailures(context, *node, bridgingResults);
  return bridging;
}

StatusCode ResetAllGantryHomingObjects(ServiceContext& context) noexcept {
  StatusCode result = common::kKernelSuccess;
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    const NodeObject* node = context.nodes.nodes[k];
    if (node == nullptr || node->axisCount == 0) continue;
    const StatusCode reset = ResetGantryHomingObjects(context, k + 1);
    if (reset == kernel::kCycleNotRunning) return reset;
    if (Failed(reset)) result = common::kKernelOperationFailed;
  }
  return result;
}

StatusCode DownloadGantryHomingParameters(ServiceContext& context) noexcept {
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    const NodeObject* node = context.nodes.nodes[k];
    if (node == nullptr || node->axisCount == 0) continue;
    for (const HomingObject& object : kHomingObjects) {
      std::array<SdoRecord, kMaxNodeAxes + 1> records{};
      const std::uint32_t used = FillRecords(context, *node, object, records);
      const StatusCode written = SdoDownloadToNodeAxesEach(
          context, true, false, k, std::span<const SdoRecord>(records.data(), used));
      if (Failed(written)) return written;
    }
  }
  return common::kKernelSuccess;
}

}  // namespace vantor::canopen
