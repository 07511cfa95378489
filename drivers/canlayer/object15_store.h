// Record 15's two-frame store: what object 15 delivered since the request
// was taken over, the two newest frames kept and a loss reported.
#pragma once

#include "common/exchange_buffer.h"
#include "drivers/canlayer/controller_82527.h"

namespace vantor::canlayer {

// Adds what one read of object 15 brought to the store in `record`; a
// read that brings nothing leaves it as it is, so frames collected earlier
// in the same exchange are never lost.
void MergeIntoObject15Store(common::MessageRecordView record, const Object15Read& read) noexcept;

// Writes one read of object 15 into `record` as it stands (single receive).
void WriteObject15Read(common::MessageRecordView record, const Object15Read& read) noexcept;

}  // namespace vantor::canlayer
