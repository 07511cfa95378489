#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantor::paramfile {

// Writes values the way the schema's print formats ("%d", "0x%X", "%b",
// "%0.1f", "%f", "%e", "%0.16e", ...) ask, always in the C locale. A format
// that is not understood gives nothing, so callers fall back to "%d" or "%f".

std::optional<std::string> FormatIntegerValue(std::int64_t value, std::string_view format);

// A double under an integer format ("%d") is written as a whole number. The
// text always reads back through the float check; non-finite values give nothing.
std::optional<std::string> FormatDoubleValue(double value, std::string_view format);

// The shortest text that reads back as the same double.
std::string FormatDoubleShortest(double value);

}  // namespace vantor::paramfile
