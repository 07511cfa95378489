#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "paramfile/binding.h"
#include "paramfile/defaults.h"
#include "paramfile/parameter_file.h"
#include "paramfile/schema.h"
#include "test_support.h"

namespace vantor::paramfile {
namespace {

using testing::LineOf;

std::string Repeat(const std::string& block, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) text += block;
    return text;
}

// Each group's rows after its header as symbols: E blank, C comment, k key; "" for the head.
std::vector<std::pair<std::string, std::string>> Layout(const ParameterSchema& schema) {
    std::vector<std::pair<std::string, std::string>> groups{{"", ""}};
    for (const auto& row : schema.rows) {
        switch (row.type) {
            case ParameterType::Group: groups.emplace_back(std::string(row.key), ""); break;
            case ParameterType::Empty: groups.back().second += "E"; break;
            case ParameterType::Comment: groups.back().second += "C"; break;
            case ParameterType::Eof: groups.back().second += "$"; break;
            default: groups.back().second += "k"; break;
        }
    }
    return groups;
}

TEST(InitialisationFileSchema, HasTheTemplateLayoutOfEveryGroup) {
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"", "CCC"},
        {"Version", "EkEkE"},
        {"Remarks", "EkE"},
        {"CANInit", "EkkkE"},
        {"CAN-Hardware", "ECCCCkECCCCCCkECCCCCCCCCkkkkkkkkkkkE"},
        {"CNCInit", "EkkkkkE"},
        {"CAN-Software", "ECEkkkkE"},
        {"Axis", "EkEkEkE" + Repeat("CkkkE", 8)},
        {"HandlingAxis", "EkkkkEkEkECCCCCE" + Repeat(std::string(14, 'k') + "E", 6)},
        {"Coordinates", "ECCEkkkE" + Repeat("CkkkkkE", 8)},
        {"Handwheel", "EkkkkkE"},
        {"TechPara", "ECE" + std::string(23, 'k') + "E"},
        {"Velocity", "ECkkECkkECkk$"},
    };
    EXPECT_EQ(Layout(InitialisationFileSchema()), expected);
    EXPECT_EQ(InitialisationFileSchema().rows.size(), 343u);
}

TEST(MachineCorrectionSchemas, HaveTheTemplateLayoutOfEveryGroup) {
    const std::string block = "EkECkkkkkkkkECCCCCCkECCCEkECkkkECkkkECkkk";
    std::vector<std::pair<std::string, std::string>> expected = {
        {"", "CCC"}, {"Version", "EkEkE"}, {"Remarks", "EkE"}, {"General", "EkkE"}};
    for (int n = 1; n <= 6; ++n) {
        expected.emplace_back("LengthCorrection" + std::to_string(n), block + (n < 6 ? "E" : "$"));
    }
    EXPECT_EQ(Layout(MachineCorrectionSchema()), expected);
    EXPECT_EQ(MachineCorrectionSchema().rows.size(), 276u);

    const std::vector<std::pair<std::string, std::string>> expectedD = {
        {"", "CCC"}, {"Version", "EkEkE"}, {"Remarks", "EkE"}, {"General", "EkE"},
        {"LengthCorrection1", "Ekkkk$"}};
    EXPECT_EQ(Layout(MachineCorrectionDSchema()), expectedD);
    EXPECT_EQ(MachineCorrectionDSchema().rows.size(), 24u);
}

