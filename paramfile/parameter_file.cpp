#include "paramfile/parameter_file.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <system_error>

#include "paramfile/binding.h"
#include "paramfile/text_syntax.h"

namespace vantor::paramfile {
namespace {

void Report(LoadError* error, LoadError value) {
    if (error != nullptr) *error = value;
}

SchemaKind LoadableKindOf(std::string_view id) {
    if (TextEquals(id, kInitialisationFileIdentifier)) return SchemaKind::InitialisationFile;
    if (TextEquals(id, kMachineCorrectionIdentifier)) return SchemaKind::MachineCorrection;
    return SchemaKind::None;
}

bool IsPlainFileName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

std::filesystem::path TempBaseFolder() {
    for (const char* variable : {"TMPDIR", "XDG_RUNTIME_DIR"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') return std::filesystem::path(value);
    }
    return std::filesystem::path(P_tmpdir);
}

}  // namespace

std::optional<ParameterList> ReadParameterText(std::string_view text, SchemaEdition edition,
                                               LoadError* error) {
    Report(error, LoadError::None);
    if (text.empty()) {
        Report(error, LoadError::EmptyFile);
        return std::nullopt;
    }
    ParameterList list(edition);
    SchemaKind kind = SchemaKind::None;
    bool first = true;
    while (!text.empty()) {
        auto end = text.find('\n');
        auto line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        // A physical line longer than a line may be becomes several records.
        do {
            const auto piece = line.substr(0, kMaxLineLength);
            line.remove_prefix(piece.size());
            const auto trimmed = TrimText(piece);
            if (!first && trimmed.size() >= 4 && trimmed.starts_with("ID")) {
                if (const auto parsed = ParseParameterLine(piece)) {
                    kind = LoadableKindOf(TrimText(parsed->value));
                }
            }
            first = false;
            ParameterLine record;
            record.raw = piece;
            list.Append(std::move(record));
        } while (!line.empty());
    }
    const auto* schema = SchemaForKind(kind, edition);
    if (schema == nullptr) {
        Report(error, LoadError::UnknownFileType);
        return std::nullopt;
    }
    BindParameterLines(schema, list);
    return list;
}

std::optional<ParameterList> LoadParameterFile(const std::filesystem::path& path,
                                               SchemaEdition edition, LoadError* error) {
    if (path.empty()) {
        Report(error, LoadError::EmptyPath);
        return std::nullopt;
    }
    std::ifstream file(path, std::ios::binary);
    std::error_code ignored;
    if (!file || std::filesystem::is_directory(path, ignored)) {
        Report(error, LoadError::CannotOpen);
        return std::nullopt;
    }
    std::string text;
    char buffer[16384];
    while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
        text.append(buffer, static_cast<std::size_t>(file.gcount()));
        if (text.size() > kMaxParameterFileBytes) {
            Report(error, LoadError::TooLarge);
            return std::nullopt;
        }
    }
    if (file.bad()) {
        Report(error, LoadError::CannotOpen);
        return std::nullopt;
    }
    return ReadParameterText(text, edition, error);
}

std::string FormatParameterText(const ParameterList& list) {
    std::string text;
    for (const auto& line : list.lines()) {
        const auto formatted = FormatParameterLine(line);
        text += formatted;
        if (formatted.ends_with('\r')) text += '\r';
        text += '\n';
    }
    return text;
}

WriteError WriteParameterFile(const std::filesystem::path& path, const ParameterList& list) {
    if (path.empty()) return WriteError::EmptyPath;
    return ReplaceFileContent(path, FormatParameterText(list));
}

std::optional<std::filesystem::path> MakeTempIniPath(std::string_view name) {
    if (!IsPlainFileName(name)) return std::nullopt;
    const auto base = TempBaseFolder();
    static std::mutex mutex;
    static std::filesystem::path folder;
    const std::lock_guard lock(mutex);
    std::error_code error;
    if (folder.empty() || folder.parent_path() != base ||
        !std::filesystem::is_directory(std::filesystem::symlink_status(folder, error))) {
        folder.clear();
        for (int attempt = 0; attempt < 8 && folder.empty(); ++attempt) {
            auto candidate = base / ("vantor-" + RandomHexText());
            if (std::filesystem::create_directory(candidate, error) && !error) {
                std::filesystem::permissions(candidate, std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::replace, error);
                if (error) {
                    std::filesystem::remove(candidate, error);
                    return std::nullopt;
                }
                folder = candidate;
            }
        }
        if (folder.empty()) return std::nullopt;
    }
    return folder / (std::string(name) + ".ini");
}

}  // namespace vantor::paramfile
