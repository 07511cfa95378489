// Taking a channel's request area and running one request on it: the path
// of every export that talks to the kernel.
#pragma once

#include <cstdint>
#include <mutex>
#include <shared_mutex>
#include <span>

#include "common/status_code.h"
#include "interface/link_state.h"

namespace vantor::interface {

enum class AreaKind { Standard, Sdo };
enum class HomingCheck { Refuse, Wait };

// Holds the shared state lock and, once acquired, the area's mutex.
class ChannelGrant {
 public:
  ChannelGrant() = default;
  ChannelGrant(const ChannelGrant&) = delete;
  ChannelGrant& operator=(const ChannelGrant&) = delete;
  ~ChannelGrant() { Release(); }

  bool held() const { return area_ != nullptr; }
  RequestArea& area() const { return *area_; }
  common::CommunicationBlockView block() const;
  void Release();

 private:
  friend common::StatusCode AcquireChannel(AreaKind, HomingCheck, ChannelGrant&);
  std::shared_lock<std::shared_mutex> stateLock_;
  RequestArea* area_ = nullptr;
};

// Waits for the area's mutex, the alive event or (with HomingCheck::Refuse)
// the homing-active event: 0x09140000 with the mutex held, 0xC9140002 when
// the library is not initialised or is leaving the channel, 0xC9130016
// while a homing run holds the channel, 0xC9140009 once the kernel ended.
common::StatusCode AcquireChannel(AreaKind kind, HomingCheck homing, ChannelGrant& grant);

// Writes the request into the standard area, signals it and waits for the
// kernel's answer. Returns the result word as the kernel wrote it, or
// 0xC9140009 when the kernel ended first (the link is then broken).
common::StatusCode RunStandardRequest(ChannelGrant& grant, std::uint32_t command,
                                      std::span<const std::uint8_t> payload);

// Signals the SDO area (filled by the caller) and waits for the answer:
// 0x09140000 when answered, 0xC9140009 when the kernel ended first.
common::StatusCode RunSdoRequest(ChannelGrant& grant);

}  // namespace vantor::interface
