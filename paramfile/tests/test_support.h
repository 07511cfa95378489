#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <string_view>

#include "paramfile/paramfile.h"

namespace vantor::paramfile::testing {

// A folder of its own for one test, removed afterwards.
class TempFolder {
public:
    TempFolder() {
        std::random_device device;
        path_ = std::filesystem::path(::testing::TempDir()) /
                ("paramfile-test-" + std::to_string(device()) + std::to_string(device()));
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

inline void WriteFile(const std::filesystem::path& path, std::string_view text) {
    std::ofstream file(path, std::ios::binary);
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
}

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

inline std::filesystem::path SampleFile(std::string_view name) {
    return std::filesystem::path(VANTOR_PARAMFILE_TEST_DATA) / name;
}

// The head every initialisation file carries, followed by the given lines.
inline std::string InitialisationText(std::string_view body) {
    std::string text = "; head\n[Version]\nID = ";
    text += kInitialisationFileIdentifier;
    text += "\nVersion = 01.70.00.13\n";
    text += body;
    return text;
}

inline ParameterList LoadText(std::string_view text,
                              SchemaEdition edition = SchemaEdition::ConfigurationProgram) {
    LoadError error = LoadError::None;
    auto list = ReadParameterText(text, edition, &error);
    EXPECT_TRUE(list.has_value()) << "load error " << static_cast<int>(error);
    return list ? std::move(*list) : ParameterList(edition);
}

// The line of a key in a group, for looking at its bound type.
inline const ParameterLine* LineOf(const ParameterList& list, std::string_view group,
                                   std::string_view key) {
    std::string_view current;
    for (const auto& line : list.lines()) {
        if (line.type == ParameterType::Group) current = line.name;
        else if (current == group && line.name == key) return &line;
    }
    return nullptr;
}

}  // namespace vantor::paramfile::testing
