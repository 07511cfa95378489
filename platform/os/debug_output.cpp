#include "platform/os/debug_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace vantor::os {
namespace {

constexpr std::string_view kEnvironmentName = "VANTOR_DEBUG_OUTPUT";

void WriteWhole(int fd, const std::string& line) {
  std::size_t written = 0;
  while (written < line.size()) {
    const ssize_t result = ::write(fd, line.data() + written, line.size() - written);
    if (result <= 0) return;
    written += static_cast<std::size_t>(result);
  }
}

}  // namespace

void OutputDebugText(std::string_view text) {
  const char* target = std::getenv(kEnvironmentName.data());
  if (target == nullptr || *target == '\0') return;
  const std::string_view where(target);
  if (where == "off") return;
  std::string line(text);
  if (line.empty() || line.back() != '\n') line.push_back('\n');
  if (where == "stderr") {
    WriteWhole(STDERR_FILENO, line);
    return;
  }
  const int fd = ::open(target, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  WriteWhole(fd, line);
  ::close(fd);
}

}  // namespace vantor::os