TEST(Schemas, KeysAreUniqueWithinAGroupAndCountAsExpected) {
    struct Case {
        const ParameterSchema* schema;
        std::size_t keys;
    };
    const Case cases[] = {{&InitialisationFileSchema(), 2 + 1 + 3 + 13 + 5 + 4 + 3 + 24 + 6 + 84 +
                                                            3 + 40 + 5 + 23 + 6},
                          {&MachineCorrectionSchema(), 2 + 1 + 2 + 6 * 20},
                          {&MachineCorrectionDSchema(), 2 + 1 + 1 + 4}};
    for (const auto& c : cases) {
        std::set<std::pair<std::string, std::string>> seen;
        std::string group;
        std::size_t keys = 0;
        for (const auto& row : c.schema->rows) {
            if (row.type == ParameterType::Group) group = row.key;
            if (!IsValueType(row.type) && !IsArrayType(row.type)) continue;
            ++keys;
            EXPECT_TRUE(seen.emplace(group, std::string(row.key)).second) << group << " " << row.key;
        }
        EXPECT_EQ(keys, c.keys);
        EXPECT_EQ(c.schema->rows.back().type, ParameterType::Eof);
    }
}

TEST(InitialisationFileSchema, CarriesTheRowsOfTheTables) {
    struct Case {
        const char* group;
        const char* key;
        ParameterType type;
        std::int32_t integerDefault;
        std::int32_t minimum;
        std::int32_t maximum;
    };
    const Case cases[] = {
        {"CAN-Hardware", "CanInterface", ParameterType::Byte, 2, 0, 2},
        {"CAN-Hardware", "LookAheadDesPosiMaxNo", ParameterType::Short, 40, 0, 498},
        {"CAN-Hardware", "TimeForGlobalSynPeriod", ParameterType::Long, 300000, 0, 2147483647},
        {"CAN-Software", "SynNodeNo", ParameterType::Int, 1, 1, 127},
        {"Axis", "CanNodeNo6", ParameterType::Int, 6, 1, 127},
        {"Axis", "CanNodeNo7", ParameterType::Int, 13, 0, 2147483647},
        {"Axis", "SlaveCanNodeNo8", ParameterType::Int, 16, 1, 127},
        {"HandlingAxis", "AxisNo", ParameterType::Int, 0, 0, 6},
        {"HandlingAxis", "CanNodeNo4", ParameterType::Int, 4, 1, 127},
        {"Handwheel", "HandwheelGuardTime", ParameterType::Short, 500, 500, 1000},
        {"TechPara", "AmplifyMaxNoBufferedDesCoor", ParameterType::Short, 16, 16, 31},
    };
    const auto& schema = InitialisationFileSchema();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        const auto row = FindSchemaRow(schema, c.group, c.key);
        ASSERT_TRUE(row.has_value());
        const auto& entry = schema.rows[*row];
        EXPECT_EQ(entry.type, c.type);
        EXPECT_EQ(entry.integerDefault, c.integerDefault);
        EXPECT_EQ(entry.integerMinimum, c.minimum);
        EXPECT_EQ(entry.integerMaximum, c.maximum);
        EXPECT_EQ(entry.printFormat, "%d");
    }
    const auto id = FindSchemaRow(schema, "Version", "ID");
    ASSERT_TRUE(id.has_value());
    EXPECT_EQ(schema.rows[*id].defaultText, kInitialisationFileIdentifier);
    EXPECT_EQ(kInitialisationFileIdentifier.size(), 29u);
    EXPECT_EQ(GetSchemaValueFormat(schema, "TechPara", "AngleToRadianFac"), "%0.16e");
    EXPECT_EQ(GetSchemaValueFormat(schema, "", "AngleRoundingError"), "%e");
    EXPECT_EQ(GetSchemaValueType(schema, "Coordinates", "LinearCoor3"), ParameterType::Bool);
    EXPECT_FALSE(GetSchemaValueType(schema, "", "LinearCoor3").has_value());
}

