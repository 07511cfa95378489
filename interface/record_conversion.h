// Between the records of the C interface (natural layout, with pointers)
// and the library's own forms of them.
#pragma once

#include <cstdint>
#include <optional>

#include "common/status_code.h"
#include "interface/include/linkora.h"
#include "interface/init_records.h"

namespace vantor::interface {

// The CAN initialisation record in any of its three sizes; the shorter
// forms get the defaults of the older interface. 0xC914000E for another
// size, 0xC9140006 for a record without hardware parameters.
common::StatusCode CanSettingsFromRecord(const LinkoraCanInitRecord* record, std::uint32_t size,
                                         CanInitSettings& settings);

// The fixed part and the lists the record points to. 0xC9140006 when a
// count is out of range or a list with entries is missing.
common::StatusCode CncImageFromRecord(const LinkoraCncInitRecord& record, CncInitImage& image);

void CopyHardwareParameters(const common::CanHardwareParameters& from,
                            LinkoraCanHardwareParameters& to);

}  // namespace vantor::interface
