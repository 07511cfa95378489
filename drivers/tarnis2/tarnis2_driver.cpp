#include "drivers/tarnis2/tarnis2_driver.h"

#include <array>

#include "common/byte_order.h"
#include "common/driver_requests.h"
#include "drivers/canlayer/can_front_end.h"
#include "drivers/tarnis1/card_lock_key.h"
#include "drivers/tarnis1/pci_bridge_registers.h"

namespace vantor::tarnis2 {

Tarnis2Driver::~Tarnis2Driver() { Unload(); }

devhost::RequestResult Tarnis2Driver::SendToChannelOne(std::uint32_t code,
                                                       std::span<const std::uint8_t> input,
                                                       std::span<std::uint8_t> output) {
  if (channelOne_ == nullptr || channelOne_->Deleted()) return {os::kStatusNoSuchDevice, 0};
  return host_.SendRequest(*channelOne_, nullptr, code, input, output, kChannelOneTimeout);
}

bool Tarnis2Driver::FetchResources() {
  channelOne_ = host_.FindDevice(kChannelOneDeviceName);
  if (channelOne_ == nullptr) return false;
  // Opening the device checks that channel 1 lets a handle in; the handle
  // itself is not needed afterwards, only the reference on the device.
  std::shared_ptr<devhost::FileObject> file;
  if (!os::IoSucceeded(host_.OpenDevice(kChannelOneDeviceName, file))) return false;
  host_.CloseFile(file);
  std::array<std::uint8_t, common::kChannelResourcesSize> record{};
  const devhost::RequestResult result =
      SendToChannelOne(common::IOCTL_CAN_CH2_GET_RESOURCES, {}, record);
  if (result.status != os::kStatusSuccess || result.information != record.size()) return false;
  std::copy(record.begin(), record.end(), resources_.WriteData());
  return true;
}

devhost::IoStatus Tarnis2Driver::Load() {
  if (device_ != nullptr) return os::kStatusObjectNameCollision;
  const devhost::IoStatus created = host_.CreateDevice(
      {kDeviceName, this, canlayer::CanRequestTable(canlayer::CanDriverRole::kChannelTwo)},
      device_);
  if (created != os::kStatusSuccess) return created;
  if (!FetchResources()) {
    Unload();
    return kStatusChannelOneUnavailable;
  }
  namespace cr = common::channel_resources;
  bridge_ = host_.Hardware().MapIoSpace(resources_.Get(cr::kBridgeWindowAddress),
                                        resources_.Get(cr::kBridgeWindowLength));
  controllers_ = host_.Hardware().MapIoSpace(resources_.Get(cr::kControllerWindowAddress),
                                             resources_.Get(cr::kControllerWindowLength));
  // Both channels' registers lie in the controller window: it must reach
  // past the second controller.
  if (!bridge_ || !controllers_ ||
      controllers_->Length() < kControllerOffset + kControllerRegisterSpan) {
    Unload();
    return os::kStatusInsufficientResources;
  }
  const devhost::IoStatus linked = host_.CreateSymbolicLink(kLinkName, kDeviceName);
  if (linked != os::kStatusSuccess) {
    Unload();
    return linked;
  }
  linked_ = true;
  card_ = &host_.Card(tarnis1::CardLockKey(resources_.Get(cr::kControllerWindowAddress)));
  bus_ = std::make_unique<canlayer::WindowControllerBus>(*controllers_, kControllerOffset);
  canlayer::CanChannelSettings settings;
  settings.role = canlayer::CanDriverRole::kChannelTwo;
  settings.interfaceKind = common::InterfaceKind::Pci;
  settings.channel = 2;
  settings.version = common::kPciDriverVersion;
  channel_ =
      std::make_unique<canlayer::CanChannel>(host_, *device_, *bus_, *card_, *this, settings);
  channel_->SetResources(resources_);
  return os::kStatusSuccess;
}

void Tarnis2Driver::Unload() {
  channel_.reset();
  bus_.reset();
  channelOne_.reset();
  bridge_.reset();
  controllers_.reset();
  if (linked_) host_.DeleteSymbolicLink(kLinkName);
  linked_ = false;
  if (device_ != nullptr) host_.DeleteDevice(*device_);
  device_.reset();
}

// ---- requests ----------------------------------------------------------------------

devhost::IoStatus Tarnis2Driver::Create(devhost::FileObject& file) {
  return channel_ != nullptr ? channel_->Create(file) : os::kStatusNoSuchDevice;
}

void Tarnis2Driver::Cleanup(devhost::FileObject& file) {
  if (channel_ != nullptr) channel_->Cleanup(file);
}

void Tarnis2Driver::DeviceControl(devhost::IoRequest& request) {
  if (channel_ == nullptr || !channel_->DeviceControl(request))
    request.Complete(os::kStatusInvalidParameter);
}

// ---- the card through channel 1 -------------------------------------------------------

common::DriverStatus Tarnis2Driver::PrepareTickSource(std::uint8_t tickDivider) {
  const std::array<std::uint8_t, 1> input{tickDivider};
  std::array<std::uint8_t, 4> status{};
  const devhost::RequestResult result =
      SendToChannelOne(common::IOCTL_CAN_CH2_ATTACH, input, status);
  if (result.status == os::kStatusNoSuchDevice || result.status == os::kStatusDeletePending)
    return common::kDriverBaseDeviceMissing;
  if (result.status != os::kStatusSuccess || result.information != status.size())
    return common::kDriverInterruptConnectFailed;
  return common::LoadLittleEndian<std::uint32_t>(status.data());
}

bool Tarnis2Driver::EnableTickSource() {
  return SendToChannelOne(common::IOCTL_CAN_CH2_ENABLE, {}, {}).status == os::kStatusSuccess;
}

void Tarnis2Driver::AbandonTickSource() {
  (void)SendToChannelOne(common::IOCTL_CAN_CH2_DETACH, {}, {});
}

// The shared line carries channel 1's tick edge; whichever handler runs
// first clears it, through this driver's own mapping of the bridge.
void Tarnis2Driver::AcknowledgeTick() {
  if (!bridge_ || card_ == nullptr) return;
  tarnis1::ModifyBridgeRegister(*bridge_, *card_, tarnis1::kBridgeInterruptControl,
                                tarnis1::kLocal1ClearEdge, 0);
}

bool Tarnis2Driver::DisableTickSource() {
  return SendToChannelOne(common::IOCTL_CAN_CH2_DISABLE, {}, {}).status == os::kStatusSuccess;
}

void Tarnis2Driver::ReleaseTickSource() {
  (void)SendToChannelOne(common::IOCTL_CAN_CH2_DETACH, {}, {});
}

}  // namespace vantor::tarnis2
