// Settings store in place of the registry: keys below a per-user and a
// machine-wide root, each root one file.
//
// Key paths use '\' between key names and compare without regard to case,
// as do value names. Values are 32-bit words or texts. Each operation reads
// the file and writes it back whole (atomically, under a file lock), so
// several processes can share a root.
//
// The per-user root is $VANTOR_USER_SETTINGS, else
// $XDG_CONFIG_HOME/vantor/settings.json, else ~/.config/vantor/settings.json.
// The machine-wide root is $VANTOR_MACHINE_SETTINGS, else
// /etc/vantor/settings.json.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/os/os_error.h"

namespace vantor::os {

enum class SettingsRoot { CurrentUser, LocalMachine };
enum class SettingsAccess { Read, ReadWrite };

class SettingsKey {
 public:
  // Opens an existing key; NotFound when absent, AccessDenied when
  // ReadWrite is asked for and the root's file cannot be written.
  static OsResult<SettingsKey> Open(SettingsRoot root, std::string_view path,
                                    SettingsAccess access);
  // Opens the key, creating it and its parents when absent (ReadWrite).
  static OsResult<SettingsKey> Create(SettingsRoot root, std::string_view path);

  std::optional<std::uint32_t> ReadWord(std::string_view valueName) const;
  std::optional<std::string> ReadText(std::string_view valueName) const;
  OsError WriteWord(std::string_view valueName, std::uint32_t value);
  OsError WriteText(std::string_view valueName, std::string_view value);
  OsError DeleteValue(std::string_view valueName);
  std::vector<std::string> ValueNames() const;

  const std::string& path() const { return path_; }

 private:
  SettingsKey(std::string file, std::string path, bool writable)
      : file_(std::move(file)), path_(std::move(path)), writable_(writable) {}

  std::string file_;
  std::string path_;
  bool writable_ = false;
};

// File that backs a root (after the environment has been consulted).
std::string SettingsFileOf(SettingsRoot root);

}  // namespace vantor::os
