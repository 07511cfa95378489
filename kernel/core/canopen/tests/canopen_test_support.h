// A small bench for the CANopen layer: a bus that plays the driver's part on
// the exchange record, SDO servers with a few objects, a DS402 drive that
// logs its controlwords, and a service host whose cycle the test steps
// itself. Frames are decoded here from the record bytes, independently of
// the layer's own builders.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/exchange_buffer.h"
#include "kernel/core/canopen/can_object_list.h"
#include "kernel/core/canopen/node_object.h"
#include "kernel/core/canopen/service_host.h"

namespace vantor::canopen::testing {

class TestSignal final : public CompletionSignal {
 public:
  void Set() noexcept override { set_ = true; }
  void Reset() noexcept override { set_ = false; }
  bool IsSet() const noexcept { return set_; }

 private:
  bool set_ = false;
};

struct LoggedFrame {
  std::uint16_t cobId = 0;
  std::uint8_t length = 0;
  std::array<std::uint8_t, 8> data{};
  bool operator==(const LoggedFrame&) const = default;
};

// Raw access to message record k, by offset, as the driver sees it.
struct RawRecord {
  common::ExchangeBuffer& exchange;
  std::size_t k;
  std::size_t Base() const { return 28 * (k - 1); }
  std::uint8_t Code() const { return exchange.Bytes()[Base()]; }
  std::uint8_t Result() const { return exchange.Bytes()[Base() + 1]; }
  std::uint16_t CobId() const {
    return static_cast<std::uint16_t>(exchange.Bytes()[Base() + 2] |
                                      (exchange.Bytes()[Base() + 3] << 8));
  }
  std::uint8_t Length() const { return exchange.Bytes()[Base() + 4]; }
  std::uint8_t Data(std::size_t i) const { return exchange.Bytes()[Base() + 5 + i]; }
  void SetCode(std::uint8_t v) { exchange.MutableBytes()[Base()] = v; }
  void SetResult(std::uint8_t v) { exchange.MutableBytes()[Base() + 1] = v; }
  void SetLength(std::uint8_t v) { exchange.MutableBytes()[Base() + 4] = v; }
  void SetData(std::size_t i, std::uint8_t v) { exchange.MutableBytes()[Base() + 5 + i] = v; }
  LoggedFrame Frame() const {
    LoggedFrame f{CobId(), Length(), {}};
    for (std::size_t i = 0; i < 8; ++i) f.data[i] = Data(i);
    return f;
  }
  // Puts a received frame into an armed answer record.
  void Deliver(const LoggedFrame& frame, std::uint8_t result) {
    SetLength(frame.length);
    for (std::size_t i = 0; i < 8; ++i) SetData(i, i < frame.length ? frame.data[i] : 0);
    SetCode(19);
    SetResult(result);
  }
};

inline RawRecord Rec(common::ExchangeBuffer& exchange, std::size_t k) {
  return RawRecord{exchange, k};
}

// An SDO server with expedited objects; a missing object is aborted with
// 0x06020000. `onDownload` sees every written value first.
class SdoServer {
 public:
  explicit SdoServer(std::uint8_t nodeId) : nodeId_(nodeId) {}
  std::uint8_t nodeId() const { return nodeId_; }
  void Define(std::uint16_t index, std::uint8_t subindex, std::uint8_t size, std::uint32_t value) {
    objects_[Key(index, subindex)] = {size, value};
  }
  // A text object that a segmented upload reads, 7 bytes a segment.
  void DefineText(std::uint16_t index, std::uint8_t subindex, std::string text) {
    texts_[Key(index, subindex)] = std::move(text);
  }
  std::optional<std::uint32_t> Value(std::uint16_t index, std::uint8_t subindex) const;
  // The answer to a request frame, or nothing to stay silent.
  std::optional<LoggedFrame> Answer(const LoggedFrame& request);

