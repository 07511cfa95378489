#include "paramfile/text_syntax.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "paramfile/parameter_line.h"

namespace vantor::paramfile {
namespace {

bool IsTrimmed(char c) { return c == ' ' || c == '\n'; }
bool IsDecimalDigit(char c) { return c >= '0' && c <= '9'; }

std::optional<std::int32_t> HexadecimalValue(std::string_view digits) {
    if (digits.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : digits) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
        else return std::nullopt;
        value = value * 16 + digit;
        if (value > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    }
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

std::optional<std::int32_t> DecimalValue(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    std::int64_t value = 0;
    constexpr std::int64_t limit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    for (const char c : text) {
        if (!IsDecimalDigit(c)) return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > limit) return std::nullopt;
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

// The longest prefix that the C library's text-to-double would read, rebuilt
// without blanks and '+' so that std::from_chars (always the C locale) takes it.
struct NumberPrefix {
    std::string text;       // "[-]digits[.digits][e[-]digits]"
    bool hasMantissaDigit;
    long decimalExponent;   // rough power of ten of the leading digit
};

NumberPrefix ReadNumberPrefix(std::string_view text) {
    NumberPrefix prefix{{}, false, 0};
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') prefix.text += '-';
        ++i;
    }
    long integerDigits = 0;
    long leadingFractionZeros = 0;
    bool significantSeen = false;
    while (i < text.size() && IsDecimalDigit(text[i])) {
        prefix.text += text[i];
        prefix.hasMantissaDigit = true;
        if (text[i] != '0' || significantSeen) {
            significantSeen = true;
            ++integerDigits;
        }
        ++i;
    }
    if (i < text.size() && text[i] == '.') {
        prefix.text += '.';
        ++i;
        while (i < text.size() && IsDecimalDigit(text[i])) {
            prefix.text += text[i];
            prefix.hasMantissaDigit = true;
            if (!significantSeen) {
                if (text[i] == '0') ++leadingFractionZeros;
                else significantSeen = true;
            }
            ++i;
        }
    }
    if (!prefix.hasMantissaDigit) return prefix;
    long exponent = 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        bool negativeExponent = false;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) {
            negativeExponent = text[j] == '-';
            ++j;
        }
        if (j < text.size() && IsDecimalDigit(text[j])) {
            prefix.text += 'e';
            if (negativeExponent) prefix.text += '-';
            for (; j < text.size() && IsDecimalDigit(text[j]); ++j) {
                prefix.text += text[j];
                if (exponent < 100000) exponent = exponent * 10 + (text[j] - '0');
            }
            if (negativeExponent) exponent = -exponent;
        }
    }
    prefix.decimalExponent =
        (integerDigits > 0 ? integerDigits - 1 : -(leadingFractionZeros + 1)) + exponent;
    return prefix;
}

}  // namespace

std::string_view TrimText(std::string_view text) {
    while (!text.empty() && IsTrimmed(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsTrimmed(text.back())) text.remove_suffix(1);
    return text;
}

std::optional<ParsedLine> ParseParameterLine(std::string_view text) {
    if (text.size() > kMaxLineLength) return std::nullopt;
    ParsedLine line;
    text = TrimText(text);
    if (text.empty()) return line;
    if (text.front() == ';') {
        line.type = ParameterType::Comment;
        line.comment = TrimText(text.substr(1));
        return line;
    }
    if (text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string_view::npos) {
            line.type = ParameterType::Error;
            return line;
        }
        line.name = TrimText(text.substr(1, close - 1));
        line.type = line.name.empty() ? ParameterType::Error : ParameterType::Group;
        return line;
    }
    const auto equals = text.find('=');
    if (equals == std::string_view::npos) {
        line.type = ParameterType::Error;
        return line;
    }
    const auto name = TrimText(text.substr(0, equals));
    if (name.empty()) {
        line.type = ParameterType::Error;
        return line;
    }
    const auto rest = text.substr(equals + 1);
    const auto semicolon = rest.find(';');
    const auto value = TrimText(rest.substr(0, semicolon));
    const auto comment =
        semicolon == std::string_view::npos ? std::string_view{} : TrimText(rest.substr(semicolon + 1));

    const auto open = name.find('[');
    if (open == std::string_view::npos) {
        line.type = ParameterType::Value;
        line.name = name;
    } else {
        const auto close = name.find(']', open);
        const auto index =
            close == std::string_view::npos ? std::nullopt
                                            : ParseIntegerText(name.substr(open + 1, close - open - 1));
        if (!index) {
            line.type = ParameterType::Error;
            line.name = name;
            return line;
        }
        line.type = ParameterType::ArrayElement;
        line.name = name.substr(0, open);
        line.index = *index;
    }
    line.value = value;
    line.comment = comment;
    return line;
}

