// PENDING: placeholders until the process-data layout services land; they
// map nothing and answer success.
#include "kernel/core/canopen/pdo_layout.h"

namespace vantor::canopen {

common::StatusCode MapControlwordRpdo(ServiceContext&, std::uint16_t) noexcept {
  return common::kKernelSuccess;
}

common::StatusCode MapSetpointRpdo(ServiceContext&, std::uint16_t) noexcept {
  return common::kKernelSuccess;
}

}  // namespace vantor::canopen
