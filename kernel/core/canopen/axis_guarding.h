// Node guarding of the further axes: their guarding objects live in the
// CAN object list under the axis's guarding identifier (0x700 + its node
// id) like every other object. The caller holds the kernel data and object
// list locks.
#pragma once

#include "common/status_code.h"
#include "kernel/core/canopen/can_object_list.h"
#include "kernel/core/canopen/node_object.h"

namespace vantor::canopen {

// Every guarded axis's guarding object becomes active and starts afresh:
// no failures, in order, the state byte waiting for the first toggle.
common::StatusCode StartGuardingOnAxes(const NodeTable& nodes, CanObjectList& list) noexcept;

// The result of the node's first guarded axis (in axis order) whose
// guarding has failed, else kKernelSuccess.
common::StatusCode FirstAxisError(const NodeObject& node, const CanObjectList& list) noexcept;

}  // namespace vantor::canopen
