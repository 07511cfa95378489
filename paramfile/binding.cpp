#include "paramfile/binding.h"

#include <limits>

#include "paramfile/text_syntax.h"
#include "paramfile/typed_access.h"

namespace vantor::paramfile {
namespace {

ParameterType ClassifyInteger(const ParameterSchemaEntry& row, std::string_view value) {
    const auto number = ParseIntegerText(value);
    if (!number) return ParameterType::SyntaxError;
    if (!IsLongInRange(row.integerMinimum, row.integerMaximum, *number) ||
        !FitsIntegerType(row.type, *number)) {
        return ParameterType::RangeError;
    }
    return row.type;
}

ParameterType ClassifyDouble(const ParameterSchemaEntry& row, std::string_view value) {
    const auto number = ParseDoubleText(value);
    if (number.status == DoubleParse::Syntax) return ParameterType::SyntaxError;
    if (number.status == DoubleParse::Overflow ||
        !IsDoubleInRange(row.doubleMinimum, row.doubleMaximum, number.value)) {
        return ParameterType::RangeError;
    }
    return row.type;
}

ParameterType ClassifyArraySize(std::string_view value) {
    const auto size = ParseIntegerText(value);
    if (!size) return ParameterType::SyntaxError;
    return *size >= 1 ? ParameterType::ArraySize : ParameterType::RangeError;
}

std::string Format(const char* pattern, std::size_t line, std::string_view group,
                   std::string_view key) {
    std::string text = "Zeile " + std::to_string(line) + pattern;
    text += group;
    text += ", ";
    text += key;
    text += '\n';
    return text;
}

}  // namespace

ParameterType ClassifyParameterValue(const ParameterSchema* schema, std::string_view group,
                                     std::string_view key, std::string_view value) {
    if (schema == nullptr) return ParameterType::Error;
    const auto rowIndex = FindSchemaRow(*schema, group, key);
    if (!rowIndex) return ParameterType::UnknownValue;
    const auto& row = schema->rows[*rowIndex];
    switch (row.type) {
        case ParameterType::Double:
            return ClassifyDouble(row, value);
        case ParameterType::Bool:
            return ParseBoolText(value) ? row.type : ParameterType::SyntaxError;
        case ParameterType::String:
            return row.type;
        case ParameterType::LongArray:
        case ParameterType::DoubleArray:
            return ClassifyArraySize(value);
        default:
            return IsIntegerType(row.type) ? ClassifyInteger(row, value) : ParameterType::Error;
    }
}

bool BindParameterLines(const ParameterSchema* schema, ParameterList& list) {
    if (schema == nullptr) return false;
    std::string group;
    for (auto& line : list.lines()) {
        auto parsed = ParseParameterLine(line.raw);
        if (!parsed) {
            line.type = ParameterType::Error;
            continue;
        }
        line.raw = TrimText(line.raw);
        line.name = std::move(parsed->name);
        line.value = std::move(parsed->value);
        line.comment = std::move(parsed->comment);
        line.index = parsed->index;
        line.type = parsed->type;
        line.group.clear();
        if (line.type == ParameterType::Group) {
            group = line.name;
        } else if (line.type == ParameterType::Value) {
            line.type = ClassifyParameterValue(schema, group, line.name, line.value);
            line.group = group;
        } else if (line.type == ParameterType::ArrayElement) {
            // Element lines belong to their group too, so that element access by group works.
            line.group = group;
        }
    }
    return true;
}

SchemaKind DetectParameterFileType(const ParameterList& list) {
    std::string value;
    if (!GetParameterValue(list, "Version", "ID", value)) return SchemaKind::None;
    const auto id = TrimText(value);
    if (TextEquals(id, kInitialisationFileIdentifier)) return SchemaKind::InitialisationFile;
    if (TextEquals(id, kMachineCorrectionIdentifier)) return SchemaKind::MachineCorrection;
    if (TextEquals(id, kMachineCorrectionDIdentifier)) return SchemaKind::MachineCorrectionD;
    return SchemaKind::None;
}

const ParameterSchema* GetParameterSchema(const ParameterList& list) {
    return SchemaForKind(DetectParameterFileType(list), list.edition());
}

CheckResult CheckParameterFile(const ParameterList& list) {
    std::string group;
    std::size_t number = 0;
    for (const auto& line : list.lines()) {
        ++number;
        const char* pattern = nullptr;
        switch (line.type) {
            case ParameterType::Group: group = line.name; continue;
            case ParameterType::SyntaxError: pattern = ": Syntaxerror in Variable "; break;
            case ParameterType::RangeError: pattern = ": Bereichueberschreitung der Variablen "; break;
            case ParameterType::Error: pattern = ": Allgemeiner Fehler der Variablen "; break;
            default: continue;
        }
        return {true, number, Format(pattern, number, group, line.name)};
    }
    return {false, 0, "Kein Fehler gefunden."};
}

}  // namespace vantor::paramfile
