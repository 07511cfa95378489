#include "kernel/core/canopen/gantry_homing_runs.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <span>

#include "kernel/core/canopen/axis_services.h"
#include "kernel/core/canopen/canopen_constants.h"
#include "kernel/core/canopen/homing_steps.h"
#include "kernel/core/canopen/kept_drive_results.h"
#include "kernel/core/canopen/pdo_motion.h"

namespace vantor::canopen {

using common::StatusCode;

namespace {

namespace pdo = pdo_mapping_request;

constexpr std::uint16_t kHomeOffset = 0x607C;
constexpr std::uint16_t kHomingSpeeds = 0x6099;
constexpr std::uint8_t kSwitchSpeedSubindex = 1;
constexpr std::uint8_t kZeroSpeedSubindex = 2;
constexpr std::uint16_t kHomingAcceleration = 0x609A;
// The two bytes behind the controlword in the gantry control PDO.
constexpr std::uint8_t kGantryByteA = 15;
constexpr std::uint8_t kGantryByteB = 16;
// Statusword bits of the gantry phases: both on the switch, both past it.
constexpr std::uint16_t kOnSwitchPhase = 0x0800;
constexpr std::uint16_t kPastSwitchPhase = 0x8000;
constexpr std::uint8_t kControlPdoTransmissionType = 0;

struct SearchMethod {
  std::uint8_t configured;
  std::uint8_t search;
};
constexpr std::array<SearchMethod, 4> kSearchMethods{{{1, 17}, {2, 18}, {3, 19}, {6, 21}}};

bool Failed(StatusCode result) noexcept { return result != common::kKernelSuccess; }

// A value for a 32-bit drive object, truncated toward zero and held to the
// signed range.
std::uint32_t Truncated(double value) noexcept {
  if (!std::isfinite(value)) return 0;
  constexpr double kLowest = std::numeric_limits<std::int32_t>::min();
  constexpr double kHighest = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::uint32_t>(
      static_cast<std::int32_t>(std::fmin(std::fmax(std::trunc(value), kLowest), kHighest)));
}

// One gantry pair's services: the node (the master drive) and its one
// axis (the slave drive).
class GantryPair {
 public:
  GantryPair(ServiceContext& context, std::uint32_t nodeNumber, const HomingRun& run) noexcept
      : context_(context),
        index_(nodeNumber - 1),
        node_(*context.nodes.nodes[nodeNumber - 1]),
        run_(run) {}

  const HomingParameters& Homing(std::int32_t drive) const noexcept {
    return drive < 0 ? node_.drive.homing : node_.axes[0].drive.homing;
  }
  bool HasSlave() const noexcept { return node_.axisCount > 0; }
  NodeObject& node() noexcept { return node_; }

  // ---- Writes ----------------------------------------------------------------------------
  StatusCode Both(std::uint16_t index, std::uint8_t subindex, std::uint8_t size,
                  std::uint32_t value) noexcept {
    return SdoDownloadToNodeAxes(context_, true, index_, index, subindex, size, value);
  }
  StatusCode NodeOnly(std::uint16_t index, std::uint8_t subindex, std::uint8_t size,
                      std::uint32_t value) noexcept {
    return SdoDownloadToNode(context_, index_, index, subindex, size, value);
  }
  StatusCode SlaveOnly(std::uint16_t index, std::uint8_t subindex, std::uint8_t size,
                       std::uint32_t value) noexcept {
    return SdoDownloadToNodeAxes(context_, false, index_, index, subindex, size, value);
  }
  // Each drive its own value.
  template <typename ValueOf>
  StatusCode Each(std::uint16_t index, std::uint8_t subindex, std::uint8_t size,
                  ValueOf&& valueOf) noexcept {
    std::array<SdoRecord, 2> records{MakeSdoRecord(index, subindex, size, valueOf(-1)),
                                     MakeSdoRecord(index, subindex, size, valueOf(0))};
    return SdoDownloadToNodeAxesEach(
        context_, true, false, index_,
        std::span<const SdoRecord>(records.data(), HasSlave() ? 2 : 1));
  }

