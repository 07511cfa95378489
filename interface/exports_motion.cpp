// Exports that move the machine or bring its drives to operation.
#include "interface/drive_reset.h"
#include "interface/export_frame.h"
#include "interface/include/linkora.h"

using namespace vantor;

LINKORA_EXPORT LinkoraStatus mctl_Reset(void) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_Reset", [] { return interface::ResetDrives(); });
}
