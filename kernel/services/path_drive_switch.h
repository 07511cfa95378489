// How codes 42, 43 and 70 switch the drives: with every node mutex held and
// the kernel data lock released, one write to all drives, then their node
// records armed again with the results collected. A failed write re-arms
// without collecting and answers the write's result.
#pragma once

#include "common/status_code.h"
#include "kernel/core/canopen/drive_reads.h"
#include "kernel/core/canopen/service_host.h"

namespace vantor::kernel {

template <typename Write>
common::StatusCode SwitchDrives(canopen::ServiceContext& context, Write write) {
  const common::StatusCode written = write(context);
  if (written == common::kKernelSuccess) {
    return canopen::ArmAllNodeRecords(context, canopen::RecordArming::Arm, true);
  }
  static_cast<void>(canopen::ArmAllNodeRecords(context, canopen::RecordArming::Arm, false));
  return written;
}

}  // namespace vantor::kernel
