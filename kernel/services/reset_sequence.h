// The reset's start-up sequence as a table of steps: each row runs always,
// only on the first reset after an initialisation (`resetPending` set) or
// only on a later one, and the first result other than success ends the
// list. The closing part runs in any case: it re-arms the global slot and
// the node records, and only a reset that got through everything gives the
// kernel the state words of a running machine.
#pragma once

#include <cstdint>
#include <span>

#include "common/status_code.h"
#include "kernel/core/canopen/held_positions.h"
#include "kernel/core/canopen/service_host.h"
#include "kernel/services/kernel_link.h"

namespace vantor::kernel {

// What a step works on: the kernel, and the node services over its slots.
struct ResetRun {
  Kernel& kernel;
  canopen::ServiceContext& context;
  // What a later reset keeps of the held nodes between its first step and
  // its last.
  canopen::HeldPositions held{};
};

using ResetStepFunction = common::StatusCode (*)(ResetRun& run);

enum class ResetStepRuns { Always, FirstReset, LaterReset };

struct ResetStep {
  std::uint32_t number;
  ResetStepRuns runs;
  ResetStepFunction run;
};

struct ResetClosing {
  // The global slot back to its synchronised start.
  ResetStepFunction armGlobalSlot;
  // Every node's answer record armed for the cyclic exchange.
  ResetStepFunction armNodeRecords;
};

// Runs `steps` in table order, each result written into the result word,
// then the closing part; a failed closing step makes the result
// kCycleNotRunning whatever came before. Returns the result word's final
// value. The caller holds the node mutexes and the reset mutex.
common::StatusCode RunResetSequence(ResetRun& run, std::span<const ResetStep> steps,
                                    const ResetClosing& closing);

}  // namespace vantor::kernel
