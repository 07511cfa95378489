// The named objects of one channel as the library holds them, and the
// request/answer handshake on the communication block.
//
// Every wait for a kernel's answer also watches the kernel process when the
// library knows it: a kernel that ends without answering releases the
// caller at once instead of leaving it waiting forever.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "common/communication_block.h"
#include "common/kernel_object_names.h"
#include "common/status_code.h"
#include "platform/os/named_objects.h"
#include "platform/os/wait.h"

namespace vantor::interface {

// One request area: its mutex and the two events of the handshake.
struct RequestArea {
  os::Mutex mutex;
  os::Event applicationReady;
  os::Event kernelReady;
};

// The communication block of a channel with both request areas.
class ChannelBlock {
 public:
  // Creates or opens the 4096-byte block, then the SDO and the standard
  // area's objects; nothing when any of them fails.
  static std::optional<ChannelBlock> CreateOrOpen(common::Channel channel);

  common::CommunicationBlockView Block() const;
  RequestArea& Standard() { return standard_; }
  RequestArea& Sdo() { return sdo_; }
  const os::Mapping& Mapping() const { return mapping_; }

 private:
  os::Mapping mapping_;
  RequestArea sdo_;
  RequestArea standard_;
};

enum class AnswerWait { Answered, KernelEnded, TimedOut, Failed };

// Reset kernel-ready, then set application-ready.
void SignalRequest(RequestArea& area);

// Waits for the kernel's answer on `area`, or until `kernelProcess` (when
// not null) has ended, or the time-out passed.
AnswerWait WaitForAnswer(const RequestArea& area, const os::Waitable* kernelProcess,
                         std::uint32_t timeoutMs);

// Waits for the kernel's answer on `area` while the kernel still announces
// itself by the manual-reset presence event `presenceIndex`: for a kernel
// whose process is not known. The event reset, or gone with its last
// holder, ends the wait as KernelEnded; it is looked at every few tens of
// milliseconds.
AnswerWait WaitForAnswerWhilePresent(const RequestArea& area, std::size_t presenceIndex,
                                     std::uint32_t timeoutMs);

// Writes the command code, the preset result and the payload into the
// standard area. False, writing nothing, when the payload does not fit.
bool WriteStandardRequest(common::CommunicationBlockView block, std::uint32_t command,
                          std::span<const std::uint8_t> payload);

// Waits for a mutex without time-out; an abandoned mutex counts as held.
bool AcquireMutex(const os::Mutex& mutex);

// True when the named manual-reset presence event is set. The event is
// opened (created when absent) only for this test and closed again at once,
// so the library never keeps a dead program's presence alive. Nothing when
// the event cannot be opened.
std::optional<bool> IsPresenceEventSet(std::size_t nameIndex);

}  // namespace vantor::interface