  StatusCode Uncouple() noexcept {
    return Both(object::kAxisChain, axis_chain::kState, 1, axis_chain::kUncoupled);
  }
  StatusCode Couple() noexcept {
    const StatusCode leader =
        NodeOnly(object::kAxisChain, axis_chain::kState, 1, axis_chain::kLeader);
    if (Failed(leader)) return leader;
    return SlaveOnly(object::kAxisChain, axis_chain::kState, 1, axis_chain::kFollower);
  }
  StatusCode SetHomingMode() noexcept {
    const StatusCode mode = Both(object::kModesOfOperation, 0, 1, ds402::kHomingMode);
    if (Failed(mode)) return mode;
    return Both(object::kHomingMethod, 0, 1, ds402::kHomeOnCurrentPosition);
  }
  StatusCode RestoreMethods() noexcept {
    return Each(object::kHomingMethod, 0, 1, [&](std::int32_t d) { return Homing(d).method; });
  }
  // The smaller of both drives' values, so that the pair keeps together.
  StatusCode WriteSmallestSpeeds() noexcept {
    struct Speed {
      std::uint16_t index;
      std::uint8_t subindex;
      double HomingParameters::*value;
    };
    constexpr std::array<Speed, 3> kSpeeds{
        {{kHomingSpeeds, kSwitchSpeedSubindex, &HomingParameters::switchSearchSpeed},
         {kHomingSpeeds, kZeroSpeedSubindex, &HomingParameters::zeroSearchSpeed},
         {kHomingAcceleration, 0, &HomingParameters::acceleration}}};
    for (const Speed& speed : kSpeeds) {
      double smallest = Homing(-1).*speed.value;
      if (HasSlave()) smallest = std::min(smallest, Homing(0).*speed.value);
      const StatusCode written = Both(speed.index, speed.subindex, 4, Truncated(smallest));
      if (Failed(written)) return written;
    }
    return common::kKernelSuccess;
  }
  StatusCode RestoreSpeeds() noexcept {
    StatusCode written = Each(kHomingSpeeds, kSwitchSpeedSubindex, 4, [&](std::int32_t d) {
      return Truncated(Homing(d).switchSearchSpeed);
    });
    if (Failed(written)) return written;
    written = Each(kHomingSpeeds, kZeroSpeedSubindex, 4,
                   [&](std::int32_t d) { return Truncated(Homing(d).zeroSearchSpeed); });
    if (Failed(written)) return written;
    return Each(kHomingAcceleration, 0, 4,
                [&](std::int32_t d) { return Truncated(Homing(d).acceleration); });
  }
  StatusCode RestoreOffsets() noexcept {
    return Each(kHomeOffset, 0, 4, [&](std::int32_t d) { return Truncated(Homing(d).homeOffset); });
  }
  // Both drives in their working mode, enabled.
  StatusCode BackToWork() noexcept {
    std::uint32_t interpolated = 0;
    {
      HostLock lock(context_.host);
      interpolated = context_.host.InterpolatedNodeCount();
    }
    const std::uint8_t mode =
        index_ + 1 <= interpolated ? ds402::kInterpolatedPositionMode : ds402::kProfilePositionMode;
    const StatusCode written = Both(object::kModesOfOperation, 0, 1, mode);
    if (Failed(written)) return written;
    return Both(object::kControlword, 0, 2, ds402::kEnableOperation);
  }

