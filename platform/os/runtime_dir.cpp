#include "platform/os/runtime_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/os/internal/table.h"

namespace vantor::os {
namespace {

constexpr std::string_view kDefaultNamespace = "default";
// Escaped identifiers up to this length are used whole; longer ones are
// shortened, which keeps file names well inside NAME_MAX.
constexpr std::size_t kMaxPlainIdentifier = 96;
constexpr std::size_t kShortenedPrefix = 40;

bool IsSafeCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         c == '-' || c == '_' || c == '.';
}

std::uint64_t Fnv1a64(std::string_view text, std::uint64_t basis) {
  std::uint64_t hash = basis;
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001B3ull;
  }
  return hash;
}

std::uint64_t Mix64(std::uint64_t value) {
  value ^= value >> 33;
  value *= 0xFF51AFD7ED558CCDull;
  value ^= value >> 33;
  value *= 0xC4CEB9FE1A85EC53ull;
  value ^= value >> 33;
  return value;
}

// A 128-bit digest from two differently seeded passes; names are ours and
// not adversarial, so this keeps shortened identifiers apart.
std::string Digest128(std::string_view text) {
  const std::uint64_t first = Mix64(Fnv1a64(text, 0xCBF29CE484222325ull));
  std::uint64_t second = 0x9E3779B97F4A7C15ull ^ text.size();
  for (const char c : text) second = Mix64(second + static_cast<unsigned char>(c));
  char buffer[33];
  std::snprintf(buffer, sizeof buffer, "%016llx%016llx", static_cast<unsigned long long>(first),
                static_cast<unsigned long long>(second));
  return buffer;
}

// Makes `path` a folder of ours with mode 0700, or refuses it.
OsError EnsurePrivateFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    return errno == EACCES ? OsError::AccessDenied : OsError::SystemError;
  }
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return OsError::SystemError;
  if (!S_ISDIR(info.st_mode) || info.st_uid != ::getuid() || (info.st_mode & 077) != 0) {
    return OsError::AccessDenied;
  }
  return OsError::Ok;
}

}  // namespace

std::string CurrentNamespace() {
  const char* value = std::getenv("VANTOR_NAMESPACE");
  if (value == nullptr || *value == '\0') return std::string(kDefaultNamespace);
  return value;
}

std::string SafeIdentifier(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    // A leading dot would hide the file and "." / ".." would be folders.
    if (IsSafeCharacter(c) && !(c == '.' && i == 0)) {
      escaped.push_back(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
      escaped += hex;
    }
  }
  if (escaped.empty()) return "%";
  if (escaped.size() <= kMaxPlainIdentifier) return escaped;
  // '~' never appears in an escaped text, so shortened identifiers cannot
  // meet plain ones.
  // The prefix only helps a reader; the digest of the whole text tells
  // shortened identifiers apart.
  return escaped.substr(0, kShortenedPrefix) + "~" + Digest128(text);
}

OsResult<std::string> RuntimeDirectory() {
  std::string base;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') {
    struct stat info {};
    if (::stat(runtime, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid()) {
      base = std::string(runtime) + "/vantor";
    }
  }
  if (base.empty()) base = "/tmp/vantor-" + std::to_string(::getuid());
  if (const OsError error = EnsurePrivateFolder(base); error != OsError::Ok) return error;
  std::string folder = base + "/" + SafeIdentifier(CurrentNamespace());
  if (const OsError error = EnsurePrivateFolder(folder); error != OsError::Ok) return error;
  return folder;
}

void RemoveRuntimeDirectoryIfUnused() {
  const auto directory = RuntimeDirectory();
  if (!directory) return;
  internal::RemoveTableIfAbandoned(*directory);
  // rmdir takes only an empty folder, so a process arriving meanwhile keeps
  // it, or finds it gone and makes it again.
  ::rmdir(directory->c_str());
}

}  // namespace vantor::os
