#include "paramfile/schema.h"

#include <vector>

#include "paramfile/schema_tables.h"
#include "paramfile/text_syntax.h"

namespace vantor::paramfile {
namespace {

std::span<const ParameterSchemaEntry> ConfigurationTable(SchemaKind kind) {
    switch (kind) {
        case SchemaKind::InitialisationFile: return detail::kInitialisationFileTable;
        case SchemaKind::MachineCorrection: return detail::kMachineCorrectionTable;
        case SchemaKind::MachineCorrectionD: return detail::kMachineCorrectionDTable;
        case SchemaKind::None: break;
    }
    return {};
}

// The interface library's copy: the configuration program's rows with the few
// differences applied. Built once, on first use, and never changed afterwards.
std::vector<ParameterSchemaEntry> InterfaceLibraryRows(SchemaKind kind) {
    const auto table = ConfigurationTable(kind);
    std::vector<ParameterSchemaEntry> rows(table.begin(), table.end());
    for (const auto& change : detail::kInterfaceLibraryOverrides) {
        if (change.kind != kind || change.row >= rows.size()) continue;
        if (change.replacesDefaultText) {
            rows[change.row].defaultText = change.defaultText;
        } else {
            rows[change.row].doubleMinimum = change.doubleMinimum;
            rows[change.row].doubleMaximum = change.doubleMaximum;
        }
    }
    return rows;
}

const ParameterSchema& Schema(SchemaKind kind, SchemaEdition edition) {
    if (edition == SchemaEdition::ConfigurationProgram) {
        static const ParameterSchema initialisation{SchemaKind::InitialisationFile, edition,
                                                    detail::kInitialisationFileTable};
        static const ParameterSchema correction{SchemaKind::MachineCorrection, edition,
                                                detail::kMachineCorrectionTable};
        static const ParameterSchema correctionD{SchemaKind::MachineCorrectionD, edition,
                                                 detail::kMachineCorrectionDTable};
        return kind == SchemaKind::InitialisationFile ? initialisation
               : kind == SchemaKind::MachineCorrection ? correction
                                                       : correctionD;
    }
    static const std::vector<ParameterSchemaEntry> initialisationRows =
        InterfaceLibraryRows(SchemaKind::InitialisationFile);
    static const std::vector<ParameterSchemaEntry> correctionRows =
        InterfaceLibraryRows(SchemaKind::MachineCorrection);
    static const std::vector<ParameterSchemaEntry> correctionDRows =
        InterfaceLibraryRows(SchemaKind::MachineCorrectionD);
    static const ParameterSchema initialisation{SchemaKind::InitialisationFile, edition,
                                                initialisationRows};
    static const ParameterSchema correction{SchemaKind::MachineCorrection, edition,
                                            correctionRows};
    static const ParameterSchema correctionD{SchemaKind::MachineCorrectionD, edition,
                                             correctionDRows};
    return kind == SchemaKind::InitialisationFile ? initialisation
           : kind == SchemaKind::MachineCorrection ? correction
                                                   : correctionD;
}

// Walks the rows up to the end row, calling `match(row, group)` for every row;
// gives the first row for which it is true.
template <typename Match>
std::optional<std::size_t> FindRow(const ParameterSchema& schema, Match match) {
    std::string_view group;
    for (std::size_t i = 0; i < schema.rows.size(); ++i) {
        const auto& row = schema.rows[i];
        if (row.type == ParameterType::Eof) break;
        if (row.type == ParameterType::Group) {
            group = row.key;
            continue;
        }
        if (match(row, group)) return i;
    }
    return std::nullopt;
}

bool IsArraySizeKey(const ParameterSchemaEntry& row, std::string_view key) {
    constexpr std::string_view suffix = "Size";
    return key.size() == row.key.size() + suffix.size() && key.starts_with(row.key) &&
           key.ends_with(suffix);
}

std::optional<std::size_t> FindValueRow(const ParameterSchema& schema, std::string_view group,
                                        std::string_view key, bool anyGroupWhenEmpty) {
    return FindRow(schema, [&](const ParameterSchemaEntry& row, std::string_view rowGroup) {
        return IsValueType(row.type) && (TextEquals(rowGroup, group) ||
                                         (anyGroupWhenEmpty && group.empty())) &&
               TextEquals(row.key, key);
    });
}

}  // namespace

const ParameterSchema& InitialisationFileSchema(SchemaEdition edition) {
    return Schema(SchemaKind::InitialisationFile, edition);
}

const ParameterSchema& MachineCorrectionSchema(SchemaEdition edition) {
    return Schema(SchemaKind::MachineCorrection, edition);
}

const ParameterSchema& MachineCorrectionDSchema(SchemaEdition edition) {
    return Schema(SchemaKind::MachineCorrectionD, edition);
}

const ParameterSchema* SchemaForKind(SchemaKind kind, SchemaEdition edition) {
    if (kind == SchemaKind::None) return nullptr;
    return &Schema(kind, edition);
}

std::optional<std::size_t> FindSchemaRow(const ParameterSchema& schema, std::string_view group,
                                         std::string_view key) {
    return FindRow(schema, [&](const ParameterSchemaEntry& row, std::string_view rowGroup) {
        if (!TextEquals(rowGroup, group)) return false;
        if (IsValueType(row.type)) return TextEquals(row.key, key);
        return IsArrayType(row.type) && IsArraySizeKey(row, key);
    });
}

std::optional<ParameterType> GetSchemaValueType(const ParameterSchema& schema,
                                                std::string_view group, std::string_view key) {
    const auto row = FindValueRow(schema, group, key, false);
    if (!row) return std::nullopt;
    return schema.rows[*row].type;
}

std::optional<std::string_view> GetSchemaValueFormat(const ParameterSchema& schema,
                                                     std::string_view group,
                                                     std::string_view key) {
    const auto row = FindValueRow(schema, group, key, true);
    if (!row) return std::nullopt;
    return schema.rows[*row].printFormat;
}

std::optional<ValueRange<std::int32_t>> GetSchemaLongRange(const ParameterSchema& schema,
                                                           std::string_view group,
                                                           std::string_view key) {
    const auto row = FindSchemaRow(schema, group, key);
    if (!row) return std::nullopt;
    const auto& entry = schema.rows[*row];
    return ValueRange<std::int32_t>{entry.integerMaximum >= entry.integerMinimum,
                                    entry.integerMinimum, entry.integerMaximum};
}

std::optional<ValueRange<double>> GetSchemaDoubleRange(const ParameterSchema& schema,
                                                       std::string_view group,
                                                       std::string_view key) {
    const auto row = FindSchemaRow(schema, group, key);
    if (!row) return std::nullopt;
    const auto& entry = schema.rows[*row];
    return ValueRange<double>{entry.doubleMaximum >= entry.doubleMinimum, entry.doubleMinimum,
                              entry.doubleMaximum};
}

bool IsLongInRange(std::int64_t minimum, std::int64_t maximum, std::int64_t value) {
    if (minimum >= maximum) return true;
    return minimum <= value && value <= maximum;
}

bool IsDoubleInRange(double minimum, double maximum, double value) {
    if (minimum >= maximum) return true;
    return minimum <= value && value <= maximum;
}

bool IsLongInSchemaRange(const ParameterSchema& schema, std::string_view group,
                         std::string_view key, std::int64_t value) {
    const auto range = GetSchemaLongRange(schema, group, key);
    if (!range) return false;
    return !range->hasRange || (range->minimum <= value && value <= range->maximum);
}

bool IsDoubleInSchemaRange(const ParameterSchema& schema, std::string_view group,
                           std::string_view key, double value) {
    const auto range = GetSchemaDoubleRange(schema, group, key);
    if (!range) return false;
    return !range->hasRange || (range->minimum <= value && value <= range->maximum);
}

std::string_view SchemaRowGroup(const ParameterSchema& schema, std::size_t row) {
    std::string_view group;
    for (std::size_t i = 0; i <= row && i < schema.rows.size(); ++i) {
        if (schema.rows[i].type == ParameterType::Group) group = schema.rows[i].key;
    }
    return group;
}

}  // namespace vantor::paramfile
