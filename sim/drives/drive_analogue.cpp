// The drive's A/D converter and distance regulator (object 0x2055): a
// start at sub 12 runs the conversion, whose reading (sub 4) is valid in
// sub 13 while it runs; the regulator switched on at sub 20 reports itself
// in range in sub 21 while it has a running conversion to regulate on.
#include "sim/drives/drive_model.h"

namespace vantor::sim::drives {

namespace {
namespace an = analogue;
}  // namespace

void DriveModel::HookAnalogueInput() {
  canopen::ObjectDictionary& objects = Objects();
  if (objects.Find(object::kAnalogueInput, an::kStart) == nullptr) return;
  const auto update = [this](const canopen::ObjectEntry&, canopen::WriteOrigin) {
    canopen::ObjectDictionary& dictionary = Objects();
    const bool converting = dictionary.Unsigned(object::kAnalogueInput, an::kStart) != 0;
    const bool regulating = dictionary.Unsigned(object::kAnalogueInput, an::kRegulatorOn) != 0;
    dictionary.SetUnsigned(object::kAnalogueInput, an::kValid, converting ? 1 : 0);
    dictionary.SetUnsigned(object::kAnalogueInput, an::kInRange, converting && regulating ? 1 : 0);
  };
  objects.OnWritten(object::kAnalogueInput, an::kStart, update);
  objects.OnWritten(object::kAnalogueInput, an::kRegulatorOn, update);
}

}  // namespace vantor::sim::drives
