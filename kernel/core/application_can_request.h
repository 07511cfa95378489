// The one raw CAN request of the SDO area that the server thread hands to
// the real-time cycle.
//
// The completion event is the hand-over: the server thread writes the record
// only while the event is set (no request in the cycle) and resets it last;
// the cycle takes a request only while the event is reset and sets it last
// when the request is done. Set, reset and wait are full memory barriers, so
// the plain fields need no further lock.
#pragma once

#include <array>
#include <cstdint>

#include "common/status_code.h"
#include "platform/os/named_objects.h"

namespace vantor::kernel {

struct ApplicationCanRequest {
  // The cycle has framed the request and waits for its end.
  std::uint32_t busy = 0;
  // The SDO area's handshake events.
  os::Event applicationReady;
  os::Event kernelReady;
  // Manual reset; signalled = no request waiting for or held by the cycle.
  os::Event completion;

  std::uint16_t cobId = 0;  // 0: an NMT command
  std::array<std::uint8_t, 8> data{};
  std::uint8_t length = 0;
  // Exchange message records that send the frame and receive the answer.
  std::uint8_t sendRecord = 0;
  std::uint16_t answerCobId = 0;  // 0: no answer expected
  std::array<std::uint8_t, 8> answerData{};
  std::uint8_t answerLength = 0;
  std::uint8_t answerRecord = 0;
  // The records were taken from the CAN object list's free table and go
  // back to it when the request ends.
  std::uint32_t recordsFromTable = 0;
  // The cycle holds every node's access mutex for this request.
  std::uint32_t nodeAccessHeld = 0;
  // The frame goes to a node of the configuration.
  std::uint32_t kernelNodeRequest = 0;
  std::uint32_t controllerWarning = 0;
  std::uint32_t timeoutMicroseconds = 0;
  std::int32_t microsecondsLeft = 0;
  common::StatusCode result = common::kKernelSuccess;

  // Clears the request fields; the events stay.
  void ClearRequest() noexcept {
    busy = 0;
    cobId = 0;
    data.fill(0);
    length = 0;
    sendRecord = 0;
    answerCobId = 0;
    answerData.fill(0);
    answerLength = 0;
    answerRecord = 0;
    recordsFromTable = 0;
    nodeAccessHeld = 0;
    kernelNodeRequest = 0;
    controllerWarning = 0;
    timeoutMicroseconds = 0;
    microsecondsLeft = 0;
    result = common::kKernelSuccess;
  }
};

}  // namespace vantor::kernel
