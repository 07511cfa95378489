// What the first reset after an initialisation learns of the drives' maker
// objects: each probe reads one object on every node and its axes and sets
// the node flags that the motion, homing and input services read later.
// Later resets keep the flags and skip the probes (the reset decides).
//
// Nodes are taken in table order; with no nodes every probe succeeds.
#pragma once

#include "common/status_code.h"
#include "kernel/core/canopen/node_services.h"

namespace vantor::canopen {

// The run-enable object 0x2047: a node's flag stays set only when its drives
// have sub 0 and lack sub 1. A failed read ends the probe with its result.
common::StatusCode ReadMakerObject2047Support(ServiceContext& context) noexcept;

// The A/D conversion object 0x2055 sub 1: a node whose drive and axes all
// have it is A/D capable. A missing object is no failure; any other failed
// read makes the probe answer kKernelOperationFailed after all nodes.
common::StatusCode ReadAnalogueSupport(ServiceContext& context) noexcept;

// The home shift object 0x2056 sub 1 on node and axes: the node's
// home-shift flag. A failed read ends the probe with its result.
common::StatusCode ReadHomeShiftSupport(ServiceContext& context) noexcept;

// The gantry homing objects 0x6510 sub 20 and 21 and 0x2043 sub 14 of
// node and axes: the gantry PDO homing flag and the gantry wait flags. A
// drive that answers values the pair cannot home with gets
// kKernelNodeParameterInvalid as its result and the probe answers
// kKernelOperationFailed.
common::StatusCode ReadGantryHomingObjects(ServiceContext& context) noexcept;

// The stop-on-input object 0x205C sub 1: the table's capability flag stays
// set only when every node and axis has it. A failed read clears it and is
// the answer; a missing object clears it and answers success.
common::StatusCode CheckStopOnInputCapability(ServiceContext& context) noexcept;

// The input port mode 0x6510 sub 18 of all nodes at once: the value 1 sets
// the input-4 capability. A missing object leaves it clear; any other
// failed read makes the probe answer kKernelOperationFailed, the other
// nodes still being evaluated.
common::StatusCode ReadInputCapabilities(ServiceContext& context) noexcept;

}  // namespace vantor::canopen
