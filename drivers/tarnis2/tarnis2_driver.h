// tarnis2: the driver of the PCI card's second CAN channel. The card belongs
// to the channel-1 driver: this driver borrows its resources at load, maps
// the same windows, reaches its own 82527 at 0x100 of the controller window
// and shares channel 1's interrupt line. Whatever concerns the card as a
// whole (its clock, the bridge's PCI interrupt, the channel-2 line) it asks
// of channel 1 with channel 2's internal requests, each waited for at most
// five seconds.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "drivers/canlayer/can_channel.h"
#include "drivers/canlayer/controller_bus.h"
#include "platform/devhost/driver_host.h"

namespace vantor::tarnis2 {

inline constexpr char kDeviceName[] = "\\Device\\tarnis2";
inline constexpr char kLinkName[] = "\\DosDevices\\tarnis2";
inline constexpr char kChannelOneDeviceName[] = "\\Device\\tarnis1";
inline constexpr std::uint32_t kControllerOffset = 0x100;
inline constexpr std::uint32_t kControllerRegisterSpan = 0x100;
inline constexpr devhost::Ticks kChannelOneTimeout = devhost::MillisecondsToTicks(5000);
// The load's answer when channel 1 is missing or does not hand over the card.
inline constexpr devhost::IoStatus kStatusChannelOneUnavailable = 0xC0000041;

class Tarnis2Driver final : public devhost::DeviceDispatch, public canlayer::CanFrontEnd {
 public:
  explicit Tarnis2Driver(devhost::DriverHost& host) : host_(host) {}
  ~Tarnis2Driver() override;
  Tarnis2Driver(const Tarnis2Driver&) = delete;
  Tarnis2Driver& operator=(const Tarnis2Driver&) = delete;

  // Creates the device, takes the card's resources from channel 1, maps the
  // windows and makes the link. On failure nothing is left behind:
  // kStatusChannelOneUnavailable, kStatusInsufficientResources (a window
  // cannot be mapped) or the link's failure.
  devhost::IoStatus Load();

  // ---- DeviceDispatch ---------------------------------------------------------
  devhost::IoStatus Create(devhost::FileObject& file) override;
  void Cleanup(devhost::FileObject& file) override;
  void DeviceControl(devhost::IoRequest& request) override;

  // ---- CanFrontEnd: channel 1 clocks the card and switches the line -----------
  common::DriverStatus PrepareTickSource(std::uint8_t tickDivider) override;
  bool EnableTickSource() override;
  void AbandonTickSource() override;
  void AcknowledgeTick() override;
  bool DisableTickSource() override;
  void ResumeInterruptOutput() override {}
  void ReleaseTickSource() override;

  canlayer::CanChannel* Channel() noexcept { return channel_.get(); }
  const common::ChannelResources& Resources() const noexcept { return resources_; }

 private:
  devhost::RequestResult SendToChannelOne(std::uint32_t code, std::span<const std::uint8_t> input,
                                          std::span<std::uint8_t> output);
  bool FetchResources();
  void Unload();

  devhost::DriverHost& host_;
  std::shared_ptr<devhost::DeviceObject> device_;
  // Held for the driver's whole life, as a reference on channel 1's device.
  std::shared_ptr<devhost::DeviceObject> channelOne_;
  bool linked_ = false;
  common::ChannelResources resources_{};
  std::optional<devhost::RegisterWindow> bridge_;
  std::optional<devhost::RegisterWindow> controllers_;
  devhost::CardLock* card_ = nullptr;
  std::unique_ptr<canlayer::WindowControllerBus> bus_;
  std::unique_ptr<canlayer::CanChannel> channel_;
};

}  // namespace vantor::tarnis2
