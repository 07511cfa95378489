#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "paramfile/parameter_type.h"

namespace vantor::paramfile {

// Names, keys, group names and keyword values compare exactly, case included.
constexpr bool TextEquals(std::string_view a, std::string_view b) { return a == b; }

// Removes leading and trailing blanks and line feeds; tabs and carriage
// returns are part of the text.
std::string_view TrimText(std::string_view text);

// One line taken apart. `type` is Empty, Comment, Group, Value, ArrayElement or Error.
struct ParsedLine {
    ParameterType type = ParameterType::Empty;
    std::string name;
    std::string value;
    std::string comment;
    std::int32_t index = 0;
};

// Classifies one line of text; gives nothing for a text longer than a line may be.
std::optional<ParsedLine> ParseParameterLine(std::string_view text);

// The format's integer syntax: "0x" hexadecimal (up to 32 bits, read as the
// two's-complement bit pattern, the way "0x%X" writes a negative value), "0b"
// binary (1 to 16 digits), otherwise an optional sign and decimal digits that
// must fit 32 bits. Nothing on a syntax error or an overflow.
std::optional<std::int32_t> ParseIntegerText(std::string_view text);
// The digits after "0b": 1 to 16 characters "0"/"1", most significant first.
std::optional<std::uint16_t> ParseBinaryText(std::string_view digits);
// Writes the 16 binary digits of a value, most significant first.
std::string FormatBinaryText(std::uint16_t value);

// Whether a value fits the width of an integer type (int and long take any 32-bit value).
bool FitsIntegerType(ParameterType type, std::int64_t value);

// The character rules of a floating-point text.
bool IsFloatText(std::string_view text);

enum class DoubleParse { Ok, Syntax, Overflow };
struct DoubleText {
    DoubleParse status;
    double value;
};
// Float check, then conversion in the C locale whatever the program's locale.
// A text that passes with no mantissa digit reads as 0; a magnitude beyond
// the double's range is an overflow, one below it reads as 0.
DoubleText ParseDoubleText(std::string_view text);

// Exactly "true" or "false".
std::optional<bool> ParseBoolText(std::string_view text);

}  // namespace vantor::paramfile
