#include "interface/record_conversion.h"

#include <cstddef>
#include <cstring>

namespace vantor::interface {

namespace cir = common::cnc_init_record;
namespace hw = common::can_hardware_parameters;

// The C record's fixed part lies exactly where the wire record has it.
static_assert(sizeof(LinkoraCanHardwareParameters) == common::kCanHardwareParametersSize);
static_assert(offsetof(LinkoraCanHardwareParameters, LookAheadDesPosiMaxNo) ==
              hw::kLookAheadDesPosiMaxNo.kOffset);
static_assert(offsetof(LinkoraCanHardwareParameters, SynMaxWaitTime) ==
              hw::kSynMaxWaitTime.kOffset);
static_assert(offsetof(LinkoraCncInitRecord, CoorNo) == cir::kCoorNo.kOffset);
static_assert(offsetof(LinkoraCncInitRecord, HandlingAxisNo) == cir::kHandlingAxisNo.kOffset);
static_assert(offsetof(LinkoraCncInitRecord, LinearTeachInVel) == cir::kLinearTeachInVel.kOffset);
static_assert(offsetof(LinkoraCncInitRecord, MaxTimeForCalAverageVel) ==
              cir::kMaxTimeForCalAverageVel.kOffset);
static_assert(offsetof(LinkoraCncInitRecord, CalFollowError) == cir::kCalFollowError.kOffset);
static_assert(offsetof(LinkoraCncInitRecord, FollowErrorSafetyFac) ==
              cir::kFollowErrorSafetyFac.kOffset);
static_assert(offsetof(LinkoraCncInitRecord, TeachInAmplifyMaxNoBufferedDesCoor) ==
              cir::kTeachInAmplifyMaxNoBufferedDesCoor.kOffset);
static_assert(offsetof(LinkoraCncInitRecord, MaxNoBufferedPathVec) ==
              cir::kMaxNoBufferedPathVec.kOffset);
static_assert(offsetof(LinkoraCncInitRecord, CanMsgMaxWaitTime) == cir::kCanMsgMaxWaitTime.kOffset);
static_assert(offsetof(LinkoraCncInitRecord, SynNodeNo) == cir::kSynNodeNo.kOffset);
static_assert(offsetof(LinkoraCncInitRecord, FixedValues) ==
              cir::kGlobalRequestTemplateWord.kOffset);
static_assert(offsetof(LinkoraCncInitRecord, HandwheelActive) == cir::kHandwheelActive.kOffset);
static_assert(offsetof(LinkoraCncInitRecord, HandwheelModell) == cir::kHandwheelModell.kOffset);
static_assert(offsetof(LinkoraCncInitRecord, CartesianCoor) == cir::kCartesianCoor.kOffset);
static_assert(offsetof(LinkoraCncInitRecord, AxisCorrectionEnable) ==
              cir::kAxisCorrectionEnable.kOffset);
static_assert(offsetof(LinkoraCncInitRecord, CanMCDLL) == cir::kCanMCDLL.kOffset);
static_assert(offsetof(LinkoraCncInitRecord, AxisCorrectionFile) ==
              cir::kAxisCorrectionFile.kOffset);
static_assert(offsetof(LinkoraCncInitRecord, CoordinateList) == cir::kListPointerSlots.kOffset);
static_assert(sizeof(LinkoraCoordinateEntry) == common::kCoordinateEntrySize);
static_assert(sizeof(LinkoraAxisEntry) == common::kAxisEntrySize);
static_assert(sizeof(LinkoraHandlingAxisEntry) == common::kHandlingAxisEntrySize);
static_assert(offsetof(LinkoraCoordinateEntry, PosSwe) ==
              common::coordinate_entry::kPosSwe.kOffset);

namespace {

std::string TextOrEmpty(const char* text) {
  return text != nullptr ? std::string(text) : std::string();
}

template <typename Entry, typename Record, std::size_t Capacity>
bool CopyList(const Entry* list, std::int32_t count, std::array<Record, Capacity>& target) {
  if (count < 0 || static_cast<std::size_t>(count) > Capacity) return false;
  if (count > 0 && list == nullptr) return false;
  for (std::int32_t i = 0; i < count; ++i) {
    std::memcpy(target[static_cast<std::size_t>(i)].MutableBytes().data(), &list[i], sizeof(Entry));
  }
  return true;
}

}  // namespace

common::StatusCode CanSettingsFromRecord(const LinkoraCanInitRecord* record, std::uint32_t size,
                                         CanInitSettings& settings) {
  const bool full = size == LINKORA_CAN_INIT_RECORD_SIZE;
  const bool medium = size == LINKORA_CAN_INIT_RECORD_MEDIUM_SIZE;
  const bool shortForm = size == LINKORA_CAN_INIT_RECORD_SHORT_SIZE;
  if (!full && !medium && !shortForm) return common::kLibraryRecordSizeMismatch;
  if (record == nullptr || record->HardwareParameters == nullptr) {
    return common::kLibraryCallParameterInvalid;
  }
  // Only the bytes of the caller's form are read.
  LinkoraCanInitRecord copy{};
  std::memcpy(&copy, record, size);
  settings = CanInitSettings{};
  settings.declareMode = copy.DeclareMode;
  settings.kernelShared = copy.KernelShared;
  std::memcpy(settings.hardware.MutableBytes().data(), copy.HardwareParameters,
              common::kCanHardwareParametersSize);
  settings.deviceName = TextOrEmpty(copy.DeviceName);
  settings.kernelPath = TextOrEmpty(copy.KernelPath);
  settings.watchPath = TextOrEmpty(copy.WatchPath);
  if (full) {
    settings.windowsTimerRes = copy.WindowsTimerRes;
    settings.pathWindowsTimerRes = copy.PathWindowsTimerRes;
    settings.realTimeThreadIntWaitTime = copy.RealTimeThreadIntWaitTime;
    settings.popupMenuActive = copy.PopupMenuActive;
    return common::kLibrarySuccess;
  }
  if (medium) {
    settings.windowsTimerRes = copy.WindowsTimerRes;
    settings.pathWindowsTimerRes = copy.PathWindowsTimerRes;
  }
  settings.realTimeThreadIntWaitTime = common::can_start_record::kDefaultRealTimeThreadIntWaitTime;
  settings.popupMenuActive = 1;
  return common::kLibrarySuccess;
}

common::StatusCode CncImageFromRecord(const LinkoraCncInitRecord& record, CncInitImage& image) {
  image = CncInitImage{};
  std::memcpy(image.record.MutableBytes().data(), &record, cir::kListPointerSlots.kOffset);
  if (!CopyList(record.CoordinateList, record.CoorNo, image.coordinates) ||
      !CopyList(record.AxisList, record.AxisNo, image.axes) ||
      !CopyList(record.HandlingAxisList, record.HandlingAxisNo, image.handlingAxes)) {
    return common::kLibraryCallParameterInvalid;
  }
  return common::kLibrarySuccess;
}

void CopyHardwareParameters(const common::CanHardwareParameters& from,
                            LinkoraCanHardwareParameters& to) {
  std::memcpy(&to, from.Bytes().data(), common::kCanHardwareParametersSize);
}

}  // namespace vantor::interface
