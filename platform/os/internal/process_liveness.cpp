#include "platform/os/internal/process_liveness.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace vantor::os::internal {
namespace {

struct StatFields {
  char state = '?';
  std::uint64_t startTime = 0;
};

enum class StatRead { Read, NoSuchProcess, Unreadable };

// Reads /proc/<pid>/stat. The command name may hold blanks and ')', so the
// fields are counted from the last ')'. Only a missing entry says that the
// process is gone; any other failure (no file descriptors left, say) says
// nothing, so that nobody's objects are cleared on a guess.
std::optional<StatFields> ReadStat(std::uint32_t pid, StatRead* outcome = nullptr) {
  StatRead ignored;
  StatRead& result = outcome != nullptr ? *outcome : ignored;
  char path[40];
  std::snprintf(path, sizeof path, "/proc/%u/stat", pid);
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    result = errno == ENOENT || errno == ESRCH ? StatRead::NoSuchProcess : StatRead::Unreadable;
    return std::nullopt;
  }
  result = StatRead::Unreadable;
  std::array<char, 1024> buffer{};
  const ssize_t length = ::read(fd, buffer.data(), buffer.size() - 1);
  ::close(fd);
  if (length <= 0) {
    // A process that ended between open and read leaves an empty read.
    if (length == 0 || errno == ESRCH) result = StatRead::NoSuchProcess;
    return std::nullopt;
  }
  std::string_view text(buffer.data(), static_cast<std::size_t>(length));
  const auto close = text.rfind(')');
  if (close == std::string_view::npos || close + 2 >= text.size()) return std::nullopt;
  text.remove_prefix(close + 2);  // ") "
  StatFields fields;
  fields.state = text.front();
  // After the name: state is field 3, starttime is field 22.
  int field = 3;
  std::size_t position = 0;
  while (field < 22) {
    const auto blank = text.find(' ', position);
    if (blank == std::string_view::npos) return std::nullopt;
    position = blank + 1;
    ++field;
  }
  const char* begin = text.data() + position;
  const char* end = text.data() + text.size();
  const auto parsed = std::from_chars(begin, end, fields.startTime);
  if (parsed.ec != std::errc()) return std::nullopt;
  result = StatRead::Read;
  return fields;
}

}  // namespace

std::optional<std::uint64_t> ProcessStartTime(std::uint32_t pid) {
  const auto fields = ReadStat(pid);
  if (!fields) return std::nullopt;
  return fields->startTime;
}

bool IsProcessAlive(std::uint32_t pid, std::uint64_t startTime) {
  if (pid == 0) return false;
  StatRead outcome = StatRead::Unreadable;
  const auto fields = ReadStat(pid, &outcome);
  if (!fields) return outcome != StatRead::NoSuchProcess;
  if (fields->state == 'Z' || fields->state == 'X' || fields->state == 'x') return false;
  return fields->startTime == startTime;
}

}  // namespace vantor::os::internal
