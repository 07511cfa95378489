// The check of a CNC configuration before the kernel accepts it.
//
// The CNC initialisation builds its node objects and motion parameters from
// the application's record and then asks this check whether the result is
// something the cycle can run; a refused configuration is freed again and
// answered with kKernelInitParameterInvalid.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "common/status_code.h"

namespace vantor::kernel {

inline constexpr std::int32_t kMaxCoordinates = 8;
inline constexpr std::int32_t kMaxPathCoordinates = 3;
inline constexpr std::int32_t kMaxNodes = 8;
inline constexpr std::int32_t kMaxInterpolatedNodes = 6;
inline constexpr std::int32_t kMaxNodeBootWaitMilliseconds = 5000;
inline constexpr std::int32_t kMaxSlaveAxesPerNode = 1;
// The driver's set-point ring holds 500 entries and is filled to at most 498.
inline constexpr std::int32_t kMaxLookAheadEntries = 498;
inline constexpr std::int32_t kMinDriveBufferDepth = 16;
inline constexpr std::int32_t kMaxDriveBufferDepth = 31;
inline constexpr std::int32_t kMinTeachInDriveBufferDepth = 6;

// Bit-rate codes a configuration with nodes may run on.
inline constexpr std::array<std::uint8_t, 6> kUsableBitRateCodes = {1, 2, 3, 4, 5, 7};

// One configured node as the check sees it.
struct ConfiguredNode {
  std::int32_t nodeId = 0;
  bool isSyncNode = false;
  std::int32_t bootWaitMilliseconds = 0;
  std::int32_t slaveAxisCount = 0;
  std::int32_t firstSlaveNodeId = 0;
};

struct ConfigurationToCheck {
  std::int32_t coordinateCount = 0;
  std::int32_t pathCoordinateCount = 0;
  std::int32_t nodeCount = 0;
  std::int32_t interpolatedNodeCount = 0;
  std::uint8_t bitRateCode = 0;  // from the kernel's CAN start record
  // Exactly `nodeCount` entries when the counts are valid.
  std::span<const ConfiguredNode> nodes;
  std::int32_t maxBufferedPathSegments = 0;  // MaxNoBufferedPathVec
  std::int32_t driveBufferDepth = 0;         // AmplifyMaxNoBufferedDesCoor
  std::int32_t lookAheadEntries = 0;         // LookAheadDesPosiMaxNo
  std::int32_t teachInDriveBufferDepth = 0;  // TeachInAmplifyMaxNoBufferedDesCoor
  std::int32_t teachInLookAheadEntries = 0;  // TeachInLookAheadDesPosiMaxNo
};

// kKernelSuccess, or kKernelInitParameterInvalid on the first rule broken.
common::StatusCode ValidateConfiguration(const ConfigurationToCheck& configuration) noexcept;

}  // namespace vantor::kernel
