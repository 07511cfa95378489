// A driver host on the virtual clock over a simulated PCI card, with a
// minimal front-end that maps the card's windows, programs nothing but the
// bridge's interrupt bits and forwards everything else to the CAN layer.
//
// The virtual clock (100 ns ticks) and the simulation (ns) are stepped
// together: the clock first, so that a handler running for a tick stamps
// the tick's own moment. After every step the simulation pump runs the
// handlers raised and the deferred calls are waited for, so each test sees
// the same order of events in every run. A look at the models from the
// test takes a ModelAccess on pump_.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "common/driver_records.h"
#include "common/driver_requests.h"
#include "common/exchange_buffer.h"
#include "drivers/canlayer/can_channel.h"
#include "drivers/canlayer/tests/simulated_card_host.h"
#include "platform/devhost/driver_host.h"
#include "sim/hardware/pci_card.h"

namespace vantor::canlayer::testing {

inline constexpr auto kTestDeadline = std::chrono::seconds(10);
inline constexpr sim::SimTime kMicrosecond = sim::kNanosecondsPerMicrosecond;

// The test's stand-in for a card front-end: one channel of the card.
class TestCardDriver final : public devhost::DeviceDispatch, public CanFrontEnd {
 public:
  struct Config {
    std::string deviceName = "\\Device\\tarnis1";
    std::string linkName = "\\DosDevices\\tarnis1";
    CanChannelSettings channel{};
    std::uint32_t controllerBase = 0x000;
  };

  TestCardDriver(devhost::DriverHost& host, const sim::PciCard& card, Config config);
  ~TestCardDriver() override;

  devhost::IoStatus Create(devhost::FileObject& file) override { return channel_->Create(file); }
  // Channel 2 reaches the bridge and the card's clock only through
  // channel 1's requests; channel 1 programs the bridge itself.
  common::DriverStatus PrepareTickSource(std::uint8_t tickDivider) override;
  void AbandonTickSource() override;
  void ReleaseTickSource() override;
  void Cleanup(devhost::FileObject& file) override { channel_->Cleanup(file); }
  void DeviceControl(devhost::IoRequest& request) override;

  bool EnableTickSource() override;
  void AcknowledgeTick() override;
  bool DisableTickSource() override;
  void ResumeInterruptOutput() override;

  CanChannel& Channel() { return *channel_; }
  devhost::DeviceObject& Device() { return *device_; }
  std::uint32_t BridgeInterruptControl();

 private:
  void ModifyBridge(std::uint32_t set, std::uint32_t clear);
  bool IsChannelTwo() const { return config_.channel.role == CanDriverRole::kChannelTwo; }
  devhost::RequestResult SendToChannelOne(std::uint32_t code, std::span<const std::uint8_t> input,
                                          std::span<std::uint8_t> output);

  devhost::DriverHost& host_;
  Config config_;
  std::shared_ptr<devhost::DeviceObject> device_;
  devhost::RegisterWindow bridge_;
  std::unique_ptr<WindowControllerBus> bus_;
  std::unique_ptr<CanChannel> channel_;
};

// What came back for one request.
class ReplySink final : public devhost::CompletionSink {
 public:
  explicit ReplySink(devhost::Clock& clock) : clock_(clock) {}
  void Deliver(devhost::IoRequest& request) override;

  bool Done() const;
  int Deliveries() const;
  devhost::IoStatus Status() const;
  std::uint32_t Information() const;
  std::vector<std::uint8_t> Data() const;
  devhost::Ticks CompletedAt() const;
  std::uint32_t Word(std::size_t offset) const;

 private:
  devhost::Clock& clock_;
  mutable std::mutex mutex_;
  int deliveries_ = 0;
  devhost::IoStatus status_ = 0;
  std::uint32_t information_ = 0;
  std::vector<std::uint8_t> data_;
  devhost::Ticks completedAt_ = 0;
};

struct RunRecordFields {
  std::uint8_t kind = 2;
  std::uint8_t channel = 1;
  std::uint8_t latency = 0;
  std::uint8_t tickDivider = 4;
  std::uint8_t bitRate = 7;
  std::int16_t cycleDivider = 5;
  std::uint8_t mode = 0;
  std::int16_t sendTick = 0;
  std::int16_t fillLimit = 498;
  std::int32_t pollInterval = 1;
  std::int32_t pollBudget = 100;
};
common::RunRecord MakeRunRecord(const RunRecordFields& fields);

class CardFixture : public ::testing::Test, protected SimulatedCardHost {
 protected:
  CardFixture();
  ~CardFixture() override;

  // Replaces the channel-1 device by one with other settings.
  void RebuildChannelOne(const CanChannelSettings& settings);

  // Adds the card's channel-2 device ("tarnis2").
  TestCardDriver& AddChannelTwo();

  std::shared_ptr<devhost::FileObject> Open(const char* link = "tarnis1");
  devhost::IoStatus TryOpen(std::shared_ptr<devhost::FileObject>& file,
                            const char* link = "tarnis1");
  void Close(const std::shared_ptr<devhost::FileObject>& file);
  // A client's request; the sink fills in when it completes.
  std::shared_ptr<ReplySink> Send(const std::shared_ptr<devhost::FileObject>& file,
                                  std::uint32_t code, std::span<const std::uint8_t> input = {});
  // A request that completes at once: its driver status word.
  std::uint32_t Status(const std::shared_ptr<devhost::FileObject>& file, std::uint32_t code,
                       std::span<const std::uint8_t> input = {});
  std::uint32_t StartRun(const std::shared_ptr<devhost::FileObject>& file,
                         const RunRecordFields& fields);
  std::shared_ptr<ReplySink> Exchange(const std::shared_ptr<devhost::FileObject>& file,
                                      const common::ExchangeBuffer& buffer = {});

  // Steps clock and machine together to `target` (simulation ns).
  void AdvanceTo(sim::SimTime target);
  void AdvanceBy(sim::SimTime duration) { AdvanceTo(Now() + duration); }
  sim::I82527& Controller(int channel) { return card_->Controller(channel - 1); }
  bool WaitDeferredCalls();
  // A request from another driver (channel 2's share of the card).
  devhost::RequestResult SendInternal(std::uint32_t code, std::span<const std::uint8_t> input,
                                      std::span<std::uint8_t> output);

  // Off while a test holds the device's deferred-call worker on purpose.
  bool waitForDeferredCalls_ = true;
  std::unique_ptr<TestCardDriver> channelOne_;
  std::unique_ptr<TestCardDriver> channelTwo_;
  std::vector<std::shared_ptr<devhost::FileObject>> openFiles_;
};

}  // namespace vantor::canlayer::testing