std::optional<std::uint16_t> ParseBinaryText(std::string_view digits) {
    if (digits.empty() || digits.size() > 16) return std::nullopt;
    std::uint32_t value = 0;
    for (const char c : digits) {
        if (c != '0' && c != '1') return std::nullopt;
        value = value * 2 + static_cast<std::uint32_t>(c - '0');
    }
    return static_cast<std::uint16_t>(value);
}

std::string FormatBinaryText(std::uint16_t value) {
    std::string text(16, '0');
    for (int bit = 0; bit < 16; ++bit) {
        if (value & (1u << (15 - bit))) text[static_cast<std::size_t>(bit)] = '1';
    }
    return text;
}

std::optional<std::int32_t> ParseIntegerText(std::string_view text) {
    if (text.size() > 1 && text.starts_with("0x")) return HexadecimalValue(text.substr(2));
    if (text.size() > 1 && text.starts_with("0b")) {
        const auto value = ParseBinaryText(text.substr(2));
        if (!value) return std::nullopt;
        return std::int32_t{*value};
    }
    return DecimalValue(text);
}

bool FitsIntegerType(ParameterType type, std::int64_t value) {
    switch (type) {
        case ParameterType::Byte: return value >= 0 && value <= 255;
        case ParameterType::Short: return value >= -32768 && value <= 32767;
        case ParameterType::Word: return value >= 0 && value <= 65535;
        case ParameterType::Int:
        case ParameterType::Long:
            return value >= std::numeric_limits<std::int32_t>::min() &&
                   value <= std::numeric_limits<std::int32_t>::max();
        default: return false;
    }
}

bool IsFloatText(std::string_view text) {
    if (text.empty()) return false;
    bool signSeen = false;
    bool mantissaDigitSeen = false;
    bool digitSeen = false;
    bool pointSeen = false;
    bool exponentSeen = false;
    bool exponentMinusSeen = false;
    bool blankAfterDigit = false;
    for (const char c : text) {
        if (IsDecimalDigit(c)) {
            if (blankAfterDigit) return false;
            digitSeen = true;
            if (!exponentSeen) mantissaDigitSeen = true;
        } else if (c == ' ') {
            if (digitSeen) blankAfterDigit = true;
        } else if (c == '.') {
            if (pointSeen || exponentSeen) return false;
            pointSeen = true;
        } else if (c == 'e' || c == 'E') {
            if (exponentSeen) return false;
            exponentSeen = true;
        } else if (c == '+' || c == '-') {
            if (exponentSeen) {
                if (c == '-') {
                    if (exponentMinusSeen) return false;
                    exponentMinusSeen = true;
                }
            } else {
                if (signSeen || mantissaDigitSeen) return false;
                signSeen = true;
            }
        } else {
            return false;
        }
    }
    return true;
}

DoubleText ParseDoubleText(std::string_view text) {
    if (!IsFloatText(text)) return {DoubleParse::Syntax, 0.0};
    const auto prefix = ReadNumberPrefix(text);
    if (!prefix.hasMantissaDigit) return {DoubleParse::Ok, 0.0};
    double value = 0.0;
    const char* first = prefix.text.data();
    const char* last = first + prefix.text.size();
    const auto [end, error] = std::from_chars(first, last, value);
    if (error == std::errc::result_out_of_range) {
        if (prefix.decimalExponent < 0) {
            return {DoubleParse::Ok, prefix.text.front() == '-' ? -0.0 : 0.0};
        }
        return {DoubleParse::Overflow, 0.0};
    }
    if (error != std::errc{} || end != last || !std::isfinite(value)) {
        return {DoubleParse::Syntax, 0.0};
    }
    return {DoubleParse::Ok, value};
}

std::optional<bool> ParseBoolText(std::string_view text) {
    if (TextEquals(text, "true")) return true;
    if (TextEquals(text, "false")) return false;
    return std::nullopt;
}

}  // namespace vantor::paramfile
