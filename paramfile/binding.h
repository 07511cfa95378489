#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "paramfile/parameter_line.h"
#include "paramfile/schema.h"

namespace vantor::paramfile {

// The line type a value text gets under a key: the row's type when valid,
// otherwise UnknownValue (no row), SyntaxError or RangeError; ArraySize for a
// valid "<key>Size" line of an array row.
ParameterType ClassifyParameterValue(const ParameterSchema* schema, std::string_view group,
                                     std::string_view key, std::string_view value);

// Parses every line again (trimming its text) and gives value lines their
// type and group. Fails without a schema; an empty list binds.
bool BindParameterLines(const ParameterSchema* schema, ParameterList& list);

// The file type named by the value of `ID` in group `Version`; None when there is none.
SchemaKind DetectParameterFileType(const ParameterList& list);
// The schema of the list's file type in the list's edition, or none.
const ParameterSchema* GetParameterSchema(const ParameterList& list);

struct CheckResult {
    bool faultFound = false;
    std::size_t lineNumber = 0;  // 1-based line of the first fault
    std::string message;         // the first fault, or "Kein Fehler gefunden."
};
// Reports the first line with a syntax, range or general fault. Unknown keys are no fault.
CheckResult CheckParameterFile(const ParameterList& list);

}  // namespace vantor::paramfile
