#include "sim/hardware/frame_timing.h"

#include <array>

namespace vantor::sim {
namespace {

// Start of frame through the data field holds at most 1 + 11 + 3 + 4 + 64
// bits; with the 15 CRC bits that is the stuffed part of the frame.
constexpr std::size_t kMaxStuffedBits = 1 + 11 + 1 + 1 + 1 + 4 + 64 + 15;
constexpr std::uint32_t kUnstuffedTailBits =
    1 + 1 + 1 + 7;  // CRC and ACK delimiters, ACK slot, EOF
constexpr std::uint16_t kCrc15Polynomial = 0x4599;

class BitString {
 public:
  void Append(std::uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) bits_[size_++] = ((value >> i) & 1U) != 0;
  }
  std::size_t Size() const { return size_; }
  bool operator[](std::size_t i) const { return bits_[i]; }

 private:
  std::array<bool, kMaxStuffedBits> bits_{};
  std::size_t size_ = 0;
};

BitString HeaderAndData(const CanFrame& frame) {
  BitString bits;
  const std::uint8_t length =
      frame.length > CanFrame::kMaxLength ? CanFrame::kMaxLength : frame.length;
  bits.Append(0, 1);  // start of frame (dominant)
  bits.Append(frame.identifier & CanFrame::kMaxIdentifier, 11);
  bits.Append(frame.remote ? 1 : 0, 1);  // RTR
  bits.Append(0, 1);                     // IDE: standard frame
  bits.Append(0, 1);                     // r0
  bits.Append(frame.length & 0x0F, 4);
  if (!frame.remote) {
    for (std::uint8_t i = 0; i < length; ++i) bits.Append(frame.data[i], 8);
  }
  return bits;
}

std::uint16_t Crc15(const BitString& bits) {
  std::uint16_t crc = 0;
  for (std::size_t i = 0; i < bits.Size(); ++i) {
    const bool next = bits[i] != (((crc >> 14) & 1U) != 0);
    crc = static_cast<std::uint16_t>((crc << 1) & 0x7FFF);
    if (next) crc ^= kCrc15Polynomial;
  }
  return crc;
}

}  // namespace

std::uint16_t FrameCrc(const CanFrame& frame) { return Crc15(HeaderAndData(frame)); }

std::uint32_t FrameBitCount(const CanFrame& frame) {
  BitString bits = HeaderAndData(frame);
  bits.Append(Crc15(bits), 15);

  // A stuff bit follows every run of five equal bits and starts a new run.
  std::uint32_t stuff_bits = 0;
  int run = 0;
  bool last = false;
  for (std::size_t i = 0; i < bits.Size(); ++i) {
    if (run > 0 && bits[i] == last) {
      ++run;
    } else {
      run = 1;
      last = bits[i];
    }
    if (run == 5) {
      ++stuff_bits;
      last = !last;
      run = 1;
    }
  }
  return static_cast<std::uint32_t>(bits.Size()) + stuff_bits + kUnstuffedTailBits;
}

}  // namespace vantor::sim
