#include "kernel/core/canopen/module_type.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace vantor::canopen {

namespace {

enum class ModuleType : std::uint8_t { Pwk5090 = 1, Zeb11, Hrx37, Zeb22, Zeb44 };
enum class Board : std::uint8_t { K902 = 1, K903, K905 };

std::string_view NameOf(ModuleType type) noexcept {
  switch (type) {
    case ModuleType::Pwk5090:
      return "PWK5090";
    case ModuleType::Zeb11:
      return "ZEB11";
    case ModuleType::Hrx37:
      return "HRX37";
    case ModuleType::Zeb22:
      return "ZEB22";
    case ModuleType::Zeb44:
      return "ZEB44";
  }
  return "";
}

std::string_view TagOf(Board board) noexcept {
  switch (board) {
    case Board::K902:
      return "_K902_";
    case Board::K903:
      return "_K903_";
    case Board::K905:
      return "_K905_";
  }
  return "";
}

struct Classification {
  ModuleType type;
  Board board;
};

constexpr std::array<std::string_view, 9> kZeb11OnK903 = {"K903",     "01.20.01", "01.32.00",
                                                          "01.41.00", "01.51.00", "01.52.00",
                                                          "01.53.00", "01.54.00", "01.55.00"};

// The first rule the text matches, or false.
bool Classify(std::string_view text, std::uint32_t driveVariant, Classification& out) noexcept {
  const auto has = [text](std::string_view part) { return text.find(part) != text.npos; };
  const Board k905OrK903 = has("K905") ? Board::K905 : Board::K903;
  if (has("HRX")) {
    out = {ModuleType::Hrx37, k905OrK903};
  } else if (has("01.41.00.01")) {
    out = {has("PWK") ? ModuleType::Pwk5090 : ModuleType::Hrx37, Board::K903};
  } else if (has("ZEB22/ZEB44")) {
    out = {driveVariant != 0 ? ModuleType::Zeb44 : ModuleType::Zeb22, k905OrK903};
  } else if (has("K905") || has("01.60.")) {
    out = {ModuleType::Zeb11, Board::K905};
  } else if (has("v6.3")) {
    out = {ModuleType::Pwk5090, Board::K902};
  } else if (std::any_of(kZeb11OnK903.begin(), kZeb11OnK903.end(), has)) {
    out = {ModuleType::Zeb11, Board::K903};
  } else {
    return false;
  }
  return true;
}

void Write(std::span<char> buffer, std::string_view parts0, std::string_view parts1,
           std::string_view parts2) noexcept {
  if (buffer.empty()) return;
  const std::size_t limit = std::min(kMaxModuleDescription, buffer.size() - 1);
  std::size_t at = 0;
  for (std::string_view part : {parts0, parts1, parts2}) {
    const std::size_t n = std::min(part.size(), limit - at);
    std::copy_n(part.begin(), n, buffer.begin() + static_cast<std::ptrdiff_t>(at));
    at += n;
  }
  buffer[at] = '\0';
}

}  // namespace

void DescribeModuleType(std::uint32_t driveVariant, std::span<char> text) noexcept {
  if (text.empty()) return;
  const std::size_t length =
      static_cast<std::size_t>(std::find(text.begin(), text.end(), '\0') - text.begin());
  // The description is built from a copy: it overwrites the text it reads.
  std::array<char, 256> answer{};
  const std::size_t kept = std::min(length, answer.size());
  std::copy_n(text.begin(), kept, answer.begin());
  const std::string_view view(answer.data(), kept);

  Classification found{};
  const std::size_t version = view.find("01.");
  if (!Classify(view, driveVariant, found) || version == view.npos) {
    Write(text, kUnknownModule, {}, {});
    return;
  }
  std::string_view versionPart = view.substr(version);
  versionPart = versionPart.substr(0, std::min(versionPart.size(), versionPart.find(' ')));
  Write(text, NameOf(found.type), TagOf(found.board), versionPart);
}

}  // namespace vantor::canopen
