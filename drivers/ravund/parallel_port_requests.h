// The internal requests of the system's parallel-port driver that ravund
// relies on, with their records. Only drivers send them.
//
// The port's try-allocate and free routines are reached as requests of the
// port's device (the info record says whether the port has them): a port
// that the system driver does not manage has none, and then whoever uses
// the port simply takes it.
#pragma once

#include <cstdint>

#include "common/wire_record.h"

namespace vantor::ravund {

inline constexpr std::uint32_t IOCTL_INTERNAL_PARALLEL_PORT_ALLOCATE = 0x16002C;
inline constexpr std::uint32_t IOCTL_INTERNAL_GET_PARALLEL_PORT_INFO = 0x160030;
inline constexpr std::uint32_t IOCTL_INTERNAL_GET_MORE_PARALLEL_PORT_INFO = 0x160044;
inline constexpr std::uint32_t IOCTL_INTERNAL_GET_PARALLEL_PNP_INFO = 0x160054;
inline constexpr std::uint32_t IOCTL_INTERNAL_PARALLEL_PORT_FREE = 0x1600A0;

// ---- GET_PARALLEL_PORT_INFO (32 bytes) -----------------------------------------------
inline constexpr std::size_t kParallelPortInfoSize = 32;
using ParallelPortInfo = common::ByteRecord<kParallelPortInfoSize>;
static_assert(sizeof(ParallelPortInfo) == kParallelPortInfoSize);
namespace port_info {
inline constexpr common::Field<std::uint64_t, 0> kPhysicalBase{};
inline constexpr common::Field<std::uint32_t, 8> kMappedBase{};  // the I/O port
inline constexpr common::Field<std::uint32_t, 12> kSpan{};
inline constexpr common::Field<std::uint32_t, 16> kTryAllocate{};  // nonzero: the routine exists
inline constexpr common::Field<std::uint32_t, 20> kFree{};         // nonzero: the routine exists
inline constexpr common::Field<std::uint32_t, 24> kQueryWaiters{};
inline constexpr common::Field<std::uint32_t, 28> kContext{};
static_assert(kContext.kEnd == kParallelPortInfoSize);
}  // namespace port_info

// ---- GET_MORE_PARALLEL_PORT_INFO (24 bytes) ------------------------------------------
inline constexpr std::size_t kMorePortInfoSize = 24;
using MorePortInfo = common::ByteRecord<kMorePortInfoSize>;
static_assert(sizeof(MorePortInfo) == kMorePortInfoSize);
namespace more_port_info {
inline constexpr common::Field<std::uint32_t, 0> kInterfaceType{};
inline constexpr common::Field<std::uint32_t, 4> kBusNumber{};
inline constexpr common::Field<std::uint32_t, 8> kInterruptLevel{};
inline constexpr common::Field<std::uint32_t, 12> kInterruptVector{};
inline constexpr common::Field<std::uint32_t, 16> kInterruptAffinity{};
inline constexpr common::Field<std::uint32_t, 20> kInterruptMode{};  // 1 latched, 0 level
static_assert(kInterruptMode.kEnd == kMorePortInfoSize);
}  // namespace more_port_info

// ---- GET_PARALLEL_PNP_INFO (80 bytes), asked for and not used --------------------------
inline constexpr std::size_t kPnpInfoSize = 80;

// ---- PARALLEL_PORT_ALLOCATE: one byte, 1 when the port is now the caller's ----------
inline constexpr std::size_t kAllocateAnswerSize = 1;

}  // namespace vantor::ravund