TEST(Schemas, TheTwoEditionsDifferOnlyWhereTheyShould) {
    const auto& config = InitialisationFileSchema(SchemaEdition::ConfigurationProgram);
    const auto& library = InitialisationFileSchema(SchemaEdition::InterfaceLibrary);
    ASSERT_EQ(config.rows.size(), library.rows.size());
    std::vector<std::string> differing;
    for (std::size_t i = 0; i < config.rows.size(); ++i) {
        const auto& a = config.rows[i];
        const auto& b = library.rows[i];
        if (a.defaultText != b.defaultText || a.doubleMinimum != b.doubleMinimum ||
            a.doubleMaximum != b.doubleMaximum) {
            differing.emplace_back(a.key);
        }
    }
    EXPECT_EQ(differing, (std::vector<std::string>{"Version", "PathVelFac"}));
    const auto version = *FindSchemaRow(library, "Version", "Version");
    EXPECT_EQ(config.rows[version].defaultText, "01.70.00.13");
    EXPECT_EQ(library.rows[version].defaultText, "01.70.00.12");
    EXPECT_EQ(MachineCorrectionSchema(SchemaEdition::InterfaceLibrary)
                  .rows[*FindSchemaRow(MachineCorrectionSchema(), "Version", "Version")]
                  .defaultText,
              "01.70.00.12");

    const auto body = testing::InitialisationText("[TechPara]\nPathVelFac = 150.0\n");
    const auto inConfig = testing::LoadText(body, SchemaEdition::ConfigurationProgram);
    const auto inLibrary = testing::LoadText(body, SchemaEdition::InterfaceLibrary);
    EXPECT_EQ(LineOf(inConfig, "TechPara", "PathVelFac")->type, ParameterType::RangeError);
    EXPECT_EQ(LineOf(inLibrary, "TechPara", "PathVelFac")->type, ParameterType::Double);
}

TEST(Schemas, RangeLookups) {
    const auto& schema = InitialisationFileSchema();
    const auto range = GetSchemaLongRange(schema, "CAN-Software", "SynNodeNo");
    ASSERT_TRUE(range.has_value());
    EXPECT_TRUE(range->hasRange);
    EXPECT_EQ(range->minimum, 1);
    EXPECT_EQ(range->maximum, 127);
    const auto open = GetSchemaDoubleRange(schema, "TechPara", "SafetyDistance");
    ASSERT_TRUE(open.has_value());
    EXPECT_FALSE(open->hasRange);
    EXPECT_TRUE(IsDoubleInSchemaRange(schema, "TechPara", "SafetyDistance", -1e300));
    EXPECT_TRUE(IsLongInSchemaRange(schema, "CAN-Software", "SynNodeNo", 127));
    EXPECT_FALSE(IsLongInSchemaRange(schema, "CAN-Software", "SynNodeNo", 128));
    EXPECT_FALSE(IsLongInSchemaRange(schema, "CAN-Software", "NoSuchKey", 1));
    EXPECT_TRUE(IsLongInRange(5, 5, 99));
    EXPECT_TRUE(IsDoubleInRange(0, -1, 1e300));
    EXPECT_FALSE(IsDoubleInRange(0.01, 100, 150));
    const auto& correction = MachineCorrectionSchema();
    EXPECT_TRUE(FindSchemaRow(correction, "LengthCorrection3", "DeviationSize").has_value());
    EXPECT_FALSE(FindSchemaRow(correction, "LengthCorrection3", "Deviation").has_value());
    EXPECT_FALSE(FindSchemaRow(correction, "LengthCorrection7", "Enable").has_value());
}

const ParameterSchema* AllSchemas[] = {
    &InitialisationFileSchema(SchemaEdition::ConfigurationProgram),
    &InitialisationFileSchema(SchemaEdition::InterfaceLibrary),
    &MachineCorrectionSchema(SchemaEdition::ConfigurationProgram),
    &MachineCorrectionSchema(SchemaEdition::InterfaceLibrary),
    &MachineCorrectionDSchema(SchemaEdition::ConfigurationProgram),
    &MachineCorrectionDSchema(SchemaEdition::InterfaceLibrary),
};

