#include "platform/os/library_path.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <utility>

namespace vantor::os {
namespace {

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string CanonicalPath(const char* path) {
  char resolved[PATH_MAX];
  if (::realpath(path, resolved) == nullptr) return {};
  return resolved;
}

}  // namespace

std::string FolderOfAddress(const void* address) {
  Dl_info info{};
  if (::dladdr(address, &info) == 0 || info.dli_fname == nullptr) return {};
  // The program itself may be reported by its bare name.
  if (info.dli_fname[0] != '/') return ExecutableFolder();
  const std::string canonical = CanonicalPath(info.dli_fname);
  return FolderOf(canonical.empty() ? std::string(info.dli_fname) : canonical);
}

std::string ModuleFolder() {
  return FolderOfAddress(reinterpret_cast<const void*>(&ModuleFolder));
}

std::string ExecutableFolder() {
  char path[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return {};
  path[length] = '\0';
  return FolderOf(path);
}

Plugin::Plugin(Plugin&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

Plugin& Plugin::operator=(Plugin&& other) noexcept {
  if (this != &other) {
    if (handle_ != nullptr) ::dlclose(handle_);
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

Plugin::~Plugin() {
  if (handle_ != nullptr) ::dlclose(handle_);
}

OsResult<Plugin> Plugin::Load(const std::string& path, std::string* error) {
  // A bare name would make the loader search the library path.
  if (path.find('/') == std::string::npos) {
    if (error != nullptr) *error = "not a path: " + path;
    return OsError::InvalidArgument;
  }
  if (::access(path.c_str(), F_OK) != 0) {
    if (error != nullptr) *error = "no such file: " + path;
    return OsError::NotFound;
  }
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    if (error != nullptr) {
      const char* text = ::dlerror();
      *error = text != nullptr ? text : "cannot load";
    }
    return OsError::SystemError;
  }
  return Plugin(handle);
}

void* Plugin::Symbol(const char* name) const {
  if (handle_ == nullptr || name == nullptr) return nullptr;
  return ::dlsym(handle_, name);
}

}  // namespace vantor::os
