#include "sim/drives/handwheel_gateway.h"

#include <array>

#include "sim/canopen/pdo_engine.h"
#include "sim/drives/drive_objects.h"

namespace vantor::sim::drives {

namespace {
using canopen::Access;
using canopen::DataType;
constexpr std::uint8_t kOutputBytes = 2;
constexpr std::uint8_t kInputBytes = 3;
}  // namespace

HandwheelGateway::HandwheelGateway(canopen::CanopenNode& node) : node_(node) {
  canopen::ObjectDictionary& objects = node_.Objects();
  objects.Add(
      {object::kGatewayOutputs, 0, DataType::kUnsigned8, Access::kConst, false, kOutputBytes});
  for (std::uint8_t sub = 1; sub <= kOutputBytes; ++sub) {
    objects.Add({object::kGatewayOutputs, sub, DataType::kUnsigned8, Access::kReadWrite, true, 0});
  }
  objects.Add(
      {object::kGatewayInputs, 0, DataType::kUnsigned8, Access::kConst, false, kInputBytes});
  for (std::uint8_t sub = 1; sub <= kInputBytes; ++sub) {
    objects.Add({object::kGatewayInputs, sub, DataType::kUnsigned8, Access::kReadOnly, true, 0});
  }
  objects.Add({object::kAnalogueCounter, 0, DataType::kUnsigned16, Access::kReadOnly, true, 0});
  const std::array<std::uint32_t, 3> transmit = {
      canopen::MappingEntry(object::kGatewayInputs, 2, 8),
      canopen::MappingEntry(object::kGatewayInputs, 3, 8),
      canopen::MappingEntry(object::kAnalogueCounter, 0, 16)};
  const std::array<std::uint32_t, 2> receive = {
      canopen::MappingEntry(object::kGatewayOutputs, 1, 8),
      canopen::MappingEntry(object::kGatewayOutputs, 2, 8)};
  node_.Pdos().SetDefaultLayout(canopen::PdoDirection::kTransmit, 1, transmit,
                                canopen::transmission::kEventProfile);
  node_.Pdos().SetDefaultLayout(canopen::PdoDirection::kReceive, 1, receive,
                                canopen::transmission::kEventProfile);
}

void HandwheelGateway::TurnWheel(std::int32_t pulses) {
  const auto counter = static_cast<std::uint16_t>(Counter() + static_cast<std::uint32_t>(pulses));
  node_.Objects().SetUnsigned(object::kAnalogueCounter, 0, counter);
}

void HandwheelGateway::PressButtons(std::uint8_t first, std::uint8_t second) {
  node_.Objects().SetUnsigned(object::kGatewayInputs, 2, first);
  node_.Objects().SetUnsigned(object::kGatewayInputs, 3, second);
}

std::uint16_t HandwheelGateway::Counter() const {
  return static_cast<std::uint16_t>(node_.Objects().Unsigned(object::kAnalogueCounter, 0));
}

std::uint8_t HandwheelGateway::Output(std::uint8_t byte) const {
  if (byte >= kOutputBytes) return 0;
  return static_cast<std::uint8_t>(
      node_.Objects().Unsigned(object::kGatewayOutputs, static_cast<std::uint8_t>(byte + 1)));
}

}  // namespace vantor::sim::drives
