// The kernel's records of its CAN nodes: the node object with its request
// slot, the axes a node carries, the node table and the global request slot.
//
// Command handlers never touch the bus: they fill a slot's request record,
// install a step function and wait on the slot's completion signal; the
// real-time cycle calls the installed step once per cycle until the step
// finishes the request. The records are created by the CNC initialisation
// and live until the CNC exit.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "common/exchange_buffer.h"
#include "common/status_code.h"
#include "kernel/core/canopen/cob_id.h"
#include "kernel/core/canopen/homing_cycle_state.h"
#include "kernel/core/canopen/request_record.h"
#include "kernel/core/node_status.h"

namespace vantor::canopen {

inline constexpr std::size_t kMaxNodes = 8;
inline constexpr std::size_t kMaxNodeAxes = 8;

// The completion event of a slot: manual reset, set by the cycle when the
// request ends, reset by the thread that arms the slot. The kernel backs it
// with an operating-system event; waiting is the service host's business.
class CompletionSignal {
 public:
  virtual void Set() noexcept = 0;
  virtual void Reset() noexcept = 0;

 protected:
  ~CompletionSignal() = default;
};

struct CycleContext;

// Called by the cycle with the slot's 1-based node number.
using NodeStepFunction = void (*)(CycleContext& cycle, std::uint32_t nodeNumber);

struct NodeRequest {
  NodeStepFunction stepFunction = nullptr;  // null: the slot is idle
  CompletionSignal* completionEvent = nullptr;
  std::int32_t step = 0;       // 1 = start; 0 after completion
  std::int32_t countdown = 0;  // cycles left for the current answer
  common::StatusCode requestResult = common::kKernelSuccess;
  std::int32_t retryCount = 0;  // sends of the current SDO exchange beyond the first
  RequestRecord* requestRecord = nullptr;
  // What the services report for the node; copied from the request result.
  common::StatusCode lastResult = common::kKernelSuccess;
};

// A drive's gear ratio (object 0x6093 sub 1 and sub 2) as the kernel keeps
// it; `changed` while the drive holds another ratio than this one.
struct GearRatio {
  std::uint32_t numerator = 1;
  std::uint32_t denominator = 1;
  std::uint32_t changed = 0;
};

// The homing values of a drive (node or axis) as the first reset read them,
// in drive units.
struct HomingParameters {
  std::uint8_t method = 0;         // 0x6098
  double homeOffset = 0.0;         // 0x607C, signed
  double switchSearchSpeed = 0.0;  // 0x6099 sub 1
  double zeroSearchSpeed = 0.0;    // 0x6099 sub 2
  double acceleration = 0.0;       // 0x609A
};

// A module description: the drive's type, board and firmware version, at
// most 25 characters and a terminator.
inline constexpr std::size_t kModuleDescriptionLength = 26;
using ModuleDescription = std::array<char, kModuleDescriptionLength>;

// A drive's motion parameters as read at start-up, in drive units. The gear
// ratio lives in `GearRatio` beside it.
struct DriveParameters {
  double maxProfileVelocity = 0.0;  // 0x607F
  double maxAcceleration = 0.0;     // 0x60C5
  double maxVelocity = 0.0;         // 0x2040
  double profileAcceleration = 0.0;
  double targetVelocity = 0.0;  // signed
  double profileVelocity = 0.0;
  double endVelocity = 0.0;
  std::uint8_t positionOption = 0;          // 0x60FB sub 6, or sub 4
  std::uint8_t positionOptionSubindex = 6;  // 4 on a drive without sub 6
  double positionOptionParameter = 0.0;     // 0x60FB sub 5
  // What the reset writes back, the homing runs with and the move-out
  // moves with; kept here alone so that a gear change scales it too.
  HomingParameters homing{};
  double homeSwitchDistance = 0.0;  // 0 when the drive lacks the object
  std::uint8_t polarity = 0;
  std::uint32_t directionFlag = 0;    // 0x2041 == 0
  std::uint32_t velocityScaling = 0;  // 0x608A == 0
};

// A further drive reached through its node's slot by switching the slot's
// SDO identifiers to the axis's pair.
struct NodeAxis {
  std::uint32_t nodeId = 0;
  std::uint16_t sdoRequestCobId = 0;
  std::uint16_t sdoResponseCobId = 0;
  std::uint32_t guarded = 0;
  common::StatusCode axisResult = common::kKernelSuccess;
  RequestRecord requestRecord{};
  // The axis's own values for 0x6081 and 0x6083.
  double profileVelocity = 0.0;
  double profileAcceleration = 0.0;
  GearRatio gear{};
  // The axis drive has the axis chain object (found by the chain probe).
  std::uint32_t axisChainFound = 0;
  // 1: the drive reports the gantry homing phases (from 0x2043 sub 14).
  std::uint32_t gantryWait = 1;
  // Increments of a home shift not yet given to the drive; and whether
  // the last gantry homing brought this drive to its home.
  std::int32_t homeShiftRemainder = 0;
  std::uint32_t homedByGantry = 0;
  DriveParameters drive{};
  ModuleDescription description{};
};

// What the CNC initialisation knows of a node when it creates the object.
struct NodeSetup {
  std::uint8_t nodeId = 1;
  std::uint32_t sendRecord = 1;    // message record 1..15 for the requests
  std::uint32_t answerRecord = 2;  // message record 1..15 for the answers
  double bootTimeMicroseconds = 0.0;
  double answerTimeoutMicroseconds = 0.0;
  std::uint32_t cycleMicroseconds = 1000;
  std::uint16_t controlRpdo = 1;
  std::uint16_t motionRpdo = 2;
  std::uint32_t handlingAxis = 0;
  std::int32_t handlingMode = 0;
  std::uint32_t axisCount = 0;
  std::array<std::uint32_t, kMaxNodeAxes> axisNodeIds{};
  // The configuration names this node the source of the shared time stamp.
  std::uint32_t timeStampSource = 0;
  CompletionSignal* completionEvent = nullptr;
  std::int32_t startUpMode = 0;
};

// Bit of the node's input capabilities: input 4 of the drive can be read.
inline constexpr std::uint32_t kInputCapabilityInput4 = 1u << 4;

struct NodeObject {
  explicit NodeObject(const NodeSetup& setup) noexcept;
  NodeObject(const NodeObject&) = delete;
  NodeObject& operator=(const NodeObject&) = delete;

