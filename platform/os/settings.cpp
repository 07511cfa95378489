#include "platform/os/settings.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace vantor::os {
namespace {

using Json = nlohmann::json;

constexpr const char* kKeysField = "keys";
constexpr const char* kValuesField = "values";
constexpr const char* kNameField = "name";
constexpr const char* kWordField = "word";
constexpr const char* kTextField = "text";

std::string Lowered(std::string_view text) {
  std::string lowered(text);
  for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lowered;
}

// "\A\\B\" and "a\b" name the same key.
std::string NormalisedPath(std::string_view path) {
  std::string normalised;
  std::string_view rest = path;
  while (!rest.empty()) {
    const auto separator = rest.find('\\');
    const std::string_view part = rest.substr(0, separator);
    if (!part.empty()) {
      if (!normalised.empty()) normalised.push_back('\\');
      normalised.append(part);
    }
    if (separator == std::string_view::npos) break;
    rest.remove_prefix(separator + 1);
  }
  return normalised;
}

std::string FolderOf(const std::string& file) {
  const auto slash = file.rfind('/');
  return slash == std::string::npos ? std::string(".") : file.substr(0, slash);
}

void MakeFolders(const std::string& folder) {
  for (std::size_t position = 1; position <= folder.size(); ++position) {
    if (position == folder.size() || folder[position] == '/') {
      ::mkdir(folder.substr(0, position).c_str(), 0700);
    }
  }
}

// Serialises readers and writers of one root across processes.
class RootLock {
 public:
  RootLock(const std::string& file, bool exclusive) {
    if (exclusive) MakeFolders(FolderOf(file));
    const std::string lockPath = file + ".lock";
    fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0) ::flock(fd_, exclusive ? LOCK_EX : LOCK_SH);
  }
  ~RootLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  RootLock(const RootLock&) = delete;
  RootLock& operator=(const RootLock&) = delete;

 private:
  int fd_ = -1;
};

enum class LoadState { Loaded, Missing, Corrupt };

LoadState Load(const std::string& file, Json& document) {
  std::ifstream stream(file);
  if (!stream) {
    document = Json::object();
    return LoadState::Missing;
  }
  document = Json::parse(stream, nullptr, false);
  if (document.is_discarded() || !document.is_object() ||
      (document.contains(kKeysField) && !document[kKeysField].is_object())) {
    document = Json::object();
    return LoadState::Corrupt;
  }
  return LoadState::Loaded;
}

OsError Store(const std::string& file, const Json& document) {
  const std::string temporary = file + ".tmp." + std::to_string(::getpid());
  {
    std::ofstream stream(temporary, std::ios::trunc);
    if (!stream) return OsError::AccessDenied;
    stream << document.dump(2) << '\n';
    if (!stream.flush()) {
      ::unlink(temporary.c_str());
      return OsError::SystemError;
    }
  }
  if (::rename(temporary.c_str(), file.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return OsError::SystemError;
  }
  return OsError::Ok;
}

bool CanWrite(const std::string& file) {
  if (::access(file.c_str(), F_OK) == 0) return ::access(file.c_str(), W_OK) == 0;
  std::string folder = FolderOf(file);
  // The folder may not exist yet: the nearest existing one decides.
  while (::access(folder.c_str(), F_OK) != 0 && folder.size() > 1) folder = FolderOf(folder);
  return ::access(folder.c_str(), W_OK) == 0;
}

const Json* FindKey(const Json& document, const std::string& path) {
  if (!document.contains(kKeysField)) return nullptr;
  const Json& keys = document[kKeysField];
  const auto found = keys.find(Lowered(path));
  if (found == keys.end() || !found->is_object()) return nullptr;
  return &*found;
}

const Json* FindValue(const Json& key, std::string_view valueName) {
  if (!key.contains(kValuesField) || !key[kValuesField].is_object()) return nullptr;
  const Json& values = key[kValuesField];
  const auto found = values.find(Lowered(valueName));
  if (found == values.end() || !found->is_object()) return nullptr;
  return &*found;
}

void EnsureKey(Json& document, const std::string& path) {
  Json& keys = document[kKeysField];
  std::string prefix;
  std::string_view rest = path;
  while (!rest.empty()) {
    const auto separator = rest.find('\\');
    if (!prefix.empty()) prefix.push_back('\\');
    prefix.append(rest.substr(0, separator));
    Json& key = keys[Lowered(prefix)];
    if (!key.is_object()) key = Json::object();
    if (!key.contains(kNameField)) key[kNameField] = prefix;
    if (!key.contains(kValuesField)) key[kValuesField] = Json::object();
    if (separator == std::string_view::npos) break;
    rest.remove_prefix(separator + 1);
  }
}

}  // namespace

std::string SettingsFileOf(SettingsRoot root) {
  if (root == SettingsRoot::LocalMachine) {
    const char* file = std::getenv("VANTOR_MACHINE_SETTINGS");
    return file != nullptr && *file != '\0' ? file : "/etc/vantor/settings.json";
  }
  if (const char* file = std::getenv("VANTOR_USER_SETTINGS"); file != nullptr && *file != '\0') {
    return file;
  }
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config == '/') {
    return std::string(config) + "/vantor/settings.json";
  }
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "/tmp") + "/.config/vantor/settings.json";
}

