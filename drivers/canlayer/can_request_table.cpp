#include "common/driver_requests.h"
#include "drivers/canlayer/can_front_end.h"

namespace vantor::canlayer {

std::vector<devhost::RequestSpec> CanRequestTable(CanDriverRole role) {
  std::vector<devhost::RequestSpec> table;
  for (const common::DriverRequest& request : common::kDriverRequests) {
    if (request.servedBy == common::RequestServedBy::ChannelOneDriver &&
        role != CanDriverRole::kChannelOne) {
      continue;
    }
    table.push_back({request.controlCode, request.inputLength, request.outputLength,
                     request.internalOnly ? devhost::RequestCallers::kKernelOnly
                                          : devhost::RequestCallers::kAny});
  }
  return table;
}

}  // namespace vantor::canlayer
