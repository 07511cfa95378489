#include <gtest/gtest.h>

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

// The complete file with one group's lines taken out (from its header up to the next header).
std::string DefaultTextWithout(std::string_view group) {
    const auto text = FormatParameterText(CreateDefaultParameterList(InitialisationFileSchema()));
    const auto start = text.find("[" + std::string(group) + "]");
    const auto end = text.find("\n[", start + 1);
    return text.substr(0, start) + (end == std::string::npos ? "" : text.substr(end + 1));
}

TEST(AddMissingParameters, CompleteFileNeedsNothing) {
    auto list = CreateDefaultParameterList(InitialisationFileSchema());
    const auto result = AddMissingParameters(list);
    EXPECT_TRUE(result.ok);
    EXPECT_FALSE(result.added);
    EXPECT_TRUE(result.notices.empty());
    EXPECT_FALSE(IsParameterListModified(list));
}

TEST(AddMissingParameters, AppendsAMissingGroupThenFillsItInOrder) {
    auto list = LoadText(DefaultTextWithout("Handwheel"));
    const auto lines = list.size();
    const auto result = AddMissingParameters(list);
    ASSERT_TRUE(result.ok);
    EXPECT_TRUE(result.added);
    ASSERT_EQ(result.notices.size(), 5u);
    EXPECT_EQ(result.notices[0], "Gruppe und Variable wurde hinzugefügt");
    EXPECT_EQ(result.notices[1], "Variable wurde hinzugefügt");
    ASSERT_EQ(list.size(), lines + 6);
    const char* expected[] = {"Handwheel", "HandwheelActive", "HandwheelCanNodeNo", "HandwheelModell",
                              "HandwheelInhibitTime", "HandwheelGuardTime"};
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(list[lines + i].name, expected[i]);
        EXPECT_TRUE(list[lines + i].modified);
    }
    EXPECT_EQ(list[lines].type, ParameterType::Group);
    EXPECT_EQ(LineOf(list, "Handwheel", "HandwheelGuardTime")->type, ParameterType::Short);
    EXPECT_FALSE(CheckParameterFile(list).faultFound);
    EXPECT_TRUE(IsParameterListModified(list));
}

TEST(AddMissingParameters, PutsKeysOfAnEmptyGroupBehindItsHeader) {
    // The group stands in the file but holds no key yet: its keys go behind its
    // own header, not into the group before it.
    auto list = LoadText(InitialisationText("[Remarks]\n[CANInit]\n; nothing here\n[CNCInit]\nStartUpMode = true\n"));
    ASSERT_TRUE(AddMissingParameters(list).ok);
    const auto* declare = LineOf(list, "CANInit", "DeclareMode");
    ASSERT_NE(declare, nullptr);
    EXPECT_EQ(declare->type, ParameterType::Bool);
    EXPECT_EQ(LineOf(list, "Remarks", "DeclareMode"), nullptr);
    std::size_t header = 0;
    while (list[header].name != "CANInit") ++header;
    EXPECT_EQ(list[header + 1].name, "DeclareMode");
    EXPECT_EQ(list[header + 2].name, "KernelShared");
    EXPECT_EQ(list[header + 3].name, "PopupMenuActive");
    bool flag = false;
    EXPECT_EQ(GetParameterBool(list, "CNCInit", "StartUpMode", flag), AccessResult::Ok);
    EXPECT_TRUE(flag);
    EXPECT_FALSE(CheckParameterFile(list).faultFound);
}

TEST(AddMissingParameters, KeepsTheUsersFaultyValues) {
    auto list = LoadText(InitialisationText("[CAN-Software]\nSynNodeNo = 200\nRealTimeThreadIntWaitTime = abc\n"));
    ASSERT_TRUE(AddMissingParameters(list).ok);
    const auto* node = LineOf(list, "CAN-Software", "SynNodeNo");
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->value, "200");
    std::size_t count = 0;
    for (const auto& line : list.lines()) count += line.name == "SynNodeNo" ? 1 : 0;
    EXPECT_EQ(count, 1u);
    const auto check = CheckParameterFile(list);
    EXPECT_TRUE(check.faultFound);
    EXPECT_NE(check.message.find("Bereichueberschreitung der Variablen CAN-Software, SynNodeNo"),
              std::string::npos);
}

TEST(AddMissingParameters, CompletesAFileOfHeadOnly) {
    auto list = LoadText(InitialisationText(""));
    const auto result = AddMissingParameters(list);
    ASSERT_TRUE(result.ok);
    // Every key of the schema is there afterwards, each in its own group.
    const auto& schema = InitialisationFileSchema();
    std::string group;
    for (const auto& row : schema.rows) {
        if (row.type == ParameterType::Group) group = row.key;
        if (!IsValueType(row.type)) continue;
        const auto* line = LineOf(list, group, row.key);
        ASSERT_NE(line, nullptr) << group << " " << row.key;
        EXPECT_EQ(line->type, row.type);
    }
    EXPECT_FALSE(CheckParameterFile(list).faultFound);
}

TEST(AddMissingParameters, FailsWithoutAKnownSchema) {
    ParameterList list;
    EXPECT_FALSE(AddMissingParameters(list).ok);
    auto unknown = CreateDefaultParameterList(InitialisationFileSchema());
    ASSERT_EQ(SetParameterValue(unknown, "Version", "ID", "OTHER"), AccessResult::Ok);
    EXPECT_FALSE(AddMissingParameters(unknown).ok);
}

TEST(AddMissingParameters, NeverAddsArrays) {
    auto list = LoadText("; x\n[Version]\nID = " + std::string(kMachineCorrectionIdentifier) +
                         "\n[LengthCorrection1]\nEnable = true\n");
    ASSERT_TRUE(AddMissingParameters(list).ok);
    std::string value;
    EXPECT_FALSE(GetParameterValue(list, "LengthCorrection1", "DeviationSize", value));
    EXPECT_TRUE(GetParameterValue(list, "LengthCorrection6", "BendingIntervalLength", value));
    EXPECT_EQ(value, "10000");
}

}  // namespace
}  // namespace vantor::paramfile

namespace vantor::paramfile {
namespace {

TEST(AddMissingParameters, BringsAnOlderSampleFileUpToDate) {
    auto list = LoadParameterFile(testing::SampleFile("legacy_crlf.ini"));
    ASSERT_TRUE(list.has_value());
    const auto result = AddMissingParameters(*list);
    ASSERT_TRUE(result.ok);
    EXPECT_TRUE(result.added);
    std::int16_t guardTime = 0;
    EXPECT_EQ(GetParameterShort(*list, "Handwheel", "HandwheelGuardTime", guardTime), AccessResult::Ok);
    EXPECT_EQ(guardTime, 500);
    double velocity = 0;
    EXPECT_EQ(GetParameterDouble(*list, "TechPara", "MaxOverride", velocity), AccessResult::Ok);
    EXPECT_DOUBLE_EQ(velocity, 1.4);
    // The user's own values and lines stay as they were.
    std::string remark;
    EXPECT_EQ(GetParameterString(*list, "Remarks", "Remark", remark), AccessResult::Ok);
    EXPECT_EQ(remark, "Portalfräse Halle 2, Steuerung links");
    EXPECT_NE(testing::LineOf(*list, "TechPara", "LegacyOption"), nullptr);
    EXPECT_FALSE(CheckParameterFile(*list).faultFound);
    // Completing again adds nothing.
    EXPECT_FALSE(AddMissingParameters(*list).added);
}

}  // namespace
}  // namespace vantor::paramfile
