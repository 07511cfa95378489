// What the CNC initialisation derives from the application's record: one
// settings struct per kernel record (motion record, coordinates, nodes,
// handling axes, global slot, handwheel). The live records hold these
// structs, and the copy that the reset restores holds exactly them and
// nothing of the run-time state.
//
// Reading is pure: every count, list bound and node id is checked before a
// list entry is read, and the result is either a complete configuration or
// the code that refuses it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "common/status_code.h"
#include "kernel/core/canopen/node_object.h"
#include "kernel/core/canopen/service_host.h"
#include "kernel/core/motion/motion_inputs.h"

namespace vantor::kernel {

// Message records 2i+1 and 2i+2 serve node i and 2 x count + 1 the global
// slot; record 15 cannot send, so a channel takes at most six nodes.
inline constexpr std::int32_t kMaxChannelNodes = 6;
inline constexpr std::int32_t kMaxHandlingAxisRecords = 6;
inline constexpr std::int32_t kMaxCanNodeId = 127;
// The handwheel's model text, without its terminating zero.
inline constexpr std::size_t kMaxHandwheelModelLength = 50;

// How many set-point entries the cycle keeps queued in the driver, and how
// many a drive holds in its own buffer; the teach pair is in force while
// `teachMode` is set. All are entry counts below the ring's 500.
struct SetPointFill {
  std::uint16_t fillLevel = 0;              // LookAheadDesPosiMaxNo
  std::uint16_t teachFillLevel = 0;         // TeachInLookAheadDesPosiMaxNo
  std::uint16_t driveBufferDepth = 0;       // AmplifyMaxNoBufferedDesCoor
  std::uint16_t teachDriveBufferDepth = 0;  // TeachInAmplifyMaxNoBufferedDesCoor

  std::uint16_t FillLevelInForce(bool teach) const noexcept {
    return teach ? teachFillLevel : fillLevel;
  }
  std::uint16_t DriveBufferDepthInForce(bool teach) const noexcept {
    return teach ? teachDriveBufferDepth : driveBufferDepth;
  }
};

// The motion record's settings that the motion core reads.
struct MotionSettings {
  motion::PathParameters path;
  std::int32_t segmentCapacity = 0;       // MaxNoBufferedPathVec
  std::int32_t cartesianCoordinates = 0;  // CartesianCoor
  // As configured; code 70 and the velocity-proportional output change the
  // working copy.
  SetPointFill fill;
  double linearTeachInVelocity = 0.0;  // LinearTeachInVel, units/s
  double rotaryTeachInVelocity = 0.0;  // RotationTeachInVel
  double linearRapidVelocity = 0.0;    // LinearFastVel, units/s
  double rotaryRapidVelocity = 0.0;    // RotationFastVel
  double linearProcessVelocity = 0.0;  // LinearProcessVel, units/s
  double rotaryProcessVelocity = 0.0;  // RotationProcessVel
  // The path velocity factor in percent as code 107 gave it; 0 while the
  // configured factor is in force.
  std::int32_t pathVelocityPercent = 0;
  double maxOverride = 0.0;     // MaxOverride
  double noMoveVelocity = 0.0;  // NoMoveVel, units/s
  // MoveEndMaxWaitTime x 0.001: the reload of the end-wait countdown, which
  // counts down in milliseconds.
  double moveEndMaxWaitTime = 0.0;
};

struct CoordinateSettings {
  std::int32_t linear = 0;         // LinearCoor
  std::int32_t onPath = 0;         // PathCoor
  std::int32_t limitsEnabled = 0;  // SweEnable
  double positiveLimit = 0.0;      // PosSwe, units
  double negativeLimit = 0.0;      // NegSwe, units
  double averagingTimeSeconds = 0.0;
};

// The four template bytes and words that the record carries for every
// node's requests; the received-data condition of the node's answers reads
// them.
struct NodeRequestTemplate {
  std::array<std::uint16_t, 3> words{};
  std::array<std::uint8_t, 4> bytes{};
};

struct NodeSettings {
  // What the CANopen layer builds its node object from (no handles here).
  canopen::NodeSetup setup;
  std::int32_t startUpMode = 0;
  std::uint32_t singleAxis = 0;  // 0 for an interpolated axis
  std::uint32_t enabled = 1;
  double followErrorSafetyFactor = 0.0;
  double safetyDistance = 0.0;
  double averagingTimeSeconds = 0.0;
  std::int32_t resetDelayMilliseconds = 0;
  std::uint16_t guardingCobId = 0;
  std::uint32_t isSyncNode = 0;
  NodeRequestTemplate requestTemplate;
  std::uint32_t slaveAxisCount = 0;  // 0 or 1: a gantry slave drive
  std::uint32_t slaveNodeId = 0;
};

struct HandlingAxisSettings {
  std::uint8_t nodeId = 0;
  std::uint32_t deviceTypeFlag = 0;
  std::int32_t countdownReload = 0;  // the answer time-out in cycles
  std::uint32_t answerTimeoutMicroseconds = 0;
  std::uint16_t sdoRequestCobId = 0;
  std::uint16_t sdoResponseCobId = 0;
};

struct GlobalSlotSettings {
  std::uint16_t cobId = 0x80;  // SYNC
  std::uint16_t templateWord = 0;
  std::uint8_t templateByte = 0;
  std::uint32_t record = 0;
};

struct HandwheelSettings {
  std::uint32_t linked = 0;
  std::uint8_t nodeId = 0;
  std::int32_t inhibitTime = 0;
  std::int32_t guardTime = 0;
  std::array<char, kMaxHandwheelModelLength + 1> model{};  // zero-terminated
};

struct CncConfiguration {
  // What the reset writes to the drives.
  canopen::DriveWorkingValues drive{};
  MotionSettings motion;
  std::int32_t coordinateCount = 0;
  std::array<CoordinateSettings, motion::kMaxCoordinates> coordinates{};
  std::int32_t interpolatedNodeCount = 0;
  std::int32_t nodeCount = 0;
  std::uint32_t largestSlaveAxisCount = 0;
  std::array<NodeSettings, canopen::kMaxNodes> nodes{};
  std::int32_t handlingAxisCount = 0;
  std::array<HandlingAxisSettings, kMaxHandlingAxisRecords> handlingAxes{};
  GlobalSlotSettings globalSlot;
  HandwheelSettings handwheel;
};

// What the channel adds to the record.
struct ChannelFacts {
  std::uint32_t cycleMicroseconds = 0;  // the real-time cycle
  std::uint8_t bitRateCode = 0;         // from the CAN start record
  std::int32_t lookAheadEntries = 0;    // LookAheadDesPosiMaxNo of the start record
};

struct CncConfigurationResult {
  common::StatusCode result = common::kKernelSuccess;
  CncConfiguration configuration;
};

// Reads the record and its lists from `payload` (the block from the
// record's first byte to the block's end) and checks the result. Refusals:
// kKernelInitParameterInvalid for a count, list, id or rule that the kernel
// cannot run (more than six nodes among them) and for a position option
// other than 0 or 1, the cycle's code when the cycle time is 0.
CncConfigurationResult ReadCncConfiguration(std::span<const std::uint8_t> payload,
                                            const ChannelFacts& channel) noexcept;

// The path-velocity factor's inverse: PathVelFac x 100 truncated above 10000
// gives 0.01, below 1 gives 100.0, else 1 / PathVelFac.
double PathVelocityFactorInverse(double pathVelFac) noexcept;

}  // namespace vantor::kernel
