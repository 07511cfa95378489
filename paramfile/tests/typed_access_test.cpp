#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "paramfile/binding.h"
#include "paramfile/defaults.h"
#include "paramfile/typed_access.h"
#include "test_support.h"

namespace vantor::paramfile {
namespace {

using testing::InitialisationText;
using testing::LineOf;
using testing::LoadText;

class TypedAccess : public ::testing::Test {
protected:
    ParameterList list = CreateDefaultParameterList(InitialisationFileSchema());
};

TEST_F(TypedAccess, GettersReadTheDefaults) {
    std::uint8_t byte = 0;
    EXPECT_EQ(GetParameterByte(list, "CAN-Hardware", "BaudRateForCan", byte), AccessResult::Ok);
    EXPECT_EQ(byte, 7);
    std::int16_t shortValue = 0;
    EXPECT_EQ(GetParameterShort(list, "", "RealTimeThreadIntWaitTime", shortValue), AccessResult::Ok);
    EXPECT_EQ(shortValue, 1500);
    std::int32_t number = 0;
    EXPECT_EQ(GetParameterLong(list, "CAN-Hardware", "TimeForGlobalSynPeriod", number), AccessResult::Ok);
    EXPECT_EQ(number, 300000);
    double value = 0;
    EXPECT_EQ(GetParameterDouble(list, "TechPara", "AngleToRadianFac", value), AccessResult::Ok);
    EXPECT_DOUBLE_EQ(value, 4.84813681109536e-06);
    bool flag = false;
    EXPECT_EQ(GetParameterBool(list, "Coordinates", "CartesianCoor", flag), AccessResult::Ok);
    EXPECT_TRUE(flag);
    std::string text;
    EXPECT_EQ(GetParameterString(list, "Handwheel", "HandwheelModell", text), AccessResult::Ok);
    EXPECT_EQ(text, "VANTOR_WPN23");
    // An empty group finds the first group that has the key.
    EXPECT_EQ(GetParameterInt(list, "", "AxisNo", number), AccessResult::Ok);
    EXPECT_EQ(number, 3);
    EXPECT_EQ(GetParameterInt(list, "HandlingAxis", "AxisNo", number), AccessResult::Ok);
    EXPECT_EQ(number, 0);
    std::size_t lineNumber = 0;
    EXPECT_TRUE(GetParameterValue(list, "Version", "ID", text, &lineNumber));
    EXPECT_EQ(lineNumber, 6u);
}

TEST(TypedGetters, ReportWhyTheyFail) {
    const auto list = LoadText(InitialisationText(
        "[Test]\n"
        "hex = 0x1F\n"
        "binary = 0b1010\n"
        "big = 99999999999\n"
        "atoiBait = 12abc\n"
        "wide = 300\n"
        "negative = -1\n"
        "real = 1.5e3\n"
        "badReal = 1.2.3\n"
        "hugeReal = 1e999\n"
        "flag = yes\n"),
        SchemaEdition::InterfaceLibrary);
    // The keys are unknown to the schema, so they are not bound value lines.
    std::int32_t number = 0;
    EXPECT_EQ(GetParameterLong(list, "Test", "hex", number), AccessResult::Missing);

    auto bound = CreateDefaultParameterList(InitialisationFileSchema());
    struct Case {
        const char* value;
        AccessResult longResult;
        std::int32_t longValue;
        AccessResult byteResult;
    };
    const Case cases[] = {
        {"0x1F", AccessResult::Ok, 31, AccessResult::Ok},
        {"0b1010", AccessResult::Ok, 10, AccessResult::Ok},
        {"-7", AccessResult::Ok, -7, AccessResult::OutOfRange},
        {"300", AccessResult::Ok, 300, AccessResult::OutOfRange},
        {"99999999999", AccessResult::BadSyntax, 0, AccessResult::BadSyntax},
        {"12abc", AccessResult::BadSyntax, 0, AccessResult::BadSyntax},
        {"", AccessResult::BadSyntax, 0, AccessResult::BadSyntax},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        ASSERT_EQ(SetParameterValue(bound, "Remarks", "Remark", c.value), AccessResult::Ok);
        std::int32_t longValue = -99;
        EXPECT_EQ(GetParameterLong(bound, "Remarks", "Remark", longValue), c.longResult);
        EXPECT_EQ(longValue, c.longResult == AccessResult::Ok ? c.longValue : -99);
        std::uint8_t byte = 0;
        EXPECT_EQ(GetParameterByte(bound, "Remarks", "Remark", byte), c.byteResult);
    }
    double real = -1;
    ASSERT_EQ(SetParameterValue(bound, "Remarks", "Remark", "1e999"), AccessResult::Ok);
    EXPECT_EQ(GetParameterDouble(bound, "Remarks", "Remark", real), AccessResult::OutOfRange);
    ASSERT_EQ(SetParameterValue(bound, "Remarks", "Remark", "1.2.3"), AccessResult::Ok);
    EXPECT_EQ(GetParameterDouble(bound, "Remarks", "Remark", real), AccessResult::BadSyntax);
    EXPECT_EQ(real, -1);
    bool flag = false;
    EXPECT_EQ(GetParameterBool(bound, "Remarks", "Remark", flag), AccessResult::BadSyntax);
    EXPECT_EQ(GetParameterBool(bound, "Remarks", "NoSuchKey", flag), AccessResult::Missing);
}

TEST_F(TypedAccess, SettersWriteTheRowsFormatAndRewriteTheLine) {
    EXPECT_EQ(SetParameterDouble(list, "CAN-Software", "CanMsgMaxWaitTime", 12345.67), AccessResult::Ok);
    const auto* line = LineOf(list, "CAN-Software", "CanMsgMaxWaitTime");
    EXPECT_EQ(line->value, "12345.7");
    EXPECT_EQ(line->raw, "CanMsgMaxWaitTime = 12345.7 ; (double)");
    EXPECT_TRUE(line->modified);
    EXPECT_TRUE(IsParameterListModified(list));

    EXPECT_EQ(SetParameterDouble(list, "TechPara", "AngleRoundingError", 2e-6), AccessResult::Ok);
    EXPECT_EQ(LineOf(list, "TechPara", "AngleRoundingError")->value, "2.000000e-06");
    EXPECT_EQ(SetParameterByte(list, "CAN-Hardware", "CanInterface", 1), AccessResult::Ok);
    EXPECT_EQ(SetParameterShort(list, "Handwheel", "HandwheelInhibitTime", -3), AccessResult::Ok);
    EXPECT_EQ(LineOf(list, "Handwheel", "HandwheelInhibitTime")->value, "-3");
    EXPECT_EQ(SetParameterLong(list, "Axis", "CanNodeNo7", 500), AccessResult::Ok);
    EXPECT_EQ(SetParameterBool(list, "Axis", "Gantry2", true), AccessResult::Ok);
    EXPECT_EQ(SetParameterString(list, "Remarks", "Remark", "Fräse 3"), AccessResult::Ok);

    // A later bind (as after a reload) keeps every change.
    ASSERT_TRUE(BindParameterLines(&InitialisationFileSchema(), list));
    EXPECT_EQ(LineOf(list, "CAN-Software", "CanMsgMaxWaitTime")->value, "12345.7");
    EXPECT_EQ(LineOf(list, "CAN-Hardware", "CanInterface")->value, "1");
    EXPECT_EQ(LineOf(list, "Axis", "CanNodeNo7")->value, "500");
    EXPECT_EQ(LineOf(list, "Axis", "Gantry2")->value, "true");
    EXPECT_EQ(LineOf(list, "Remarks", "Remark")->value, "Fräse 3");
    EXPECT_EQ(LineOf(list, "Handwheel", "HandwheelInhibitTime")->type, ParameterType::RangeError);

    // Setting the value a line already holds does not mark it.
    SetParameterListModified(list, false);
    EXPECT_EQ(SetParameterLong(list, "Axis", "CanNodeNo7", 500), AccessResult::Ok);
    EXPECT_FALSE(IsParameterListModified(list));
}

TEST_F(TypedAccess, SettersRefuseWhatCannotBeWrittenAndChangeNothing) {
    const auto before = FormatParameterText(list);
    struct Case {
        std::string value;
        const char* why;
    };
    const Case cases[] = {
        {"a;b", "comment mark"},
        {"a\nb", "line feed"},
        {"a\rb", "carriage return"},
        {std::string("a\0b", 3), "NUL"},
        {" a", "leading blank"},
        {"a ", "trailing blank"},
        {std::string(250, 'x'), "too long for a line"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SetParameterString(list, "Remarks", "Remark", c.value), AccessResult::Unwritable)
            << c.why;
    }
    EXPECT_EQ(SetParameterDouble(list, "TechPara", "PathVelFac",
                                 std::numeric_limits<double>::quiet_NaN()),
              AccessResult::Unwritable);
    EXPECT_EQ(SetParameterDouble(list, "TechPara", "PathVelFac",
                                 std::numeric_limits<double>::infinity()),
              AccessResult::Unwritable);
    // Exact group for setters: a key of another group is not found.
    EXPECT_EQ(SetParameterLong(list, "", "AxisNo", 2), AccessResult::Missing);
    EXPECT_EQ(SetParameterLong(list, "Axis", "NoSuchKey", 2), AccessResult::Missing);
    EXPECT_EQ(FormatParameterText(list), before);
    EXPECT_FALSE(IsParameterListModified(list));

    // A value that fits but leaves no room for the comment: the comment is shortened.
    const std::string longest(255 - std::string("Remark = ").size(), 'y');
    ASSERT_EQ(SetParameterString(list, "Remarks", "Remark", longest), AccessResult::Ok);
    const auto* line = LineOf(list, "Remarks", "Remark");
    EXPECT_LE(line->raw.size(), kMaxLineLength);
    EXPECT_EQ(line->value, longest);
}

TEST(TypedSetters, NeedTheListsSchema) {
    auto list = CreateDefaultParameterList(InitialisationFileSchema());
    ASSERT_EQ(SetParameterValue(list, "Version", "ID", "UNKNOWN"), AccessResult::Ok);
    SetParameterListModified(list, false);
    const auto before = FormatParameterText(list);
    EXPECT_EQ(SetParameterByte(list, "CAN-Hardware", "CanInterface", 1), AccessResult::NoSchema);
    EXPECT_EQ(SetParameterDouble(list, "TechPara", "PathVelFac", 1.0), AccessResult::NoSchema);
    EXPECT_EQ(FormatParameterText(list), before);
    EXPECT_FALSE(IsParameterListModified(list));
}

TEST(TypedSetters, DoublesAlwaysFitTheirLine) {
    struct Case {
        const ParameterSchema* schema;
        const char* group;
        const char* key;
        double value;
        const char* text;
    };
    const Case cases[] = {
        // Rows of the correction file of doubles carry the integer format "%d".
        {&MachineCorrectionDSchema(), "LengthCorrection1", "Start", 1234.6, "1235"},
        {&MachineCorrectionDSchema(), "LengthCorrection1", "IntervalLength", -1e300, "-1e+300"},
        {&InitialisationFileSchema(), "TechPara", "SafetyDistance", 1e300, "1e+300"},
        {&InitialisationFileSchema(), "TechPara", "SafetyDistance", -2.5, "-2.500000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        auto list = CreateDefaultParameterList(*c.schema);
        ASSERT_EQ(SetParameterDouble(list, c.group, c.key, c.value), AccessResult::Ok);
        const auto* line = LineOf(list, c.group, c.key);
        EXPECT_EQ(line->value, c.text);
        EXPECT_LE(line->raw.size(), kMaxLineLength);
        ASSERT_TRUE(BindParameterLines(c.schema, list));
        EXPECT_EQ(LineOf(list, c.group, c.key)->type, ParameterType::Double);
    }
}

TEST(ArrayAccess, ElementsAreReadAndWrittenByIndex) {
    auto list = CreateDefaultParameterList(MachineCorrectionSchema());
    std::int32_t value = -1;
    EXPECT_EQ(GetParameterArrayLong(list, "LengthCorrection2", "Deviation", 20, value), AccessResult::Ok);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(SetParameterArrayLong(list, "LengthCorrection2", "Deviation", 20, -150), AccessResult::Ok);
    EXPECT_EQ(GetParameterArrayLong(list, "LengthCorrection2", "Deviation", 20, value), AccessResult::Ok);
    EXPECT_EQ(value, -150);
    EXPECT_EQ(GetParameterArrayLong(list, "LengthCorrection1", "Deviation", 20, value), AccessResult::Ok);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(GetParameterArrayLong(list, "LengthCorrection2", "Deviation", 21, value), AccessResult::Missing);
    EXPECT_EQ(SetParameterArrayLong(list, "", "Deviation", 1, 5), AccessResult::Missing);
    ASSERT_TRUE(BindParameterLines(&MachineCorrectionSchema(), list));
    EXPECT_EQ(GetParameterArrayLong(list, "LengthCorrection2", "Deviation", 20, value), AccessResult::Ok);
    EXPECT_EQ(value, -150);
    std::string size;
    EXPECT_TRUE(GetParameterValue(list, "LengthCorrection2", "DeviationSize", size));
    EXPECT_EQ(size, "20");
    // A size set by hand reaches the written file.
    ASSERT_EQ(SetParameterValue(list, "LengthCorrection2", "DeviationSize", "5"), AccessResult::Ok);
    EXPECT_NE(FormatParameterText(list).find("\nDeviationSize = 5 ; (long array) Abweichung Masterachse\n"),
              std::string::npos);
}

TEST(ResizeParameterArray, ReplacesTheBlockWithAFreshOne) {
    auto list = CreateDefaultParameterList(MachineCorrectionSchema());
    const auto lines = list.size();
    ASSERT_EQ(SetParameterArrayLong(list, "LengthCorrection1", "Deviation", 3, 77), AccessResult::Ok);
    ASSERT_TRUE(ResizeParameterArray(list, "LengthCorrection1", "Deviation", 5, ParameterType::LongArray));
    EXPECT_EQ(list.size(), lines - 15);
    std::string size;
    EXPECT_TRUE(GetParameterValue(list, "LengthCorrection1", "DeviationSize", size));
    EXPECT_EQ(size, "5");
    std::int32_t value = -1;
    EXPECT_EQ(GetParameterArrayLong(list, "LengthCorrection1", "Deviation", 3, value), AccessResult::Ok);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(GetParameterArrayLong(list, "LengthCorrection1", "Deviation", 6, value), AccessResult::Missing);
    // The next array of the group is untouched.
    EXPECT_EQ(GetParameterArrayLong(list, "LengthCorrection1", "Deviation2", 20, value), AccessResult::Ok);
    EXPECT_TRUE(IsParameterListModified(list));
    ASSERT_TRUE(BindParameterLines(&MachineCorrectionSchema(), list));
    EXPECT_FALSE(CheckParameterFile(list).faultFound);
    EXPECT_EQ(LineOf(list, "LengthCorrection1", "DeviationSize")->type, ParameterType::ArraySize);

    ASSERT_TRUE(ResizeParameterArray(list, "LengthCorrection1", "Deviation", 30, ParameterType::DoubleArray));
    std::string element;
    EXPECT_TRUE(GetParameterArrayValue(list, "LengthCorrection1", "Deviation", 30, element));
    EXPECT_EQ(element, "0.000000");

    for (const auto count : {0, -1}) {
        EXPECT_FALSE(ResizeParameterArray(list, "LengthCorrection1", "Deviation", count, ParameterType::LongArray));
    }
    EXPECT_FALSE(ResizeParameterArray(list, "LengthCorrection1", "Deviation", 5, ParameterType::Long));
    EXPECT_FALSE(ResizeParameterArray(list, "LengthCorrection9", "Deviation", 5, ParameterType::LongArray));
    EXPECT_FALSE(ResizeParameterArray(list, "LengthCorrection1", "Start", 5, ParameterType::LongArray));
}

}  // namespace
}  // namespace vantor::paramfile
