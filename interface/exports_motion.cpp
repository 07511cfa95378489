// Exports that move the machine or bring its drives to operation.
#include "interface/drive_homing.h"
#include "interface/drive_reset.h"
#include "interface/export_frame.h"
#include "interface/include/linkora.h"

using namespace vantor;

LINKORA_EXPORT LinkoraStatus mctl_Reset(void) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_Reset", [] { return interface::ResetDrives(); });
}

LINKORA_EXPORT LinkoraStatus mctl_Reference(uint32_t axisMask) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_Reference",
                              [&] { return interface::ReferenceAxes(axisMask); });
}

LINKORA_EXPORT LinkoraStatus mctl_ReferenceBreak(void) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_ReferenceBreak",
                              [] { return interface::BreakReference(); });
}

LINKORA_EXPORT LinkoraStatus mctl_ChangeHomePosition(const int32_t* homeShift, uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_ChangeHomePosition", [&] {
    if (size != 2 * sizeof(int32_t)) return common::kLibraryRecordSizeMismatch;
    if (homeShift == nullptr) return common::kLibraryCallParameterInvalid;
    return interface::ChangeHomePosition(homeShift[0], homeShift[1]);
  });
}
