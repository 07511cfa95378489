#include <gtest/gtest.h>

#include <clocale>
#include <limits>
#include <optional>
#include <string>

#include "paramfile/text_syntax.h"
#include "paramfile/value_format.h"

namespace vantor::paramfile {
namespace {

struct LineCase {
    std::string text;
    ParameterType type;
    std::string name;
    std::string value;
    std::string comment;
    std::int32_t index;
};

TEST(ParseParameterLine, ClassifiesEveryLineKind) {
    const LineCase cases[] = {
        {"", ParameterType::Empty, "", "", "", 0},
        {"  \n", ParameterType::Empty, "", "", "", 0},
        {";", ParameterType::Comment, "", "", "", 0},
        {";  some text  ", ParameterType::Comment, "", "", "some text", 0},
        {"[Axis] ; text", ParameterType::Group, "Axis", "", "", 0},
        {"[ Axis ]", ParameterType::Group, "Axis", "", "", 0},
        {"[Axis", ParameterType::Error, "", "", "", 0},
        {"[  ]", ParameterType::Error, "", "", "", 0},
        {"no equals sign", ParameterType::Error, "", "", "", 0},
        {" = 5", ParameterType::Error, "", "", "", 0},
        {"key = 1 ; a ; b", ParameterType::Value, "key", "1", "a ; b", 0},
        {"key=", ParameterType::Value, "key", "", "", 0},
        {"key = a=b", ParameterType::Value, "key", "a=b", "", 0},
        {"\tkey = 1", ParameterType::Value, "\tkey", "1", "", 0},
        {"key = 1\r", ParameterType::Value, "key", "1\r", "", 0},
        {"Deviation [3] = 5", ParameterType::ArrayElement, "Deviation ", "5", "", 3},
        {"x[0x10] = 1 ; c", ParameterType::ArrayElement, "x", "1", "c", 16},
        {"x[0b11] = 1", ParameterType::ArrayElement, "x", "1", "", 3},
        {"x[-2] = 1", ParameterType::ArrayElement, "x", "1", "", -2},
        {"x[1a] = 1", ParameterType::Error, "x[1a]", "", "", 0},
        {"x[1 = 1", ParameterType::Error, "x[1", "", "", 0},
        {"x[] = 1", ParameterType::Error, "x[]", "", "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto line = ParseParameterLine(c.text);
        ASSERT_TRUE(line.has_value());
        EXPECT_EQ(line->type, c.type);
        if (c.type == ParameterType::Error) continue;
        EXPECT_EQ(line->name, c.name);
        EXPECT_EQ(line->value, c.value);
        EXPECT_EQ(line->comment, c.comment);
        EXPECT_EQ(line->index, c.index);
    }
}

TEST(ParseParameterLine, RefusesTextLongerThanALine) {
    EXPECT_TRUE(ParseParameterLine(std::string(255, 'a')).has_value());
    EXPECT_FALSE(ParseParameterLine(std::string(256, 'a')).has_value());
    EXPECT_FALSE(ParseParameterLine("key = " + std::string(300, '1')).has_value());
}

TEST(TrimText, TakesBlanksAndLineFeedsOnly) {
    EXPECT_EQ(TrimText("  \n a b \n "), "a b");
    EXPECT_EQ(TrimText("\ta\t"), "\ta\t");
    EXPECT_EQ(TrimText("\ra\r"), "\ra\r");
    EXPECT_EQ(TrimText("   "), "");
}

TEST(ParseIntegerText, ReadsTheFormatsOwnSyntaxes) {
    const std::pair<const char*, std::optional<std::int32_t>> cases[] = {
        {"0", 0},
        {"7", 7},
        {"-", std::nullopt},
        {"+", std::nullopt},
        {"x", std::nullopt},
        {"+12", 12},
        {"-12", -12},
        {"0012", 12},
        {"2147483647", 2147483647},
        {"-2147483648", std::numeric_limits<std::int32_t>::min()},
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"1 2", std::nullopt},
        {" 1", std::nullopt},
        {"1.0", std::nullopt},
        {"--1", std::nullopt},
        {"0x1F", 31},
        {"0xff", 255},
        {"0x7FFFFFFF", 2147483647},
        {"0xFFFFFFFF", -1},
        {"0x100000000", std::nullopt},
        {"0x", std::nullopt},
        {"0xG", std::nullopt},
        {"0X1F", std::nullopt},
        {"0b1", 1},
        {"0b1010", 10},
        {"0b1111111111111111", 65535},
        {"0b11111111111111111", std::nullopt},
        {"0b", std::nullopt},
        {"0b102", std::nullopt},
        {"0B1", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ParseIntegerText(text), expected);
    }
}

TEST(FitsIntegerType, ChecksEachWidth) {
    struct Case {
        ParameterType type;
        std::int64_t value;
        bool fits;
    };
    const Case cases[] = {
        {ParameterType::Byte, 0, true},       {ParameterType::Byte, 255, true},
        {ParameterType::Byte, 256, false},    {ParameterType::Byte, -1, false},
        {ParameterType::Short, -32768, true}, {ParameterType::Short, 32767, true},
        {ParameterType::Short, 32768, false}, {ParameterType::Short, -32769, false},
        {ParameterType::Word, 65535, true},   {ParameterType::Word, 65536, false},
        {ParameterType::Word, -1, false},     {ParameterType::Int, -2147483648LL, true},
        {ParameterType::Long, 2147483647, true}, {ParameterType::Long, 2147483648LL, false},
        {ParameterType::Double, 1, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FitsIntegerType(c.type, c.value), c.fits)
            << ParameterTypeName(c.type) << " " << c.value;
    }
}

TEST(FloatText, FollowsTheCharacterRules) {
    struct Case {
        const char* text;
        bool passes;
        double value;
    };
    const Case cases[] = {
        {"1e5", true, 1e5},        {"-.5", true, -0.5},     {"1.5E-3", true, 1.5e-3},
        {"+2", true, 2},           {" 3", true, 3},         {"4 ", true, 4},
        {"1e+5", true, 1e5},       {"1e++5", true, 1.0},    {"1e-+5", true, 1.0},
        {".", true, 0},            {"e5", true, 0},         {"-", true, 0},
        {"- 5", true, 0},          {"1.", true, 1},         {"0.000001", true, 1e-6},
        {"1.2.3", false, 0},       {"--1", false, 0},       {"1 2", false, 0},
        {"1e5e3", false, 0},       {"1-", false, 0},        {"1e--5", false, 0},
        {"", false, 0},            {"1,5", false, 0},       {"inf", false, 0},
        {"nan", false, 0},         {"0x10", false, 0},      {"1e5.0", false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(IsFloatText(c.text), c.passes);
        const auto parsed = ParseDoubleText(c.text);
        EXPECT_EQ(parsed.status == DoubleParse::Ok, c.passes);
        if (c.passes) {
            EXPECT_DOUBLE_EQ(parsed.value, c.value);
        }
    }
}

TEST(FloatText, OverflowIsAnErrorAndUnderflowReadsAsZero) {
    EXPECT_EQ(ParseDoubleText("1e999").status, DoubleParse::Overflow);
    EXPECT_EQ(ParseDoubleText("-1e400").status, DoubleParse::Overflow);
    const auto tiny = ParseDoubleText("1e-999");
    EXPECT_EQ(tiny.status, DoubleParse::Ok);
    EXPECT_EQ(tiny.value, 0.0);
    EXPECT_EQ(ParseDoubleText("1.7e308").status, DoubleParse::Ok);
}

TEST(FloatText, ReadsAndWritesInTheCLocaleWhateverTheProgramsLocale) {
    // A locale whose decimal mark is a comma, where the machine has one.
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    const bool switched = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    EXPECT_DOUBLE_EQ(ParseDoubleText("1.5").value, 1.5);
    EXPECT_EQ(FormatDoubleValue(1.5, "%f"), "1.500000");
    EXPECT_EQ(FormatDoubleValue(0.5, "%0.1f"), "0.5");
    std::setlocale(LC_NUMERIC, saved.c_str());
    if (!switched) GTEST_SKIP() << "no comma locale on this machine; checked in the C locale";
}

TEST(BoolText, IsExactlyTrueOrFalse) {
    EXPECT_EQ(ParseBoolText("true"), true);
    EXPECT_EQ(ParseBoolText("false"), false);
    for (const char* text : {"TRUE", "True", "1", "0", "", " true", "yes"}) {
        EXPECT_FALSE(ParseBoolText(text).has_value()) << text;
    }
}

TEST(BinaryText, WritesSixteenDigitsAndReadsThemBack) {
    EXPECT_EQ(FormatBinaryText(0), "0000000000000000");
    EXPECT_EQ(FormatBinaryText(10), "0000000000001010");
    EXPECT_EQ(FormatBinaryText(0xFFFF), "1111111111111111");
    for (std::uint32_t value : {0u, 1u, 10u, 0x8000u, 0xFFFFu}) {
        const auto digits = FormatBinaryText(static_cast<std::uint16_t>(value));
        EXPECT_EQ(ParseBinaryText(digits), value);
        EXPECT_EQ(ParseIntegerText("0b" + digits), static_cast<std::int32_t>(value));
    }
}

TEST(ValueFormat, WritesThePrintFormatsOfTheTables) {
    struct Case {
        double value;
        const char* format;
        const char* text;
    };
    const Case doubles[] = {
        {40000, "%0.1f", "40000.0"},
        {0.5, "%f", "0.500000"},
        {1e-6, "%e", "1.000000e-06"},
        {4.84813681109536e-06, "%0.16e", "4.8481368110953598e-06"},
        {-2000000, "%0.1f", "-2000000.0"},
        // An integer format on a double row: a whole number, without undefined behaviour.
        {10000, "%d", "10000"},
        {-3.6, "%d", "-4"},
        {1e300, "%d", nullptr},
    };
    for (const auto& c : doubles) {
        SCOPED_TRACE(c.format);
        const auto text = FormatDoubleValue(c.value, c.format);
        ASSERT_TRUE(text.has_value());
        if (c.text != nullptr) {
            EXPECT_EQ(*text, c.text);
        }
        EXPECT_EQ(ParseDoubleText(*text).status, DoubleParse::Ok);
    }
    EXPECT_FALSE(FormatDoubleValue(std::numeric_limits<double>::infinity(), "%f").has_value());
    EXPECT_FALSE(FormatDoubleValue(std::numeric_limits<double>::quiet_NaN(), "%d").has_value());

    EXPECT_EQ(FormatIntegerValue(4660, "0x%X"), "0x1234");
    EXPECT_EQ(FormatIntegerValue(-1, "0x%X"), "0xFFFFFFFF");
    EXPECT_EQ(ParseIntegerText(*FormatIntegerValue(-1, "0x%X")), -1);
    EXPECT_EQ(FormatIntegerValue(10, "%b"), "0b0000000000001010");
    EXPECT_EQ(FormatIntegerValue(-5, "%d"), "-5");
    EXPECT_FALSE(FormatIntegerValue(1, "%s").has_value());
    EXPECT_FALSE(FormatIntegerValue(1, "no conversion").has_value());
}

}  // namespace
}  // namespace vantor::paramfile
