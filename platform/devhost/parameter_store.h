// Drivers' parameters, read from a file in place of their service keys.
//
// The file holds one section per key, named after the driver and, for a
// subkey, the subkey after a backslash; each line below sets a 32-bit
// value, in decimal or with 0x in hexadecimal:
//
//   ; parallel-port adapter on the second port
//   [ravund]
//   ParallelPortNumber = 1
//   [ravund\Parameters]
//   TESTPORT_BASEADR = 0x3BC
//
// Keys and value names are matched case-insensitively. A value that is not
// there is simply absent, and the driver takes its default.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace vantor::devhost {

class ParameterStore {
 public:
  // Replaces the contents with the file's. On failure nothing changes and
  // `error` says which line is wrong and why.
  bool Load(const std::string& path, std::string& error);
  bool Parse(std::string_view text, std::string& error);

  std::optional<std::uint32_t> QueryDword(std::string_view key, std::string_view name) const;
  std::uint32_t QueryDword(std::string_view key, std::string_view name,
                           std::uint32_t defaultValue) const {
    return QueryDword(key, name).value_or(defaultValue);
  }
  void SetDword(std::string_view key, std::string_view name, std::uint32_t value);

 private:
  using Values = std::map<std::string, std::uint32_t>;  // "key\x1fname", lower case

  mutable std::mutex mutex_;
  Values values_;
};

}  // namespace vantor::devhost