  // ---- Controlword frames ----------------------------------------------------------------
  // The control PDO of both drives carries the controlword alone.
  StatusCode MapControlwordOnly() noexcept {
    return MapObjectToRpdo(context_, index_, node_.controlRpdo, kControlPdoTransmissionType, 16,
                           object::kControlword, 0);
  }
  StatusCode ControlwordByPdo(std::uint16_t controlword) noexcept {
    const StatusCode mapped = MapControlwordOnly();
    if (Failed(mapped)) return mapped;
    const std::array<std::uint8_t, 2> bytes{static_cast<std::uint8_t>(controlword),
                                            static_cast<std::uint8_t>(controlword >> 8)};
    return SendRawFrame(context_, index_, MakeRpdoCobId(node_.controlRpdo, node_.nodeId), 2, bytes);
  }
  StatusCode MapControlPdo() noexcept {
    const std::array<std::uint32_t, 3> entries{
        pdo::MappingEntry(object::kControlword, 0, 16),
        pdo::MappingEntry(object::kAxisChain, kGantryByteA, 8),
        pdo::MappingEntry(object::kAxisChain, kGantryByteB, 8)};
    return MapObjectsToRpdo(context_, index_, node_.controlRpdo, kControlPdoTransmissionType,
                            entries);
  }
  StatusCode ControlFrame(std::uint16_t controlword, std::uint8_t a, std::uint8_t b) noexcept {
    const std::array<std::uint8_t, 4> bytes{static_cast<std::uint8_t>(controlword),
                                            static_cast<std::uint8_t>(controlword >> 8), a, b};
    return SendRawFrame(context_, index_, MakeRpdoCobId(node_.controlRpdo, node_.nodeId), 4, bytes);
  }

  // ---- Reads -----------------------------------------------------------------------------
  // The statusword of a drive (-1 the node, 0 its slave); the node's
  // identifiers are back afterwards.
  StatusCode Statusword(std::int32_t drive, std::uint16_t& statusword) noexcept {
    AddressingKeeper keeper(context_);
    {
      HostLock lock(context_.host);
      SwitchToAxis(node_, drive);
    }
    std::uint32_t value = 0;
    const StatusCode read = SdoUploadFromNode(context_, index_, object::kStatusword, 0, 2, value);
    statusword = static_cast<std::uint16_t>(value);
    if (read == kernel::kCycleNotRunning) return read;
    HostLock lock(context_.host);
    return read == common::kKernelSuccess ? read : node_.request.lastResult;
  }
  void SetDriveResult(std::int32_t drive, StatusCode result) noexcept {
    HostLock lock(context_.host);
    if (drive < 0) {
      node_.request.lastResult = result;
    } else {
      node_.axes[static_cast<std::size_t>(drive)].axisResult = result;
    }
  }
  bool CycleRunning() noexcept {
    HostLock lock(context_.host);
    return context_.host.IsCycleRunning();
  }
  std::int32_t DriveCount() const noexcept { return HasSlave() ? 2 : 1; }
  const HomingRun& run() const noexcept { return run_; }

 private:
  ServiceContext& context_;
  std::uint32_t index_;
  NodeObject& node_;
  const HomingRun& run_;
};

// Keeps the first failure and the drives' results as it left them; later
// failures do not replace it, and the clean-up does not hide its cause.
struct FirstFailure {
  FirstFailure(ServiceContext& context, NodeObject& node) noexcept : context(context), node(node) {}
  ~FirstFailure() { causes.PutBackFailures(context, node); }
  FirstFailure(const FirstFailure&) = delete;
  FirstFailure& operator=(const FirstFailure&) = delete;

  bool Keep(StatusCode step) noexcept {
    if (Failed(step) && !Failed(result)) {
      result = step;
      if (step != kernel::kCycleNotRunning) causes.Keep(context, node);
    }
    return !Failed(step);
  }
  bool Ok() const noexcept { return !Failed(result); }

