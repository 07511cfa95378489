#include "paramfile/parameter_line.h"

#include <algorithm>

#include "paramfile/text_syntax.h"

namespace vantor::paramfile {
namespace {

// Cuts a text to at most `length` bytes without splitting a UTF-8 character.
std::string_view CutText(std::string_view text, std::size_t length) {
    if (text.size() <= length) return text;
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
    return TrimText(text.substr(0, length));
}

// "<head><value>" followed by the comment, in the first of the three forms that fits.
std::optional<std::string> FitLine(std::string_view spacedHead, std::string_view compactHead,
                                   std::string_view value, std::string_view comment,
                                   std::string_view spacedSeparator,
                                   std::string_view compactSeparator) {
    std::string spaced = std::string(spacedHead) + std::string(value);
    if (!comment.empty()) {
        spaced += spacedSeparator;
        spaced += comment;
    }
    if (spaced.size() <= kMaxLineLength) return spaced;
    std::string compact = std::string(compactHead) + std::string(value);
    if (compact.size() > kMaxLineLength) return std::nullopt;
    if (comment.empty()) return compact;
    const auto room = kMaxLineLength - compact.size();
    if (room <= compactSeparator.size()) return compact;
    const auto kept = CutText(comment, room - compactSeparator.size());
    if (!kept.empty()) {
        compact += compactSeparator;
        compact += kept;
    }
    return compact;
}

bool IsKeyValueLine(ParameterType type) {
    return IsValueType(type) || type == ParameterType::Value || type == ParameterType::ArraySize ||
           type == ParameterType::UnknownValue || type == ParameterType::RangeError ||
           type == ParameterType::SyntaxError;
}

std::optional<std::string> FormatWithValue(const ParameterLine& line, std::string_view value) {
    if (IsKeyValueLine(line.type)) {
        return FitLine(line.name + " = ", line.name + "=", value, line.comment, " ; ", ";");
    }
    if (line.type == ParameterType::ArrayElement) {
        const auto head = line.name + "[" + std::to_string(line.index) + "]";
        return FitLine(head + " = ", head + "=", value, line.comment, " ; ", ";");
    }
    return std::nullopt;
}

}  // namespace

std::size_t ParameterList::InsertParameterLineAfter(std::size_t position, ParameterLine line) {
    const auto at = std::min(position + 1, lines_.size());
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
    return at;
}

bool IsParameterListModified(const ParameterList& list) {
    return std::any_of(list.lines().begin(), list.lines().end(),
                       [](const ParameterLine& line) { return line.modified; });
}

void SetParameterListModified(ParameterList& list, bool modified) {
    for (auto& line : list.lines()) line.modified = modified;
}

ParameterLine MakeParameterLine(std::string_view text, bool modified) {
    ParameterLine line;
    line.modified = modified;
    if (text.size() > kMaxLineLength) {
        line.raw = text.substr(0, kMaxLineLength);
        line.type = ParameterType::Error;
        return line;
    }
    line.raw = text;
    if (auto parsed = ParseParameterLine(text)) {
        line.type = parsed->type;
        line.name = std::move(parsed->name);
        line.value = std::move(parsed->value);
        line.comment = std::move(parsed->comment);
        line.index = parsed->index;
    }
    return line;
}

std::optional<std::string> FormatParameterLineWithValue(const ParameterLine& line,
                                                        std::string_view value) {
    return FormatWithValue(line, value);
}

std::string FormatParameterLine(const ParameterLine& line) {
    switch (line.type) {
        case ParameterType::Empty:
            return {};
        case ParameterType::Comment:
            return *FitLine("; ", ";", {}, CutText(line.comment, kMaxLineLength - 1), "", "");
        case ParameterType::Group:
            if (auto text = FitLine("[" + line.name + "]", "[" + line.name + "]", {},
                                    line.comment, " ; ", ";")) {
                return *text;
            }
            break;
        default:
            if (IsValueType(line.type) || line.type == ParameterType::ArrayElement) {
                if (auto text = FormatWithValue(line, line.value)) return *text;
            }
            break;
    }
    return std::string(CutText(line.raw, kMaxLineLength));
}

}  // namespace vantor::paramfile
