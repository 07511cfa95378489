// Processes: start, open by id, wait, terminate.
//
// A process handle is signalled when the process has ended and mixes with
// other objects in one wait. Processes started here are reaped by this
// layer, also after their handle was closed, so no zombies are left.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/os/named_objects.h"

namespace vantor::os {

struct ProcessStartOptions {
  // Ask for real-time scheduling; silently normal where not permitted.
  bool realTimeClass = false;
};

class Process : public Waitable {
 public:
  Process() = default;
  Process(Process&& other) noexcept;
  Process& operator=(Process&& other) noexcept;
  ~Process() override;

  // Starts `executablePath` with argv[0] = executablePath and argv[1...] =
  // `arguments`, inheriting environment and working folder. Fails with
  // NotFound when the file is absent and AccessDenied when it cannot run.
  static OsResult<Process> Start(const std::string& executablePath,
                                 const std::vector<std::string>& arguments,
                                 ProcessStartOptions options = {});
  // Opens a running process by id (any process of this user, not only
  // children). NotFound when no such process runs.
  static OsResult<Process> Open(std::uint32_t processId);

  std::uint32_t id() const { return processId_; }
  // Ends the process at once; the exit code is what exitCode() reports
  // afterwards. Succeeds too when the process has already ended.
  OsError Terminate(std::uint32_t exitCode);
  // Known for processes started here once they have ended (a signal death
  // reports 128 + the signal unless Terminate chose the code); empty while
  // running or for processes opened by id.
  std::optional<std::uint32_t> exitCode() const;

 private:
  using Waitable::Waitable;
  void OnClose() override;

  std::uint32_t processId_ = 0;
  bool isChild_ = false;
};

std::uint32_t CurrentProcessId();

}  // namespace vantor::os