  ServiceContext& context;
  NodeObject& node;
  StatusCode result = common::kKernelSuccess;
  KeptDriveResults causes;
};

// How a wait on both drives judges a statusword: the bit that marks a
// drive done in the present phase.
struct PollOutcome {
  StatusCode result = common::kKernelSuccess;
  bool finished = false;
};

// Polls the drives not yet done until all are, the cycle stops or the
// break is set; `halt` stops the pair on every failure. The node drive's
// own result ends in its last result.
template <typename Halt>
PollOutcome PollUntilDone(GantryPair& pair, std::array<bool, 2>& done, std::uint16_t doneBit,
                          Halt&& halt, StatusCode& nodeDrive) noexcept {
  for (;;) {
    if (!pair.CycleRunning()) return {kernel::kCycleNotRunning, true};
    if (pair.run().BreakSet()) {
      static_cast<void>(halt());
      return {common::kKernelHomingBroken, true};
    }
    bool all = true;
    for (std::int32_t d = 0; d < pair.DriveCount(); ++d) {
      if (done[d]) continue;
      std::uint16_t statusword = 0;
      const StatusCode read = pair.Statusword(d - 1, statusword);
      if (read == kernel::kCycleNotRunning) return {read, true};
      if (Failed(read)) {
        pair.SetDriveResult(d - 1, read);
        if (d == 0) nodeDrive = read;
        static_cast<void>(halt());
        return {read, true};
      }
      if ((statusword & ds402::kHomingError) != 0 ||
          (statusword & ds402::kStateMask) != ds402::kOperationEnabled) {
        pair.SetDriveResult(d - 1, common::kKernelHomingInternalError);
        if (d == 0) nodeDrive = common::kKernelHomingInternalError;
        static_cast<void>(halt());
        return {common::kKernelOperationFailed, true};
      }
      done[d] = (statusword & doneBit) != 0;
      all = all && done[d];
    }
    if (all) return {common::kKernelSuccess, false};
  }
}

StatusCode WaitGantryHomingDone(GantryPair& pair) noexcept {
  std::array<bool, 2> done{false, !pair.HasSlave()};
  StatusCode nodeDrive = common::kKernelSuccess;
  const PollOutcome outcome = PollUntilDone(
      pair, done, ds402::kHomingAttained, [&] { return pair.ControlwordByPdo(ds402::kHalt); },
      nodeDrive);
  if (outcome.result == kernel::kCycleNotRunning) return outcome.result;
  if (outcome.finished) {
    pair.SetDriveResult(-1, nodeDrive);
    return outcome.result;
  }
  return pair.ControlwordByPdo(ds402::kEnableOperation);
}

StatusCode WaitGantryHomingDonePdo(GantryPair& pair) noexcept {
  if (pair.Homing(-1).method == ds402::kHomeOnCurrentPosition) return common::kKernelSuccess;
  const auto halt = [&] { return pair.ControlFrame(ds402::kHalt, 1, 1); };
  std::array<bool, 2> done{pair.node().gantryWait == 0,
                           !pair.HasSlave() || pair.node().axes[0].gantryWait == 0};
  if (const StatusCode started = pair.ControlFrame(ds402::kStartHoming, 0, 0); Failed(started)) {
    static_cast<void>(halt());
    return started;
  }
  struct Phase {
    std::uint16_t doneBit;
    std::uint16_t controlword;
    std::uint8_t a;
    std::uint8_t b;
  };
  constexpr std::array<Phase, 3> kPhases{{{kOnSwitchPhase, ds402::kStartHoming, 1, 0},
                                          {kPastSwitchPhase, ds402::kStartHoming, 1, 1},
                                          {ds402::kHomingAttained, ds402::kEnableOperation, 1, 1}}};
  StatusCode nodeDrive = common::kKernelSuccess;
  for (const Phase& phase : kPhases) {
    const PollOutcome outcome = PollUntilDone(pair, done, phase.doneBit, halt, nodeDrive);
    if (outcome.result == kernel::kCycleNotRunning) return outcome.result;
    if (outcome.finished) {
      pair.SetDriveResult(-1, nodeDrive);
      return outcome.result;
    }
    const StatusCode sent = pair.ControlFrame(phase.controlword, phase.a, phase.b);
    if (&phase == &kPhases.back() || Failed(sent)) return sent;
    done = {false, !pair.HasSlave()};
  }
  return common::kKernelSuccess;
}

StatusCode WriteGantryHomingParameters(GantryPair& pair) noexcept {
  StatusCode written = pair.Both(object::kModesOfOperation, 0, 1, ds402::kHomingMode);
  if (Failed(written)) return written;
  written = pair.Each(object::kHomingMethod, 0, 1,
                      [&](std::int32_t d) { return GantrySearchMethod(pair.Homing(d).method); });
  if (Failed(written)) return written;
  written = pair.WriteSmallestSpeeds();
  if (Failed(written)) return written;
  return pair.Both(kHomeOffset, 0, 4, 0);
}

StatusCode WriteGantryHomeOffsets(GantryPair& pair) noexcept {
  const StatusCode method = pair.RestoreMethods();
  if (Failed(method)) return method;
  return pair.RestoreOffsets();
}

}  // namespace

std::uint8_t GantrySearchMethod(std::uint8_t configured) noexcept {
  for (const SearchMethod& entry : kSearchMethods) {
    if (entry.configured == configured) return entry.search;
  }
  return configured;
}

StatusCode CheckGantryDriveStates(ServiceContext& context, std::uint32_t nodeNumber) noexcept {
  if (context.nodes.ByNumber(nodeNumber) == nullptr) return common::kKernelOperationFailed;
  const HomingRun none{};
  GantryPair pair(context, nodeNumber, none);
  StatusCode result = common::kKernelSuccess;
  for (std::int32_t d = 0; d < pair.DriveCount(); ++d) {
    std::uint16_t statusword = 0;
    StatusCode drive = pair.Statusword(d - 1, statusword);
    if (drive == kernel::kCycleNotRunning) return drive;
    if (!Failed(drive)) drive = HomingStartStateResult(statusword);
    pair.SetDriveResult(d - 1, drive);
    if (Failed(drive)) result = common::kKernelOperationFailed;
  }
  return result;
}

StatusCode RunHoming(ServiceContext& context, std::uint32_t nodeNumber,
                     const HomingRun& run) noexcept {
  if (context.nodes.ByNumber(nodeNumber) == nullptr) return common::kKernelOperationFailed;
  const StatusCode states = CheckGantryDriveStates(context, nodeNumber);
  if (Failed(states)) return states;
  GantryPair pair(context, nodeNumber, run);
  FirstFailure failure(context, pair.node());
  using Step = StatusCode (*)(GantryPair&) noexcept;
  // False when the cycle stopped. The runs stop at their first failure;
  // the clean-up and the way back do all they can.
  const auto runSteps = [&](std::span<const Step> steps, bool stopAtFailure) {
    for (Step step : steps) {
      const StatusCode result = step(pair);
      if (result == kernel::kCycleNotRunning) return false;
      if (!failure.Keep(result) && stopAtFailure) return true;
    }
    return true;
  };
  constexpr Step kCoupling[] = {
      [](GantryPair& p) noexcept { return p.Uncouple(); },
      [](GantryPair& p) noexcept { return p.ControlwordByPdo(ds402::kEnableOperation); },
      [](GantryPair& p) noexcept { return p.SetHomingMode(); },
      [](GantryPair& p) noexcept { return p.ControlwordByPdo(ds402::kStartHoming); },
      [](GantryPair& p) noexcept { return p.Couple(); },
  };
  constexpr Step kRuns[] = {
      [](GantryPair& p) noexcept {
        return p.Both(object::kAxisChain, axis_chain::kGantrySearch, 4, 1);
      },
      [](GantryPair& p) noexcept { return p.ControlwordByPdo(ds402::kEnableOperation); },
      // The pair is left in homing mode with lowered speeds when this fails:
      // the clean-up below brings the configured values back.
      [](GantryPair& p) noexcept { return WriteGantryHomingParameters(p); },
      [](GantryPair& p) noexcept { return p.ControlwordByPdo(ds402::kStartHoming); },
      [](GantryPair& p) noexcept { return WaitGantryHomingDone(p); },
      [](GantryPair& p) noexcept {
        return p.Both(object::kAxisChain, axis_chain::kGantrySearch, 4, 0);
      },
      [](GantryPair& p) noexcept { return p.ControlwordByPdo(ds402::kEnableOperation); },
      [](GantryPair& p) noexcept { return WriteGantryHomeOffsets(p); },
      [](GantryPair& p) noexcept { return p.ControlwordByPdo(ds402::kStartHoming); },
      [](GantryPair& p) noexcept { return WaitGantryHomingDone(p); },
      [](GantryPair& p) noexcept { return p.Uncouple(); },
      [](GantryPair& p) noexcept { return p.ControlwordByPdo(ds402::kEnableOperation); },
      [](GantryPair& p) noexcept { return p.SetHomingMode(); },
      [](GantryPair& p) noexcept { return p.ControlwordByPdo(ds402::kStartHoming); },
  };
  // Clean-up: coupled again, every homing value as configured.
  constexpr Step kCleanUp[] = {
      [](GantryPair& p) noexcept { return p.Couple(); },
      [](GantryPair& p) noexcept { return p.RestoreSpeeds(); },
      [](GantryPair& p) noexcept { return p.RestoreOffsets(); },
  };
  constexpr Step kBack[] = {
      [](GantryPair& p) noexcept { return p.RestoreMethods(); },
      [](GantryPair& p) noexcept { return p.BackToWork(); },
  };
  if (!runSteps(kCoupling, true)) return kernel::kCycleNotRunning;
  // In test mode a pair that took its coupling goes straight back to work.
  if (run.testMode == 0 || !failure.Ok()) {
    if (failure.Ok() && !runSteps(kRuns, true)) return kernel::kCycleNotRunning;
    if (!runSteps(kCleanUp, false)) return kernel::kCycleNotRunning;
  }
  if (!runSteps(kBack, false)) return kernel::kCycleNotRunning;
  return failure.result;
}

StatusCode RunHomingWithGantryPdo(ServiceContext& context, std::uint32_t nodeNumber,
                                  const HomingRun& run) noexcept {
  if (context.nodes.ByNumber(nodeNumber) == nullptr) return common::kKernelOperationFailed;
  const StatusCode states = CheckGantryDriveStates(context, nodeNumber);
  if (Failed(states)) return states;
  GantryPair pair(context, nodeNumber, run);
  FirstFailure failure(context, pair.node());
  bool stopped = false;
  const auto keep = [&](StatusCode result) {
    stopped = stopped || result == kernel::kCycleNotRunning;
    return failure.Keep(result);
  };
  const auto body = [&]() -> bool {  // true: go on to the coupling (step 6)
    if (!keep(pair.Uncouple()) || !keep(pair.ControlwordByPdo(ds402::kEnableOperation))) {
      return true;
    }
    if (!keep(pair.SetHomingMode()) || !keep(pair.ControlwordByPdo(ds402::kStartHoming))) {
      keep(pair.RestoreMethods());
      return true;
    }
    if (!keep(pair.Couple())) return true;
    if (!keep(pair.RestoreMethods())) return false;
    if (run.testMode != 0) return false;
    const bool ran =
        keep(pair.MapControlPdo()) && keep(pair.ControlFrame(ds402::kEnableOperation, 0, 0)) &&
        keep(pair.Both(object::kModesOfOperation, 0, 1, ds402::kHomingMode)) &&
        keep(pair.WriteSmallestSpeeds()) && keep(WaitGantryHomingDonePdo(pair)) &&
        keep(pair.Uncouple()) && keep(pair.ControlFrame(ds402::kEnableOperation, 1, 1)) &&
        keep(pair.SetHomingMode()) && keep(pair.ControlFrame(ds402::kStartHoming, 1, 1));
    static_cast<void>(ran);
    if (stopped) return false;
    keep(pair.MapControlwordOnly());
    keep(pair.RestoreSpeeds());
    keep(pair.RestoreMethods());
    return true;
  };
  const bool couple = body();
  if (stopped) return kernel::kCycleNotRunning;
  if (couple) keep(pair.Couple());
  keep(pair.BackToWork());
  if (stopped) return kernel::kCycleNotRunning;
  return failure.result;
}

StatusCode RunGantryHoming(ServiceContext& context, std::uint32_t nodeNumber,
                           const HomingRun& run) noexcept {
  const NodeObject* node = context.nodes.ByNumber(nodeNumber);
  if (node == nullptr) return common::kKernelOperationFailed;
  return node->gantryPdoHoming != 0 ? RunHomingWithGantryPdo(context, nodeNumber, run)
                                    : RunHoming(context, nodeNumber, run);
}

}  // namespace vantor::canopen
