#include "paramfile/typed_access.h"

#include "paramfile/binding.h"
#include "paramfile/text_syntax.h"
#include "paramfile/value_format.h"

namespace vantor::paramfile {
namespace {

bool IsKeyLine(const ParameterLine& line) {
    return IsValueType(line.type) || line.type == ParameterType::ArraySize;
}

// Walks the lines with their current group and gives the first for which
// `match(line, group)` holds.
template <typename List, typename Match>
std::optional<std::size_t> FindLine(List& list, Match match) {
    std::string_view group;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const auto& line = list[i];
        if (line.type == ParameterType::Group) {
            group = line.name;
            continue;
        }
        if (match(line, group)) return i;
    }
    return std::nullopt;
}

bool GroupMatches(std::string_view wanted, std::string_view current, bool anyWhenEmpty) {
    return (anyWhenEmpty && wanted.empty()) || TextEquals(wanted, current);
}

std::optional<std::size_t> FindKeyLine(const ParameterList& list, std::string_view group,
                                       std::string_view key, bool anyWhenEmpty) {
    return FindLine(list, [&](const ParameterLine& line, std::string_view current) {
        return IsKeyLine(line) && GroupMatches(group, current, anyWhenEmpty) &&
               TextEquals(line.name, key);
    });
}

std::optional<std::size_t> FindElementLine(const ParameterList& list, std::string_view group,
                                           std::string_view key, std::int32_t index,
                                           bool anyWhenEmpty) {
    return FindLine(list, [&](const ParameterLine& line, std::string_view current) {
        return line.type == ParameterType::ArrayElement &&
               GroupMatches(group, current, anyWhenEmpty) && TextEquals(line.name, key) &&
               line.index == index;
    });
}

// A value text must read back as it was written: no comment mark, no line
// break, nothing that trimming would take away.
bool IsWritableValueText(std::string_view value) {
    if (value.find_first_of(std::string_view(";\r\n\0", 4)) != std::string_view::npos) {
        return false;
    }
    return TrimText(value).size() == value.size();
}

AccessResult ReplaceValue(ParameterLine& line, std::string_view value) {
    if (!IsWritableValueText(value)) return AccessResult::Unwritable;
    const auto text = FormatParameterLineWithValue(line, value);
    if (!text) return AccessResult::Unwritable;
    if (!TextEquals(line.value, value)) {
        line.value = value;
        line.modified = true;
    }
    line.raw = *text;
    return AccessResult::Ok;
}

template <typename T>
AccessResult GetInteger(const ParameterList& list, std::string_view group, std::string_view key,
                        ParameterType width, T& value) {
    std::string text;
    if (!GetParameterValue(list, group, key, text)) return AccessResult::Missing;
    const auto number = ParseIntegerText(text);
    if (!number) return AccessResult::BadSyntax;
    if (!FitsIntegerType(width, *number)) return AccessResult::OutOfRange;
    value = static_cast<T>(*number);
    return AccessResult::Ok;
}

AccessResult SetInteger(ParameterList& list, std::string_view group, std::string_view key,
                        std::int64_t value) {
    const auto* schema = GetParameterSchema(list);
    if (schema == nullptr) return AccessResult::NoSchema;
    const auto format = GetSchemaValueFormat(*schema, group, key);
    auto text = FormatIntegerValue(value, format && !format->empty() ? *format : "%d");
    if (!text) text = FormatIntegerValue(value, "%d");
    return SetParameterValue(list, group, key, *text);
}

}  // namespace

bool GetParameterValue(const ParameterList& list, std::string_view group, std::string_view key,
                       std::string& value, std::size_t* lineNumber) {
    const auto position = FindKeyLine(list, group, key, true);
    if (!position) return false;
    value = list[*position].value;
    if (lineNumber != nullptr) *lineNumber = *position + 1;
    return true;
}

AccessResult SetParameterValue(ParameterList& list, std::string_view group, std::string_view key,
                               std::string_view value) {
    const auto position = FindKeyLine(list, group, key, false);
    if (!position) return AccessResult::Missing;
    return ReplaceValue(list[*position], value);
}

bool GetParameterArrayValue(const ParameterList& list, std::string_view group,
                            std::string_view key, std::int32_t index, std::string& value) {
    const auto position = FindElementLine(list, group, key, index, true);
    if (!position) return false;
    value = list[*position].value;
    return true;
}

AccessResult SetParameterArrayValue(ParameterList& list, std::string_view group,
                                    std::string_view key, std::int32_t index,
                                    std::string_view value) {
    const auto position = FindElementLine(list, group, key, index, false);
    if (!position) return AccessResult::Missing;
    return ReplaceValue(list[*position], value);
}

