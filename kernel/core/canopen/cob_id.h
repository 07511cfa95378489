// The predefined identifiers of a node: the base of each service with the
// node id's low 8 bits OR-ed in.
#pragma once

#include <cstdint>

#include "kernel/core/canopen/canopen_constants.h"

namespace vantor::canopen {

constexpr std::uint16_t WithNode(std::uint16_t base, std::uint32_t node) noexcept {
  return static_cast<std::uint16_t>(base | (node & 0xFFu));
}

// PDO numbers 1 to 4; any other number gives the node argument back
// unchanged, which callers never put on the bus.
constexpr std::uint16_t MakeTpdoCobId(std::uint32_t pdo, std::uint32_t node) noexcept {
  if (pdo < 1 || pdo > 4) return static_cast<std::uint16_t>(node);
  return WithNode(static_cast<std::uint16_t>(cob_base::kTpdo1 + cob_base::kPdoStep * (pdo - 1)),
                  node);
}

constexpr std::uint16_t MakeRpdoCobId(std::uint32_t pdo, std::uint32_t node) noexcept {
  if (pdo < 1 || pdo > 4) return static_cast<std::uint16_t>(node);
  return WithNode(static_cast<std::uint16_t>(cob_base::kRpdo1 + cob_base::kPdoStep * (pdo - 1)),
                  node);
}

constexpr std::uint16_t MakeSdoResponseCobId(std::uint32_t node) noexcept {
  return WithNode(cob_base::kSdoResponse, node);
}
constexpr std::uint16_t MakeSdoRequestCobId(std::uint32_t node) noexcept {
  return WithNode(cob_base::kSdoRequest, node);
}
constexpr std::uint16_t MakeEmergencyCobId(std::uint32_t node) noexcept {
  return WithNode(cob_base::kEmergency, node);
}
constexpr std::uint16_t MakeHeartbeatCobId(std::uint32_t node) noexcept {
  return WithNode(cob_base::kHeartbeat, node);
}

static_assert(MakeTpdoCobId(3, 5) == 0x385);
static_assert(MakeRpdoCobId(4, 0x7F) == 0x57F);
static_assert(MakeRpdoCobId(5, 9) == 9);

}  // namespace vantor::canopen
