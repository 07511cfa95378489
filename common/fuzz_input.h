// What every fuzz target needs: an invariant check that stops the run on a
// violation (so the fuzzer records the input), and a reader that takes the
// input from the front, yielding zero past its end.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

namespace vantor::common {

inline void FuzzRequire(bool condition) {
  if (!condition) std::abort();
}

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool AtEnd() const { return at_ >= size_; }
  std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  // Two bytes, low byte first.
  std::uint16_t Word() {
    const std::uint16_t low = Byte();
    return static_cast<std::uint16_t>(low | (Byte() << 8));
  }
  // Up to `count` bytes; fewer when the input ends first.
  std::span<const std::uint8_t> Take(std::size_t count) {
    const std::size_t taken = std::min(count, size_ - std::min(at_, size_));
    const std::span<const std::uint8_t> part(data_ + at_, taken);
    at_ += taken;
    return part;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

}  // namespace vantor::common
