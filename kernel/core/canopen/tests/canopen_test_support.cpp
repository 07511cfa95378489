#include "kernel/core/canopen/tests/canopen_test_support.h"

#include <algorithm>

#include "kernel/core/canopen/global_slot.h"

namespace vantor::canopen::testing {

namespace {

constexpr std::uint8_t kSendOnceAndRelease = 16;
constexpr std::uint8_t kSendOnce = 2;
constexpr std::uint8_t kSingleReceive = 18;
constexpr std::uint8_t kRemoteRequest = 20;
constexpr std::uint8_t kNothingReceived = 2;

std::uint16_t IndexOf(const LoggedFrame& frame) {
  return static_cast<std::uint16_t>(frame.data[1] | (frame.data[2] << 8));
}

LoggedFrame Echo(const LoggedFrame& request, std::uint8_t specifier, std::uint32_t word) {
  LoggedFrame answer;
  answer.cobId = static_cast<std::uint16_t>(0x580 + (request.cobId - 0x600));
  answer.length = 8;
  answer.data = {specifier,
                 request.data[1],
                 request.data[2],
                 request.data[3],
                 static_cast<std::uint8_t>(word),
                 static_cast<std::uint8_t>(word >> 8),
                 static_cast<std::uint8_t>(word >> 16),
                 static_cast<std::uint8_t>(word >> 24)};
  return answer;
}

}  // namespace

std::optional<std::uint32_t> SdoServer::Value(std::uint16_t index, std::uint8_t subindex) const {
  const auto it = objects_.find(Key(index, subindex));
  if (it == objects_.end()) return std::nullopt;
  return it->second.value;
}

std::optional<LoggedFrame> SdoServer::Answer(const LoggedFrame& request) {
  // A segment request carries its command byte alone.
  const bool segmentRequest = request.length >= 1 && (request.data[0] & 0xE0) == 0x60;
  if (silent || (request.length < 4 && !segmentRequest)) return std::nullopt;
  if (ignoreRequests > 0) {
    --ignoreRequests;
    return std::nullopt;
  }
  const std::uint16_t index = IndexOf(request);
  const std::uint8_t subindex = request.data[3];
  const std::uint8_t command = request.data[0] & 0xE0;
  if (command == 0x80) {
    abortsReceived.push_back(static_cast<std::uint32_t>(request.data[4] | (request.data[5] << 8) |
                                                        (request.data[6] << 16) |
                                                        (request.data[7] << 24)));
    transfer_ = nullptr;
    return std::nullopt;
  }
  if (command == 0x60) {
    if (transfer_ == nullptr) return std::nullopt;
    const std::uint8_t toggle = request.data[0] & 0x10;
    const std::size_t n = std::min<std::size_t>(7, transfer_->size() - transferOffset_);
    LoggedFrame segment;
    segment.cobId = static_cast<std::uint16_t>(0x580 + (request.cobId - 0x600));
    segment.length = 8;
    const bool last = transferOffset_ + n >= transfer_->size();
    segment.data[0] = static_cast<std::uint8_t>(toggle | ((7 - n) << 1) | (last ? 1 : 0));
    for (std::size_t i = 0; i < n; ++i) {
      segment.data[1 + i] = static_cast<std::uint8_t>((*transfer_)[transferOffset_ + i]);
    }
    transferOffset_ += n;
    ++segmentsSent;
    if (last) transfer_ = nullptr;
    return segment;
  }
  if (const auto text = texts_.find(Key(index, subindex));
      command == 0x40 && text != texts_.end()) {
    transfer_ = &text->second;
    transferOffset_ = 0;
    return Echo(request, 0x41, static_cast<std::uint32_t>(text->second.size()));
  }
  if (command == 0x20 && acceptUnknownDownloads && !objects_.contains(Key(index, subindex))) {
    objects_[Key(index, subindex)] = {4, 0};
  }
  const auto it = objects_.find(Key(index, subindex));
  if (command != 0x40 && command != 0x20) return std::nullopt;
  if (it == objects_.end()) return Echo(request, 0x80, 0x06020000);
  if (command == 0x40) {
    if (index == 0x6062) ++uploads6062;
    std::uint32_t value = it->second.value;
    if (onUpload) {
      if (const auto hooked = onUpload(index, subindex)) value = *hooked;
    }
    const std::uint8_t size = it->second.size;
    return Echo(request, static_cast<std::uint8_t>(0x43 | ((4 - size) << 2)), value);
  }
  const std::uint8_t size = static_cast<std::uint8_t>(4 - ((request.data[0] >> 2) & 3));
  std::uint32_t value = 0;
  for (std::uint8_t i = 0; i < size; ++i)
    value |= static_cast<std::uint32_t>(request.data[4 + i]) << (8 * i);
  if (refuseDownload && refuseDownload(index, subindex, value)) {
    return Echo(request, 0x80, 0x08000020);
  }
  it->second.value = value;
  if (onDownload) onDownload(index, subindex, value);
  return Echo(request, 0x60, 0);
}

Ds402Drive::Ds402Drive(std::uint8_t nodeId, std::uint16_t state) : server_(nodeId), state_(state) {
  server_.Define(0x6041, 0, 2, 0);
  server_.Define(0x6040, 0, 2, 0);
  server_.Define(0x6062, 0, 4, 0xFFFFFC18);  // -1000
  server_.onUpload = [this](std::uint16_t index, std::uint8_t) -> std::optional<std::uint32_t> {
    // The remote and target-reached bits lie outside the state bits.
    if (index == 0x6041) return static_cast<std::uint32_t>(state_ | 0x0600);
    return std::nullopt;
  };
  server_.onDownload = [this](std::uint16_t index, std::uint8_t, std::uint32_t value) {
    if (index == 0x6040) Command(static_cast<std::uint16_t>(value));
  };
}

void Ds402Drive::Command(std::uint16_t controlword) {
  controlwords_.push_back(controlword);
  const auto is = [this](std::initializer_list<std::uint16_t> states) {
    return std::find(states.begin(), states.end(), state_) != states.end();
  };
  switch (controlword) {
    case 0x0000:
      if (is({0x21, 0x23, 0x27, 0x07})) state_ = 0x60;
      break;
    case 0x0006:
      if (is({0x60, 0x23, 0x27})) state_ = 0x21;
      break;
    case 0x0007:
      if (is({0x21, 0x27})) state_ = 0x23;
      break;
    case 0x000F:
      if (is({0x23, 0x07})) state_ = faultOnEnable ? 0x2F : 0x27;
      break;
    case 0x0080:
      if (is({0x2F})) state_ = 0x60;
      break;
    default:
      break;
  }
}

void FakeBus::Exchange(common::ExchangeBuffer& exchange, std::uint32_t elapsedMicroseconds) {
  exchange.Set(common::exchange_buffer::kCycleMicroseconds, elapsedMicroseconds);
  for (std::size_t k = 1; k <= 15; ++k) {
    RawRecord record{exchange, k};
    if (record.Code() == kSendOnceAndRelease) {
      const LoggedFrame frame = record.Frame();
      frames.push_back(frame);
      frameExchanges.push_back(exchanges);
      record.SetCode(0);
      record.SetResult(0);
      Route(exchange, frame);
    } else if (record.Code() == kSendOnce && record.Result() == 1 && !holdSendOnce) {
      const LoggedFrame frame = record.Frame();
      frames.push_back(frame);
      frameExchanges.push_back(exchanges);
      record.SetCode(3);
      record.SetResult(0);
      Route(exchange, frame);
    } else if (record.Code() == kRemoteRequest && record.Result() == kNothingReceived &&
               onRemoteRequest) {
      ++remoteRequests;
      if (const auto answer = onRemoteRequest(record.CobId())) record.Deliver(*answer, 0);
    }
  }
  ++exchanges;
}

void FakeBus::Route(common::ExchangeBuffer& exchange, const LoggedFrame& frame) {
  if (frame.cobId < 0x600 || frame.cobId > 0x67F) return;
  const auto node = static_cast<std::uint8_t>(frame.cobId - 0x600);
  for (SdoServer* server : servers_) {
    if (server->nodeId() != node) continue;
    const auto answer = server->Answer(frame);
    if (!answer) return;
    for (std::size_t k = 1; k <= 15; ++k) {
      RawRecord record{exchange, k};
      if (record.Code() == kSingleReceive && record.CobId() == answer->cobId) {
        record.Deliver(*answer, k == 15 ? 1 : 0);
        return;
      }
    }
    return;
  }
}

void FakeHost::RunCycle() {
  CycleContext context{exchange, nodes_, cycleMicroseconds, &global};
  context.homing = homing;
  RunGlobalSlotStep(context);
  RunNodeSteps(context);
  bus_.Exchange(exchange, cycleMicroseconds);
  ++cycles;
}

void FakeHost::WaitForAll(std::span<CompletionSignal* const> signals) noexcept {
  ++waits;
  if (lockDepth != 0) waitedWhileLocked = true;
  const auto allSet = [&] {
    return std::all_of(signals.begin(), signals.end(),
                       [](CompletionSignal* s) { return static_cast<TestSignal*>(s)->IsSet(); });
  };
  // The deadline of every wait: far beyond any sequence the tests run.
  constexpr int kMaxCycles = 20000;
  for (int cycle = 0; cycle < kMaxCycles && !allSet(); ++cycle) {
    if (endCycleAfter && cycle >= *endCycleAfter) {
      cycleRunning = false;
      endCycleAfter.reset();
      if (completeOnStop) CompletePendingRequests(nodes_, &global);
      return;
    }
    RunCycle();
  }
}

TestNodes::TestNodes(std::vector<std::uint8_t> ids,
                     std::vector<std::vector<std::uint32_t>> axisIds) {
  for (std::size_t k = 0; k < ids.size(); ++k) {
    signals.push_back(std::make_unique<TestSignal>());
    NodeSetup setup;
    setup.nodeId = ids[k];
    setup.sendRecord = static_cast<std::uint32_t>(2 * k + 1);
    setup.answerRecord = static_cast<std::uint32_t>(2 * k + 2);
    setup.bootTimeMicroseconds = 1000.0 * (100 + 10 * k);
    setup.answerTimeoutMicroseconds = 10000.0;
    setup.cycleMicroseconds = 1000;
    if (k < axisIds.size()) {
      setup.axisCount = static_cast<std::uint32_t>(axisIds[k].size());
      std::copy(axisIds[k].begin(), axisIds[k].end(), setup.axisNodeIds.begin());
    }
    setup.completionEvent = signals.back().get();
    objects.push_back(std::make_unique<NodeObject>(setup));
    table.nodes[k] = objects.back().get();
  }
  table.nodeCount = static_cast<std::uint32_t>(ids.size());
  table.UpdateLargestAxisCount();
}

}  // namespace vantor::canopen::testing
