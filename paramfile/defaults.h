#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "paramfile/parameter_line.h"
#include "paramfile/schema.h"

namespace vantor::paramfile {

// The line a schema row stands for in a complete file (modified, not yet bound).
ParameterLine MakeSchemaLine(const ParameterSchema& schema, std::size_t row, bool withComments);

// A complete file from the schema's template, bound, with no line marked modified.
ParameterList CreateDefaultParameterList(const ParameterSchema& schema, bool withComments = true);

struct GroupInsertPoint {
    std::size_t position;  // the new line goes behind this line
    bool groupExists;
};
// Where a missing key of a group goes: behind the group's last value line,
// behind its header when it holds none yet, at the end when the group is missing.
// Nothing for an empty list.
std::optional<GroupInsertPoint> FindGroupInsertPoint(const ParameterList& list,
                                                     std::string_view group);

struct CompletionResult {
    bool ok = false;
    bool added = false;
    // One notice per insertion: "Variable wurde hinzugefügt" or
    // "Gruppe und Variable wurde hinzugefügt".
    std::vector<std::string> notices;
};
// Adds every value key of the list's schema that the list lacks, with its
// default. A key that stands in the file with a faulty value counts as present.
CompletionResult AddMissingParameters(ParameterList& list);

// The size line and `count` element lines (numbered from 1, value 0) of an array.
std::optional<std::vector<ParameterLine>> MakeParameterArrayLines(std::string_view key,
                                                                  std::int32_t count,
                                                                  ParameterType arrayType);
// Replaces the "<key>Size" line of the group and its element lines by a fresh block.
bool ResizeParameterArray(ParameterList& list, std::string_view group, std::string_view key,
                          std::int32_t count, ParameterType arrayType);

}  // namespace vantor::paramfile
