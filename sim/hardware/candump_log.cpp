#include "sim/hardware/candump_log.h"

#include <cstdio>

namespace vantor::sim {

std::string FormatCandumpLine(SimTime time, std::string_view interface_name,
                              const CanFrame& frame) {
  constexpr SimTime kNanosecondsPerSecond = 1000 * kNanosecondsPerMillisecond;
  const unsigned long long seconds = time / kNanosecondsPerSecond;
  const unsigned long long microseconds =
      (time % kNanosecondsPerSecond) / kNanosecondsPerMicrosecond;

  char head[48];
  std::snprintf(head, sizeof head, "(%010llu.%06llu) ", seconds, microseconds);
  std::string line = head;
  line.append(interface_name);

  char identifier[8];
  std::snprintf(identifier, sizeof identifier, " %03X#",
                frame.identifier & CanFrame::kMaxIdentifier);
  line += identifier;

  static constexpr char kHex[] = "0123456789ABCDEF";
  const std::uint8_t length =
      frame.length > CanFrame::kMaxLength ? CanFrame::kMaxLength : frame.length;
  if (frame.remote) {
    line += 'R';
    if (length > 0) line += kHex[length];
    return line;
  }
  for (std::uint8_t i = 0; i < length; ++i) {
    line += kHex[frame.data[i] >> 4];
    line += kHex[frame.data[i] & 0x0F];
  }
  return line;
}

}  // namespace vantor::sim
