// The kernel's process-wide records that the server thread and the real-time
// cycle share: the state words, the node table and the mutexes that guard
// them.
//
// The mutexes come into being with the CNC initialisation and go with the CNC
// exit; before that no handler that needs them gets past its
// `cncInitialised` test.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <utility>

#include "common/status_code.h"
#include "kernel/core/canopen/event_completion_signal.h"
#include "kernel/core/canopen/node_object.h"
#include "kernel/core/canopen/stop_on_input_plan.h"
#include "kernel/core/cnc_configuration.h"
#include "kernel/core/configuration_check.h"
#include "kernel/core/external_axes.h"
#include "kernel/core/kernel_state.h"
#include "kernel/core/motion_runtime.h"
#include "kernel/core/node_status.h"
#include "kernel/core/path_planning_inputs.h"
#include "kernel/core/velocity_output.h"
#include "platform/os/named_objects.h"

namespace vantor::kernel {

// One configured CAN node: the CANopen layer's record of it (request slot,
// addressing, axes, status rows and last result, each kept once) and the
// kernel's handles that guard it.
// What the complete status shows of a node's gantry slave drive beyond its
// layer record (id, addressing and last result live there).
struct SlaveAxisState {
  // OK words: 1 while the limit switch is free.
  std::uint32_t negativeLimitOkCurrent = 1;
  std::uint32_t positiveLimitOkCurrent = 1;
  std::uint32_t negativeLimitOkLatched = 1;
  std::uint32_t positiveLimitOkLatched = 1;
  std::int16_t driveErrorCurrent = 0;
  std::int16_t driveErrorLatched = 0;
  // Failed reads of the limit inputs in a row.
  std::uint32_t failedInputReads = 0;
};

// What the cycle keeps of a handling node's motion.
struct HandlingMotion {
  std::uint32_t inMotion = 0;
  // The drive has finished its move and stands.
  std::uint32_t standing = 1;
  double measuredVelocity = 0.0;
  double commandedVelocity = 0.0;
  // Where the last position move goes, units.
  double targetPosition = 0.0;
};

struct NodeObject {
  // What the CNC initialisation derived for the node.
  NodeSettings settings;
  // Present while the node is configured.
  std::optional<canopen::NodeObject> can;
  // The request slot's completion event, which the layer record points at.
  std::unique_ptr<canopen::EventCompletionSignal> completion;
  SlaveAxisState slave;
  HandlingMotion motion;
  // The node's own workpiece zero point, units: what its position is shown
  // relative to.
  double zeroPoint = 0.0;
  // Keeps two services off the node's request slot. Taking and giving back
  // a lock leaves the node as it was, so the locks work on const nodes too.
  mutable os::Mutex requestMutex;
  // Taken by the handlers and by the cycle's drive stop and resumption.
  mutable os::Mutex accessMutex;
};

struct NodeConfiguration {
  // Every axis driven by the record of its own index.
  static constexpr std::array<std::uint8_t, canopen::kMaxNodes> OwnRecords() noexcept {
    std::array<std::uint8_t, canopen::kMaxNodes> order{};
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<std::uint8_t>(i);
    return order;
  }

  // The layer's table: node count, largest axis count and the pointers to
  // the layer records inside `records`.
  canopen::NodeTable table;
  std::uint32_t interpolatedNodeCount = 0;
  // The nodes themselves are fixed records, never heap objects.
  std::array<NodeObject, canopen::kMaxNodes> records{};
  os::Mutex mutex;
  // Named: the homing and the library wait on them.
  os::Event homingActiveEvent;
  os::Event homingBreakEvent;
  // Two unnamed manual-reset events, signalled while nothing waits on them.
  os::Event motionDoneEvent;
  os::Event stopDoneEvent;
  // Cleared when a drive enters a fault reaction, when it leaves a limit
  // switch and by the reset before it starts.
  std::array<std::uint32_t, 3> enableWords{};
  // Set while the cycle's drive stop, halt or resumption owns the nodes: an
  // application's raw frame to a node waits meanwhile.
  std::uint32_t stoppingWord = 0;
  // The complete status's refresh marks: what it has read from the drives
  // since the last reset.
  std::uint32_t driveErrorsRead = 0;
  std::uint32_t slaveDriveErrorsRead = 0;
  std::uint32_t slaveInputsRead = 0;
  // When the slaves were last refreshed (millisecond tick); none before
  // the first refresh.
  std::optional<std::uint32_t> lastSlaveRefreshMs;

  // Which of `records` drives axis i. Each node is placed at its own axis;
  // only an exchange of two interpolated axes lets them part, and then the
  // table's pointers follow the same order.
  std::array<std::uint8_t, canopen::kMaxNodes> recordOfAxis = OwnRecords();

  // The counted nodes; a count beyond the table is cut to it.
  std::uint32_t BoundedNodeCount() const noexcept { return table.Count(); }