  std::uint32_t handlingAxis = 0;
  std::int32_t handlingMode = 0;
  std::uint32_t handlingLimitWord = 0;
  double softwareLimit1 = 0.0;
  double softwareLimit2 = 0.0;
  std::uint32_t axisCount = 0;
  std::array<NodeAxis, kMaxNodeAxes> axes{};
  std::uint32_t scalingOn = 0;
  double scalingDivisor = 1.0;
  double profileVelocity = 0.0;
  double profileAcceleration = 0.0;
  double position = 0.0;
  std::uint8_t nodeId = 0;
  std::uint32_t sendRecord = 0;
  std::uint32_t answerRecord = 0;
  std::int32_t bootTimeMs = 0;
  std::int32_t countdownReload = 1;
  std::uint16_t controlRpdo = 0;
  std::uint16_t motionRpdo = 0;
  // The identifiers the process-data layout last gave the controlword and
  // set-point receive PDOs and the feedback transmit PDO.
  std::uint16_t controlRpdoCobId = 0;
  std::uint16_t setpointRpdoCobId = 0;
  std::uint16_t feedbackTpdoCobId = 0;
  std::uint32_t timeStampSource = 0;
  // The node's records take part in the cyclic exchange.
  std::uint32_t cyclicExchange = 0;
  std::uint16_t sdoRequestCobId = 0;
  std::uint16_t sdoResponseCobId = 0;
  std::uint32_t stopFlag = 0;
  std::uint32_t adActive = 0;
  std::uint32_t workingAreaSet = 0;
  std::uint32_t regulatorActive = 0;
  std::uint32_t has2047 = 0;
  std::uint32_t guarded = 0;
  kernel::NodeStatusRow latched{};
  kernel::NodeStatusRow current{};
  NodeRequest request{};
  RequestRecord requestRecord{};
  GearRatio gear{};
  // The drive has the axis chain object (found by the chain probe); only
  // such drives are written the chain's state.
  std::uint32_t axisChainFound = 0;
  // The configuration's start-up mode of the node.
  std::int32_t startUpMode = 0;
  // What the first reset learns of the drives' maker objects: node and
  // axes have the A/D conversion (0x2055 sub 1), the home shift (0x2056
  // sub 1); the pair homes with the gantry PDO (0x6510 sub 20 = 1); the
  // node's drive reports the gantry homing phases (0x2043 sub 14).
  std::uint32_t adSupported = 0;
  std::uint32_t homeShiftCapable = 0;
  std::uint32_t gantryPdoHoming = 0;
  std::uint32_t gantryWait = 1;
  // Increments of a home shift not yet given to the drive (below one
  // drive increment per position unit's fraction); zeroed by homing.
  std::int32_t homeShiftRemainder = 0;
  // The kernel's test mode when the node was last homed.
  std::uint32_t homedInTestMode = 0;
  // Bits of kInputCapability*; from 0x6510 sub 18.
  std::uint32_t inputCapabilities = 0;
  DriveParameters drive{};
  ModuleDescription description{};
  // What the drive held after the first reset; the gear ratio restore goes
  // back to it.
  struct Reference {
    DriveParameters drive{};
    GearRatio gear{};
    ModuleDescription description{};
  } reference{};
  // Where the slot's drive-parameter read leaves the values it read, for
  // the node or for the axis the slot points at.
  DriveParameters uploadedDrive{};
  GearRatio uploadedGear{};
  ModuleDescription uploadedDescription{};

