#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "paramfile/file_replacement.h"
#include "paramfile/parameter_line.h"
#include "paramfile/schema.h"

namespace vantor::paramfile {

// Files larger than this are not parameter files; they are refused before reading.
inline constexpr std::size_t kMaxParameterFileBytes = 4 * 1024 * 1024;

enum class LoadError {
    None,
    EmptyPath,
    CannotOpen,
    TooLarge,
    EmptyFile,
    UnknownFileType,  // no `ID` line (after the first line) names a schema that loading knows
};

// Splits text into line records (CRLF and LF alike; lines longer than a line
// may be become several records), chooses the schema by the last `ID` line
// after the first line and binds the list to it. The machine-correction file
// of doubles is not loaded this way (only detected on a list built in memory).
std::optional<ParameterList> ReadParameterText(std::string_view text, SchemaEdition edition,
                                               LoadError* error = nullptr);
std::optional<ParameterList> LoadParameterFile(
    const std::filesystem::path& path,
    SchemaEdition edition = SchemaEdition::ConfigurationProgram, LoadError* error = nullptr);

// The file's text as the writer puts it out: one line per record, each ended
// by LF, or by CR LF when the record itself ends in a CR (reading takes a CR
// before the LF for part of the line end, so the record's own CR survives).
std::string FormatParameterText(const ParameterList& list);

// Writes to a fresh file beside the target and renames it over the target
// only when everything was written and synced, so neither a failed write nor
// a crash nor a power loss destroys the file (see file_replacement.h).
// Modified flags are left alone (callers clear them after a successful save).
WriteError WriteParameterFile(const std::filesystem::path& path, const ParameterList& list);

// Path "<private folder>/<name>.ini" for a temporary copy of a file. The folder
// lies in TMPDIR (else the user's runtime folder, else the system's temporary
// folder), has an unpredictable name,
// belongs to this process's user alone and is made once per process.
// Nothing when the name is not a plain file name or the folder cannot be made.
std::optional<std::filesystem::path> MakeTempIniPath(std::string_view name);

}  // namespace vantor::paramfile
