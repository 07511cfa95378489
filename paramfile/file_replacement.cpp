#include "paramfile/file_replacement.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <random>
#include <system_error>

namespace vantor::paramfile {
namespace {

constexpr std::string_view kTemporaryMarker = ".tmp-";
constexpr std::size_t kRandomDigits = 16;
constexpr std::size_t kMaxProcessIdDigits = 10;

bool IsLowerHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

// A process that cannot be signalled for lack of permission still runs.
bool ProcessHasEnded(std::int64_t processId) {
    const auto id = static_cast<pid_t>(processId);
    if (id <= 0 || id != processId) return false;
    return ::kill(id, 0) != 0 && errno == ESRCH;
}

// fsync is not offered for some special files; those have nothing to lose.
bool Sync(int descriptor) {
    if (::fsync(descriptor) == 0) return true;
    return errno == EINVAL;
}

bool WriteAll(int descriptor, std::string_view text) {
    while (!text.empty()) {
        const auto written = ::write(descriptor, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// Makes the rename itself survive a power loss. The file has been replaced
// by now, so a folder that cannot be synced does not turn the save into a
// failure: the caller would take the old file for still being there.
void SyncFolder(const std::filesystem::path& folder) {
    const auto name = folder.empty() ? std::filesystem::path(".") : folder;
    const int descriptor = ::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) return;
    (void)Sync(descriptor);
    ::close(descriptor);
}

// The replacement keeps the permissions of the file it replaces.
void TakeOverPermissions(int descriptor, const std::filesystem::path& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
        (void)::fchmod(descriptor, status.st_mode & 07777);
    }
}

std::uint64_t RandomNumber() {
    std::random_device device;
    return (static_cast<std::uint64_t>(device()) << 32) | device();
}

}  // namespace

std::string RandomHexText() {
    char text[kRandomDigits + 1];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(RandomNumber()));
    return text;
}

std::string TemporaryFileName(std::string_view fileName, std::int64_t processId,
                              std::uint64_t randomPart) {
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, "%lld-%016llx", static_cast<long long>(processId),
                  static_cast<unsigned long long>(randomPart));
    std::string name(fileName);
    name += kTemporaryMarker;
    name += suffix;
    return name;
}

std::optional<std::int64_t> TemporaryFileWriter(std::string_view entryName,
                                                std::string_view fileName) {
    if (fileName.empty() || !entryName.starts_with(fileName)) return std::nullopt;
    entryName.remove_prefix(fileName.size());
    if (!entryName.starts_with(kTemporaryMarker)) return std::nullopt;
    entryName.remove_prefix(kTemporaryMarker.size());
    const auto dash = entryName.find('-');
    if (dash == std::string_view::npos || dash == 0 || dash > kMaxProcessIdDigits) {
        return std::nullopt;
    }
    const auto digits = entryName.substr(0, dash);
    const auto random = entryName.substr(dash + 1);
    if (random.size() != kRandomDigits) return std::nullopt;
    for (const char c : random) {
        if (!IsLowerHex(c)) return std::nullopt;
    }
    for (const char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
    }
    std::int64_t processId = 0;
    const auto end = digits.data() + digits.size();
    const auto [stop, error] = std::from_chars(digits.data(), end, processId);
    if (error != std::errc{} || stop != end || processId <= 0) return std::nullopt;
    return processId;
}

void RemoveLeftoverTemporaries(const std::filesystem::path& path) {
    const auto fileName = path.filename().string();
    auto folder = path.parent_path();
    if (folder.empty()) folder = ".";
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, error);
    for (const std::filesystem::directory_iterator end; !error && entries != end;
         entries.increment(error)) {
        const auto writer = TemporaryFileWriter(entries->path().filename().string(), fileName);
        if (!writer || !ProcessHasEnded(*writer)) continue;
        // Only the name is removed: a link named like a temporary is not followed.
        (void)::unlink(entries->path().c_str());
    }
}

WriteError ReplaceFileContent(const std::filesystem::path& path, std::string_view text) {
    if (path.empty()) return WriteError::EmptyPath;
    RemoveLeftoverTemporaries(path);
    auto temporary = path;
    temporary.replace_filename(
        TemporaryFileName(path.filename().string(), ::getpid(), RandomNumber()));
    // O_EXCL: never write into a file that is already there.
    const int descriptor =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (descriptor < 0) return WriteError::CannotCreate;
    TakeOverPermissions(descriptor, path);
    // Synced before the rename, so that the name never points at a file whose
    // content has not reached the disk yet.
    const bool written = WriteAll(descriptor, text) && Sync(descriptor);
    const bool closed = ::close(descriptor) == 0;
    if (!written || !closed) {
        (void)::unlink(temporary.c_str());
        return WriteError::WriteFailed;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        (void)::unlink(temporary.c_str());
        return WriteError::RenameFailed;
    }
    SyncFolder(path.parent_path());
    return WriteError::None;
}

}  // namespace vantor::paramfile
