#include "paramfile/defaults.h"

#include <set>
#include <utility>

#include "paramfile/binding.h"
#include "paramfile/text_syntax.h"
#include "paramfile/typed_access.h"
#include "paramfile/value_format.h"

namespace vantor::paramfile {
namespace {

constexpr std::int32_t kMaxArrayElements = 100000;

std::string RowValueText(const ParameterSchemaEntry& row) {
    switch (row.type) {
        case ParameterType::Bool:
            return row.boolDefault ? "true" : "false";
        case ParameterType::String:
            return std::string(row.defaultText);
        case ParameterType::Double:
            return FormatDoubleValue(row.doubleDefault, row.printFormat)
                .value_or(FormatDoubleShortest(row.doubleDefault));
        default:
            return FormatIntegerValue(row.integerDefault, row.printFormat)
                .value_or(std::to_string(row.integerDefault));
    }
}

std::string RowTypeComment(const ParameterSchemaEntry& row) {
    std::string comment = "(";
    comment += ParameterTypeName(row.type);
    comment += ")";
    if (!row.comment.empty()) {
        comment += ' ';
        comment += row.comment;
    }
    return comment;
}

// A key line made from its parts, in canonical form.
ParameterLine KeyLine(std::string_view key, std::string_view value, std::string_view comment) {
    ParameterLine line;
    line.type = ParameterType::Value;
    line.name = key;
    line.value = value;
    line.comment = comment;
    line.raw = FormatParameterLineWithValue(line, value).value_or(std::string{});
    line.modified = true;
    return line;
}

// Array lines keep the compact layout the template has always had: "key[1] = 0; (long)".
ParameterLine ElementLine(std::string_view key, std::int32_t number, std::string_view value,
                          std::string_view comment) {
    ParameterLine line;
    line.type = ParameterType::ArrayElement;
    line.name = key;
    line.index = number;
    line.value = value;
    line.comment = comment;
    line.raw = std::string(key) + "[" + std::to_string(number) + "] = " + std::string(value) +
               "; " + std::string(comment);
    return line;
}

ParameterLine SizeLine(std::string_view key, std::int32_t count, std::string_view comment) {
    ParameterLine line;
    line.type = ParameterType::ArraySize;
    line.name = std::string(key) + "Size";
    line.value = std::to_string(count);
    line.comment = comment;
    line.raw = line.name + " = " + line.value + "; " + std::string(comment);
    line.modified = true;
    return line;
}

bool IsPresentKeyLine(const ParameterLine& line) {
    return IsValueType(line.type) || line.type == ParameterType::SyntaxError ||
           line.type == ParameterType::RangeError;
}

// Every key that stands in the list, faulty ones included, with its group.
std::set<std::pair<std::string, std::string>> PresentKeys(const ParameterList& list) {
    std::set<std::pair<std::string, std::string>> keys;
    std::string_view current;
    for (const auto& line : list.lines()) {
        if (line.type == ParameterType::Group) current = line.name;
        else if (IsPresentKeyLine(line)) keys.emplace(current, line.name);
    }
    return keys;
}

// Binds one line inserted into an already bound list, with the group it now
// stands in: the same result as binding the whole list again, without the cost.
void BindInsertedLine(const ParameterSchema& schema, std::string_view group,
                      ParameterLine& line) {
    ParameterList single(schema.edition);
    single.Append(MakeParameterLine(group.empty() ? std::string{} : "[" + std::string(group) + "]",
                                    false));
    single.Append(std::move(line));
    BindParameterLines(&schema, single);
    line = std::move(single[1]);
}

}  // namespace

ParameterLine MakeSchemaLine(const ParameterSchema& schema, std::size_t rowIndex,
                             bool withComments) {
    const auto& row = schema.rows[rowIndex];
    switch (row.type) {
        case ParameterType::Comment: {
            ParameterLine line = MakeParameterLine({}, true);
            if (!withComments) return line;
            line.type = ParameterType::Comment;
            line.comment = row.comment;
            line.raw = FormatParameterLine(line);
            return line;
        }
        case ParameterType::Group: {
            ParameterLine line = MakeParameterLine({}, true);
            line.type = ParameterType::Group;
            line.name = row.key;
            if (withComments) line.comment = row.comment;
            line.raw = FormatParameterLine(line);
            return line;
        }
        default:
            break;
    }
    if (!IsValueType(row.type)) return MakeParameterLine({}, true);
    return KeyLine(row.key, RowValueText(row), withComments ? RowTypeComment(row) : std::string{});
}

ParameterList CreateDefaultParameterList(const ParameterSchema& schema, bool withComments) {
    ParameterList list(schema.edition);
    for (std::size_t i = 0; i < schema.rows.size(); ++i) {
        const auto& row = schema.rows[i];
        if (IsArrayType(row.type)) {
            std::string comment = "(long array)";
            if (withComments && !row.comment.empty()) comment += " " + std::string(row.comment);
            list.Append(SizeLine(row.key, row.arraySize, comment));
            for (std::int32_t n = 1; n <= row.arraySize; ++n) {
                const bool isLong = row.type == ParameterType::LongArray;
                const auto value = isLong ? std::to_string(row.integerDefault)
                                          : *FormatDoubleValue(row.doubleDefault, "%f");
                list.Append(ElementLine(row.key, n, value, isLong ? "(long)" : "(double)"));
            }
        } else {
            list.Append(MakeSchemaLine(schema, i, withComments));
        }
        if (row.type == ParameterType::Eof) break;
    }
    BindParameterLines(&schema, list);
    SetParameterListModified(list, false);
    return list;
}

std::optional<GroupInsertPoint> FindGroupInsertPoint(const ParameterList& list,
                                                     std::string_view group) {
    if (list.empty()) return std::nullopt;
    std::optional<std::size_t> header;
    std::optional<std::size_t> lastKey;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const auto& line = list[i];
        if (line.type == ParameterType::Group) {
            if (header) break;
            if (TextEquals(line.name, group)) header = i;
            continue;
        }
        if (header && IsPresentKeyLine(line)) lastKey = i;
    }
    if (!header) return GroupInsertPoint{list.size() - 1, false};
    return GroupInsertPoint{lastKey.value_or(*header), true};
}

