#include "drivers/tarnis1/tarnis1_driver.h"

#include <algorithm>
#include <mutex>
#include <new>

#include "common/byte_order.h"
#include "drivers/canlayer/can_front_end.h"
#include "drivers/tarnis1/card_lock_key.h"
#include "drivers/tarnis1/pci_bridge_registers.h"
#include "platform/os/debug_output.h"

namespace vantor::tarnis1 {
namespace {

constexpr std::size_t kConfigHeaderSize = 256;
constexpr std::uint8_t kConfigVendorId = 0x00;
constexpr std::uint8_t kConfigDeviceId = 0x02;
constexpr std::uint8_t kConfigFirstBar = 0x10;
constexpr std::uint8_t kConfigRomBar = 0x30;
constexpr std::uint32_t kIoBarMask = ~0x3U;
constexpr std::uint32_t kMemoryBarMask = ~0xFU;
constexpr std::uint32_t kRomBarMask = ~0x1U;
constexpr std::uint32_t kIoBarFlag = 0x1;
// When mapping the whole bridge window fails, its local registers fit in
// the first 256 bytes.
constexpr std::uint32_t kBridgeFallbackLength = 256;
constexpr std::uint32_t kCommonBufferMinimum = 4096;
// The most contiguous memory below 4 GB the system hands a driver; a larger
// request fails as on the real machine and shrinks like any failed one.
constexpr std::uint32_t kContiguousMemoryLimit = 64U << 20;

// Configuration mechanism 1.
constexpr std::uint16_t kConfigAddressPort = 0xCF8;
constexpr std::uint16_t kConfigDataPort = 0xCFC;
constexpr std::uint32_t kConfigEnable = 0x80000000;
constexpr std::uint8_t kDevicesPerBus = 32;

std::uint32_t BarAt(const std::array<std::uint8_t, kConfigHeaderSize>& header, std::size_t index) {
  const std::size_t offset = index == kRomEntry ? kConfigRomBar : kConfigFirstBar + 4 * index;
  return common::LoadLittleEndian<std::uint32_t>(header.data() + offset);
}

}  // namespace

Tarnis1Driver::Tarnis1Driver(devhost::DriverHost& host) : host_(host) {
  parameters_.commonBufferSize = host_.Parameters().QueryDword(kDriverKey, "CommonBufferSize", 0);
  parameters_.maxSglTransferSize =
      host_.Parameters().QueryDword(kDriverKey, "MaxSglTransferSize", 0);
  AllocateCommonBuffer(parameters_.commonBufferSize);
}

Tarnis1Driver::~Tarnis1Driver() { RemoveDevice(); }

// The buffer is set aside for transfers the card may one day make; while
// memory is short the request shrinks by a tenth of its size each time,
// down to a page, and without success the driver goes on without it.
void Tarnis1Driver::AllocateCommonBuffer(std::uint32_t requested) {
  std::uint32_t size = requested;
  while (size > 0) {
    if (size <= kContiguousMemoryLimit) {
      try {
        commonBuffer_.assign(size, 0);
        return;
      } catch (const std::bad_alloc&) {
      }
    }
    if (size <= kCommonBufferMinimum) break;
    const std::uint32_t step = std::max<std::uint32_t>(requested / 10, 1);
    size = size > step + kCommonBufferMinimum ? size - step : kCommonBufferMinimum;
  }
  commonBuffer_.clear();
}

devhost::IoStatus Tarnis1Driver::AddDevice() {
  if (device_ != nullptr) return os::kStatusObjectNameCollision;
  const devhost::IoStatus created = host_.CreateDevice(
      {kDeviceName, this, canlayer::CanRequestTable(canlayer::CanDriverRole::kChannelOne)},
      device_);
  if (created != os::kStatusSuccess) return created;
  linkName_ = kLinkName;
  if (host_.CreateSymbolicLink(linkName_, kDeviceName) != os::kStatusSuccess) linkName_.clear();
  return os::kStatusSuccess;
}

bool Tarnis1Driver::MatchResource(const TranslatedRange& range,
                                  const std::array<std::uint8_t, kConfigHeaderSize>& header) {
  for (std::size_t index = 0; index < kWindowEntries; ++index) {
    const std::uint32_t bar = BarAt(header, index);
    std::uint32_t mask = kMemoryBarMask;
    if (index == kRomEntry) {
      mask = kRomBarMask;
    } else if ((bar & kIoBarFlag) != 0) {
      mask = kIoBarMask;
    }
    if ((bar & mask) == 0 || (bar & mask) != range.start) continue;
    WindowEntry& entry = windows_[index];
    entry.physical = range.start;
    entry.length = range.length;
    entry.io = range.io;
    if (!range.io) {
      entry.mapped = host_.Hardware().MapIoSpace(range.start, range.length);
      if (!entry.mapped && index == kBridgeEntry) {
        entry.mapped = host_.Hardware().MapIoSpace(range.start, kBridgeFallbackLength);
        if (!entry.mapped) return false;
      }
    }
    return true;
  }
  return true;  // a range of no base address register is none of ours
}

std::optional<devhost::PciSlot> Tarnis1Driver::FindCardSlot(const PciStartResources& resources) {
  if (resources.addressPropertyPresent) return resources.slot;
  // Without the address property the card is the function on its bus whose
  // first base address register holds the bridge window.
  const std::uint8_t bus = resources.slot.bus;
  for (std::uint8_t device = 0; device < kDevicesPerBus; ++device) {
    const std::uint32_t address = kConfigEnable | (std::uint32_t{bus} << 16) |
                                  (std::uint32_t{device} << 11) | kConfigFirstBar;
    host_.Hardware().PortOut32(kConfigAddressPort, address);
    const std::uint32_t bar0 = host_.Hardware().PortIn32(kConfigDataPort);
    if (bar0 != 0xFFFFFFFF && (bar0 & kMemoryBarMask) == windows_[kBridgeEntry].physical)
      return devhost::PciSlot{bus, device, 0};
  }
  return std::nullopt;
}

devhost::IoStatus Tarnis1Driver::StartDevice(const PciStartResources& resources) {
  std::unique_lock state(stateMutex_);
  if (device_ == nullptr || removed_) return os::kStatusNoSuchDevice;
  if (channel_ != nullptr) return os::kStatusSuccess;

  std::array<std::uint8_t, kConfigHeaderSize> header{};
  // An unreadable header matches no range, so the start then fails below.
  if (host_.Hardware().ReadPciConfig(resources.slot, 0, header) != header.size()) header.fill(0);

  windows_ = {};
  bool mapped = true;
  for (const TranslatedRange& range : resources.ranges) {
    if (!MatchResource(range, header)) {
      mapped = false;
      break;
    }
  }
  if (!mapped || !windows_[kBridgeEntry].mapped || !windows_[kControllerEntry].mapped) {
    os::OutputDebugText("Pci9030: ");
    os::OutputDebugText("ERROR - BAR 0 address not configured, unable to load driver\n");
    UnmapWindows();
    return os::kStatusInsufficientResources;
  }

  namespace cr = common::channel_resources;
  const WindowEntry& bridge = windows_[kBridgeEntry];
  const WindowEntry& controllers = windows_[kControllerEntry];
  resources_ = {};
  if (resources.interrupt) {
    resources_.Set(cr::kInterruptVector, resources.interrupt->vector);
    resources_.Set(cr::kInterruptLevel, std::uint32_t{resources.interrupt->level});
    resources_.Set(cr::kProcessorAffinity,
                   static_cast<std::uint32_t>(resources.interrupt->affinity));
    resources_.Set(cr::kInterruptMode, resources.interrupt->latched ? 1U : 0U);
  }
  resources_.Set(cr::kBridgeWindowAddress, bridge.physical);
  resources_.Set(cr::kBridgeWindowLength, bridge.mapped->Length());
  resources_.Set(cr::kControllerWindowAddress, controllers.physical);
  resources_.Set(cr::kControllerWindowLength, controllers.mapped->Length());

  card_ = &host_.Card(CardLockKey(controllers.physical));
  ProgramBridge(*bridge.mapped, *card_);

  if (!resources.interrupt) {
    UnmapWindows();
    return os::kStatusInsufficientResources;
  }
  ModifyBridgeRegister(*bridge.mapped, *card_, kBridgeInterruptControl, 0, kPciInterruptEnable);
  {
    // Read once so the bridge's state is known before any run.
    const auto raised = card_->Raise();
    for (std::uint32_t index = 0; index < kBridgeLocalRegisterCount; ++index)
      (void)bridge.mapped->Read32(4 * index);
  }
  vendorId_ = common::LoadLittleEndian<std::uint16_t>(header.data() + kConfigVendorId);
  deviceId_ = common::LoadLittleEndian<std::uint16_t>(header.data() + kConfigDeviceId);
  slot_ = FindCardSlot(resources);

  bus_ = std::make_unique<canlayer::WindowControllerBus>(*controllers.mapped, 0x000);
  canlayer::CanChannelSettings settings;
  settings.role = canlayer::CanDriverRole::kChannelOne;
  settings.interfaceKind = common::InterfaceKind::Pci;
  settings.channel = 1;
  settings.version = common::kPciDriverVersion;
  channel_ =
      std::make_unique<canlayer::CanChannel>(host_, *device_, *bus_, *card_, *this, settings);
  channel_->SetResources(resources_);
  return os::kStatusSuccess;
}

void Tarnis1Driver::UnmapWindows() {
  channel_.reset();
  bus_.reset();
  windows_ = {};
}

void Tarnis1Driver::StopDevice() {
  std::unique_lock state(stateMutex_);
  UnmapWindows();
}

void Tarnis1Driver::RemoveDevice() {
  std::unique_lock state(stateMutex_);
  if (removed_) return;
  removed_ = true;
  UnmapWindows();
  if (device_ != nullptr) {
    if (!linkName_.empty()) host_.DeleteSymbolicLink(linkName_);
    host_.DeleteDevice(*device_);
  }
}

bool Tarnis1Driver::Started() const {
  std::shared_lock state(stateMutex_);
  return channel_ != nullptr;
}

std::optional<devhost::PciSlot> Tarnis1Driver::CardSlot() const {
  std::shared_lock state(stateMutex_);
  return slot_;
}

common::ChannelResources Tarnis1Driver::Resources() const {
  std::shared_lock state(stateMutex_);
  return resources_;
}

// ---- requests --------------------------------------------------------------------

devhost::IoStatus Tarnis1Driver::Create(devhost::FileObject& file) {
  std::shared_lock state(stateMutex_);
  if (removed_) return os::kStatusDeletePending;
  if (channel_ == nullptr) return os::kStatusNoSuchDevice;
  return channel_->Create(file);
}

void Tarnis1Driver::Cleanup(devhost::FileObject& file) {
  std::shared_lock state(stateMutex_);
  if (channel_ != nullptr) channel_->Cleanup(file);
}

void Tarnis1Driver::DeviceControl(devhost::IoRequest& request) {
  std::shared_lock state(stateMutex_);
  if (channel_ == nullptr) {
    request.Complete(removed_ ? os::kStatusDeletePending : os::kStatusNoSuchDevice);
    return;
  }
  if (!channel_->DeviceControl(request)) request.Complete(os::kStatusInvalidParameter);
}

// ---- the tick's way through the bridge ---------------------------------------------

void Tarnis1Driver::ModifyInterruptControl(std::uint32_t set, std::uint32_t clear) {
  const WindowEntry& bridge = windows_[kBridgeEntry];
  if (!bridge.mapped || card_ == nullptr) return;
  ModifyBridgeRegister(*bridge.mapped, *card_, kBridgeInterruptControl, set, clear);
}

bool Tarnis1Driver::EnableTickSource() {
  ModifyInterruptControl(kLocal1EnabledActiveHighEdge, 0);
  ModifyInterruptControl(kLocal1ClearEdge | kPciInterruptEnable, 0);
  return true;
}

void Tarnis1Driver::AcknowledgeTick() { ModifyInterruptControl(kLocal1ClearEdge, 0); }

bool Tarnis1Driver::DisableTickSource() {
  ModifyInterruptControl(0, kPciInterruptEnable);
  return true;
}

void Tarnis1Driver::ResumeInterruptOutput() {
  ModifyInterruptControl(kLocal1ClearEdge | kPciInterruptEnable, 0);
}

}  // namespace vantor::tarnis1
