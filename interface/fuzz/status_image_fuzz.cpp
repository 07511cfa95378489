// Feeds arbitrary complete status images and counts, as another process may
// leave them in the communication block, to the status builders. Whatever
// the image, every condition field is 0 or 1 and agrees with its bit, the
// limit-switch masks name only configured axes and coordinates, and the
// summary fields agree with the masks.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/fuzz_input.h"
#include "interface/status_evaluation.h"

namespace {

using namespace vantor;
using common::FuzzRequire;

struct Twin {
  std::uint32_t field;
  std::uint32_t flags;
  int bit;
};

void RequireTwins(std::initializer_list<Twin> twins) {
  for (const auto& twin : twins) {
    FuzzRequire(twin.field <= 1);
    FuzzRequire(((twin.flags >> twin.bit) & 1u) == twin.field);
  }
}

std::uint32_t MaskBelow(std::uint32_t count) {
  return count >= 32 ? 0xFFFFFFFFu : (std::uint32_t{1} << count) - 1;
}

void CheckController(const LinkoraMotionControlStatus& s, interface::StatusCounts counts) {
  namespace bit = interface::controller_bit;
  const std::uint32_t f = s.Flags;
  RequireTwins({{s.InMotion, f, bit::kInMotion},
                {s.InStopMode, f, bit::kInStopMode},
                {s.InTeachMode, f, bit::kInTeachMode},
                {s.InTestMode, f, bit::kInTestMode},
                {s.CurrentOff, f, bit::kCurrentOff},
                {s.InPathMotion, f, bit::kInPathMotion},
                {s.IsMoving, f, bit::kIsMoving},
                {s.PathStart, f, bit::kPathStart},
                {s.NeedReferenceRun, f, bit::kNeedReferenceRun},
                {s.BreakError, f, bit::kBreakError},
                {s.HWLSActive, f, bit::kHwlsActive},
                {s.SWLSActive, f, bit::kSwlsActive},
                {s.HWLSDuringMotion, f, bit::kHwlsDuringMotion},
                {s.AfterRunError, f, bit::kAfterRunError},
                {s.PowerFail, f, bit::kPowerFail},
                {s.SCFail, f, bit::kScFail},
                {s.HardwareFail, f, bit::kHardwareFail},
                {s.CommunicationFail, f, bit::kCommunicationFail},
                {s.IsInitialized, s.Flags2, bit::kIsInitialized},
                {s.CtrlSpecError, s.Flags2, bit::kCtrlSpecError}});
  FuzzRequire(s.SCFail == 0 && s.IsInitialized == 1);
  FuzzRequire((s.Flags & ((1u << 22) | (1u << 23) | (1u << 24))) == 0);
  const std::uint32_t axes = MaskBelow(counts.axes), coordinates = MaskBelow(counts.coordinates);
  FuzzRequire(((s.NegHWLSMask | s.PosHWLSMask) & ~axes) == 0);
  FuzzRequire(((s.NegSWLSMask | s.PosSWLSMask) & ~coordinates) == 0);
  FuzzRequire(s.HWLSActive == ((s.NegHWLSMask | s.PosHWLSMask) != 0 ? 1u : 0u));
  FuzzRequire(s.SWLSActive == ((s.NegSWLSMask | s.PosSWLSMask) != 0 ? 1u : 0u));
  // Main voltage missing now is also missing "past or current".
  FuzzRequire(((s.Flags2 >> bit::kPowerState) & 1u) <= s.PowerFail);
}

void CheckAxis(const LinkoraAxisStatus& s) {
  namespace bit = interface::axis_bit;
  const std::uint32_t f = s.Flags;
  RequireTwins({{s.InMotion, f, bit::kInMotion},
                {s.InStopMode, f, bit::kInStopMode},
                {s.CurrentOff, f, bit::kCurrentOff},
                {s.IsMoving, f, bit::kIsMoving},
                {s.NeedReferenceRun, f, bit::kNeedReferenceRun},
                {s.HWLSNegActive, f, bit::kHwlsNegActive},
                {s.HWLSPosActive, f, bit::kHwlsPosActive},
                {s.HWLSDuringmotion, f, bit::kHwlsDuringMotion},
                {s.SWLSNegActive, f, bit::kSwlsNegActive},
                {s.SWLSPosActive, f, bit::kSwlsPosActive},
                {s.AfterRunError, f, bit::kAfterRunError},
                {s.CommunicationFail, f, bit::kCommunicationFail},
                {s.PowerFail, f, bit::kPowerFail},
                {s.CurrentLimiter, f, bit::kCurrentLimiter},
                {s.IsInitialized, s.Flags2, bit::kIsInitialized},
                {s.Ready, s.Flags2, bit::kReady},
                {s.HardwareSpecError, s.Flags2, bit::kHardwareSpecError}});
  FuzzRequire(s.IsInitialized == 1 && s.Ready == 1);
  // A drive at its current limit fails the drive check.
  FuzzRequire(s.CurrentLimiter <= s.HardwareSpecError);
  // A single axis never takes the path's stop.
  FuzzRequire(!((s.Flags2 >> bit::kSingleAxis) & 1u) || s.InStopMode == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  common::FuzzInput input(data, size);
  const std::uint32_t axes = input.Byte();
  const std::uint32_t coordinates = input.Byte();
  const std::uint32_t axis = input.Byte() % common::complete_status::kMaxAxes;
  common::CompleteStatusRecord record;
  const auto image = input.Take(common::kCompleteStatusRecordSize);
  record.CopyIn(0, image);

  const auto counts = interface::BoundedStatusCounts(axes, coordinates);
  LinkoraMotionControlStatus controller{};
  interface::BuildControllerStatus(record.View(), {axes, coordinates}, controller);
  CheckController(controller, counts);

  LinkoraAxisStatus axisStatus{};
  interface::BuildAxisStatus(record.View(), axis, axisStatus);
  CheckAxis(axisStatus);
  return 0;
}