OsResult<SettingsKey> SettingsKey::Open(SettingsRoot root, std::string_view path,
                                        SettingsAccess access) {
  const std::string normalised = NormalisedPath(path);
  if (normalised.empty()) return OsError::InvalidArgument;
  std::string file = SettingsFileOf(root);
  const bool writable = access == SettingsAccess::ReadWrite;
  if (writable && !CanWrite(file)) return OsError::AccessDenied;
  RootLock lock(file, false);
  Json document;
  Load(file, document);
  if (FindKey(document, normalised) == nullptr) return OsError::NotFound;
  return SettingsKey(std::move(file), normalised, writable);
}

OsResult<SettingsKey> SettingsKey::Create(SettingsRoot root, std::string_view path) {
  const std::string normalised = NormalisedPath(path);
  if (normalised.empty()) return OsError::InvalidArgument;
  std::string file = SettingsFileOf(root);
  if (!CanWrite(file)) return OsError::AccessDenied;
  RootLock lock(file, true);
  Json document;
  if (Load(file, document) == LoadState::Corrupt) return OsError::SystemError;
  if (FindKey(document, normalised) == nullptr) {
    EnsureKey(document, normalised);
    if (const OsError error = Store(file, document); error != OsError::Ok) return error;
  }
  return SettingsKey(std::move(file), normalised, true);
}

std::optional<std::uint32_t> SettingsKey::ReadWord(std::string_view valueName) const {
  RootLock lock(file_, false);
  Json document;
  Load(file_, document);
  const Json* key = FindKey(document, path_);
  const Json* value = key != nullptr ? FindValue(*key, valueName) : nullptr;
  if (value == nullptr || !value->contains(kWordField)) return std::nullopt;
  const Json& word = (*value)[kWordField];
  if (!word.is_number_unsigned()) return std::nullopt;
  const auto number = word.get<std::uint64_t>();
  if (number > 0xFFFFFFFFu) return std::nullopt;
  return static_cast<std::uint32_t>(number);
}

std::optional<std::string> SettingsKey::ReadText(std::string_view valueName) const {
  RootLock lock(file_, false);
  Json document;
  Load(file_, document);
  const Json* key = FindKey(document, path_);
  const Json* value = key != nullptr ? FindValue(*key, valueName) : nullptr;
  if (value == nullptr || !value->contains(kTextField) || !(*value)[kTextField].is_string()) {
    return std::nullopt;
  }
  return (*value)[kTextField].get<std::string>();
}

namespace {

// Reads, changes and writes the root under its exclusive lock; the key may
// have been deleted meanwhile by another process.
template <typename Change>
OsError Modify(const std::string& file, const std::string& path, bool writable, Change change) {
  if (!writable) return OsError::AccessDenied;
  RootLock lock(file, true);
  Json document;
  if (Load(file, document) == LoadState::Corrupt) return OsError::SystemError;
  if (FindKey(document, path) == nullptr) return OsError::NotFound;
  Json& key = document[kKeysField][Lowered(path)];
  if (!key.contains(kValuesField) || !key[kValuesField].is_object()) {
    key[kValuesField] = Json::object();
  }
  if (const OsError error = change(key[kValuesField]); error != OsError::Ok) return error;
  return Store(file, document);
}

}  // namespace

OsError SettingsKey::WriteWord(std::string_view valueName, std::uint32_t value) {
  return Modify(file_, path_, writable_, [&](Json& values) {
    values[Lowered(valueName)] = Json{{kNameField, std::string(valueName)}, {kWordField, value}};
    return OsError::Ok;
  });
}

OsError SettingsKey::WriteText(std::string_view valueName, std::string_view value) {
  return Modify(file_, path_, writable_, [&](Json& values) {
    values[Lowered(valueName)] =
        Json{{kNameField, std::string(valueName)}, {kTextField, std::string(value)}};
    return OsError::Ok;
  });
}

OsError SettingsKey::DeleteValue(std::string_view valueName) {
  return Modify(file_, path_, writable_, [&](Json& values) {
    return values.erase(Lowered(valueName)) > 0 ? OsError::Ok : OsError::NotFound;
  });
}

std::vector<std::string> SettingsKey::ValueNames() const {
  RootLock lock(file_, false);
  Json document;
  Load(file_, document);
  std::vector<std::string> names;
  const Json* key = FindKey(document, path_);
  if (key == nullptr || !key->contains(kValuesField) || !(*key)[kValuesField].is_object()) {
    return names;
  }
  for (const auto& [lowered, value] : (*key)[kValuesField].items()) {
    if (value.is_object() && value.contains(kNameField) && value[kNameField].is_string()) {
      names.push_back(value[kNameField].get<std::string>());
    } else {
      names.push_back(lowered);
    }
  }
  return names;
}

}  // namespace vantor::os
