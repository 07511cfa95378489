// Reads of the simulated machine's dictionaries through the application's
// own SDO exchange (cpctl_ComViaSdo), on the public header only, for the
// chain tests and the applications they start.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>

#include "interface/include/linkora.h"

namespace vantor::examples_test {

// Long enough for one exchange on a loaded machine.
inline constexpr std::uint32_t kSdoTimeoutMicroseconds = 200000;

// The I/O module of the test machines: no drive of a homing run, so
// nothing of the run stands in an exchange with it.
inline constexpr std::uint8_t kIoModule = 10;

// One expedited upload of `index`/`subindex` from node `node`: the
// exchange's result and the answer frame.
inline std::uint32_t UploadObject(std::uint8_t node, std::uint16_t index, std::uint8_t subindex,
                                  LinkoraSdoFrame& frame) {
  frame = LinkoraSdoFrame{};
  frame.RequestCobId = static_cast<std::uint16_t>(0x600 + node);
  const std::uint8_t request[8] = {0x40,
                                   static_cast<std::uint8_t>(index & 0xFF),
                                   static_cast<std::uint8_t>(index >> 8),
                                   subindex,
                                   0,
                                   0,
                                   0,
                                   0};
  std::memcpy(frame.RequestData, request, sizeof request);
  frame.RequestLength = 8;
  frame.ResponseCobId = static_cast<std::uint16_t>(0x580 + node);
  frame.Timeout = kSdoTimeoutMicroseconds;
  return cpctl_ComViaSdo(&frame, sizeof frame);
}

// The value of an expedited upload's answer, sign-extended from its size;
// nothing when the exchange failed or the answer is no expedited upload
// of that object.
inline std::optional<std::int64_t> ReadSigned(std::uint8_t node, std::uint16_t index,
                                              std::uint8_t subindex) {
  LinkoraSdoFrame frame;
  if (UploadObject(node, index, subindex, frame) != LINKORA_SUCCESS) return std::nullopt;
  const std::uint8_t* data = frame.ResponseData;
  const bool expedited = (data[0] & 0xE3) == 0x43;
  if (frame.ResponseLength != 8 || !expedited || data[1] != (index & 0xFF) ||
      data[2] != (index >> 8) || data[3] != subindex) {
    return std::nullopt;
  }
  const unsigned size = 4 - ((data[0] >> 2) & 0x3);
  std::uint32_t raw = 0;
  for (unsigned i = 0; i < size; ++i) raw |= static_cast<std::uint32_t>(data[4 + i]) << (8 * i);
  const unsigned unused = 32 - 8 * size;
  return static_cast<std::int64_t>(static_cast<std::int32_t>(raw << unused) >> unused);
}

}  // namespace vantor::examples_test