std::optional<std::size_t> FindParameterLine(const ParameterList& list, std::string_view group,
                                             std::string_view key) {
    return FindLine(list, [&](const ParameterLine& line, std::string_view current) {
        return IsValueType(line.type) && GroupMatches(group, current, true) &&
               TextEquals(line.name, key);
    });
}

AccessResult GetParameterByte(const ParameterList& list, std::string_view group,
                              std::string_view key, std::uint8_t& value) {
    return GetInteger(list, group, key, ParameterType::Byte, value);
}

AccessResult GetParameterWord(const ParameterList& list, std::string_view group,
                              std::string_view key, std::uint16_t& value) {
    return GetInteger(list, group, key, ParameterType::Word, value);
}

AccessResult GetParameterShort(const ParameterList& list, std::string_view group,
                               std::string_view key, std::int16_t& value) {
    return GetInteger(list, group, key, ParameterType::Short, value);
}

AccessResult GetParameterInt(const ParameterList& list, std::string_view group,
                             std::string_view key, std::int32_t& value) {
    return GetInteger(list, group, key, ParameterType::Int, value);
}

AccessResult GetParameterLong(const ParameterList& list, std::string_view group,
                              std::string_view key, std::int32_t& value) {
    return GetInteger(list, group, key, ParameterType::Long, value);
}

AccessResult GetParameterDouble(const ParameterList& list, std::string_view group,
                                std::string_view key, double& value) {
    std::string text;
    if (!GetParameterValue(list, group, key, text)) return AccessResult::Missing;
    const auto number = ParseDoubleText(text);
    if (number.status == DoubleParse::Syntax) return AccessResult::BadSyntax;
    if (number.status == DoubleParse::Overflow) return AccessResult::OutOfRange;
    value = number.value;
    return AccessResult::Ok;
}

AccessResult GetParameterString(const ParameterList& list, std::string_view group,
                                std::string_view key, std::string& value) {
    return GetParameterValue(list, group, key, value) ? AccessResult::Ok : AccessResult::Missing;
}

AccessResult GetParameterBool(const ParameterList& list, std::string_view group,
                              std::string_view key, bool& value) {
    std::string text;
    if (!GetParameterValue(list, group, key, text)) return AccessResult::Missing;
    const auto flag = ParseBoolText(text);
    if (!flag) return AccessResult::BadSyntax;
    value = *flag;
    return AccessResult::Ok;
}

AccessResult GetParameterArrayLong(const ParameterList& list, std::string_view group,
                                   std::string_view key, std::int32_t index,
                                   std::int32_t& value) {
    std::string text;
    if (!GetParameterArrayValue(list, group, key, index, text)) return AccessResult::Missing;
    const auto number = ParseIntegerText(text);
    if (!number) return AccessResult::BadSyntax;
    value = *number;
    return AccessResult::Ok;
}

AccessResult SetParameterByte(ParameterList& list, std::string_view group, std::string_view key,
                              std::uint8_t value) {
    return SetInteger(list, group, key, value);
}

AccessResult SetParameterWord(ParameterList& list, std::string_view group, std::string_view key,
                              std::uint16_t value) {
    return SetInteger(list, group, key, value);
}

AccessResult SetParameterShort(ParameterList& list, std::string_view group, std::string_view key,
                               std::int16_t value) {
    return SetInteger(list, group, key, value);
}

AccessResult SetParameterLong(ParameterList& list, std::string_view group, std::string_view key,
                              std::int32_t value) {
    return SetInteger(list, group, key, value);
}

AccessResult SetParameterDouble(ParameterList& list, std::string_view group, std::string_view key,
                                double value) {
    const auto* schema = GetParameterSchema(list);
    if (schema == nullptr) return AccessResult::NoSchema;
    const auto format = GetSchemaValueFormat(*schema, group, key);
    auto text = FormatDoubleValue(value, format && !format->empty() ? *format : "%f");
    if (!text) text = FormatDoubleValue(value, "%f");
    if (!text) return AccessResult::Unwritable;
    const auto position = FindKeyLine(list, group, key, false);
    if (!position) return AccessResult::Missing;
    // A very large value under a fixed-point format would not fit into a line;
    // the shortest exact form does.
    if (!FormatParameterLineWithValue(list[*position], *text)) {
        text = FormatDoubleShortest(value);
    }
    return ReplaceValue(list[*position], *text);
}

AccessResult SetParameterString(ParameterList& list, std::string_view group,
                                std::string_view key, std::string_view value) {
    return SetParameterValue(list, group, key, value);
}

AccessResult SetParameterBool(ParameterList& list, std::string_view group, std::string_view key,
                              bool value) {
    return SetParameterValue(list, group, key, value ? "true" : "false");
}

AccessResult SetParameterArrayLong(ParameterList& list, std::string_view group,
                                   std::string_view key, std::int32_t index, std::int32_t value) {
    return SetParameterArrayValue(list, group, key, index, std::to_string(value));
}

}  // namespace vantor::paramfile
