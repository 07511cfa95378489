// The frame every export runs in: its own lock, the trace lines on entry
// and exit, and a barrier that keeps any exception inside the library.
#pragma once

#include <cstdint>
#include <mutex>

#include "common/status_code.h"
#include "interface/trace_output.h"

#define LINKORA_EXPORT extern "C" __attribute__((visibility("default")))

namespace vantor::interface {

template <typename Body>
std::uint32_t RunExport(std::mutex& exportLock, const char* exportName, Body body) noexcept {
  std::uint32_t status = common::kLibraryOutOfResources;
  try {
    std::lock_guard lock(exportLock);
    LibraryTrace().Trace(TraceEdge::Entry, exportName);
    try {
      status = body();
    } catch (...) {
      // Out of memory or a failing system call: the library's resources
      // ran out, and the caller hears it as such.
      status = common::kLibraryOutOfResources;
    }
    LibraryTrace().Trace(TraceEdge::Exit, exportName);
  } catch (...) {
    status = common::kLibraryOutOfResources;
  }
  return status;
}

}  // namespace vantor::interface