  std::function<void(std::uint16_t, std::uint8_t, std::uint32_t)> onDownload;
  std::function<std::optional<std::uint32_t>(std::uint16_t, std::uint8_t)> onUpload;
  // True: the download is refused (abort 0x08000020), nothing stored.
  std::function<bool(std::uint16_t, std::uint8_t, std::uint32_t)> refuseDownload;
  bool silent = false;
  // Downloads to objects it does not have create them (a drive whose
  // objects a test does not care for).
  bool acceptUnknownDownloads = false;
  int ignoreRequests = 0;  // requests that go unanswered before it answers
  int uploads6062 = 0;
  // Segments sent and aborts received (their codes) of text transfers.
  int segmentsSent = 0;
  std::vector<std::uint32_t> abortsReceived;

 private:
  static std::uint32_t Key(std::uint16_t index, std::uint8_t subindex) {
    return (static_cast<std::uint32_t>(index) << 8) | subindex;
  }
  struct Entry {
    std::uint8_t size;
    std::uint32_t value;
  };
  std::uint8_t nodeId_;
  std::map<std::uint32_t, Entry> objects_;
  std::map<std::uint32_t, std::string> texts_;
  // The text being uploaded and how far.
  const std::string* transfer_ = nullptr;
  std::size_t transferOffset_ = 0;
};

// A DS402 drive: the state bits of its statusword and the transitions its
// controlwords make.
class Ds402Drive {
 public:
  Ds402Drive(std::uint8_t nodeId, std::uint16_t state);
  // Enable operation throws the drive into fault instead.
  bool faultOnEnable = false;
  SdoServer& server() { return server_; }
  std::uint16_t state() const { return state_; }
  const std::vector<std::uint16_t>& controlwords() const { return controlwords_; }

 private:
  void Command(std::uint16_t controlword);
  SdoServer server_;
  std::uint16_t state_;
  std::vector<std::uint16_t> controlwords_;
};

// Plays the driver and the nodes: sends what the records ask, logs the
// frames and delivers the servers' answers to the armed records.
class FakeBus {
 public:
  void Attach(SdoServer& server) { servers_.push_back(&server); }
  void Exchange(common::ExchangeBuffer& exchange, std::uint32_t elapsedMicroseconds);

  std::vector<LoggedFrame> frames;
  std::vector<int> frameExchanges;  // the exchange in which each frame went out
  int exchanges = 0;
  // Code-2 sends stay pending while set.
  bool holdSendOnce = false;
  // The answer to a remote request on an identifier; nothing leaves the
  // request unanswered for this exchange.
  std::function<std::optional<LoggedFrame>(std::uint16_t cobId)> onRemoteRequest;
  int remoteRequests = 0;

 private:
  void Route(common::ExchangeBuffer& exchange, const LoggedFrame& frame);
  std::vector<SdoServer*> servers_;
};

// A host whose cycle runs inside the wait.
class FakeHost final : public NodeServiceHost {
 public:
  FakeHost(NodeTable& nodes, FakeBus& bus) : nodes_(nodes), bus_(bus) {
    exchange.Set(common::exchange_buffer::kStatus, common::kDriverSuccess);
  }

  void LockKernelData() noexcept override { ++lockDepth; }
  void UnlockKernelData() noexcept override { --lockDepth; }
  bool IsCycleRunning() noexcept override { return cycleRunning; }
  void WaitForAll(std::span<CompletionSignal* const> signals) noexcept override;
  void Sleep(std::uint32_t milliseconds) noexcept override { sleeps.push_back(milliseconds); }
  // The cycles run and the sleeps taken so far.
  std::uint64_t MonotonicMilliseconds() noexcept override {
    std::uint64_t slept = 0;
    for (std::uint32_t ms : sleeps) slept += ms;
    return static_cast<std::uint64_t>(cycles) * cycleMicroseconds / 1000 + slept;
  }
  bool StopOnInputOrHandwheelInitialised() noexcept override { return stopOnInput; }
  void ClearStopOnInputAndHandwheel() noexcept override { stopOnInput = false; }
  void ClearNodeEnableWords(std::uint32_t count) noexcept override {
    clearedEnableWords.push_back(count);
  }
  void TakeNodePositionsIntoAxisRecords() noexcept override { ++positionsTaken; }
  bool IsResetPending() noexcept override { return resetPending; }
  std::uint32_t InterpolatedNodeCount() noexcept override { return interpolatedNodes; }
  void StoreConfiguredRpdoNumbers(std::uint32_t nodeIndex, std::uint16_t controlRpdo,
                                  std::uint16_t motionRpdo) noexcept override {
    configuredRpdos[nodeIndex] = {controlRpdo, motionRpdo};
  }
  void TakeNodePositionIntoAxisRecord(std::uint32_t nodeIndex) noexcept override {
    axisPositionsTaken.push_back(nodeIndex);
  }
  GlobalRequest& GlobalSlot() noexcept override { return global; }
  bool LockGlobalRequest() noexcept override {
    ++globalLockDepth;
    return true;
  }
  void UnlockGlobalRequest() noexcept override { --globalLockDepth; }
  common::StatusCode SetupAxesProfileMode(
      bool includeNode, NodeMask mask, std::span<const std::int32_t> positions) noexcept override {
    profileMasks.push_back(mask);
    profileIncludedNode.push_back(includeNode);
    profilePositions.emplace_back(positions.begin(), positions.end());
    return profileResult;
  }

