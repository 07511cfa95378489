// The machine around the drive as a test rewires it: where its switches
// sit and what its A/D converter reads.
#include "sim/drives/drive_model.h"

namespace vantor::sim::drives {

bool DriveModel::SetSwitchPosition(DriveSwitch which, std::optional<std::int32_t> position) {
  DriveConfig wired = config_;
  switch (which) {
    case DriveSwitch::kNegativeLimit:
      wired.negativeLimit = position;
      break;
    case DriveSwitch::kPositiveLimit:
      wired.positiveLimit = position;
      break;
    case DriveSwitch::kHome:
      wired.homeSwitch = position;
      break;
  }
  if (wired.negativeLimit && wired.positiveLimit && *wired.negativeLimit >= *wired.positiveLimit) {
    return false;
  }
  config_ = wired;
  Schedule();
  Publish();
  return true;
}

bool DriveModel::SetAnalogueValue(std::uint16_t value) {
  return Objects().SetUnsigned(object::kAnalogueInput, analogue::kValue, value);
}

}  // namespace vantor::sim::drives
