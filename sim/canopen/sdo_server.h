// SDO server of a simulated node: expedited and segmented upload and
// download, aborts in both directions.
//
// Passive: one request frame in, at most one answer out. The server owns no
// identifiers of its own beyond the pair it is built with, so a device with
// several SDO channels can run one server per channel.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "sim/can_frame.h"
#include "sim/canopen/canopen_wire.h"
#include "sim/canopen/fault_injection.h"
#include "sim/canopen/node_log.h"
#include "sim/canopen/object_dictionary.h"
#include "sim/sim_time.h"

namespace vantor::sim::canopen {

struct SdoServerOptions {
  std::uint16_t requestCobId = 0;
  std::uint16_t responseCobId = 0;
  // Expedited upload answers end after their data (data length code 4 +
  // size) instead of carrying all 8 bytes.
  bool shortExpeditedUpload = false;
  // Requests that end after their last meaningful byte are served (see
  // sdo_request_length.h); false: every request must carry 8 bytes.
  bool shortRequests = true;
};

class SdoServer {
 public:
  SdoServer(ObjectDictionary& dictionary, NodeLog& log, const FaultInjection& faults,
            const SdoServerOptions& options);

  std::uint16_t RequestCobId() const { return options_.requestCobId; }

  // Serves one request received at `now`; the answer, if any. A request
  // too short for its command is ignored and logged.
  std::optional<CanFrame> HandleRequest(const CanFrame& request, SimTime now);

  // Drops a transfer in progress without a word (node or communication reset).
  void Reset();
  bool Idle() const { return state_ == State::kIdle; }

 private:
  enum class State : std::uint8_t { kIdle, kUploading, kDownloading };

  using Frame = std::array<std::uint8_t, CanFrame::kMaxLength>;

  CanFrame StartUpload(const Frame& request, SimTime now);
  CanFrame ContinueUpload(const Frame& request, SimTime now);
  CanFrame StartDownload(const Frame& request, SimTime now);
  CanFrame ContinueDownload(const Frame& request, SimTime now);
  void TakeClientAbort(const Frame& request, SimTime now);

  // The one exit of every failing transfer: logged, server idle, abort frame.
  CanFrame Fail(SdoDirection direction, std::uint16_t index, std::uint8_t subindex,
                SdoAbortCode code, SimTime now);
  void LogSuccess(SdoDirection direction, std::uint16_t index, std::uint8_t subindex,
                  const std::vector<std::uint8_t>& value, SimTime now);
  bool SegmentToggle(bool toggle) const;

  ObjectDictionary& dictionary_;
  NodeLog& log_;
  const FaultInjection& faults_;
  SdoServerOptions options_;

  State state_ = State::kIdle;
  std::uint16_t index_ = 0;
  std::uint8_t subindex_ = 0;
  bool toggle_ = false;
  std::vector<std::uint8_t> buffer_;
  std::size_t position_ = 0;                // upload: bytes sent so far
  std::optional<std::uint32_t> announced_;  // download: size the client gave
};

}  // namespace vantor::sim::canopen
