#include "sim/canopen/communication_objects.h"

#include "sim/canopen/canopen_frames.h"

namespace vantor::sim::canopen {

namespace {

std::uint32_t LittleEndianWord(std::span<const std::uint8_t> value) {
  std::uint32_t word = 0;
  for (std::size_t i = 0; i < value.size() && i < 4; ++i)
    word |= std::uint32_t{value[i]} << (8 * i);
  return word;
}

void AddText(ObjectDictionary& dictionary, std::uint16_t index, const std::string& text) {
  dictionary.Add({index, 0, DataType::kVisibleString, Access::kConst, false, 0, text, text.size()});
}

}  // namespace

void AddCommunicationObjects(ObjectDictionary& dictionary, NodeId node,
                             const NodeIdentity& identity, const GuardingDefaults& guarding) {
  dictionary.Add({object::kDeviceType, 0, DataType::kUnsigned32, Access::kReadOnly, false,
                  identity.deviceType});
  dictionary.Add({object::kErrorRegister, 0, DataType::kUnsigned8, Access::kReadOnly, true, 0});

  dictionary.Add(
      {object::kPredefinedErrorField, 0, DataType::kUnsigned8, Access::kReadWrite, false, 0});
  for (std::uint8_t sub = 1; sub <= kErrorHistoryDepth; ++sub) {
    dictionary.Add(
        {object::kPredefinedErrorField, sub, DataType::kUnsigned32, Access::kReadOnly, false, 0});
  }
  // Only 0 may be written: it empties the history.
  dictionary.OnWriteCheck(object::kPredefinedErrorField, 0,
                          [](std::span<const std::uint8_t> value) {
                            return value[0] == 0 ? SdoAbortCode::kNone : SdoAbortCode::kValueRange;
                          });
  dictionary.OnWritten(object::kPredefinedErrorField, 0,
                       [&dictionary](const ObjectEntry&, WriteOrigin) {
                         for (std::uint8_t sub = 1; sub <= kErrorHistoryDepth; ++sub) {
                           dictionary.SetUnsigned(object::kPredefinedErrorField, sub, 0);
                         }
                       });

  dictionary.Add(
      {object::kSyncCobId, 0, DataType::kUnsigned32, Access::kReadWrite, false, cob::kSync});
  // A node only consumes SYNC; it cannot be made the producer, and the
  // simulated buses carry 11-bit identifiers only.
  dictionary.OnWriteCheck(object::kSyncCobId, 0, [](std::span<const std::uint8_t> value) {
    const std::uint32_t cobId = LittleEndianWord(value);
    return (cobId & ~cob::kIdentifierMask) != 0 ? SdoAbortCode::kValueRange : SdoAbortCode::kNone;
  });

  AddText(dictionary, object::kDeviceName, identity.deviceName);
  AddText(dictionary, object::kHardwareVersion, identity.hardwareVersion);
  AddText(dictionary, object::kSoftwareVersion, identity.softwareVersion);

  dictionary.Add({object::kGuardTime, 0, DataType::kUnsigned16, Access::kReadWrite, false,
                  guarding.guardTimeMs});
  dictionary.Add({object::kLifeTimeFactor, 0, DataType::kUnsigned8, Access::kReadWrite, false,
                  guarding.lifeTimeFactor});
  dictionary.Add(
      {object::kHighResolutionTimeStamp, 0, DataType::kUnsigned32, Access::kReadWrite, true, 0});
  dictionary.Add({object::kEmergencyCobId, 0, DataType::kUnsigned32, Access::kReadOnly, false,
                  EmergencyCobId(node)});

  dictionary.Add({object::kErrorBehaviour, 0, DataType::kUnsigned8, Access::kConst, false,
                  error_behaviour::kCommunicationError});
  dictionary.Add({object::kErrorBehaviour, error_behaviour::kCommunicationError,
                  DataType::kUnsigned8, Access::kReadWrite, false,
                  error_behaviour::kToPreOperational});
  dictionary.OnWriteCheck(object::kErrorBehaviour, error_behaviour::kCommunicationError,
                          [](std::span<const std::uint8_t> value) {
                            return value[0] <= error_behaviour::kToStopped
                                       ? SdoAbortCode::kNone
                                       : SdoAbortCode::kValueRange;
                          });

  dictionary.Add({object::kIdentity, 0, DataType::kUnsigned8, Access::kConst, false, 4});
  dictionary.Add(
      {object::kIdentity, 1, DataType::kUnsigned32, Access::kReadOnly, false, identity.vendorId});
  dictionary.Add({object::kIdentity, 2, DataType::kUnsigned32, Access::kReadOnly, false,
                  identity.productCode});
  dictionary.Add(
      {object::kIdentity, 3, DataType::kUnsigned32, Access::kReadOnly, false, identity.revision});
  dictionary.Add({object::kIdentity, 4, DataType::kUnsigned32, Access::kReadOnly, false,
                  identity.serialNumber});
}

}  // namespace vantor::sim::canopen
