#include "sim/drives/io_module.h"

#include <array>

#include "sim/canopen/pdo_engine.h"
#include "sim/drives/drive_objects.h"

namespace vantor::sim::drives {

namespace {
using canopen::Access;
using canopen::DataType;
constexpr std::uint32_t kDigitalIoDeviceType = 0x00030191;
constexpr std::uint8_t kAllOutputBits = 0xFF;
}  // namespace

IoModule::IoModule(canopen::CanopenNode& node) : node_(node) {
  canopen::ObjectDictionary& objects = node_.Objects();
  objects.SetDefaultUnsigned(canopen::object::kDeviceType, 0, kDigitalIoDeviceType);
  objects.Add(
      {object::kReadInputs8, 0, DataType::kUnsigned8, Access::kConst, false, kIoModuleBytes});
  objects.Add(
      {object::kWriteOutputs8, 0, DataType::kUnsigned8, Access::kConst, false, kIoModuleBytes});
  objects.Add(
      {object::kErrorModeOutputs8, 0, DataType::kUnsigned8, Access::kConst, false, kIoModuleBytes});
  objects.Add({object::kErrorValueOutputs8, 0, DataType::kUnsigned8, Access::kConst, false,
               kIoModuleBytes});
  for (std::uint8_t sub = 1; sub <= kIoModuleBytes; ++sub) {
    objects.Add({object::kReadInputs8, sub, DataType::kUnsigned8, Access::kReadOnly, true, 0});
    objects.Add({object::kWriteOutputs8, sub, DataType::kUnsigned8, Access::kReadWrite, true, 0});
    objects.Add({object::kErrorModeOutputs8, sub, DataType::kUnsigned8, Access::kReadWrite, false,
                 kAllOutputBits});
    objects.Add(
        {object::kErrorValueOutputs8, sub, DataType::kUnsigned8, Access::kReadWrite, false, 0});
  }
  const std::array<std::uint32_t, 2> inputs = {canopen::MappingEntry(object::kReadInputs8, 1, 8),
                                               canopen::MappingEntry(object::kReadInputs8, 2, 8)};
  const std::array<std::uint32_t, 2> outputs = {
      canopen::MappingEntry(object::kWriteOutputs8, 1, 8),
      canopen::MappingEntry(object::kWriteOutputs8, 2, 8)};
  node_.Pdos().SetDefaultLayout(canopen::PdoDirection::kTransmit, 1, inputs,
                                canopen::transmission::kEventProfile);
  node_.Pdos().SetDefaultLayout(canopen::PdoDirection::kReceive, 1, outputs,
                                canopen::transmission::kEventProfile);
}

void IoModule::SetInputs(std::uint8_t byte, std::uint8_t value) {
  if (byte >= kIoModuleBytes) return;
  node_.Objects().SetUnsigned(object::kReadInputs8, static_cast<std::uint8_t>(byte + 1), value);
}

void IoModule::OnLifeGuardingLost(SimTime /*now*/) {
  canopen::ObjectDictionary& objects = node_.Objects();
  for (std::uint8_t sub = 1; sub <= kIoModuleBytes; ++sub) {
    // Without the error objects every output goes to 0.
    const canopen::ObjectEntry* mode = objects.Find(object::kErrorModeOutputs8, sub);
    const canopen::ObjectEntry* value = objects.Find(object::kErrorValueOutputs8, sub);
    const auto errorBits = static_cast<std::uint8_t>(mode ? mode->Unsigned() : kAllOutputBits);
    const auto errorValue = static_cast<std::uint8_t>(value ? value->Unsigned() : 0);
    const auto output = static_cast<std::uint8_t>(objects.Unsigned(object::kWriteOutputs8, sub));
    objects.SetUnsigned(
        object::kWriteOutputs8, sub,
        static_cast<std::uint8_t>((output & ~errorBits) | (errorValue & errorBits)));
  }
}

std::uint8_t IoModule::Output(std::uint8_t byte) const {
  if (byte >= kIoModuleBytes) return 0;
  return static_cast<std::uint8_t>(
      node_.Objects().Unsigned(object::kWriteOutputs8, static_cast<std::uint8_t>(byte + 1)));
}

}  // namespace vantor::sim::drives
