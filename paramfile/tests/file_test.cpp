#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "paramfile/binding.h"
#include "paramfile/defaults.h"
#include "paramfile/parameter_file.h"
#include "test_support.h"

namespace vantor::paramfile {
namespace {

using testing::LineOf;
using testing::ReadFile;
using testing::SampleFile;
using testing::TempFolder;
using testing::WriteFile;

const std::string kId = std::string(kInitialisationFileIdentifier);

TEST(ReadParameterText, ChoosesTheSchemaByTheLastIdLineAfterTheFirst) {
    struct Case {
        std::string text;
        std::optional<SchemaKind> kind;  // nothing: no list
    };
    const std::string correction(kMachineCorrectionIdentifier);
    const Case cases[] = {
        {"; x\n[Version]\nID = " + kId + "\n", SchemaKind::InitialisationFile},
        {"; x\n[Version]\nID = " + correction + "\n", SchemaKind::MachineCorrection},
        {"; x\n[Version]\nID = " + std::string(kMachineCorrectionDIdentifier) + "\n", std::nullopt},
        {"ID = " + kId + "\n[Version]\n", std::nullopt},
        {"; x\nID = " + kId + "\nIDENT = x\n", std::nullopt},
        {"; x\nID = " + correction + "\nID = " + kId + "\n", SchemaKind::InitialisationFile},
        {"; x\n  ID=" + kId + "  ; c\n", SchemaKind::InitialisationFile},
        {"; x\nID = q7w2e9r4t6y1u8i3o5p0a2s7d4f9g\n", std::nullopt},
        {"; x\nID\n", std::nullopt},
        {"", std::nullopt},
        {"\n", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto list = ReadParameterText(c.text, SchemaEdition::ConfigurationProgram);
        ASSERT_EQ(list.has_value(), c.kind.has_value());
    }
    LoadError error = LoadError::None;
    EXPECT_FALSE(ReadParameterText("", SchemaEdition::ConfigurationProgram, &error));
    EXPECT_EQ(error, LoadError::EmptyFile);
    EXPECT_FALSE(ReadParameterText("; x\n", SchemaEdition::ConfigurationProgram, &error));
    EXPECT_EQ(error, LoadError::UnknownFileType);
}

TEST(ReadParameterText, SplitsLongLinesAndReadsCrLfLikeLf) {
    const std::string longLine(300, 'a');
    const auto lf = testing::LoadText("; x\n[Version]\nID = " + kId + "\n" + longLine + "\n" +
                                      std::string(255, 'b') + "\n[Axis]\nAxisNo = 2\n");
    const auto crlf = testing::LoadText("; x\r\n[Version]\r\nID = " + kId + "\r\n" + longLine +
                                        "\r\n" + std::string(255, 'b') + "\r\n[Axis]\r\nAxisNo = 2");
    for (const auto* list : {&lf, &crlf}) {
        ASSERT_EQ(list->size(), 8u);
        EXPECT_EQ((*list)[3].raw, std::string(255, 'a'));
        EXPECT_EQ((*list)[4].raw, std::string(45, 'a'));
        EXPECT_EQ((*list)[5].raw, std::string(255, 'b'));
        EXPECT_EQ(LineOf(*list, "Axis", "AxisNo")->value, "2");
        EXPECT_EQ(LineOf(*list, "Axis", "AxisNo")->type, ParameterType::Int);
    }
    EXPECT_EQ(FormatParameterText(lf), FormatParameterText(crlf));
}

TEST(LoadParameterFile, FailsClearly) {
    TempFolder folder;
    LoadError error = LoadError::None;
    EXPECT_FALSE(LoadParameterFile("", SchemaEdition::ConfigurationProgram, &error));
    EXPECT_EQ(error, LoadError::EmptyPath);
    EXPECT_FALSE(LoadParameterFile(folder / "missing.ini", SchemaEdition::ConfigurationProgram, &error));
    EXPECT_EQ(error, LoadError::CannotOpen);
    EXPECT_FALSE(LoadParameterFile(folder.path(), SchemaEdition::ConfigurationProgram, &error));
    EXPECT_EQ(error, LoadError::CannotOpen);
    WriteFile(folder / "empty.ini", "");
    EXPECT_FALSE(LoadParameterFile(folder / "empty.ini", SchemaEdition::ConfigurationProgram, &error));
    EXPECT_EQ(error, LoadError::EmptyFile);
    WriteFile(folder / "big.ini", std::string(kMaxParameterFileBytes + 1, '\n'));
    EXPECT_FALSE(LoadParameterFile(folder / "big.ini", SchemaEdition::ConfigurationProgram, &error));
    EXPECT_EQ(error, LoadError::TooLarge);
}

TEST(SampleFiles, LoadWriteLoadGivesTheSameFile) {
    TempFolder folder;
    for (const char* name : {"machine.ini", "correction.ini", "legacy_crlf.ini", "faulty.ini"}) {
        SCOPED_TRACE(name);
        const auto first = LoadParameterFile(SampleFile(name));
        ASSERT_TRUE(first.has_value());
        const auto path = folder / name;
        ASSERT_EQ(WriteParameterFile(path, *first), WriteError::None);
        const auto second = LoadParameterFile(path);
        ASSERT_TRUE(second.has_value());
        ASSERT_EQ(second->size(), first->size());
        for (std::size_t i = 0; i < first->size(); ++i) {
            const auto& a = (*first)[i];
            const auto& b = (*second)[i];
            EXPECT_EQ(a.type, b.type) << "line " << i + 1;
            EXPECT_EQ(a.name, b.name) << "line " << i + 1;
            EXPECT_EQ(a.value, b.value) << "line " << i + 1;
            EXPECT_EQ(a.index, b.index) << "line " << i + 1;
        }
        // Written once, the text is stable.
        ASSERT_EQ(WriteParameterFile(folder / "again.ini", *second), WriteError::None);
        EXPECT_EQ(ReadFile(folder / "again.ini"), ReadFile(path));
        const auto text = ReadFile(path);
        std::size_t start = 0;
        while (start < text.size()) {
            const auto end = text.find('\n', start);
            ASSERT_NE(end, std::string::npos);
            EXPECT_LE(end - start, kMaxLineLength);
            start = end + 1;
        }
    }
}

TEST(SampleFiles, HoldWhatTheirNamesPromise) {
    const auto machine = LoadParameterFile(SampleFile("machine.ini"));
    ASSERT_TRUE(machine.has_value());
    EXPECT_EQ(DetectParameterFileType(*machine), SchemaKind::InitialisationFile);
    EXPECT_FALSE(CheckParameterFile(*machine).faultFound);
    const auto correction = LoadParameterFile(SampleFile("correction.ini"));
    ASSERT_TRUE(correction.has_value());
    EXPECT_EQ(DetectParameterFileType(*correction), SchemaKind::MachineCorrection);
    EXPECT_FALSE(CheckParameterFile(*correction).faultFound);
    EXPECT_EQ(LineOf(*correction, "LengthCorrection1", "DeviationSize")->type,
              ParameterType::ArraySize);
    const auto faulty = LoadParameterFile(SampleFile("faulty.ini"));
    ASSERT_TRUE(faulty.has_value());
    EXPECT_TRUE(CheckParameterFile(*faulty).faultFound);
    // The file of doubles is known to detection, not to loading.
    LoadError error = LoadError::None;
    EXPECT_FALSE(LoadParameterFile(SampleFile("correction_d.ini"), SchemaEdition::ConfigurationProgram, &error));
    EXPECT_EQ(error, LoadError::UnknownFileType);
}

TEST(WriteParameterFile, WritesEveryLineKindByItsFormat) {
    const auto list = testing::LoadText(
        "; first\n[Version]\nID = " + kId + "\n"
        "[Axis] ; text\n"
        "AxisNo=2;  count  \n"
        "Gantry1 = true\n"
        "Foo   =   1\n"
        "Deviation [3]=5;c\n"
        "x[0x10] = 1\n"
        "garbage   \n"
        "SynNodeNo = abc ; wrong group and all\n"
        ";\n"
        "\n");
    EXPECT_EQ(FormatParameterText(list),
              "; first\n[Version]\nID = " + kId + "\n"
              "[Axis]\n"
              "AxisNo = 2 ; count\n"
              "Gantry1 = true\n"
              "Foo   =   1\n"
              "Deviation [3] = 5 ; c\n"
              "x[16] = 1\n"
              "garbage\n"
              "SynNodeNo = abc ; wrong group and all\n"
              "; \n"
              "\n");
}

TEST(WriteParameterFile, KeepsEveryLineWithinTheLimitWithoutTouchingValues) {
    // A full-length line that gains blanks when written is written without them.
    const std::string value(240, 'v');
    const std::string comment(255 - 8 - value.size(), 'c');
    const auto list = testing::LoadText("; x\n[Version]\nID = " + kId + "\n[Remarks]\nRemark=" + value + ";" +
                                        comment + "\n;" + std::string(254, 'k') + "\n");
    ASSERT_EQ(LineOf(list, "Remarks", "Remark")->type, ParameterType::String);
    const auto text = FormatParameterText(list);
    EXPECT_NE(text.find("Remark=" + value + ";" + comment + "\n"), std::string::npos);
    EXPECT_NE(text.find(";" + std::string(254, 'k') + "\n"), std::string::npos);
}

TEST(WriteParameterFile, NeverDestroysTheFileItReplaces) {
    TempFolder folder;
    const auto path = folder / "machine.ini";
    WriteFile(path, "old content\n");
    const auto list = CreateDefaultParameterList(InitialisationFileSchema());
    ASSERT_EQ(WriteParameterFile(path, list), WriteError::None);
    EXPECT_EQ(ReadFile(path), FormatParameterText(list));

    // A folder that cannot be written: the old file stays as it was, and no litter is left.
    WriteFile(path, "old content\n");
    std::filesystem::permissions(folder.path(), std::filesystem::perms::owner_read |
                                                    std::filesystem::perms::owner_exec);
    if (::geteuid() != 0) {
        EXPECT_EQ(WriteParameterFile(path, list), WriteError::CannotCreate);
        EXPECT_EQ(ReadFile(path), "old content\n");
    }
    std::filesystem::permissions(folder.path(), std::filesystem::perms::owner_all);
    EXPECT_EQ(WriteParameterFile(folder / "no" / "such" / "folder.ini", list),
              WriteError::CannotCreate);
    EXPECT_EQ(WriteParameterFile("", list), WriteError::EmptyPath);
    // The target is a folder: the rename fails and the temporary file goes away.
    std::filesystem::create_directory(folder / "adir");
    std::filesystem::create_directory(folder / "adir" / "inner");
    EXPECT_EQ(WriteParameterFile(folder / "adir", list), WriteError::RenameFailed);
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder.path())) ++entries;
    EXPECT_EQ(entries, 2u);
    ParameterList empty;
    ASSERT_EQ(WriteParameterFile(path, empty), WriteError::None);
    EXPECT_EQ(ReadFile(path), "");
}

// A CR that is part of a line (not of its line end) keeps its bytes through
// writing and reading again, wherever it stands.
TEST(WriteParameterFile, KeepsCarriageReturnsThatBelongToTheLine) {
    const std::string longValue(255 - 9 - 1, 'v');
    const struct {
        const char* what;
        std::string body;
    } cases[] = {
        {"inside a value", "Remark = a\rb ; c\n"},
        {"ending a value", "Remark = ab\r\r\n"},
        {"ending a value on the last line", "Remark = ab\r\r"},
        {"ending a comment", "Remark = ab ; c\r\r\n"},
        {"ending an unknown line", "garbage\r\r\n"},
        {"alone on a line", "\r\r\n"},
        {"alone on the last line", "\r\r"},
        {"ending the first part of a long line", "Remark = " + longValue + "\rtail\n"},
    };
    for (const auto& c : cases) {
        const auto list = testing::LoadText(testing::InitialisationText("[Remarks]\n" + c.body));
        const auto written = FormatParameterText(list);
        const auto reread = testing::LoadText(written);
        ASSERT_EQ(reread.size(), list.size()) << c.what;
        bool carriageReturnKept = false;
        for (std::size_t i = 0; i < list.size(); ++i) {
            EXPECT_EQ(reread[i].type, list[i].type) << c.what << ", line " << i;
            EXPECT_EQ(reread[i].value, list[i].value) << c.what << ", line " << i;
            EXPECT_EQ(reread[i].comment, list[i].comment) << c.what << ", line " << i;
            EXPECT_EQ(reread[i].raw, list[i].raw) << c.what << ", line " << i;
            carriageReturnKept = carriageReturnKept || list[i].raw.find('\r') != std::string::npos;
        }
        EXPECT_TRUE(carriageReturnKept) << c.what;
        EXPECT_EQ(FormatParameterText(reread), written) << c.what;
    }
}

class TempPathTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"TMPDIR", "XDG_RUNTIME_DIR"}) {
            const char* value = std::getenv(name);
            saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
        }
    }
    void TearDown() override {
        for (const auto& [name, value] : saved_) {
            if (value) ::setenv(name.c_str(), value->c_str(), 1);
            else ::unsetenv(name.c_str());
        }
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(TempPathTest, UsesAPrivateFolderWithAnUnpredictableName) {
    TempFolder base;
    ::setenv("TMPDIR", base.path().c_str(), 1);
    const auto path = MakeTempIniPath("zzzCANBus");
    ASSERT_TRUE(path.has_value());
    EXPECT_EQ(path->filename(), "zzzCANBus.ini");
    EXPECT_EQ(path->parent_path().parent_path(), base.path());
    EXPECT_NE(path->parent_path().filename().string().find("vantor-"), std::string::npos);
    EXPECT_EQ(path->string().find('\\'), std::string::npos);
    const auto permissions = std::filesystem::status(path->parent_path()).permissions();
    EXPECT_EQ(permissions, std::filesystem::perms::owner_all);
    // One folder per process; the file is writable there.
    EXPECT_EQ(MakeTempIniPath("zzz")->parent_path(), path->parent_path());
    ASSERT_EQ(WriteParameterFile(*path, CreateDefaultParameterList(InitialisationFileSchema())),
              WriteError::None);

    for (const char* bad : {"", ".", "..", "a/b"}) EXPECT_FALSE(MakeTempIniPath(bad)) << bad;
    ::unsetenv("TMPDIR");
    ::setenv("XDG_RUNTIME_DIR", base.path().c_str(), 1);
    const auto runtimePath = MakeTempIniPath("zzz");
    ASSERT_TRUE(runtimePath.has_value());
    EXPECT_EQ(runtimePath->parent_path().parent_path(), base.path());
}

// With neither TMPDIR nor the runtime folder set (or set empty) the copies go
// to the system's temporary folder.
TEST_F(TempPathTest, FallsBackToTheSystemTemporaryFolder) {
    for (const bool setEmpty : {false, true}) {
        for (const char* name : {"TMPDIR", "XDG_RUNTIME_DIR"}) {
            if (setEmpty) ::setenv(name, "", 1);
            else ::unsetenv(name);
        }
        const auto path = MakeTempIniPath("zzzCANBus");
        ASSERT_TRUE(path.has_value()) << setEmpty;
        const auto folder = path->parent_path();
        EXPECT_EQ(folder.parent_path(), std::filesystem::path(P_tmpdir)) << setEmpty;
        EXPECT_EQ(std::filesystem::status(folder).permissions(), std::filesystem::perms::owner_all);
        EXPECT_EQ(WriteParameterFile(*path, CreateDefaultParameterList(InitialisationFileSchema())),
                  WriteError::None);
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
}

}  // namespace
}  // namespace vantor::paramfile
