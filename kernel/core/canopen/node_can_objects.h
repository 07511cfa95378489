// The CAN objects that belong to the configured nodes: their guarding
// objects, which live in the list like every other object.
#pragma once

#include "kernel/core/canopen/can_object_list.h"
#include "kernel/core/canopen/node_object.h"

namespace vantor::canopen {

// Takes the guarding objects of every guarded node and every guarded axis
// out of the list, before the nodes themselves go. The caller holds the
// kernel data and object list locks.
void DropNodeCanObjects(CanObjectList& list, const NodeTable& nodes) noexcept;

}  // namespace vantor::canopen
