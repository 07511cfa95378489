#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "paramfile/schema.h"

// The tables themselves, generated from the schema tables by
// tools/generate_schema_tables.py into schema_tables.cpp.
namespace vantor::paramfile::detail {

// A row whose interface-library copy differs: either its default text or its double range.
struct InterfaceLibraryOverride {
    SchemaKind kind;
    std::size_t row;
    std::string_view defaultText;
    double doubleMinimum;
    double doubleMaximum;
    bool replacesDefaultText;
};

extern const std::span<const ParameterSchemaEntry> kInitialisationFileTable;
extern const std::span<const ParameterSchemaEntry> kMachineCorrectionTable;
extern const std::span<const ParameterSchemaEntry> kMachineCorrectionDTable;
extern const std::span<const InterfaceLibraryOverride> kInterfaceLibraryOverrides;

}  // namespace vantor::paramfile::detail
