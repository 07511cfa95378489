#include "drivers/host/frame_log.h"

#include <chrono>
#include <cstdint>

namespace vantor::host {

void StampFramesWithWallClock(SimulatedMachine& machine) {
  const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
  const auto wallClock = static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(sinceEpoch).count());
  SimulationPump::ModelAccess access(machine.Pump());
  const std::uint64_t start = wallClock - machine.Models().Sim().Now();
  for (const auto& bus : machine.Models().Buses()) bus->SetLogStart(start);
}

FrameLog::FrameLog(std::ostream* file) : file_(file), stream_(this) {}

std::vector<std::string> FrameLog::Take() {
  std::lock_guard lock(mutex_);
  std::vector<std::string> taken(std::make_move_iterator(lines_.begin()),
                                 std::make_move_iterator(lines_.end()));
  lines_.clear();
  return taken;
}

FrameLog::int_type FrameLog::overflow(int_type character) {
  if (traits_type::eq_int_type(character, traits_type::eof()))
    return traits_type::not_eof(character);
  const char byte = traits_type::to_char_type(character);
  Append(&byte, 1);
  return character;
}

std::streamsize FrameLog::xsputn(const char* text, std::streamsize count) {
  if (count > 0) Append(text, static_cast<std::size_t>(count));
  return count;
}

void FrameLog::Append(const char* text, std::size_t count) {
  std::lock_guard lock(mutex_);
  for (std::size_t i = 0; i < count; ++i) {
    if (text[i] != '\n') {
      partial_.push_back(text[i]);
      continue;
    }
    if (file_ != nullptr) {
      // Flushed per line, so a reader of the file sees each frame at once.
      *file_ << partial_ << '\n' << std::flush;
    }
    if (lines_.size() == kCapacity) lines_.pop_front();
    lines_.push_back(std::move(partial_));
    partial_.clear();
  }
}

}  // namespace vantor::host
