// The kernel's command line: `<interface keyword> -<channel keyword>`.
//
// The library starts one kernel per channel and tells it, on its command
// line, which interface it drives and which channel it serves. Nothing else
// is passed; a command line that is not exactly of this form (a program
// name in front, a leading blank, a keyword in another case) is refused, so
// a kernel never serves a channel it was not started for.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/kernel_object_names.h"

namespace vantor::kernel {

struct KernelInstance {
  common::InterfaceType interfaceType;
  common::Channel channel;

  friend bool operator==(const KernelInstance&, const KernelInstance&) = default;
};

// The raw command line as the kernel reads it: the arguments after the
// program name, joined by single blanks.
std::string RawCommandLine(std::span<const char* const> argumentsAfterProgramName);

// Word 1 runs from the first character up to the first ' ', '/' or '-' and
// must be an interface keyword; after any run of separators, word 2 must be
// a channel keyword. Anything after word 2 is ignored.
std::optional<KernelInstance> ParseKernelCommandLine(std::string_view commandLine) noexcept;

}  // namespace vantor::kernel
