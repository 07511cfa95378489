#pragma once

#include <cstdint>
#include <string_view>

namespace vantor::paramfile {

// The type of a line after binding, and the type of a schema row. The numbers
// are part of the file model: they index the type-name table whose names are
// written into comments ("(long)", "(double)", ...).
enum class ParameterType : std::uint32_t {
    Empty = 0,
    Comment = 1,
    Bool = 2,
    Byte = 3,
    Short = 4,
    Word = 5,
    Int = 6,
    Long = 7,
    Double = 8,
    String = 9,
    Group = 10,
    Error = 11,
    Value = 12,
    Eof = 13,
    UnknownValue = 14,
    RangeError = 15,
    SyntaxError = 16,
    LongArray = 17,
    ArrayElement = 18,
    ArraySize = 19,
    DoubleArray = 20,
};

inline constexpr std::uint32_t kParameterTypeCount = 21;

// Name of the type as written in comments; the double-array entry has no name.
constexpr std::string_view ParameterTypeName(ParameterType type) {
    constexpr std::string_view names[kParameterTypeCount] = {
        "EMPTY",   "COMMENT",  "bool",     "byte",      "short",     "word",   "int",
        "long",    "double",   "string",   "GROUP",     "ERROR",     "VALUE",  "EOF",
        "UKVALUE", "ERRCHECK", "ERRSYNTAX", "longarray", "avalue",   "arraysize", ""};
    const auto index = static_cast<std::uint32_t>(type);
    return index < kParameterTypeCount ? names[index] : std::string_view{};
}

// bool, the integer types, double and string: the types a bound value line can carry.
constexpr bool IsValueType(ParameterType type) {
    return type >= ParameterType::Bool && type <= ParameterType::String;
}

constexpr bool IsIntegerType(ParameterType type) {
    return type >= ParameterType::Byte && type <= ParameterType::Long;
}

constexpr bool IsArrayType(ParameterType type) {
    return type == ParameterType::LongArray || type == ParameterType::DoubleArray;
}

}  // namespace vantor::paramfile
