#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "paramfile/parameter_type.h"
#include "paramfile/schema.h"

namespace vantor::paramfile {

// No line of a parameter file is longer than this, in bytes, without its line end.
inline constexpr std::size_t kMaxLineLength = 255;

// One physical line of a parameter file. Comments, blank lines and lines no
// schema knows are kept, so that a file survives a load/save round trip.
struct ParameterLine {
    std::string raw;      // as read; trimmed by binding; canonical after a setter
    ParameterType type = ParameterType::Empty;
    std::string group;    // group of a bound value line
    std::string name;     // key, group name, or array key without its index
    std::string value;    // trimmed value text
    std::string comment;  // trimmed, without the leading ';'
    bool modified = false;
    std::int32_t index = 0;  // element number of an array element line
};

// The lines of one file in file order, with the edition of the schemas the
// list is read against (the configuration program's or the interface
// library's). The file type is not stored: it follows from the `ID` line.
class ParameterList {
public:
    explicit ParameterList(SchemaEdition edition = SchemaEdition::ConfigurationProgram)
        : edition_(edition) {}

    SchemaEdition edition() const { return edition_; }

    std::vector<ParameterLine>& lines() { return lines_; }
    const std::vector<ParameterLine>& lines() const { return lines_; }
    std::size_t size() const { return lines_.size(); }
    bool empty() const { return lines_.empty(); }

    ParameterLine& operator[](std::size_t position) { return lines_[position]; }
    const ParameterLine& operator[](std::size_t position) const { return lines_[position]; }

    void Append(ParameterLine line) { lines_.push_back(std::move(line)); }

    // Links the new line behind the line at `position`; gives the new line's position.
    std::size_t InsertParameterLineAfter(std::size_t position, ParameterLine line);

private:
    SchemaEdition edition_;
    std::vector<ParameterLine> lines_;
};

bool IsParameterListModified(const ParameterList& list);
void SetParameterListModified(ParameterList& list, bool modified);

}  // namespace vantor::paramfile

namespace vantor::paramfile {

// A line record made from text: the text is parsed for its fields (unbound:
// value lines are of type Value until the list is bound to a schema).
// Text longer than a line may be becomes an Error line holding its first part.
ParameterLine MakeParameterLine(std::string_view text, bool modified);

// The text the writer puts out for a line, without its line end, never longer
// than kMaxLineLength: "name = value ; comment" where it fits, otherwise the
// same without blanks, otherwise with the comment shortened. The value is
// never shortened; lines that are not bound keys are written as they stand.
std::string FormatParameterLine(const ParameterLine& line);

// The same text for the line as it would be with another value, or nothing when
// even "name=value" does not fit into a line.
std::optional<std::string> FormatParameterLineWithValue(const ParameterLine& line,
                                                        std::string_view value);

}  // namespace vantor::paramfile
