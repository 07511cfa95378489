#include "paramfile/value_format.h"

#include <array>
#include <charconv>
#include <cmath>

#include "paramfile/text_syntax.h"

namespace vantor::paramfile {
namespace {

// One printf conversion with literal text around it: "0x%X" has the prefix "0x".
struct PrintFormat {
    std::string_view prefix;
    std::string_view suffix;
    int precision = -1;  // -1: the conversion's default
    char conversion = 0;
};

std::optional<PrintFormat> ParsePrintFormat(std::string_view format) {
    const auto percent = format.find('%');
    if (percent == std::string_view::npos) return std::nullopt;
    PrintFormat parsed;
    parsed.prefix = format.substr(0, percent);
    std::size_t i = percent + 1;
    // Flags and width only pad, which never matters for a value written alone.
    while (i < format.size() && (format[i] == '0' || format[i] == '-' || format[i] == '+' ||
                                 format[i] == ' ' || format[i] == '#')) {
        ++i;
    }
    while (i < format.size() && format[i] >= '0' && format[i] <= '9') ++i;
    if (i < format.size() && format[i] == '.') {
        ++i;
        int precision = 0;
        while (i < format.size() && format[i] >= '0' && format[i] <= '9') {
            precision = precision * 10 + (format[i] - '0');
            if (precision > 40) return std::nullopt;
            ++i;
        }
        parsed.precision = precision;
    }
    while (i < format.size() && (format[i] == 'l' || format[i] == 'h')) ++i;
    if (i >= format.size()) return std::nullopt;
    parsed.conversion = format[i];
    parsed.suffix = format.substr(i + 1);
    if (parsed.prefix.find('%') != std::string_view::npos ||
        parsed.suffix.find('%') != std::string_view::npos) {
        return std::nullopt;
    }
    return parsed;
}

std::string Wrap(const PrintFormat& format, std::string_view body) {
    std::string text;
    text.reserve(format.prefix.size() + body.size() + format.suffix.size());
    text += format.prefix;
    text += body;
    text += format.suffix;
    return text;
}

std::optional<std::string> Wrapped(const PrintFormat& format, std::optional<std::string> body) {
    if (!body) return std::nullopt;
    return Wrap(format, *body);
}

template <typename... Args>
std::optional<std::string> ToChars(Args... args) {
    std::array<char, 400> buffer{};
    const auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), args...);
    if (error != std::errc{}) return std::nullopt;
    return std::string(buffer.data(), end);
}

}  // namespace

std::optional<std::string> FormatIntegerValue(std::int64_t value, std::string_view format) {
    const auto parsed = ParsePrintFormat(format);
    if (!parsed) return std::nullopt;
    switch (parsed->conversion) {
        case 'd':
        case 'i':
            return Wrap(*parsed, *ToChars(value));
        case 'x':
        case 'X': {
            // As printf writes an int: the 32-bit two's-complement pattern.
            auto text = *ToChars(static_cast<std::uint32_t>(value), 16);
            if (parsed->conversion == 'X') {
                for (auto& c : text) {
                    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
                }
            }
            return Wrap(*parsed, text);
        }
        case 'b':
            if (value < 0 || value > 0xFFFF) return std::nullopt;
            return "0b" + FormatBinaryText(static_cast<std::uint16_t>(value));
        default:
            return std::nullopt;
    }
}

std::optional<std::string> FormatDoubleValue(double value, std::string_view format) {
    if (!std::isfinite(value)) return std::nullopt;
    const auto parsed = ParsePrintFormat(format);
    if (!parsed) return std::nullopt;
    const int precision = parsed->precision < 0 ? 6 : parsed->precision;
    switch (parsed->conversion) {
        case 'f':
        case 'F':
            return Wrapped(*parsed, ToChars(value, std::chars_format::fixed, precision));
        case 'e':
        case 'E':
            return Wrapped(*parsed, ToChars(value, std::chars_format::scientific, precision));
        case 'g':
        case 'G':
            return Wrapped(*parsed, ToChars(value, std::chars_format::general, precision));
        case 'd':
        case 'i':
            // An integer format on a double row: a whole number, whatever its size.
            return Wrapped(*parsed, ToChars(value, std::chars_format::fixed, 0));
        default:
            return std::nullopt;
    }
}

std::string FormatDoubleShortest(double value) { return ToChars(value).value_or("0"); }

}  // namespace vantor::paramfile
