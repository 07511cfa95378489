// Dictionary values as the control endpoint writes and reads them:
// integers in decimal (or "0x" hexadecimal when written), visible strings
// as text, octet strings as hexadecimal bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/canopen/object_dictionary.h"

namespace vantor::host {

// The entry's value as text.
std::string FormatObjectValue(const sim::canopen::ObjectEntry& entry);

// The bytes that store `text` in `entry` (type, range and capacity
// checked); false with the reason in `error` otherwise.
bool ParseObjectValue(const sim::canopen::ObjectEntry& entry, std::string_view text,
                      std::vector<std::uint8_t>& bytes, std::string& error);

}  // namespace vantor::host