TEST(Schemas, EveryLineMadeFromARowFitsALine) {
    for (const auto* schema : AllSchemas) {
        for (std::size_t i = 0; i < schema->rows.size(); ++i) {
            for (const bool withComments : {true, false}) {
                const auto line = MakeSchemaLine(*schema, i, withComments);
                EXPECT_LE(line.raw.size(), kMaxLineLength) << schema->rows[i].key;
                EXPECT_LE(FormatParameterLine(line).size(), kMaxLineLength);
                EXPECT_TRUE(line.modified);
            }
        }
        const auto list = CreateDefaultParameterList(*schema);
        for (const auto& line : list.lines()) {
            EXPECT_LE(FormatParameterLine(line).size(), kMaxLineLength) << line.name;
        }
    }
}

TEST(Schemas, DefaultListsBindWithoutAFault) {
    for (const auto* schema : AllSchemas) {
        const auto list = CreateDefaultParameterList(*schema);
        EXPECT_FALSE(IsParameterListModified(list));
        for (const auto& line : list.lines()) {
            EXPECT_NE(line.type, ParameterType::SyntaxError) << line.raw;
            EXPECT_NE(line.type, ParameterType::RangeError) << line.raw;
            EXPECT_NE(line.type, ParameterType::UnknownValue) << line.raw;
            EXPECT_NE(line.type, ParameterType::Error) << line.raw;
        }
        const auto check = CheckParameterFile(list);
        EXPECT_FALSE(check.faultFound);
        EXPECT_EQ(check.message, "Kein Fehler gefunden.");
        EXPECT_EQ(DetectParameterFileType(list), schema->kind);
    }
}

TEST(Schemas, DefaultListHoldsTheTemplateText) {
    const auto list = CreateDefaultParameterList(InitialisationFileSchema());
    // One line per row, arrays none; the end row gives a last blank line.
    EXPECT_EQ(list.size(), 343u);
    EXPECT_EQ(list[list.size() - 1].type, ParameterType::Empty);
    const auto text = FormatParameterText(list);
    for (const char* expected : {
             "[Version]\n",
             "ID = Q7W2E9R4T6Y1U8I3O5P0A2S7D4F9G ; (string) Identifikation der Datei. Diese "
             "Zeile nicht ändern !\n",
             "CanInterface = 2 ; (byte) CAN-Interface\n",
             "DeclareMode = false ; (bool) (true) Keine Initialisierung des CAN-Bus (nur "
             "Verwendung)\n",
             "CanMsgMaxWaitTime = 40000.0 ; (double)\n",
             "AngleToRadianFac = 4.8481368110953598e-06 ; (double)\n",
             "AngleRoundingError = 1.000000e-06 ; (double)\n",
             "PathVelFac = 0.500000 ; (double)\n",
             "HandwheelModell = VANTOR_WPN23 ; (string)\n",
             "; X coordinate\n",
         }) {
        EXPECT_NE(text.find(expected), std::string::npos) << expected;
    }

    const auto correction = CreateDefaultParameterList(MachineCorrectionSchema());
    EXPECT_EQ(correction.size(), 276u + 6 * 3 * 20);
    const auto correctionText = FormatParameterText(correction);
    EXPECT_NE(correctionText.find("DeviationSize = 20; (long array) Abweichung Masterachse\n"),
              std::string::npos);
    const auto* element = LineOf(correction, "LengthCorrection6", "BendingDeviation");
    ASSERT_NE(element, nullptr);
    EXPECT_EQ(element->type, ParameterType::ArrayElement);
    EXPECT_EQ(element->index, 1);

    const auto shortList = CreateDefaultParameterList(MachineCorrectionDSchema());
    const auto shortText = FormatParameterText(shortList);
    EXPECT_NE(shortText.find("IntervalLength = 10000 ; (double)"), std::string::npos);
    EXPECT_NE(shortText.find("Deviation[20] = 0.000000 ; (double)\n"), std::string::npos);
    EXPECT_EQ(shortList[shortList.size() - 2].raw, "Deviation[20] = 0.000000; (double)");
}

}  // namespace
}  // namespace vantor::paramfile
