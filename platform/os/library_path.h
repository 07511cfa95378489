// Where our code lives on disk, and plug-ins loaded by path.
#pragma once

#include <string>

#include "platform/os/os_error.h"

namespace vantor::os {

// Folder (without trailing '/') of the shared library or program that holds
// `address`; empty when it cannot be told.
std::string FolderOfAddress(const void* address);
// Folder of the module this layer is linked into: the shared library when
// it is part of one, else the program.
std::string ModuleFolder();
// Folder of the running program.
std::string ExecutableFolder();

class Plugin {
 public:
  Plugin() = default;
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;
  Plugin(Plugin&& other) noexcept;
  Plugin& operator=(Plugin&& other) noexcept;
  ~Plugin();

  // Loads a shared library from a path (no search). NotFound when absent,
  // SystemError when it cannot be loaded; `error` gets the loader's text.
  static OsResult<Plugin> Load(const std::string& path, std::string* error = nullptr);
  void* Symbol(const char* name) const;
  bool valid() const { return handle_ != nullptr; }

 private:
  explicit Plugin(void* handle) : handle_(handle) {}
  void* handle_ = nullptr;
};

}  // namespace vantor::os
