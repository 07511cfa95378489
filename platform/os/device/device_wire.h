// Messages between a device handle and the driver host.
//
// Each open handle is one SOCK_SEQPACKET connection to the driver host's
// socket in the namespace's runtime folder. A message is one packet: a
// 32-byte header followed by its data. The client opens with the device
// name, then sends requests that carry their own id; the host answers each
// request with a reply of the same id, in any order and as late as the
// driver completes it. A reply carries data only when the request succeeded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/wire_record.h"

namespace vantor::os::device_wire {

// The driver host's socket file in the namespace's runtime folder.
inline constexpr std::string_view kSocketFileName = "devhost.socket";

enum class MessageKind : std::uint16_t {
  kOpen = 1,       // data: the device's user-visible name
  kOpenReply = 2,  // status: success or why the device refused the handle
  kRequest = 3,    // data: `inputLength` bytes of input
  kReply = 4,      // status, information; data: `information` bytes of output
};

inline constexpr common::Field<std::uint16_t, 0> kKind{};
inline constexpr common::Field<std::uint16_t, 2> kReserved0{};
inline constexpr common::Field<std::uint32_t, 4> kRequestId{};
inline constexpr common::Field<std::uint32_t, 8> kCode{};
inline constexpr common::Field<std::uint32_t, 12> kInputLength{};
inline constexpr common::Field<std::uint32_t, 16> kOutputLength{};
inline constexpr common::Field<std::uint32_t, 20> kStatus{};
inline constexpr common::Field<std::uint32_t, 24> kInformation{};
inline constexpr common::Field<std::uint32_t, 28> kReserved1{};

inline constexpr std::size_t kHeaderSize = 32;
static_assert(kReserved1.kEnd == kHeaderSize, "the header ends with its last field");

// Largest input or output of one request. The biggest record of the
// request set (the cyclic exchange) is 12,468 bytes; the margin leaves room
// for drivers with larger records without letting a client make the host
// reserve unbounded memory.
inline constexpr std::uint32_t kMaxTransferLength = 64 * 1024;
inline constexpr std::size_t kMaxMessageSize = kHeaderSize + kMaxTransferLength;

// Longest device name a client may ask for.
inline constexpr std::size_t kMaxDeviceNameLength = 255;

using Header = common::ByteView<kHeaderSize>;
using ConstHeader = common::ConstByteView<kHeaderSize>;

}  // namespace vantor::os::device_wire
