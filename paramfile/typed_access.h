#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "paramfile/parameter_line.h"

namespace vantor::paramfile {

// Why a typed access failed. Getters leave their output alone unless the result is Ok.
enum class AccessResult {
    Ok,
    Missing,      // no bound line of that key (in that group)
    BadSyntax,    // the value text does not read as the type
    OutOfRange,   // the value does not fit the type's width
    NoSchema,     // the list has no known `ID` (setters need the schema)
    Unwritable,   // the value cannot be written: it holds ';', CR, LF or NUL, starts
                  // or ends with a blank, is not finite, or does not fit into a line
};

// Value text of the first bound value or array-size line of the key; an empty
// group finds the key in any group. `lineNumber` is 1-based.
bool GetParameterValue(const ParameterList& list, std::string_view group, std::string_view key,
                       std::string& value, std::size_t* lineNumber = nullptr);
// Replaces the value of the first bound value or array-size line of the key in
// exactly that group; the line's text is rewritten in canonical form and marked
// modified when the value changes.
AccessResult SetParameterValue(ParameterList& list, std::string_view group, std::string_view key,
                               std::string_view value);

bool GetParameterArrayValue(const ParameterList& list, std::string_view group,
                            std::string_view key, std::int32_t index, std::string& value);
AccessResult SetParameterArrayValue(ParameterList& list, std::string_view group,
                                    std::string_view key, std::int32_t index,
                                    std::string_view value);

// Position of the first bound value line of the key; an empty group finds any group.
std::optional<std::size_t> FindParameterLine(const ParameterList& list, std::string_view group,
                                             std::string_view key);

AccessResult GetParameterByte(const ParameterList& list, std::string_view group,
                              std::string_view key, std::uint8_t& value);
AccessResult GetParameterWord(const ParameterList& list, std::string_view group,
                              std::string_view key, std::uint16_t& value);
AccessResult GetParameterShort(const ParameterList& list, std::string_view group,
                               std::string_view key, std::int16_t& value);
AccessResult GetParameterInt(const ParameterList& list, std::string_view group,
                             std::string_view key, std::int32_t& value);
AccessResult GetParameterLong(const ParameterList& list, std::string_view group,
                              std::string_view key, std::int32_t& value);
AccessResult GetParameterDouble(const ParameterList& list, std::string_view group,
                                std::string_view key, double& value);
AccessResult GetParameterString(const ParameterList& list, std::string_view group,
                                std::string_view key, std::string& value);
AccessResult GetParameterBool(const ParameterList& list, std::string_view group,
                              std::string_view key, bool& value);
AccessResult GetParameterArrayLong(const ParameterList& list, std::string_view group,
                                   std::string_view key, std::int32_t index, std::int32_t& value);

// The numeric setters write with the key's print format from the list's schema.
AccessResult SetParameterByte(ParameterList& list, std::string_view group, std::string_view key,
                              std::uint8_t value);
AccessResult SetParameterWord(ParameterList& list, std::string_view group, std::string_view key,
                              std::uint16_t value);
AccessResult SetParameterShort(ParameterList& list, std::string_view group, std::string_view key,
                               std::int16_t value);
AccessResult SetParameterLong(ParameterList& list, std::string_view group, std::string_view key,
                              std::int32_t value);
AccessResult SetParameterDouble(ParameterList& list, std::string_view group, std::string_view key,
                                double value);
AccessResult SetParameterString(ParameterList& list, std::string_view group,
                                std::string_view key, std::string_view value);
AccessResult SetParameterBool(ParameterList& list, std::string_view group, std::string_view key,
                              bool value);
AccessResult SetParameterArrayLong(ParameterList& list, std::string_view group,
                                   std::string_view key, std::int32_t index, std::int32_t value);

}  // namespace vantor::paramfile
