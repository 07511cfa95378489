// SDO transfers on one axis index of a set of nodes at once: every masked
// node that has the axis points its slot at that axis, all run together,
// and the caller's mask comes back holding the nodes whose transfer went
// through. The nodes' own SDO identifiers are back on every way out.
#pragma once

#include <cstdint>

#include "common/status_code.h"
#include "kernel/core/canopen/node_services.h"

namespace vantor::canopen {

// Downloads to axis `axis` (-1: the nodes themselves) of the nodes in
// `mask`. With `sameRecord` every node takes `records[0]`, else its own
// entry. With `mark` a failing node loses its run enable. An empty mask
// succeeds at once. kKernelSuccess, kKernelOperationFailed or
// kCycleNotRunning (the mask then empty).
common::StatusCode SdoDownloadToMaskedAxis(ServiceContext& context, bool mark, bool sameRecord,
                                           std::int32_t axis, NodeMask& mask,
                                           const SdoRecords& records) noexcept;

// The upload counterpart: each node's answer lands in its own entry of
// `records` (1 in the value when the object does not exist); with
// `sameRecord` the request is taken from `records[0]`.
common::StatusCode SdoUploadFromMaskedAxis(ServiceContext& context, bool sameRecord,
                                           std::int32_t axis, NodeMask& mask,
                                           SdoRecords& records) noexcept;

// The nodes of `mask` whose slot's last transfer went through.
NodeMask SucceededNodes(ServiceContext& context, NodeMask mask) noexcept;

}  // namespace vantor::canopen
