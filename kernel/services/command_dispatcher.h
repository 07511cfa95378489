// Dispatch of the standard request area: one handler per command code.
#pragma once

#include <cstdint>

#include "kernel/services/kernel_link.h"

namespace vantor::kernel {

// What a handler tells the server thread after it has written its result.
enum class AfterCommand { KeepServing, EndKernel };

using CommandHandlerFunction = AfterCommand (*)(Kernel& kernel);

// The handler of `code`; every code without a handler of its own gets
// `RejectUnknownCommand`.
CommandHandlerFunction CommandHandlerFor(std::uint32_t code) noexcept;

// True for the codes whose handlers the kernel does not have yet; they are
// answered kKernelWrongFunctionNumber like unknown codes.
bool IsCommandAwaitingHandler(std::uint32_t code) noexcept;

// Reads the command code, runs its handler and answers the application
// exactly once, after the handler has released everything it took.
AfterCommand DispatchCommand(Kernel& kernel);

// Writes kKernelWrongFunctionNumber; nothing else changes.
AfterCommand RejectUnknownCommand(Kernel& kernel);

}  // namespace vantor::kernel
