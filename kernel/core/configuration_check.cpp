#include "kernel/core/configuration_check.h"

#include <algorithm>

namespace vantor::kernel {

namespace {

bool CountsAreValid(const ConfigurationToCheck& c) noexcept {
  if (c.coordinateCount < 0 || c.coordinateCount > kMaxCoordinates) return false;
  if (c.pathCoordinateCount < 0 || c.pathCoordinateCount > kMaxPathCoordinates ||
      c.pathCoordinateCount > c.coordinateCount) {
    return false;
  }
  if (c.nodeCount < 0 || c.nodeCount > kMaxNodes) return false;
  if (c.interpolatedNodeCount < 0 || c.interpolatedNodeCount > kMaxInterpolatedNodes ||
      c.interpolatedNodeCount > c.nodeCount) {
    return false;
  }
  // The node list must describe exactly the counted nodes; the rules below
  // read no further than it reaches.
  return c.nodes.size() == static_cast<std::size_t>(c.nodeCount);
}

bool SyncNodeIsValid(const ConfigurationToCheck& c) noexcept {
  const auto syncNodes = std::count_if(c.nodes.begin(), c.nodes.end(),
                                       [](const ConfiguredNode& n) { return n.isSyncNode; });
  if (syncNodes > 1) return false;
  // Two or more interpolated drives only move together when one of them
  // gives the SYNC.
  return !(c.interpolatedNodeCount >= 2 && syncNodes == 0);
}

bool BitRateIsUsable(const ConfigurationToCheck& c) noexcept {
  if (c.nodeCount == 0) return true;
  return std::find(kUsableBitRateCodes.begin(), kUsableBitRateCodes.end(), c.bitRateCode) !=
         kUsableBitRateCodes.end();
}

bool NodeIdsAreUnique(const ConfigurationToCheck& c) noexcept {
  for (std::size_t i = 0; i < c.nodes.size(); ++i) {
    for (std::size_t j = i + 1; j < c.nodes.size(); ++j) {
      if (c.nodes[i].nodeId == c.nodes[j].nodeId) return false;
    }
  }
  return true;
}

bool BootWaitsAreValid(const ConfigurationToCheck& c) noexcept {
  return std::all_of(c.nodes.begin(), c.nodes.end(), [](const ConfiguredNode& n) {
    return n.bootWaitMilliseconds <= kMaxNodeBootWaitMilliseconds;
  });
}

bool BufferDepthsAreValid(const ConfigurationToCheck& c) noexcept {
  if (c.maxBufferedPathSegments < 1) return false;
  if (c.driveBufferDepth < kMinDriveBufferDepth || c.driveBufferDepth > kMaxDriveBufferDepth) {
    return false;
  }
  if (c.lookAheadEntries <= c.driveBufferDepth || c.lookAheadEntries > kMaxLookAheadEntries) {
    return false;
  }
  if (c.teachInDriveBufferDepth < kMinTeachInDriveBufferDepth ||
      c.teachInDriveBufferDepth > c.driveBufferDepth) {
    return false;
  }
  return c.teachInLookAheadEntries > c.teachInDriveBufferDepth &&
         c.teachInLookAheadEntries <= c.lookAheadEntries;
}

// A slave drive answers on its own node id, so that id may be no node's id
// and may not fall into the slave range of another node.
bool SlaveAxesAreValid(const ConfigurationToCheck& c) noexcept {
  for (const auto& node : c.nodes) {
    if (node.slaveAxisCount < 0 || node.slaveAxisCount > kMaxSlaveAxesPerNode) return false;
  }
  for (std::size_t i = 0; i < c.nodes.size(); ++i) {
    const auto& owner = c.nodes[i];
    for (std::int32_t s = 0; s < owner.slaveAxisCount; ++s) {
      const std::int64_t slaveId = static_cast<std::int64_t>(owner.firstSlaveNodeId) + s;
      for (std::size_t j = 0; j < c.nodes.size(); ++j) {
        const auto& other = c.nodes[j];
        if (other.nodeId == slaveId) return false;
        if (j == i || other.slaveAxisCount == 0) continue;
        const std::int64_t first = other.firstSlaveNodeId;
        const std::int64_t last = first + other.slaveAxisCount - 1;
        if (slaveId >= first && slaveId <= last) return false;
      }
    }
  }
  return true;
}

}  // namespace

common::StatusCode ValidateConfiguration(const ConfigurationToCheck& configuration) noexcept {
  const bool valid = CountsAreValid(configuration) && SyncNodeIsValid(configuration) &&
                     BitRateIsUsable(configuration) && NodeIdsAreUnique(configuration) &&
                     BootWaitsAreValid(configuration) && BufferDepthsAreValid(configuration) &&
                     SlaveAxesAreValid(configuration);
  return valid ? common::kKernelSuccess : common::kKernelInitParameterInvalid;
}

}  // namespace vantor::kernel
