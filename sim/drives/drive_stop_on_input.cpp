// The drive's stop on a digital input (object 0x205C): armed, it watches
// its input byte and, when the watched bits match, stops by itself,
// latches where it was and holds until the master disarms it.
#include <cstdlib>

#include "sim/drives/drive_model.h"

namespace vantor::sim::drives {

namespace {
namespace so = stop_on_input;
}  // namespace

void DriveModel::HookStopOnInput() {
  canopen::ObjectDictionary& objects = Objects();
  if (objects.Find(object::kStopOnInput, so::kArmed) == nullptr) return;
  objects.OnWritten(object::kStopOnInput, so::kArmed,
                    [this](const canopen::ObjectEntry& entry, canopen::WriteOrigin) {
                      // Arming starts a fresh watch; disarming lets set-points in again.
                      stoppedOnInput_ = false;
                      if (entry.Unsigned() != 0) {
                        Objects().SetUnsigned(object::kStopOnInput, so::kLatchState, 0);
                      }
                      Publish();
                    });
  objects.OnWritten(object::kStopOnInput, so::kInputByte,
                    [this](const canopen::ObjectEntry&, canopen::WriteOrigin) { Publish(); });
}

void DriveModel::WatchStopInput() {
  canopen::ObjectDictionary& objects = Objects();
  if (objects.Find(object::kStopOnInput, so::kArmed) == nullptr) return;
  const auto role = objects.Unsigned(object::kStopOnInput, so::kRole);
  if (role == so::kRoleInputDrive)
    objects.SetUnsigned(object::kStopOnInput, so::kInputByte, Inputs());
  const bool armed = objects.Unsigned(object::kStopOnInput, so::kArmed) != 0 &&
                     objects.Unsigned(object::kStopOnInput, so::kArming) != 0 && role != 0;
  if (stoppedOnInput_ || !armed) return;
  const auto mask = objects.Unsigned(object::kStopOnInput, so::kInputMask);
  const auto input = objects.Unsigned(object::kStopOnInput, so::kInputByte);
  const auto levels = objects.Unsigned(object::kStopOnInput, so::kInputLevels);
  if ((input & mask) != (levels & mask)) return;
  stoppedOnInput_ = true;
  objects.SetUnsigned(object::kStopOnInput, so::kLatchedPosition,
                      static_cast<std::uint32_t>(ReportedPosition()));
  objects.SetUnsigned(object::kStopOnInput, so::kLatchState, so::kLatched);
  // What the master had asked for is dropped; the axis runs down from
  // where it is.
  profileTarget_.reset();
  pendingTarget_.reset();
  setPoints_.clear();
  segment_.reset();
  UpdateSyncWatch();
  Schedule();
}

void DriveModel::StepStopOnInput(double seconds) {
  const double deceleration = UnsignedValue(object::kStopOnInput, so::kDeceleration);
  if (deceleration <= 0.0) {
    axis_.velocity = 0.0;
    return;
  }
  StepTowardVelocity(axis_, 0.0, deceleration, seconds);
}

}  // namespace vantor::sim::drives
