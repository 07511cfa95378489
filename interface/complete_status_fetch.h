// Fetching the complete status from the kernel (command 24): the path that
// the status exports and the diagnosis share.
#pragma once

#include "common/complete_status_record.h"
#include "common/status_code.h"
#include "interface/status_evaluation.h"

namespace vantor::interface {

struct FetchedStatus {
  common::CompleteStatusRecord record;
  // The channel's counts, read with the answer; known only when the
  // channel was taken (the request was sent).
  StatusCounts counts;
  bool countsKnown = false;
};

// Asks the kernel for its complete status and writes the library's own
// version text into the record's last field. 0x09140000 on success; else
// the channel's or the kernel's result unchanged (0xC913000A without CNC
// mode in the kernel), the record then being all zeros.
common::StatusCode FetchCompleteStatus(FetchedStatus& fetched);

// Without a channel or without CNC mode in the kernel the status exports
// report an uninitialised controller instead of a failure.
constexpr bool IsUninitialisedResult(common::StatusCode result) {
  return result == common::kLibraryNotInitialized || result == common::kKernelCncNotInitialized;
}

}  // namespace vantor::interface
