#include <gtest/gtest.h>

#include <string>

#include "paramfile/binding.h"
#include "paramfile/defaults.h"
#include "test_support.h"

namespace vantor::paramfile {
namespace {

using testing::InitialisationText;
using testing::LineOf;
using testing::LoadText;

struct ClassifyCase {
    const char* group;
    const char* key;
    const char* value;
    ParameterType expected;
};

TEST(ClassifyParameterValue, ChecksTypeSyntaxRangeAndWidth) {
    const ClassifyCase cases[] = {
        {"CAN-Software", "SynNodeNo", "1", ParameterType::Int},
        {"CAN-Software", "SynNodeNo", "127", ParameterType::Int},
        {"CAN-Software", "SynNodeNo", "200", ParameterType::RangeError},
        {"CAN-Software", "SynNodeNo", "0", ParameterType::RangeError},
        {"CAN-Software", "SynNodeNo", "abc", ParameterType::SyntaxError},
        {"CAN-Software", "SynNodeNo", "0x7F", ParameterType::Int},
        {"CAN-Software", "SynNodeNo", "0b1", ParameterType::Int},
        {"CAN-Software", "SynNodeNo", "99999999999", ParameterType::SyntaxError},
        {"CAN-Software", "Foo", "1", ParameterType::UnknownValue},
        {"Axis", "SynNodeNo", "1", ParameterType::UnknownValue},
        {"CAN-Hardware", "CanInterface", "0x2", ParameterType::Byte},
        {"CAN-Hardware", "CanInterface", "300", ParameterType::RangeError},
        {"CAN-Hardware", "CanInterface", "", ParameterType::SyntaxError},
        {"CAN-Hardware", "LookAheadDesPosiMaxNo", "498", ParameterType::Short},
        {"CAN-Hardware", "LookAheadDesPosiMaxNo", "-1", ParameterType::RangeError},
        {"CAN-Hardware", "InterruptCycle", "2147483647", ParameterType::Long},
        {"CAN-Hardware", "InterruptCycle", "-5", ParameterType::RangeError},
        {"CAN-Hardware", "MeasureLatenzTime", "true", ParameterType::Bool},
        {"CAN-Hardware", "MeasureLatenzTime", "1", ParameterType::SyntaxError},
        {"CAN-Software", "CanMsgMaxWaitTime", "10000", ParameterType::Double},
        {"CAN-Software", "CanMsgMaxWaitTime", "9999.9", ParameterType::RangeError},
        {"CAN-Software", "CanMsgMaxWaitTime", "4e4", ParameterType::Double},
        {"CAN-Software", "CanMsgMaxWaitTime", "4,0", ParameterType::SyntaxError},
        {"CAN-Software", "CanMsgMaxWaitTime", "1e999", ParameterType::RangeError},
        {"TechPara", "SafetyDistance", "-1e300", ParameterType::Double},
        {"TechPara", "PathVelFac", "150.0", ParameterType::RangeError},
        {"Axis", "CanNodeNo7", "500", ParameterType::Int},
        {"Axis", "CanNodeNo6", "500", ParameterType::RangeError},
        {"Remarks", "Remark", "anything ; at all", ParameterType::String},
    };
    const auto& schema = InitialisationFileSchema();
    for (const auto& c : cases) {
        EXPECT_EQ(ClassifyParameterValue(&schema, c.group, c.key, c.value), c.expected)
            << c.group << " " << c.key << " = " << c.value;
    }
    EXPECT_EQ(ClassifyParameterValue(nullptr, "Axis", "AxisNo", "1"), ParameterType::Error);
}

TEST(ClassifyParameterValue, ArraySizeLines) {
    const ClassifyCase cases[] = {
        {"LengthCorrection1", "DeviationSize", "20", ParameterType::ArraySize},
        {"LengthCorrection1", "DeviationSize", "2147483647", ParameterType::ArraySize},
        {"LengthCorrection1", "DeviationSize", "0", ParameterType::RangeError},
        {"LengthCorrection1", "DeviationSize", "-1", ParameterType::RangeError},
        {"LengthCorrection1", "DeviationSize", "x", ParameterType::SyntaxError},
        {"LengthCorrection6", "BendingDeviationSize", "20", ParameterType::ArraySize},
        {"LengthCorrection1", "CorrectionType", "4", ParameterType::RangeError},
        {"LengthCorrection1", "PolarityMaster", "192", ParameterType::Long},
        {"General", "DeviationSize", "20", ParameterType::UnknownValue},
    };
    const auto& schema = MachineCorrectionSchema();
    for (const auto& c : cases) {
        EXPECT_EQ(ClassifyParameterValue(&schema, c.group, c.key, c.value), c.expected)
            << c.group << " " << c.key << " = " << c.value;
    }
}

TEST(BindParameterLines, GivesLinesTheirTypeAndGroup) {
    auto list = LoadText(InitialisationText(
        "[CAN-Software]  ; tail dropped\n"
        "  SynNodeNo = 5 ; node  \n"
        "Foo = 1\n"
        "bad line\n"
        "x[2] = 7\n"
        "; note\n"
        "\n"));
    const auto* node = LineOf(list, "CAN-Software", "SynNodeNo");
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->type, ParameterType::Int);
    EXPECT_EQ(node->group, "CAN-Software");
    EXPECT_EQ(node->raw, "SynNodeNo = 5 ; node");
    EXPECT_EQ(node->comment, "node");
    EXPECT_EQ(LineOf(list, "CAN-Software", "Foo")->type, ParameterType::UnknownValue);
    EXPECT_EQ(LineOf(list, "CAN-Software", "x")->type, ParameterType::ArrayElement);
    const auto& lines = list.lines();
    EXPECT_EQ(lines[lines.size() - 4].type, ParameterType::Error);
    EXPECT_EQ(lines[lines.size() - 2].type, ParameterType::Comment);
    EXPECT_EQ(lines[lines.size() - 1].type, ParameterType::Empty);
    EXPECT_FALSE(IsParameterListModified(list));

