#include "kernel/core/cnc_configuration.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "common/cnc_init_record.h"
#include "kernel/core/canopen/cob_id.h"
#include "kernel/core/configuration_check.h"
#include "kernel/core/kernel_status.h"

namespace vantor::kernel {

namespace {

namespace ir = common::cnc_init_record;
using FixedPart = common::ConstByteView<common::kCncInitRecordSize>;

template <std::size_t Size>
common::ConstByteView<Size> EntryAt(std::span<const std::uint8_t> payload, std::size_t offset) {
  return common::ConstByteView<Size>(payload.subspan(offset).template first<Size>());
}

bool IsNodeId(std::int32_t id) noexcept { return id >= 1 && id <= kMaxCanNodeId; }

// A double from the record as a 32-bit integer, truncated; values that do
// not fit (or are not numbers) give 0 rather than undefined behaviour.
std::int32_t TruncatedToInt(double value) noexcept {
  const double t = std::trunc(value);
  if (!std::isfinite(t) || std::fabs(t) >= std::numeric_limits<std::int32_t>::max()) return 0;
  return static_cast<std::int32_t>(t);
}

struct Counts {
  std::int32_t coordinates = 0;
  std::int32_t interpolated = 0;
  std::int32_t nodes = 0;
  std::int32_t handlingAxes = 0;
};

// The counts the lists are laid out by, each within what the kernel holds,
// and the lists within the payload.
std::optional<common::CncInitListLayout> CheckCounts(const Counts& counts,
                                                     std::size_t payloadSize) noexcept {
  if (counts.nodes > kMaxChannelNodes || counts.handlingAxes > kMaxHandlingAxisRecords) {
    return std::nullopt;
  }
  if (counts.interpolated < 0 || counts.interpolated > counts.nodes) return std::nullopt;
  const auto layout =
      common::LayoutCncInitLists(counts.coordinates, counts.nodes, counts.handlingAxes);
  if (!layout || layout->totalSize > payloadSize) return std::nullopt;
  return layout;
}

// Every id of the axis and handling-axis lists and of an active handwheel
// lies in 1..127, and a gantry flag is 0 or 1.
bool CheckIds(std::span<const std::uint8_t> payload, const common::CncInitListLayout& layout,
              const Counts& counts, const FixedPart& record) noexcept {
  namespace ae = common::axis_entry;
  for (std::int32_t i = 0; i < counts.nodes; ++i) {
    const auto entry = EntryAt<common::kAxisEntrySize>(payload, layout.AxisOffset(i));
    const std::int32_t gantry = entry.Get(ae::kGantry);
    if (!IsNodeId(entry.Get(ae::kCanNodeNo)) || (gantry != 0 && gantry != 1)) return false;
    if (gantry == 1 && !IsNodeId(entry.Get(ae::kSlaveCanNodeNo))) return false;
  }
  for (std::int32_t i = 0; i < counts.handlingAxes; ++i) {
    const auto entry =
        EntryAt<common::kHandlingAxisEntrySize>(payload, layout.HandlingAxisOffset(i));
    if (!IsNodeId(entry.Get(common::handling_axis_entry::kCanNodeNo))) return false;
  }
  return record.Get(ir::kHandwheelActive) == 0 || IsNodeId(record.Get(ir::kHandwheelCanNodeNo));
}

MotionSettings ReadMotion(const FixedPart& record, double cycleSeconds) noexcept {
  MotionSettings motion;
  motion::PathParameters& path = motion.path;
  path.cycleTime = cycleSeconds;
  const double circle = record.Get(ir::kCircleVelFac);
  path.circleVelFacInverse = circle == 0.0 ? 1.0 : 1.0 / circle;
  path.RadiusRoundingError = record.Get(ir::kRadiusRoundingError);
  path.AngleRoundingError = record.Get(ir::kAngleRoundingError);
  path.RadiusError = record.Get(ir::kRadiusError);
  path.pathVelFacInverse = PathVelocityFactorInverse(record.Get(ir::kPathVelFac));
  const double carry = record.Get(ir::kCarryAxisVelFac);
  path.CarryAxisVelFac = carry > 0.0 ? carry : 1.0;
  path.PathError = record.Get(ir::kPathError);
  path.AngleToRadianFac = record.Get(ir::kAngleToRadianFac);
  motion.segmentCapacity = record.Get(ir::kMaxNoBufferedPathVec);
  motion.linearTeachInVelocity = record.Get(ir::kLinearTeachInVel);
  motion.rotaryTeachInVelocity = record.Get(ir::kRotationTeachInVel);
  motion.linearRapidVelocity = record.Get(ir::kLinearFastVel);
  motion.rotaryRapidVelocity = record.Get(ir::kRotationFastVel);
  motion.linearProcessVelocity = record.Get(ir::kLinearProcessVel);
  motion.rotaryProcessVelocity = record.Get(ir::kRotationProcessVel);
  motion.maxOverride = record.Get(ir::kMaxOverride);
  motion.noMoveVelocity = record.Get(ir::kNoMoveVel);
  motion.moveEndMaxWaitTime = record.Get(ir::kMoveEndMaxWaitTime) * 0.001;
  motion.cartesianCoordinates = record.Get(ir::kCartesianCoor);
  return motion;
}

NodeSettings ReadNode(const FixedPart& record, common::ConstByteView<common::kAxisEntrySize> entry,
                      std::int32_t index, const Counts& counts, const ChannelFacts& channel,
                      double averagingSeconds) noexcept {
  namespace ae = common::axis_entry;
  NodeSettings node;
  const auto id = static_cast<std::uint8_t>(entry.Get(ae::kCanNodeNo));
  canopen::NodeSetup& setup = node.setup;
  setup.nodeId = id;
  setup.sendRecord = 2 * static_cast<std::uint32_t>(index) + 1;
  setup.answerRecord = 2 * static_cast<std::uint32_t>(index) + 2;
  setup.bootTimeMicroseconds = record.Get(ir::kResetNodeDelayTime);
  setup.answerTimeoutMicroseconds = record.Get(ir::kCanMsgMaxWaitTime);
  setup.cycleMicroseconds = channel.cycleMicroseconds;
  setup.controlRpdo = 1;
  setup.motionRpdo = 2;
  setup.handlingAxis = index < counts.interpolated ? 0 : 1;
  if (entry.Get(ae::kGantry) == 1) {
    setup.axisCount = 1;
    setup.axisNodeIds[0] = static_cast<std::uint32_t>(entry.Get(ae::kSlaveCanNodeNo));
  }
  node.startUpMode = record.Get(ir::kStartUpMode);
  setup.startUpMode = node.startUpMode;
  node.singleAxis = setup.handlingAxis;
  node.followErrorSafetyFactor = record.Get(ir::kFollowErrorSafetyFac);
  node.safetyDistance = record.Get(ir::kSafetyDistance);
  node.averagingTimeSeconds = averagingSeconds;
  node.resetDelayMilliseconds = TruncatedToInt(record.Get(ir::kResetNodeDelayTime) * 0.001);
  node.guardingCobId = canopen::MakeHeartbeatCobId(id);
  node.isSyncNode = record.Get(ir::kSynNodeNo) == static_cast<std::int32_t>(id) ? 1 : 0;
  // The SYNC node also sends the time stamp.
  setup.timeStampSource = node.isSyncNode;
  node.requestTemplate.words = {record.Get(ir::kNodeRequestTemplateWord0),
                                record.Get(ir::kNodeRequestTemplateWord1),
                                record.Get(ir::kNodeRequestTemplateWord2)};
  const auto bytes = record.GetBytes(ir::kNodeRequestTemplateBytes);
  std::copy(bytes.begin(), bytes.end(), node.requestTemplate.bytes.begin());
  node.slaveAxisCount = setup.axisCount;
  node.slaveNodeId = setup.axisNodeIds[0];
  return node;
}

HandwheelSettings ReadHandwheel(const FixedPart& record) noexcept {
  HandwheelSettings handwheel;
  if (record.Get(ir::kHandwheelActive) == 0) return handwheel;
  handwheel.linked = 1;
  handwheel.nodeId = static_cast<std::uint8_t>(record.Get(ir::kHandwheelCanNodeNo));
  handwheel.inhibitTime = record.Get(ir::kHandwheelInhibitTime);
  handwheel.guardTime = record.Get(ir::kHandwheelGuardTime);
  // The text ends at its first zero, and at 50 characters whatever follows.
  const std::string_view model = record.GetText(ir::kHandwheelModell);
  std::copy_n(model.begin(), std::min(model.size(), kMaxHandwheelModelLength),
              handwheel.model.begin());
  return handwheel;
}

ConfigurationToCheck ToCheck(const CncConfiguration& c, std::int32_t pathCoordinates,
                             const FixedPart& record, const ChannelFacts& channel,
                             std::span<const ConfiguredNode> nodes) noexcept {
  ConfigurationToCheck check;
  check.coordinateCount = c.coordinateCount;
  check.pathCoordinateCount = pathCoordinates;
  check.nodeCount = c.nodeCount;
  check.interpolatedNodeCount = c.interpolatedNodeCount;
  check.bitRateCode = channel.bitRateCode;
  check.nodes = nodes;
  check.maxBufferedPathSegments = record.Get(ir::kMaxNoBufferedPathVec);
  check.driveBufferDepth = record.Get(ir::kAmplifyMaxNoBufferedDesCoor);
  check.lookAheadEntries = channel.lookAheadEntries;
  check.teachInDriveBufferDepth = record.Get(ir::kTeachInAmplifyMaxNoBufferedDesCoor);
  check.teachInLookAheadEntries = record.Get(ir::kTeachInLookAheadDesPosiMaxNo);
  return check;
}

}  // namespace

double PathVelocityFactorInverse(double pathVelFac) noexcept {
  const double hundredths = std::trunc(pathVelFac * 100.0);
  if (!(hundredths >= 1.0)) return 100.0;  // below 1, and not a number
  if (hundredths > 10000.0) return 0.01;
  return 1.0 / pathVelFac;
}

CncConfigurationResult ReadCncConfiguration(std::span<const std::uint8_t> payload,
                                            const ChannelFacts& channel) noexcept {
  CncConfigurationResult out;
  // Nothing divides by a cycle that does not run.
  if (channel.cycleMicroseconds == 0) {
    out.result = kCycleNotRunning;
    return out;
  }
  out.result = common::kKernelInitParameterInvalid;
  if (payload.size() < common::kCncInitRecordSize) return out;
  const FixedPart record(payload.first<common::kCncInitRecordSize>());
  const Counts counts{record.Get(ir::kCoorNo), record.Get(ir::kInterAxisNo),
                      record.Get(ir::kAxisNo), record.Get(ir::kHandlingAxisNo)};
  const auto layout = CheckCounts(counts, payload.size());
  if (!layout || !CheckIds(payload, *layout, counts, record)) return out;
  const std::int32_t positionOption = record.Get(ir::kPathSmooth);
  if (positionOption != 0 && positionOption != 1) return out;

  CncConfiguration& c = out.configuration;
  const double cycleSeconds = channel.cycleMicroseconds * 1e-6;
  c.motion = ReadMotion(record, cycleSeconds);
  // The checks below hold each count to the ring's 500 entries.
  c.motion.fill.fillLevel = static_cast<std::uint16_t>(channel.lookAheadEntries);
  c.motion.fill.teachFillLevel =
      static_cast<std::uint16_t>(record.Get(ir::kTeachInLookAheadDesPosiMaxNo));
  c.motion.fill.driveBufferDepth =
      static_cast<std::uint16_t>(record.Get(ir::kAmplifyMaxNoBufferedDesCoor));
  c.motion.fill.teachDriveBufferDepth =
      static_cast<std::uint16_t>(record.Get(ir::kTeachInAmplifyMaxNoBufferedDesCoor));
  const double averagingSeconds = record.Get(ir::kMaxTimeForCalAverageVel) * 1e-6;

  namespace ce = common::coordinate_entry;
  c.coordinateCount = counts.coordinates;
  std::int32_t pathCoordinates = 0;
  for (std::int32_t i = 0; i < counts.coordinates; ++i) {
    const auto entry = EntryAt<common::kCoordinateEntrySize>(payload, layout->CoordinateOffset(i));
    CoordinateSettings& coordinate = c.coordinates[static_cast<std::size_t>(i)];
    coordinate.linear = entry.Get(ce::kLinearCoor);
    coordinate.onPath = entry.Get(ce::kPathCoor);
    coordinate.limitsEnabled = entry.Get(ce::kSweEnable);
    coordinate.positiveLimit = entry.Get(ce::kPosSwe);
    coordinate.negativeLimit = entry.Get(ce::kNegSwe);
    coordinate.averagingTimeSeconds = averagingSeconds;
    if (coordinate.onPath != 0) ++pathCoordinates;
  }

  c.interpolatedNodeCount = counts.interpolated;
  c.nodeCount = counts.nodes;
  std::array<ConfiguredNode, canopen::kMaxNodes> checked{};
  for (std::int32_t i = 0; i < counts.nodes; ++i) {
    const auto entry = EntryAt<common::kAxisEntrySize>(payload, layout->AxisOffset(i));
    NodeSettings& node = c.nodes[static_cast<std::size_t>(i)];
    node = ReadNode(record, entry, i, counts, channel, averagingSeconds);
    c.largestSlaveAxisCount = std::max(c.largestSlaveAxisCount, node.slaveAxisCount);
    checked[static_cast<std::size_t>(i)] = {
        .nodeId = node.setup.nodeId,
        .isSyncNode = node.isSyncNode != 0,
        .bootWaitMilliseconds = node.resetDelayMilliseconds,
        .slaveAxisCount = static_cast<std::int32_t>(node.slaveAxisCount),
        .firstSlaveNodeId = static_cast<std::int32_t>(node.slaveNodeId)};
  }

  c.handlingAxisCount = counts.handlingAxes;
  for (std::int32_t i = 0; i < counts.handlingAxes; ++i) {
    namespace he = common::handling_axis_entry;
    const auto entry =
        EntryAt<common::kHandlingAxisEntrySize>(payload, layout->HandlingAxisOffset(i));
    HandlingAxisSettings& axis = c.handlingAxes[static_cast<std::size_t>(i)];
    axis.nodeId = static_cast<std::uint8_t>(entry.Get(he::kCanNodeNo));
    axis.deviceTypeFlag = entry.Get(he::kDeviceTypeFlag) == 1 ? 1 : 0;
    axis.countdownReload =
        canopen::CountdownReloadFor(record.Get(ir::kCanMsgMaxWaitTime), channel.cycleMicroseconds);
    axis.answerTimeoutMicroseconds = static_cast<std::uint32_t>(
        static_cast<double>(axis.countdownReload) * channel.cycleMicroseconds);
    axis.sdoRequestCobId = canopen::MakeSdoRequestCobId(axis.nodeId);
    axis.sdoResponseCobId = canopen::MakeSdoResponseCobId(axis.nodeId);
  }

  c.globalSlot.templateWord = record.Get(ir::kGlobalRequestTemplateWord);
  c.globalSlot.templateByte = record.Get(ir::kGlobalRequestTemplateByte);
  c.globalSlot.record = 2 * static_cast<std::uint32_t>(counts.nodes) + 1;
  c.handwheel = ReadHandwheel(record);
  c.drive.positionOption = positionOption == 1;
  // Checked below to lie between 6 and 31.
  c.drive.pathBufferDepth = static_cast<std::uint32_t>(
      std::max<std::int32_t>(0, record.Get(ir::kAmplifyMaxNoBufferedDesCoor)));
  c.drive.teachInBufferDepth = static_cast<std::uint32_t>(
      std::max<std::int32_t>(0, record.Get(ir::kTeachInAmplifyMaxNoBufferedDesCoor)));

  out.result = ValidateConfiguration(ToCheck(
      c, pathCoordinates, record, channel,
      std::span<const ConfiguredNode>(checked.data(), static_cast<std::size_t>(counts.nodes))));
  return out;
}

}  // namespace vantor::kernel