  // Drive increments per kernel unit.
  double PositionScale() const noexcept { return scalingOn != 0 ? scalingDivisor : 1.0; }
  bool IsHomedOrAxisFree() const noexcept {
    return axisCount == 0 ||
           (latched.Has(kernel::StatusFlag::D) && current.Has(kernel::StatusFlag::D));
  }
  void SetFlagInBothRows(kernel::StatusFlag flag, bool good) noexcept {
    latched.Set(flag, good);
    current.Set(flag, good);
  }
};

// Cycles a request may wait for its answer: the answer time-out over the
// cycle time, truncated, plus one.
std::int32_t CountdownReloadFor(double answerTimeoutMicroseconds,
                                std::uint32_t cycleMicroseconds) noexcept;

// Bit k = node k of the table.
using NodeMask = std::uint32_t;

// The shared time stamp: the drive object its source sends, and the
// identifier the process-data layout put it on (0 before).
struct TimeStampLayout {
  std::uint16_t cobId = 0;
  std::uint16_t objectIndex = 0;
  std::uint8_t objectSubindex = 0;
  // The receivers take it on receive PDO 4 instead of 3.
  std::uint32_t alternativePdo = 0;
};

struct NodeTable {
  std::array<NodeObject*, kMaxNodes> nodes{};
  std::uint32_t nodeCount = 0;
  std::uint32_t largestAxisCount = 0;  // the bound of every per-axis loop
  // Every node and axis has the stop-on-input object (0x205C sub 1); found
  // by the first reset.
  std::uint32_t stopOnInputCapable = 0;
  TimeStampLayout timeStamp{};

  std::uint32_t Count() const noexcept {
    return nodeCount < kMaxNodes ? nodeCount : static_cast<std::uint32_t>(kMaxNodes);
  }
  // The node of a 1-based number, or null outside the table.
  NodeObject* ByNumber(std::uint32_t nodeNumber) const noexcept {
    return nodeNumber >= 1 && nodeNumber <= Count() ? nodes[nodeNumber - 1] : nullptr;
  }
  // The node of a 0-based index, or null outside the table.
  NodeObject* ByIndex(std::uint32_t index) const noexcept {
    return index < Count() ? nodes[index] : nullptr;
  }
  NodeObject* ByAnswerRecord(std::uint32_t record) const noexcept;
  NodeMask AllNodes() const noexcept { return (NodeMask{1} << Count()) - 1; }
  // Recomputes the largest axis count after the nodes were placed.
  void UpdateLargestAxisCount() noexcept;
};

// The synchronisation slot of the cycle, armed by the reset and served once
// per cycle before the node slots.
struct GlobalRequest {
  NodeStepFunction stepFunction = nullptr;  // called with number 0
  CompletionSignal* completionEvent = nullptr;
  std::int32_t step = 0;
  std::int32_t countdown = 0;
  common::StatusCode requestResult = common::kKernelSuccess;
  std::uint16_t cobId = 0x80;  // SYNC
  // What the synchronised start polls by remote frame; set at arming.
  std::uint16_t timeStampCobId = 0;
  std::uint32_t record = 0;
  // Armed and reply flags of the two synchronised frames.
  std::array<std::uint32_t, 2> armed{};
  std::array<std::uint32_t, 2> replied{};
};

// What a step function works on in one cycle.
struct CycleContext {
  common::ExchangeBuffer& exchange;
  NodeTable& nodes;
  // The time the driver reports for the cycles since its previous answer,
  // in its own unit (microseconds).
  std::uint32_t elapsedMicroseconds = 0;
  // The global request slot, for its step (called with number 0).
  GlobalRequest* global = nullptr;
  HomingCycleState homing{};
};

// The node a step function was called for, or null for a number outside
// the table or a slot without its record.
NodeObject* SteppedNode(CycleContext& cycle, std::uint32_t nodeNumber) noexcept;

// Ends the node's request: step 0, no step function, completion set. The
// result is stored by the caller first.
void FinishNodeRequest(NodeObject& node) noexcept;

// Stores the result and finishes.
void FinishNodeRequestWith(NodeObject& node, common::StatusCode result) noexcept;

// After framing an exchange: on to `nextStep`, or, when the frame could not
// be built, the request ends as an invalid message.
void FrameOrFinish(NodeObject& node, bool framed, std::int32_t nextStep) noexcept;

// Arms the slot (the caller holds the kernel data lock): completion reset,
// step function installed at `startStep`, stop flag cleared.
void ArmNodeRequest(NodeObject& node, NodeStepFunction step, std::int32_t startStep = 1) noexcept;

// Cycle step: every installed node step function, in table order.
void RunNodeSteps(CycleContext& cycle) noexcept;

// The cycle's way out: every installed node request and the global request
// end with success and have their completion set, so no waiter hangs; the
// waiters then find the cycle stopped.
void CompletePendingRequests(NodeTable& nodes, GlobalRequest* global) noexcept;

}  // namespace vantor::canopen