    EXPECT_FALSE(BindParameterLines(nullptr, list));
    ParameterList empty;
    EXPECT_TRUE(BindParameterLines(&InitialisationFileSchema(), empty));
}

TEST(CheckParameterFile, ReportsTheFirstFaultWithItsLineNumber) {
    struct Case {
        const char* body;
        const char* message;
        std::size_t line;
    };
    // The head takes four lines; the body starts on line 5.
    const Case cases[] = {
        {"[CAN-Software]\nSynNodeNo = abc\nResetNodeDelayTime = 1\n",
         "Zeile 6: Syntaxerror in Variable CAN-Software, SynNodeNo\n", 6},
        {"[CAN-Software]\nFoo = 1\nSynNodeNo = 200\nSynNodeNo = x\n",
         "Zeile 7: Bereichueberschreitung der Variablen CAN-Software, SynNodeNo\n", 7},
        {"[Axis]\n\nbroken\n", "Zeile 7: Allgemeiner Fehler der Variablen Axis, \n", 7},
        {"[Axis]\nx[1a] = 3\n", "Zeile 6: Allgemeiner Fehler der Variablen Axis, x[1a]\n", 6},
        {"[Axis]\nFoo = 1\nAxisNo = 2\n", "Kein Fehler gefunden.", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        const auto list = LoadText(InitialisationText(c.body));
        const auto result = CheckParameterFile(list);
        EXPECT_EQ(result.faultFound, c.line != 0);
        EXPECT_EQ(result.message, c.message);
        EXPECT_EQ(result.lineNumber, c.line);
    }
}

TEST(DetectParameterFileType, ReadsTheIdOfGroupVersion) {
    EXPECT_EQ(DetectParameterFileType(CreateDefaultParameterList(InitialisationFileSchema())),
              SchemaKind::InitialisationFile);
    // A list built in memory with the identifier of the file of doubles is of that type.
    auto list = CreateDefaultParameterList(MachineCorrectionSchema());
    EXPECT_EQ(DetectParameterFileType(list), SchemaKind::MachineCorrection);
    ASSERT_EQ(SetParameterValue(list, "Version", "ID", kMachineCorrectionDIdentifier),
              AccessResult::Ok);
    EXPECT_EQ(DetectParameterFileType(list), SchemaKind::MachineCorrectionD);
    EXPECT_EQ(GetParameterSchema(list), &MachineCorrectionDSchema());
    ASSERT_EQ(SetParameterValue(list, "Version", "ID", "SOMETHING"), AccessResult::Ok);
    EXPECT_EQ(DetectParameterFileType(list), SchemaKind::None);
    EXPECT_EQ(GetParameterSchema(list), nullptr);
    EXPECT_EQ(DetectParameterFileType(ParameterList{}), SchemaKind::None);
}

}  // namespace
}  // namespace vantor::paramfile
