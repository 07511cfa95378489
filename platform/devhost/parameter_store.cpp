#include "platform/devhost/parameter_store.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>

namespace vantor::devhost {

namespace {

// Longest file the host reads as parameters; anything longer is not ours.
constexpr std::size_t kMaxFileSize = 1 << 20;

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

std::string Slot(std::string_view key, std::string_view name) {
  return Lower(key) + '\x1f' + Lower(name);
}

std::optional<std::uint32_t> ParseDword(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (error != std::errc{} || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

bool ValidName(std::string_view name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](unsigned char c) {
    return std::isalnum(c) || c == '_' || c == '-' || c == '.' || c == '\\';
  });
}

}  // namespace

bool ParameterStore::Load(const std::string& path, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot open " + path;
    return false;
  }
  std::string text(kMaxFileSize + 1, '\0');
  file.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (file.gcount() > static_cast<std::streamsize>(kMaxFileSize)) {
    error = path + " is larger than 1 MiB";
    return false;
  }
  text.resize(static_cast<std::size_t>(file.gcount()));
  return Parse(text, error);
}

bool ParameterStore::Parse(std::string_view text, std::string& error) {
  Values parsed;
  std::string section;
  std::size_t lineNumber = 0;
  while (!text.empty()) {
    const auto end = text.find('\n');
    const std::string_view raw = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    ++lineNumber;
    const std::string_view line = Trim(raw.substr(0, raw.find_first_of(";#")));
    if (line.empty()) continue;
    const auto fail = [&](std::string_view why) {
      error = "line " + std::to_string(lineNumber) + ": " + std::string(why);
      return false;
    };
    if (line.front() == '[') {
      if (line.back() != ']') return fail("section without closing bracket");
      const std::string_view name = Trim(line.substr(1, line.size() - 2));
      if (!ValidName(name)) return fail("invalid section name");
      section = std::string(name);
      continue;
    }
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) return fail("expected name = value");
    if (section.empty()) return fail("value outside a section");
    const std::string_view name = Trim(line.substr(0, equals));
    if (!ValidName(name)) return fail("invalid value name");
    const auto value = ParseDword(Trim(line.substr(equals + 1)));
    if (!value) return fail("value is not a 32-bit number");
    parsed[Slot(section, name)] = *value;
  }
  std::lock_guard lock(mutex_);
  values_ = std::move(parsed);
  return true;
}

std::optional<std::uint32_t> ParameterStore::QueryDword(std::string_view key,
                                                        std::string_view name) const {
  std::lock_guard lock(mutex_);
  const auto it = values_.find(Slot(key, name));
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

void ParameterStore::SetDword(std::string_view key, std::string_view name, std::uint32_t value) {
  std::lock_guard lock(mutex_);
  values_[Slot(key, name)] = value;
}

}  // namespace vantor::devhost
