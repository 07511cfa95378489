// The frames that made it onto the simulated buses, in candump's log
// format: kept (bounded) for the control endpoint and, when asked for,
// written to a file as they happen.
#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "drivers/host/simulated_machine.h"

namespace vantor::host {

// Stamps the frames of every bus of `machine` as candump does on a real
// bus: the wall-clock time at which simulated time was 0, plus simulated
// time, so log readers show real dates and times.
void StampFramesWithWallClock(SimulatedMachine& machine);

class FrameLog final : private std::streambuf {
 public:
  // Lines kept for readers; the oldest go first when more accumulate.
  static constexpr std::size_t kCapacity = 1 << 16;

  // `file` (may be null) receives every line as it completes.
  explicit FrameLog(std::ostream* file = nullptr);
  FrameLog(const FrameLog&) = delete;
  FrameLog& operator=(const FrameLog&) = delete;

  // The stream the buses write to.
  std::ostream& Stream() noexcept { return stream_; }

  // The lines completed since the last take, oldest first.
  std::vector<std::string> Take();

 private:
  int_type overflow(int_type character) override;
  std::streamsize xsputn(const char* text, std::streamsize count) override;
  void Append(const char* text, std::size_t count);

  std::ostream* file_;
  std::ostream stream_;
  std::mutex mutex_;
  std::string partial_;
  std::deque<std::string> lines_;
};

}  // namespace vantor::host
