// The kernel's SDO client: framing of requests into a send record and an
// armed answer record, and the checks that a step function runs once per
// cycle until an exchange is done.
//
// Nothing here waits or reads a clock: each check counts the caller's
// countdown down by one cycle and reports pending or done.
#pragma once

#include <cstdint>
#include <span>

#include "common/exchange_buffer.h"
#include "common/status_code.h"
#include "kernel/core/canopen/message_slots.h"
#include "kernel/core/canopen/node_object.h"

namespace vantor::canopen {

enum class CheckState : std::uint8_t { Pending, Done };

// Where a request goes and where its answer comes back.
struct SdoRoute {
  std::uint16_t requestCobId = 0;
  std::uint32_t sendRecord = 0;
  std::uint16_t answerCobId = 0;
  std::uint32_t answerRecord = 0;
};

// The route of a node's slot on its current SDO identifiers.
SdoRoute RouteOf(const NodeObject& node) noexcept;

// ---- Frame builders -----------------------------------------------------------------
// Expedited download of `size` bytes (1 to 4); any other size is sent with
// the four-byte specifier and the bytes there are.
CanFrame MakeSdoDownloadFrame(std::uint16_t cobId, std::uint16_t index, std::uint8_t subindex,
                              std::uint8_t size, std::span<const std::uint8_t> data) noexcept;
CanFrame MakeSdoUploadFrame(std::uint16_t cobId, std::uint16_t index,
                            std::uint8_t subindex) noexcept;
CanFrame MakeSdoSegmentRequestFrame(std::uint16_t cobId, bool toggle) noexcept;
CanFrame MakeSdoAbortFrame(std::uint16_t cobId, std::uint16_t index, std::uint8_t subindex,
                           std::uint32_t abortCode) noexcept;

// ---- Framing ----------------------------------------------------------------------------
// Each returns false, writing nothing, for a record number outside 1..15.
// The initiate requests start a new exchange: the node whose answer record
// this is gets its retry count cleared.
bool BuildSdoDownload(common::ExchangeBuffer& exchange, NodeTable* nodes, std::uint16_t index,
                      std::uint8_t subindex, const SdoRoute& route, std::uint8_t size,
                      std::span<const std::uint8_t> data) noexcept;
bool BuildSdoUpload(common::ExchangeBuffer& exchange, NodeTable* nodes, std::uint16_t index,
                    std::uint8_t subindex, const SdoRoute& route) noexcept;
bool BuildSdoSegmentRequest(common::ExchangeBuffer& exchange, bool toggle,
                            const SdoRoute& route) noexcept;
// The abort frame goes out once (code 2); `CheckFrameSent` collects it.
bool SendSdoAbort(common::ExchangeBuffer& exchange, std::uint16_t index, std::uint8_t subindex,
                  std::uint16_t requestCobId, std::uint32_t sendRecord,
                  std::uint32_t abortCode = sdo_abort::kOutOfMemory) noexcept;
// One frame of up to eight bytes, sent once.
bool WriteSendOnceRecord(common::ExchangeBuffer& exchange, const CanFrame& frame,
                         std::uint32_t record) noexcept;
// A remote request whose answer `CheckFrameReceived` collects.
bool ArmFrameReception(common::ExchangeBuffer& exchange, std::uint16_t cobId,
                       std::uint32_t record) noexcept;

// ---- Checks -------------------------------------------------------------------------------
// What an SDO check compares the answer with.
struct SdoExpectation {
  bool isDownload = false;
  std::uint16_t index = 0;
  std::uint8_t subindex = 0;
  std::uint32_t answerRecord = 0;
  std::uint8_t expectedSize = 0;  // uploads: 1 to 4 bytes
};

// The answer to an expedited transfer. `data` (may be empty) takes an
// upload's bytes; its first byte becomes 1 when the server aborted because
// the object or subindex does not exist.
CheckState CheckSdoResponse(common::ExchangeBuffer& exchange, const SdoExpectation& expected,
                            std::int32_t& countdown, common::StatusCode& result,
                            std::span<std::uint8_t> data) noexcept;

// The same, sending the request again after a silent or refused answer, at
// most three sends in all; a missing object is not asked again.
CheckState CheckSdoResponseWithRetry(common::ExchangeBuffer& exchange, NodeTable& nodes,
                                     const SdoExpectation& expected, std::int32_t& countdown,
                                     common::StatusCode& result,
                                     std::span<std::uint8_t> data) noexcept;

// The answer to an initiate that may open a segmented transfer.
struct InitiateAnswer {
  bool expedited = false;
  std::uint8_t byteCount = 0;  // data bytes, or 4 for the total size of a segmented upload
};
CheckState CheckSdoInitiateResponse(common::ExchangeBuffer& exchange,
                                    const SdoExpectation& expected, InitiateAnswer& answer,
                                    std::int32_t& countdown, common::StatusCode& result,
                                    std::span<std::uint8_t> data) noexcept;

// One upload segment. Its bytes go to `buffer` at `offset`; a segment that
// would not fit there is reported as WouldOverflow with nothing copied.
enum class SegmentState : std::uint8_t { Pending, Done, WouldOverflow };
struct SegmentAnswer {
  std::uint8_t count = 0;
  bool last = false;
  bool toggleMismatch = false;  // why a segment was refused, for the abort
};
SegmentState CheckSdoSegmentResponse(common::ExchangeBuffer& exchange, bool toggle,
                                     std::uint32_t remainingBytes, std::uint32_t answerRecord,
                                     std::int32_t& countdown, common::StatusCode& result,
                                     SegmentAnswer& answer, std::span<std::uint8_t> buffer,
                                     std::size_t offset) noexcept;

// The end of a code-2 send (NMT, raw frames, aborts).
CheckState CheckFrameSent(common::ExchangeBuffer& exchange, std::uint32_t sendRecord,
                          std::int32_t& countdown, common::StatusCode& result) noexcept;

// The end of a remote request: the answer must carry `expectedLength` bytes.
CheckState CheckFrameReceived(common::ExchangeBuffer& exchange, std::uint32_t record,
                              std::uint8_t expectedLength, std::int32_t& countdown,
                              common::StatusCode& result, std::span<std::uint8_t> data) noexcept;

}  // namespace vantor::canopen