CompletionResult AddMissingParameters(ParameterList& list) {
    CompletionResult result;
    const auto* schema = GetParameterSchema(list);
    if (schema == nullptr) return result;
    auto present = PresentKeys(list);
    std::string_view group;
    std::size_t groupRow = 0;
    for (std::size_t i = 0; i < schema->rows.size(); ++i) {
        const auto& row = schema->rows[i];
        if (row.type == ParameterType::Eof) break;
        if (row.type == ParameterType::Group) {
            group = row.key;
            groupRow = i;
            continue;
        }
        if (!IsValueType(row.type) ||
            !present.emplace(std::string(group), std::string(row.key)).second) {
            continue;
        }
        const auto point = FindGroupInsertPoint(list, group);
        if (!point) return result;
        auto position = point->position;
        if (!point->groupExists) {
            position =
                list.InsertParameterLineAfter(position, MakeSchemaLine(*schema, groupRow, true));
            BindInsertedLine(*schema, group, list[position]);
            result.notices.emplace_back("Gruppe und Variable wurde hinzugefügt");
        } else {
            result.notices.emplace_back("Variable wurde hinzugefügt");
        }
        const auto inserted =
            list.InsertParameterLineAfter(position, MakeSchemaLine(*schema, i, true));
        BindInsertedLine(*schema, group, list[inserted]);
        result.added = true;
    }
    result.ok = true;
    return result;
}

std::optional<std::vector<ParameterLine>> MakeParameterArrayLines(std::string_view key,
                                                                  std::int32_t count,
                                                                  ParameterType arrayType) {
    if (!IsArrayType(arrayType) || count < 1 || count > kMaxArrayElements) return std::nullopt;
    std::vector<ParameterLine> lines;
    lines.reserve(static_cast<std::size_t>(count) + 1);
    lines.push_back(SizeLine(key, count, "(long array)"));
    const bool isLong = arrayType == ParameterType::LongArray;
    for (std::int32_t n = 1; n <= count; ++n) {
        lines.push_back(ElementLine(key, n, isLong ? "0" : "0.000000", isLong ? "(long)" : "(double)"));
    }
    for (std::size_t i = 1; i < lines.size(); ++i) lines[i].modified = false;
    return lines;
}

bool ResizeParameterArray(ParameterList& list, std::string_view group, std::string_view key,
                          std::int32_t count, ParameterType arrayType) {
    const std::string sizeKey = std::string(key) + "Size";
    std::optional<std::size_t> sizeLine;
    std::string_view current;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const auto& line = list[i];
        if (line.type == ParameterType::Group) current = line.name;
        else if (line.type == ParameterType::ArraySize && TextEquals(current, group) &&
                 TextEquals(line.name, sizeKey)) {
            sizeLine = i;
            break;
        }
    }
    if (!sizeLine || *sizeLine == 0) return false;
    auto block = MakeParameterArrayLines(key, count, arrayType);
    if (!block) return false;
    auto end = *sizeLine + 1;
    while (end < list.size() && TextEquals(list[end].name, key)) ++end;
    auto& lines = list.lines();
    const auto first = lines.begin() + static_cast<std::ptrdiff_t>(*sizeLine);
    lines.erase(first, lines.begin() + static_cast<std::ptrdiff_t>(end));
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(*sizeLine),
                 std::make_move_iterator(block->begin()), std::make_move_iterator(block->end()));
    for (std::size_t i = *sizeLine; i < *sizeLine + block->size(); ++i) lines[i].group = group;
    return true;
}

}  // namespace vantor::paramfile
