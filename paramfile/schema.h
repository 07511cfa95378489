#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "paramfile/parameter_type.h"

namespace vantor::paramfile {

// One row of a schema table: at once a line of the template of a complete
// file and the rule for its key. A numeric row without a range carries a
// maximum below its minimum.
struct ParameterSchemaEntry {
    ParameterType type;
    std::string_view comment;      // for comment rows the whole comment line
    std::string_view key;          // key, or group name of a group row
    std::string_view defaultText;  // default of string rows
    double doubleDefault;
    double doubleMinimum;
    double doubleMaximum;
    std::int32_t integerDefault;  // also the default of long-array elements
    std::int32_t integerMinimum;
    std::int32_t integerMaximum;  // for string rows the maximum length
    bool boolDefault;
    std::string_view printFormat;  // "%d", "%0.1f", "%f", "%e", "%0.16e", "%s", "%b"
    std::int32_t arraySize;
};

// The file types, numbered as file-type detection gives them.
enum class SchemaKind : int {
    None = 0,
    InitialisationFile = 1,
    MachineCorrection = 2,
    MachineCorrectionD = 3,
};

// The configuration program and the interface library carry slightly
// different copies of the tables (the `Version` default and one range).
enum class SchemaEdition { ConfigurationProgram, InterfaceLibrary };

inline constexpr std::string_view kInitialisationFileIdentifier = "Q7W2E9R4T6Y1U8I3O5P0A2S7D4F9G";
inline constexpr std::string_view kMachineCorrectionIdentifier = "VANTORCANCNCMACHINECORRECTION";
inline constexpr std::string_view kMachineCorrectionDIdentifier = "VANTORCANCNCMACHINECORRECTION_D";

struct ParameterSchema {
    SchemaKind kind;
    SchemaEdition edition;
    std::span<const ParameterSchemaEntry> rows;  // the last row is the end row
};

const ParameterSchema& InitialisationFileSchema(
    SchemaEdition edition = SchemaEdition::ConfigurationProgram);
const ParameterSchema& MachineCorrectionSchema(
    SchemaEdition edition = SchemaEdition::ConfigurationProgram);
const ParameterSchema& MachineCorrectionDSchema(
    SchemaEdition edition = SchemaEdition::ConfigurationProgram);
const ParameterSchema* SchemaForKind(SchemaKind kind, SchemaEdition edition);

template <typename T>
struct ValueRange {
    bool hasRange;
    T minimum;
    T maximum;
};

// Row of a value key, or of an array whose size line is "<key>Size", in exactly that group.
std::optional<std::size_t> FindSchemaRow(const ParameterSchema& schema, std::string_view group,
                                         std::string_view key);
// Type of a value row (group exact).
std::optional<ParameterType> GetSchemaValueType(const ParameterSchema& schema,
                                                std::string_view group, std::string_view key);
// Print format of a value row; an empty group matches any group.
std::optional<std::string_view> GetSchemaValueFormat(const ParameterSchema& schema,
                                                     std::string_view group,
                                                     std::string_view key);
std::optional<ValueRange<std::int32_t>> GetSchemaLongRange(const ParameterSchema& schema,
                                                           std::string_view group,
                                                           std::string_view key);
std::optional<ValueRange<double>> GetSchemaDoubleRange(const ParameterSchema& schema,
                                                       std::string_view group,
                                                       std::string_view key);
bool IsLongInSchemaRange(const ParameterSchema& schema, std::string_view group,
                         std::string_view key, std::int64_t value);
bool IsDoubleInSchemaRange(const ParameterSchema& schema, std::string_view group,
                           std::string_view key, double value);
// True when minimum >= maximum (no range), else minimum <= value <= maximum.
bool IsLongInRange(std::int64_t minimum, std::int64_t maximum, std::int64_t value);
bool IsDoubleInRange(double minimum, double maximum, double value);

// Group of each row (empty before the first group row), for walks that need it.
std::string_view SchemaRowGroup(const ParameterSchema& schema, std::size_t row);

}  // namespace vantor::paramfile