  DriveWorkingValues WorkingValues() noexcept override { return working; }
  CompletionSignal* SpareCompletionSignal() noexcept override {
    return spareAvailable ? &spareSignal : nullptr;
  }
  void SetLimitSwitchBridge(bool bridged) noexcept override { limitSwitchBridge = bridged; }
  CanObjectList& CanObjects() noexcept override { return *canObjects; }
  void LockCanObjects() noexcept override { ++canObjectsLockDepth; }
  void UnlockCanObjects() noexcept override { --canObjectsLockDepth; }

  // One cycle: the slot steps, then the exchange.
  void RunCycle();
  // What the cycle hands the homing steps.
  HomingCycleState homing{};

  common::ExchangeBuffer exchange{};
  bool cycleRunning = true;
  int lockDepth = 0;
  bool waitedWhileLocked = false;
  int waits = 0;
  int cycles = 0;
  // The cycle ends (as at an exchange time-out) in this many cycles of the
  // next wait; the slots are completed by the cycle's way out when
  // `completeOnStop` is set, else left as they were.
  std::optional<int> endCycleAfter;
  bool completeOnStop = true;
  std::uint32_t cycleMicroseconds = 1000;
  std::vector<std::uint32_t> sleeps;
  bool stopOnInput = false;
  int positionsTaken = 0;
  std::vector<std::uint32_t> clearedEnableWords;
  std::vector<NodeMask> profileMasks;
  std::vector<bool> profileIncludedNode;
  std::vector<std::vector<std::int32_t>> profilePositions;
  common::StatusCode profileResult = common::kKernelSuccess;
  std::uint32_t interpolatedNodes = 0;
  std::map<std::uint32_t, std::pair<std::uint16_t, std::uint16_t>> configuredRpdos;
  std::vector<std::uint32_t> axisPositionsTaken;
  // The global slot, on record 13 behind the nodes' records.
  TestSignal globalSignal;
  GlobalRequest global{.completionEvent = &globalSignal, .record = 13};
  int globalLockDepth = 0;
  bool resetPending = true;
  DriveWorkingValues working{};
  TestSignal spareSignal;
  bool spareAvailable = true;
  bool limitSwitchBridge = false;
  std::unique_ptr<CanObjectList> canObjects = std::make_unique<CanObjectList>();
  int canObjectsLockDepth = 0;

 private:
  NodeTable& nodes_;
  FakeBus& bus_;
};

// Nodes made the way the CNC initialisation makes them: node k on send
// record 2k+1 and answer record 2k+2.
struct TestNodes {
  explicit TestNodes(std::vector<std::uint8_t> ids,
                     std::vector<std::vector<std::uint32_t>> axisIds = {});
  std::vector<std::unique_ptr<TestSignal>> signals;
  std::vector<std::unique_ptr<NodeObject>> objects;
  NodeTable table;
  NodeObject& operator[](std::size_t k) { return *objects[k]; }
};

}  // namespace vantor::canopen::testing
