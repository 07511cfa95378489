// Replacing a file by a complete new one. The new text goes into a temporary
// file beside the target, which is synced and then renamed over the target;
// the folder is synced after the rename. Whenever the process or the machine
// stops, the name holds the old file or the new one, never a part of either.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vantor::paramfile {

enum class WriteError { None, EmptyPath, CannotCreate, WriteFailed, RenameFailed };

// Writes `text` as the new content of `path`. The replacement keeps the
// permissions of the file it replaces. Temporaries of this file left by
// earlier saves whose processes have ended are removed first.
WriteError ReplaceFileContent(const std::filesystem::path& path, std::string_view text);

// Name of the temporary file a process writes while it saves the file named
// `fileName`: "<fileName>.tmp-<process id>-<16 hex digits>".
std::string TemporaryFileName(std::string_view fileName, std::int64_t processId,
                              std::uint64_t randomPart);

// The process id in `entryName` when it is a name `TemporaryFileName` makes
// for `fileName` (with a process id above zero), else nothing.
std::optional<std::int64_t> TemporaryFileWriter(std::string_view entryName,
                                                std::string_view fileName);

// Removes the temporary files of `path` whose writing process has ended.
// Those of running processes, of other files and every other entry stay.
void RemoveLeftoverTemporaries(const std::filesystem::path& path);

// 16 lower-case hex digits from the system's random source.
std::string RandomHexText();

}  // namespace vantor::paramfile
