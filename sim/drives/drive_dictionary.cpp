#include "sim/drives/drive_dictionary.h"

#include <cstdint>

#include "sim/drives/drive_objects.h"

namespace vantor::sim::drives {

namespace {

using canopen::Access;
using canopen::DataType;
using canopen::ObjectDictionary;

constexpr bool kMappable = true;
constexpr bool kNotMappable = false;

// Defaults of a freshly delivered drive, in increments and increments per
// second (squared).
constexpr std::uint32_t kDefaultMaxVelocity = 500000;
constexpr std::uint32_t kDefaultQuickStopDeceleration = 5000000;
constexpr std::uint32_t kDefaultProfileVelocity = 100000;
constexpr std::uint32_t kDefaultProfileAcceleration = 1000000;
constexpr std::uint32_t kDefaultSwitchSearchSpeed = 20000;
constexpr std::uint32_t kDefaultZeroSearchSpeed = 5000;
constexpr std::uint32_t kDefaultHomingAcceleration = 500000;
constexpr std::uint32_t kDefaultFollowingErrorWindow = 20000;
constexpr std::uint16_t kDefaultFollowingErrorTimeOutMs = 10;
constexpr std::uint16_t kDefaultInterpolationPeriodUnits = 1000;  // with 10^-6: 1 ms
constexpr std::uint8_t kMicrosecondsExponent = 0xFA;              // -6
constexpr std::uint32_t kInterpolationBufferCapacity = 64;
constexpr std::uint32_t kSupportedModesBits =
    0x000000A5 | 0x00010000;  // pp, pv, hm, ip; leave mode
constexpr std::int8_t kDefaultHomingMethod = 17;

void AddRecordCount(ObjectDictionary& dictionary, std::uint16_t index, std::uint8_t highest) {
  dictionary.Add({index, 0, DataType::kUnsigned8, Access::kConst, kNotMappable, highest});
}

void AddValue(ObjectDictionary& dictionary, std::uint16_t index, std::uint8_t sub, DataType type,
              Access access, bool mappable, std::uint64_t value = 0) {
  dictionary.Add({index, sub, type, access, mappable, value});
}

std::uint64_t Signed(std::int64_t value) { return static_cast<std::uint64_t>(value); }

void AddProfileObjects(ObjectDictionary& dictionary, const DriveConfig& config) {
  using namespace object;
  AddValue(dictionary, kControlword, 0, DataType::kUnsigned16, Access::kReadWrite, kMappable);
  AddValue(dictionary, kStatusword, 0, DataType::kUnsigned16, Access::kReadOnly, kMappable,
           statusword::kSwitchOnDisabled | statusword::kRemote);
  AddValue(dictionary, kModesOfOperation, 0, DataType::kInteger8, Access::kReadWrite, kMappable);
  AddValue(dictionary, kModesOfOperationDisplay, 0, DataType::kInteger8, Access::kReadOnly,
           kMappable);
  AddValue(dictionary, kPositionDemand, 0, DataType::kInteger32, Access::kReadOnly, kMappable,
           Signed(config.startPosition));
  AddValue(dictionary, kPositionActual, 0, DataType::kInteger32, Access::kReadOnly, kMappable,
           Signed(config.startPosition));
  AddValue(dictionary, kFollowingErrorWindow, 0, DataType::kUnsigned32, Access::kReadWrite,
           kNotMappable, kDefaultFollowingErrorWindow);
  AddValue(dictionary, kFollowingErrorTimeOut, 0, DataType::kUnsigned16, Access::kReadWrite,
           kNotMappable, kDefaultFollowingErrorTimeOutMs);
  AddValue(dictionary, kVelocityActual, 0, DataType::kInteger32, Access::kReadOnly, kMappable);
  AddValue(dictionary, kTargetPosition, 0, DataType::kInteger32, Access::kReadWrite, kMappable);
  AddValue(dictionary, kHomeOffset, 0, DataType::kInteger32, Access::kReadWrite, kMappable);
  AddRecordCount(dictionary, kSoftwarePositionLimit, 2);
  AddValue(dictionary, kSoftwarePositionLimit, 1, DataType::kInteger32, Access::kReadWrite,
           kNotMappable, Signed(-1073741823));
  AddValue(dictionary, kSoftwarePositionLimit, 2, DataType::kInteger32, Access::kReadWrite,
           kNotMappable, 1073741823);
  AddValue(dictionary, kPolarity, 0, DataType::kUnsigned8, Access::kReadWrite, kNotMappable);
  AddValue(dictionary, kMaxProfileVelocity, 0, DataType::kUnsigned32, Access::kReadWrite,
           kNotMappable, kDefaultMaxVelocity);
  AddValue(dictionary, kProfileVelocity, 0, DataType::kUnsigned32, Access::kReadWrite, kMappable,
           kDefaultProfileVelocity);
  AddValue(dictionary, kEndVelocity, 0, DataType::kUnsigned32, Access::kReadWrite, kMappable);
  AddValue(dictionary, kProfileAcceleration, 0, DataType::kUnsigned32, Access::kReadWrite,
           kMappable, kDefaultProfileAcceleration);
  AddValue(dictionary, kProfileDeceleration, 0, DataType::kUnsigned32, Access::kReadWrite,
           kMappable, kDefaultProfileAcceleration);
  AddValue(dictionary, kQuickStopDeceleration, 0, DataType::kUnsigned32, Access::kReadWrite,
           kNotMappable, kDefaultQuickStopDeceleration);
  AddValue(dictionary, kVelocityScaling, 0, DataType::kUnsigned8, Access::kReadWrite, kNotMappable);
  AddRecordCount(dictionary, kPositionFactor, 2);
  AddValue(dictionary, kPositionFactor, 1, DataType::kUnsigned32, Access::kReadWrite, kNotMappable,
           config.positionFactorNumerator);
  AddValue(dictionary, kPositionFactor, 2, DataType::kUnsigned32, Access::kReadWrite, kNotMappable,
           config.positionFactorDivisor);
  AddValue(dictionary, kHomingMethod, 0, DataType::kInteger8, Access::kReadWrite, kNotMappable,
           kDefaultHomingMethod);
  AddRecordCount(dictionary, kHomingSpeeds, 2);
  AddValue(dictionary, kHomingSpeeds, 1, DataType::kUnsigned32, Access::kReadWrite, kNotMappable,
           kDefaultSwitchSearchSpeed);
  AddValue(dictionary, kHomingSpeeds, 2, DataType::kUnsigned32, Access::kReadWrite, kNotMappable,
           kDefaultZeroSearchSpeed);
  AddValue(dictionary, kHomingAcceleration, 0, DataType::kUnsigned32, Access::kReadWrite,
           kNotMappable, kDefaultHomingAcceleration);
  AddValue(dictionary, kMaxAcceleration, 0, DataType::kUnsigned32, Access::kReadWrite, kNotMappable,
           config.maxAcceleration);
  AddValue(dictionary, kDigitalInputs, 0, DataType::kUnsigned8, Access::kReadOnly, kMappable);
  AddValue(dictionary, kDigitalOutputs, 0, DataType::kUnsigned8, Access::kReadWrite, kMappable);
  AddValue(dictionary, kTargetVelocity, 0, DataType::kInteger32, Access::kReadWrite, kMappable);
  AddValue(dictionary, kSupportedModes, 0, DataType::kUnsigned32, Access::kConst, kNotMappable,
           kSupportedModesBits);
}

void AddInterpolationObjects(ObjectDictionary& dictionary) {
  using namespace object;
  AddValue(dictionary, kInterpolationSubMode, 0, DataType::kInteger16, Access::kReadWrite,
           kNotMappable);
  AddRecordCount(dictionary, kInterpolationData, 3);
  AddValue(dictionary, kInterpolationData, 1, DataType::kInteger32, Access::kReadWrite, kMappable);
  AddValue(dictionary, kInterpolationData, 2, DataType::kInteger16, Access::kReadWrite, kMappable);
  AddValue(dictionary, kInterpolationData, 3, DataType::kInteger16, Access::kReadWrite, kMappable);
  AddRecordCount(dictionary, kInterpolationPeriod, 2);
  // 16 bits here, where plain DS402 has 8: the kernel writes microseconds.
  AddValue(dictionary, kInterpolationPeriod, 1, DataType::kUnsigned16, Access::kReadWrite,
           kNotMappable, kDefaultInterpolationPeriodUnits);
  AddValue(dictionary, kInterpolationPeriod, 2, DataType::kInteger8, Access::kReadWrite,
           kNotMappable, kMicrosecondsExponent);
  AddRecordCount(dictionary, kInterpolationBuffer, 6);
  AddValue(dictionary, kInterpolationBuffer, 1, DataType::kUnsigned32, Access::kReadOnly,
           kNotMappable, kInterpolationBufferCapacity);
  // 8 bits here: the kernel writes the buffered depth as one byte.
  AddValue(dictionary, kInterpolationBuffer, 2, DataType::kUnsigned8, Access::kReadWrite,
           kNotMappable, 4);
  AddValue(dictionary, kInterpolationBuffer, 3, DataType::kUnsigned8, Access::kReadWrite,
           kNotMappable);
  AddValue(dictionary, kInterpolationBuffer, 4, DataType::kUnsigned16, Access::kReadWrite,
           kNotMappable);
  AddValue(dictionary, kInterpolationBuffer, 5, DataType::kUnsigned8, Access::kReadOnly,
           kNotMappable, 8);
  AddValue(dictionary, kInterpolationBuffer, 6, DataType::kUnsigned8, Access::kWriteOnly,
           kNotMappable);
}

void AddOptionObjects(ObjectDictionary& dictionary, const DriveConfig& config) {
  using namespace object;
  const bool compact = config.variant == DriveVariant::kCompact;
  AddRecordCount(dictionary, kPositionOption, 6);
  AddValue(dictionary, kPositionOption, 4, DataType::kUnsigned8, Access::kReadWrite, kNotMappable);
  AddValue(dictionary, kPositionOption, 5, DataType::kUnsigned16, Access::kReadWrite, kNotMappable,
           100);
  // The older firmware keeps the option byte at sub 4 only.
  if (!compact) {
    AddValue(dictionary, kPositionOption, 6, DataType::kUnsigned8, Access::kReadWrite,
             kNotMappable);
  }
  AddRecordCount(dictionary, kDriveOptions, compact ? 18 : 21);
  AddValue(dictionary, kDriveOptions, option::kDriveOption, DataType::kUnsigned8,
           Access::kReadWrite, kNotMappable);
  AddValue(dictionary, kDriveOptions, option::kPowerStageVariant, DataType::kUnsigned8,
           Access::kReadOnly, kNotMappable, config.variant == DriveVariant::kDual ? 1 : 0);
  AddValue(dictionary, kDriveOptions, option::kHomeSwitchDistance, DataType::kInteger32,
           Access::kReadWrite, kNotMappable);
  AddValue(dictionary, kDriveOptions, option::kInputPortMode, DataType::kUnsigned8,
           Access::kReadWrite, kNotMappable, 1);
  if (!compact) {
    AddValue(dictionary, kDriveOptions, option::kGantryPdoHoming, DataType::kUnsigned8,
             Access::kReadOnly, kNotMappable, config.gantryPdoHoming ? 1 : 0);
    AddValue(dictionary, kDriveOptions, option::kGantryStartUp, DataType::kUnsigned8,
             Access::kReadOnly, kNotMappable, 1);
  }
}

void AddMakerObjects(ObjectDictionary& dictionary, const DriveConfig& config) {
  using namespace object;
  AddValue(dictionary, kMaxVelocity, 0, DataType::kUnsigned32, Access::kReadWrite, kNotMappable,
           kDefaultMaxVelocity);
  AddValue(dictionary, kDirection, 0, DataType::kUnsigned8, Access::kReadWrite, kNotMappable);
  AddRecordCount(dictionary, kAxisChain, chain::kLastSub);
  for (std::uint8_t sub = chain::kState; sub <= chain::kError; ++sub) {
    AddValue(dictionary, kAxisChain, sub, DataType::kUnsigned8, Access::kReadWrite, kNotMappable);
  }
  AddValue(dictionary, kAxisChain, chain::kStatuswordMirror, DataType::kUnsigned16,
           Access::kReadOnly, kMappable);
  AddValue(dictionary, kAxisChain, chain::kPositionMirror, DataType::kInteger32, Access::kReadOnly,
           kMappable, Signed(config.startPosition));
  for (const std::uint8_t sub : {7, 9, 10, 11}) {
    AddValue(dictionary, kAxisChain, sub, DataType::kUnsigned32, Access::kReadWrite, kNotMappable);
  }
  if (config.variant != DriveVariant::kCompact) {
    AddValue(dictionary, kAxisChain, chain::kReportsPhases, DataType::kUnsigned8, Access::kReadOnly,
             kNotMappable, config.reportsGantryPhases ? 1 : 0);
  }
  AddValue(dictionary, kAxisChain, chain::kPhaseByteA, DataType::kUnsigned8, Access::kReadWrite,
           kMappable);
  AddValue(dictionary, kAxisChain, chain::kPhaseByteB, DataType::kUnsigned8, Access::kReadWrite,
           kMappable);
  AddValue(dictionary, kHomedMark, 1, DataType::kUnsigned8, Access::kReadWrite, kNotMappable);
  // The kernel writes the mark at subindex 0 (one byte) before a reset node.
  dictionary.Add({kHomedMark, 0, DataType::kUnsigned8, Access::kReadWrite, kNotMappable, 0});
  AddValue(dictionary, kDriveClock, 0, DataType::kUnsigned32, Access::kReadOnly, kMappable);
  AddValue(dictionary, kLimitSwitchBridge, 0, DataType::kUnsigned8, Access::kReadWrite,
           kNotMappable);
  AddValue(dictionary, kHandwheelWordH, 0, DataType::kUnsigned8, Access::kReadWrite, kNotMappable);
}

// A/D and distance regulator, stop-on-input, handwheel and home shift: the
// current firmware only.
void AddCurrentFirmwareObjects(ObjectDictionary& dictionary) {
  using namespace object;
  struct Sub {
    std::uint8_t sub;
    DataType type;
    bool mappable;
  };
  const auto addRecord = [&dictionary](std::uint16_t index, std::uint8_t highest,
                                       std::initializer_list<Sub> subs) {
    AddRecordCount(dictionary, index, highest);
    for (const Sub& sub : subs) {
      AddValue(dictionary, index, sub.sub, sub.type, Access::kReadWrite, sub.mappable);
    }
  };
  using DT = DataType;
  addRecord(
      kAnalogueInput, 22,
      {{1, DT::kUnsigned8, false},   {2, DT::kUnsigned16, false},  {3, DT::kUnsigned16, false},
       {4, DT::kUnsigned16, true},   {5, DT::kUnsigned16, false},  {6, DT::kUnsigned16, false},
       {7, DT::kUnsigned16, false},  {8, DT::kUnsigned16, false},  {9, DT::kUnsigned16, false},
       {10, DT::kUnsigned16, false}, {11, DT::kUnsigned16, false}, {12, DT::kUnsigned8, false},
       {13, DT::kUnsigned8, true},   {14, DT::kUnsigned32, false}, {15, DT::kUnsigned8, false},
       {16, DT::kUnsigned16, false}, {17, DT::kUnsigned8, true},   {20, DT::kUnsigned8, false},
       {21, DT::kUnsigned8, true},   {22, DT::kUnsigned8, true}});
  addRecord(kStopOnInput, 13,
            {{1, DT::kUnsigned8, false},
             {2, DT::kUnsigned8, false},
             {3, DT::kUnsigned32, false},
             {4, DT::kUnsigned8, false},
             {5, DT::kInteger32, false},
             {6, DT::kUnsigned8, false},
             {7, DT::kUnsigned8, false},
             {8, DT::kUnsigned8, true},
             {9, DT::kUnsigned8, false},
             {10, DT::kUnsigned8, false},
             {11, DT::kUnsigned8, false},
             {12, DT::kUnsigned16, false},
             {13, DT::kUnsigned8, true}});
  addRecord(
      kHandwheel, 23,
      {{1, DT::kUnsigned8, false},   {2, DT::kUnsigned8, false},   {3, DT::kUnsigned16, false},
       {4, DT::kUnsigned32, false},  {5, DT::kUnsigned32, false},  {6, DT::kUnsigned16, false},
       {7, DT::kUnsigned16, false},  {8, DT::kUnsigned16, false},  {9, DT::kUnsigned16, false},
       {10, DT::kUnsigned16, false}, {11, DT::kUnsigned16, false}, {12, DT::kUnsigned16, true},
       {13, DT::kUnsigned16, true},  {14, DT::kUnsigned16, true},  {15, DT::kUnsigned16, false},
       {16, DT::kUnsigned16, true},  {17, DT::kInteger32, false},  {18, DT::kUnsigned8, false},
       {19, DT::kUnsigned8, true},   {20, DT::kUnsigned8, true},   {21, DT::kUnsigned8, false},
       {22, DT::kUnsigned8, false},  {23, DT::kUnsigned8, true}});
  // The firmware reports its handwheel support at sub 1 once the kernel asks.
  dictionary.SetDefaultUnsigned(kHandwheel, 1, 1);
  dictionary.SetDefaultUnsigned(kStopOnInput, 1, 1);
  dictionary.SetDefaultUnsigned(kAnalogueInput, 1, 0);
  // Sent with the handwheel lamp word to the gateway.
  AddValue(dictionary, kManufacturerStatus, 0, DataType::kUnsigned32, Access::kReadOnly, kMappable);
  AddRecordCount(dictionary, kHomeShift, 2);
  AddValue(dictionary, kHomeShift, homeshift::kTrigger, DataType::kUnsigned8, Access::kReadWrite,
           kNotMappable);
  AddValue(dictionary, kHomeShift, homeshift::kIncrements, DataType::kInteger32, Access::kReadWrite,
           kNotMappable);
}

// The drive's reactions to a quick stop and to a lost master.
void AddStopReactionObjects(ObjectDictionary& dictionary, const DriveConfig& config) {
  using namespace object;
  AddValue(dictionary, kQuickStopOptionCode, 0, DataType::kInteger16, Access::kReadWrite,
           kNotMappable, Signed(config.behaviour.quickStopOptionCode));
  dictionary.OnWriteCheck(kQuickStopOptionCode, 0, [](std::span<const std::uint8_t> value) {
    const auto code = static_cast<std::int16_t>(value[0] | (value[1] << 8));
    return IsSupportedQuickStopOptionCode(code) ? canopen::SdoAbortCode::kNone
                                                : canopen::SdoAbortCode::kValueRange;
  });
  AddValue(dictionary, kAbortConnectionOption, 0, DataType::kInteger16, Access::kReadWrite,
           kNotMappable, Signed(abort_connection::kQuickStop));
  dictionary.OnWriteCheck(kAbortConnectionOption, 0, [](std::span<const std::uint8_t> value) {
    const auto code = static_cast<std::int16_t>(value[0] | (value[1] << 8));
    return code >= abort_connection::kNoAction && code <= abort_connection::kQuickStop
               ? canopen::SdoAbortCode::kNone
               : canopen::SdoAbortCode::kValueRange;
  });
}

}  // namespace

void AddDriveObjects(ObjectDictionary& dictionary, const DriveConfig& config) {
  AddProfileObjects(dictionary, config);
  AddInterpolationObjects(dictionary);
  AddOptionObjects(dictionary, config);
  AddMakerObjects(dictionary, config);
  AddStopReactionObjects(dictionary, config);
  if (config.variant != DriveVariant::kCompact) AddCurrentFirmwareObjects(dictionary);
}

}  // namespace vantor::sim::drives
