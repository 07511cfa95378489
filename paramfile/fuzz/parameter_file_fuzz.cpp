// Feeds arbitrary bytes to the loader and everything that works on a loaded
// file: binding, the checker, the writer, completion and the getters. Written
// text must load again to the same line types.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "paramfile/paramfile.h"

namespace {

using namespace vantor::paramfile;

void Require(bool condition) {
    if (!condition) std::abort();
}

// Lines the writer puts out as they were read; they must come back byte for byte.
bool IsWrittenAsRead(ParameterType type) {
    return !IsValueType(type) && type != ParameterType::Empty && type != ParameterType::Comment &&
           type != ParameterType::Group && type != ParameterType::ArrayElement;
}

void Exercise(std::string_view text, SchemaEdition edition) {
    auto list = ReadParameterText(text, edition);
    if (!list) return;
    const auto check = CheckParameterFile(*list);
    Require(!check.message.empty());

    const auto written = FormatParameterText(*list);
    std::size_t start = 0;
    while (start < written.size()) {
        const auto end = written.find('\n', start);
        Require(end != std::string::npos);
        // A CR before the LF belongs to the line end, as reading sees it.
        const auto lineEnd = end > start && written[end - 1] == '\r' ? end - 1 : end;
        Require(lineEnd - start <= kMaxLineLength);
        start = end + 1;
    }
    const auto reread = ReadParameterText(written, edition);
    Require(reread.has_value() && reread->size() == list->size());
    for (std::size_t i = 0; i < list->size(); ++i) {
        Require((*reread)[i].type == (*list)[i].type);
        Require((*reread)[i].value == (*list)[i].value);
        if (IsWrittenAsRead((*list)[i].type)) Require((*reread)[i].raw == (*list)[i].raw);
    }

    std::int32_t number = 0;
    double real = 0;
    bool flag = false;
    std::string value;
    (void)GetParameterLong(*list, "", "AxisNo", number);
    (void)GetParameterDouble(*list, "TechPara", "PathVelFac", real);
    (void)GetParameterBool(*list, "CANInit", "DeclareMode", flag);
    (void)GetParameterArrayLong(*list, "", "Deviation", 1, number);
    (void)SetParameterDouble(*list, "TechPara", "PathVelFac", 1e300);
    (void)SetParameterString(*list, "Remarks", "Remark", std::string(200, 'r'));

    const auto completion = AddMissingParameters(*list);
    if (completion.ok && list->size() < 5000) {
        const auto* schema = GetParameterSchema(*list);
        Require(schema != nullptr);
        const bool faulty = CheckParameterFile(*list).faultFound;
        std::string group;
        for (const auto& row : schema->rows) {
            if (row.type == ParameterType::Group) group = row.key;
            if (IsValueType(row.type)) {
                Require(faulty || FindParameterLine(*list, group, row.key).has_value());
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Exercise(text, SchemaEdition::ConfigurationProgram);
    Exercise(text, SchemaEdition::InterfaceLibrary);
    return 0;
}
