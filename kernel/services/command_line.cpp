#include "kernel/services/command_line.h"

namespace vantor::kernel {

namespace {

constexpr bool IsSeparator(char c) noexcept { return c == ' ' || c == '/' || c == '-'; }

std::string_view::size_type EndOfWord(std::string_view text, std::string_view::size_type from) {
  while (from < text.size() && !IsSeparator(text[from])) ++from;
  return from;
}

}  // namespace

std::string RawCommandLine(std::span<const char* const> argumentsAfterProgramName) {
  std::string line;
  for (const char* argument : argumentsAfterProgramName) {
    if (argument == nullptr) break;
    if (!line.empty()) line += ' ';
    line += argument;
  }
  return line;
}

std::optional<KernelInstance> ParseKernelCommandLine(std::string_view commandLine) noexcept {
  // Leading separators are not skipped: the library never writes any, so a
  // command line that starts with one was not written by the library.
  const auto firstEnd = EndOfWord(commandLine, 0);
  const auto interfaceType = common::ParseInterfaceKeyword(commandLine.substr(0, firstEnd));
  if (!interfaceType) return std::nullopt;

  auto secondBegin = firstEnd;
  while (secondBegin < commandLine.size() && IsSeparator(commandLine[secondBegin])) ++secondBegin;
  const auto secondEnd = EndOfWord(commandLine, secondBegin);
  const auto channel =
      common::ParseChannelKeyword(commandLine.substr(secondBegin, secondEnd - secondBegin));
  if (!channel) return std::nullopt;

  return KernelInstance{*interfaceType, *channel};
}

}  // namespace vantor::kernel