  // The record that drives axis `index`; an index beyond the table is its
  // own.
  std::uint32_t RecordOfAxis(std::uint32_t index) const noexcept {
    return index < recordOfAxis.size() ? recordOfAxis[index] : index;
  }

  // The counted node of axis `index` that holds a layer record, or null.
  NodeObject* Node(std::uint32_t index) noexcept {
    if (index >= BoundedNodeCount()) return nullptr;
    NodeObject& node = records[recordOfAxis[index]];
    return node.can ? &node : nullptr;
  }
  const NodeObject* Node(std::uint32_t index) const noexcept {
    if (index >= BoundedNodeCount()) return nullptr;
    const NodeObject& node = records[recordOfAxis[index]];
    return node.can ? &node : nullptr;
  }

  // Builds the layer record of node `index` at its own axis and points the
  // table at it; the caller sets the count. Null for an index beyond the
  // table.
  canopen::NodeObject* Place(std::uint32_t index, const canopen::NodeSetup& setup) noexcept {
    if (index >= records.size()) return nullptr;
    canopen::NodeObject& node = records[index].can.emplace(setup);
    recordOfAxis[index] = static_cast<std::uint8_t>(index);
    table.nodes[index] = &node;
    return &node;
  }

  // Axis `a` takes the node that drove axis `b` and the other way round;
  // indexes beyond the table change nothing.
  void ExchangeNodesOfAxes(std::uint32_t a, std::uint32_t b) noexcept {
    if (a >= records.size() || b >= records.size()) return;
    std::swap(recordOfAxis[a], recordOfAxis[b]);
    std::swap(table.nodes[a], table.nodes[b]);
  }
};

struct CoordinateRecord {
  CoordinateSettings settings;
  // The workpiece zero point, units: positions are shown and taken
  // relative to it.
  double zeroOffset = 0.0;
  // OK words: 1 while the software limit is not passed.
  std::uint32_t negativeLimitOkLatched = 1;
  std::uint32_t positiveLimitOkLatched = 1;
  std::uint32_t negativeLimitOkCurrent = 1;
  std::uint32_t positiveLimitOkCurrent = 1;
};

struct GlobalSlot {
  GlobalSlotSettings settings;
  canopen::GlobalRequest request;
  std::unique_ptr<canopen::EventCompletionSignal> completion;
  // OK words of the synchronised frames: latched and current, SYNC and
  // time stamp.
  std::array<std::uint32_t, 4> messageOk{1, 1, 1, 1};
};

// Handlers waiting for locks of the kernel's set. The cycle, which goes on
// to its next exchange as soon as it has released its locks, first leaves
// them to these waiters (kernel_locks.h).
struct LockWaiters {
  std::atomic<std::uint32_t> count{0};
  // Set while the cycle sleeps until `count` falls to 0.
  std::atomic<std::uint32_t> cycleWaiting{0};
};

struct KernelData {
  // The motion record's mutex; with the node configuration's mutex it forms
  // the kernel data lock.
  os::Mutex motionMutex;
  KernelStateFlags state;
  MotionSettings motion;
  // The path, the measured motion and the drive stop's halt states.
  MotionRuntime motionRuntime;
  PathPlanningInputs planning;
  std::int32_t coordinateCount = 0;
  std::array<CoordinateRecord, motion::kMaxCoordinates> coordinates{};
  // The rotated plane of the programmed coordinates; off until set.
  motion::PlaneRotation planeRotation;
  NodeConfiguration nodeConfiguration;
  std::int32_t handlingAxisCount = 0;
  std::array<HandlingAxisSettings, kMaxHandlingAxisRecords> handlingAxes{};
  // One entry per handling axis, for the module identification and the
  // status; only the first `handlingAxisCount` are in use.
  ExternalAxisTable externalAxes{};
  HandwheelSettings handwheel;
  // The stop-on-input parameters code 87 stored (mode 0: none stored).
  canopen::StopOnInputParameters stopOnInputParameters;
  // The global request slot's mutex and, further on in that record, the
  // reset mutex.
  os::Mutex globalRequestMutex;
  os::Mutex resetMutex;
  GlobalSlot globalSlot;
  // Guards the CAN object list (the kernel's `canObjects`).
  os::Mutex canObjectListMutex;
  // The configuration as the CNC initialisation derived it; the reset
  // starts from it.
  CncConfiguration savedConfiguration;
  // What the reset writes to the drives: set by the CNC initialisation.
  canopen::DriveWorkingValues driveWorkingValues;
  LockWaiters lockWaiters;
  // The velocity-proportional output; zero while it is off.
  VelocityOutput velocityOutput;
  // The cycle's counters beside it; zero when the output starts.
  VelocityOutputBookkeeping velocityOutputBookkeeping;

  std::span<canopen::ExternalAxis> ConfiguredExternalAxes() noexcept {
    const std::int32_t count = std::clamp(handlingAxisCount, 0, kMaxHandlingAxisRecords);
    return std::span(externalAxes).first(static_cast<std::size_t>(count));
  }
};

}  // namespace vantor::kernel
