#include "sim/hardware/pci_card.h"

namespace vantor::sim {
namespace {

constexpr std::uint32_t kBridgeWindowSize = PciBridge::kLocalRegisterSize;
constexpr std::uint32_t kControllerSpan = 0x100;

// Configuration header offsets and values.
constexpr std::uint16_t kConfigVendor = 0x00;
constexpr std::uint16_t kConfigDevice = 0x02;
constexpr std::uint16_t kConfigCommand = 0x04;
constexpr std::uint16_t kConfigStatus = 0x06;
constexpr std::uint16_t kConfigRevision = 0x08;
constexpr std::uint16_t kConfigClassCode = 0x09;
constexpr std::uint16_t kConfigBar0 = 0x10;
constexpr std::uint16_t kConfigSubsystemVendor = 0x2C;
constexpr std::uint16_t kConfigSubsystem = 0x2E;
constexpr std::uint16_t kConfigCapabilities = 0x34;
constexpr std::uint16_t kConfigInterruptLine = 0x3C;
constexpr std::uint16_t kConfigInterruptPin = 0x3D;
constexpr std::uint16_t kConfigPowerCapability = 0x40;
constexpr std::uint16_t kConfigPowerControl = 0x44;

constexpr std::uint16_t kCommandWritable = 0x0407;  // I/O, memory, bus master, interrupt disable
constexpr std::uint16_t kStatusCapabilitiesList = 0x0010;
constexpr std::uint16_t kStatusInterrupt = 0x0008;
constexpr std::uint32_t kClassSerialBusCan = 0x0C0900;
constexpr std::uint16_t kPowerManagementVersion2 = 0x0002;
constexpr std::uint16_t kPowerD1D2Support = 0x0600;
constexpr std::uint32_t kPowerStateBits = 0x3;

}  // namespace

// Every access to one of the card's address spaces, whatever its width, is
// one bus cycle: it costs one register access of time and is reported to the
// simulation under the space's name.
class PciCard::ReportedSpace {
 public:
  ReportedSpace(PciCard& card, const char* suffix)
      : card_(card), name_(card.config_.name + suffix) {}
  virtual ~ReportedSpace() = default;
  ReportedSpace(const ReportedSpace&) = delete;
  ReportedSpace& operator=(const ReportedSpace&) = delete;

 protected:
  std::uint32_t Read(std::uint32_t address, int width) {
    card_.simulation_.ChargeRegisterAccess();
    const std::uint32_t value = Load(address, width);
    Report(address, width, RegisterAccess::Kind::kRead, value);
    return value;
  }
  void Write(std::uint32_t address, int width, std::uint32_t value) {
    card_.simulation_.ChargeRegisterAccess();
    Store(address, width, value);
    Report(address, width, RegisterAccess::Kind::kWrite, value);
  }

  // The access itself, `width` bytes little-endian at `address`.
  virtual std::uint32_t Load(std::uint32_t address, int width) = 0;
  virtual void Store(std::uint32_t address, int width, std::uint32_t value) = 0;

  PciCard& card_;

 private:
  void Report(std::uint32_t address, int width, RegisterAccess::Kind kind, std::uint32_t value) {
    card_.simulation_.NotifyAccess(RegisterAccess{card_.simulation_.Now(), name_, address,
                                                  static_cast<std::uint8_t>(width), kind, value});
  }

  std::string name_;
};

// A memory window of the card: every width is one reported access.
class PciCard::CardWindow : public RegisterWindow, protected ReportedSpace {
 public:
  using ReportedSpace::ReportedSpace;
  std::uint8_t Read8(std::uint32_t offset) final {
    return static_cast<std::uint8_t>(Read(offset, 1));
  }
  std::uint16_t Read16(std::uint32_t offset) final {
    return static_cast<std::uint16_t>(Read(offset, 2));
  }
  std::uint32_t Read32(std::uint32_t offset) final { return Read(offset, 4); }
  void Write8(std::uint32_t offset, std::uint8_t value) final { Write(offset, 1, value); }
  void Write16(std::uint32_t offset, std::uint16_t value) final { Write(offset, 2, value); }
  void Write32(std::uint32_t offset, std::uint32_t value) final { Write(offset, 4, value); }
};

// Base address register 0: the bridge's local registers in memory space.
class PciCard::BridgeWindow final : public CardWindow {
 public:
  explicit BridgeWindow(PciCard& card) : CardWindow(card, ".bar0") {}
  std::uint32_t Size() const override { return kBridgeWindowSize; }

 private:
  std::uint32_t Load(std::uint32_t offset, int width) override {
    return card_.bridge_.ReadLocal(offset, width);
  }
  void Store(std::uint32_t offset, int width, std::uint32_t value) override {
    card_.bridge_.WriteLocal(offset, width, value);
  }
};

// Base address register 2: local space 0 with the two controllers. The
// local bus is 8 bits wide, so wider accesses become byte cycles.
class PciCard::ControllerWindow final : public CardWindow {
 public:
  explicit ControllerWindow(PciCard& card) : CardWindow(card, ".bar2") {}
  std::uint32_t Size() const override { return card_.config_.bar2_size; }

 private:
  I82527* Target(std::uint32_t offset, std::uint8_t& address) const {
    if (offset >= Size()) return nullptr;
    const PciBridge::LocalTarget target = card_.bridge_.DecodeSpace0(offset);
    if (target.chip_select < 0 || target.chip_select >= kChannels ||
        target.offset >= kControllerSpan) {
      return nullptr;
    }
    address = static_cast<std::uint8_t>(target.offset);
    return card_.controllers_[target.chip_select].get();
  }
  std::uint32_t Load(std::uint32_t offset, int width) override {
    std::uint32_t value = 0;
    for (int i = 0; i < width; ++i) {
      std::uint8_t address = 0;
      I82527* controller = Target(offset + i, address);
      const std::uint8_t byte = controller != nullptr ? controller->Read(address) : 0xFF;
      value |= std::uint32_t{byte} << (8 * i);
    }
    return value;
  }
  void Store(std::uint32_t offset, int width, std::uint32_t value) override {
    for (int i = 0; i < width; ++i) {
      std::uint8_t address = 0;
      I82527* controller = Target(offset + i, address);
      if (controller != nullptr)
        controller->Write(address, static_cast<std::uint8_t>(value >> (8 * i)));
    }
  }
};

// Base address register 1: the same bridge registers in I/O space, reported
// by absolute port number.
class PciCard::BridgePorts final : public PortDevice, private ReportedSpace {
 public:
  explicit BridgePorts(PciCard& card) : ReportedSpace(card, ".bar1") {}
  std::uint8_t In8(std::uint16_t port) override { return static_cast<std::uint8_t>(Read(port, 1)); }
  void Out8(std::uint16_t port, std::uint8_t value) override { Write(port, 1, value); }
  std::uint32_t In32(std::uint16_t port) override { return Read(port, 4); }
  void Out32(std::uint16_t port, std::uint32_t value) override { Write(port, 4, value); }

 private:
  std::uint32_t Offset(std::uint32_t port) const { return port - card_.BarInfo(1).address; }
  std::uint32_t Load(std::uint32_t port, int width) override {
    return card_.bridge_.ReadLocal(Offset(port), width);
  }
  void Store(std::uint32_t port, int width, std::uint32_t value) override {
    card_.bridge_.WriteLocal(Offset(port), width, value);
  }
};

PciCard::PciCard(Simulation& simulation, Config config)
    : simulation_(simulation), config_(std::move(config)) {
  for (int channel = 0; channel < kChannels; ++channel) {
    I82527::Config controller = config_.controllers[channel];
    if (controller.name.empty() || controller.name == I82527::Config{}.name) {
      controller.name = config_.name + ".controller" + std::to_string(channel + 1);
    }
    controllers_[channel] = std::make_unique<I82527>(simulation_, controller);
  }
  tick_ = std::make_unique<ClockOutDivider>(*controllers_[0], ClockOutDivider::kTickDivisor,
                                            [this](SimTime) { OnTickEdge(); });
  bar0_ = std::make_unique<BridgeWindow>(*this);
  bar2_ = std::make_unique<ControllerWindow>(*this);
  bar1_ports_ = std::make_unique<BridgePorts>(*this);
  BuildConfigHeader();
  simulation_.Add(tick_.get());
}

PciCard::~PciCard() { simulation_.Remove(tick_.get()); }

void PciCard::OnTickEdge() {
  // Port-2 bit 2 of the first controller switches the tick onto the line.
  if (!controllers_[0]->Port2PinHigh(kChannel2LineBit)) bridge_.Local1Edge();
}

RegisterWindow* PciCard::BarWindow(int index) {
  if (index == 0) return bar0_.get();
  if (index == 2) return bar2_.get();
  return nullptr;
}

PortDevice& PciCard::IoPorts() { return *bar1_ports_; }

PciCard::Bar PciCard::BarInfo(int index) const {
  if (index < 0 || index >= kBarCount || bar_size_[index] == 0) return {};
  const std::uint32_t raw = ReadConfig(static_cast<std::uint16_t>(kConfigBar0 + 4 * index), 4);
  const bool io = (raw & 1U) != 0;
  return Bar{raw & (io ? ~3U : ~15U), bar_size_[index], io};
}

namespace {

void Put(std::array<std::uint8_t, PciCard::kPciConfigSize>& space, std::uint16_t offset, int width,
         std::uint32_t value) {
  for (int i = 0; i < width; ++i) space[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t Get(const std::array<std::uint8_t, PciCard::kPciConfigSize>& space,
                  std::uint16_t offset, int width) {
  std::uint32_t value = 0;
  for (int i = 0; i < width; ++i) value |= std::uint32_t{space[offset + i]} << (8 * i);
  return value;
}

}  // namespace

void PciCard::BuildConfigHeader() {
  bar_size_ = {kBridgeWindowSize, kBridgeWindowSize, config_.bar2_size, 0, 0, 0};
  Put(config_space_, kConfigVendor, 2, config_.vendor_id);
  Put(config_space_, kConfigDevice, 2, config_.device_id);
  Put(config_space_, kConfigCommand, 2, 0x0003);
  Put(config_space_, kConfigStatus, 2, kStatusCapabilitiesList);
  Put(config_space_, kConfigRevision, 1, 0x01);
  Put(config_space_, kConfigClassCode, 3, kClassSerialBusCan);
  Put(config_space_, kConfigBar0, 4, config_.bar0_address & ~15U);
  Put(config_space_, kConfigBar0 + 4, 4, (config_.bar1_address & ~3U) | 1U);
  Put(config_space_, kConfigBar0 + 8, 4, config_.bar2_address & ~15U);
  Put(config_space_, kConfigSubsystemVendor, 2, config_.subsystem_vendor_id);
  Put(config_space_, kConfigSubsystem, 2, config_.subsystem_id);
  Put(config_space_, kConfigCapabilities, 1, kConfigPowerCapability);
  Put(config_space_, kConfigInterruptLine, 1, config_.interrupt_line);
  Put(config_space_, kConfigInterruptPin, 1, 1);        // INTA#
  Put(config_space_, kConfigPowerCapability, 1, 0x01);  // power management, last capability
  Put(config_space_, kConfigPowerCapability + 2, 2,
      kPowerManagementVersion2 | (config_.offers_d1_d2 ? kPowerD1D2Support : 0));
}

std::uint32_t PciCard::ReadConfig(std::uint16_t offset, int width) const {
  if (width != 1 && width != 2 && width != 4) return 0xFFFFFFFF;
  if (offset + width > kPciConfigSize) return width == 4 ? 0xFFFFFFFF : (1U << (8 * width)) - 1;
  std::array<std::uint8_t, kPciConfigSize> view = config_space_;
  if (bridge_.PciInterrupt().Asserted()) view[kConfigStatus] |= kStatusInterrupt;
  return Get(view, offset, width);
}

void PciCard::WriteConfig(std::uint16_t offset, int width, std::uint32_t value) {
  if ((width != 1 && width != 2 && width != 4) || offset + width > kPciConfigSize) return;
  for (int i = 0; i < width; ++i) {
    const std::uint16_t address = static_cast<std::uint16_t>(offset + i);
    const std::uint8_t byte = static_cast<std::uint8_t>(value >> (8 * i));
    std::uint8_t& stored = config_space_[address];
    if (address >= kConfigCommand && address < kConfigCommand + 2) {
      const std::uint8_t writable =
          static_cast<std::uint8_t>(kCommandWritable >> (8 * (address - kConfigCommand)));
      stored = static_cast<std::uint8_t>((stored & ~writable) | (byte & writable));
    } else if (address >= kConfigBar0 && address < kConfigBar0 + 4 * kBarCount) {
      const int index = (address - kConfigBar0) / 4;
      const int shift = 8 * ((address - kConfigBar0) % 4);
      const std::uint32_t size = bar_size_[index];
      if (size == 0) continue;
      const bool io = (config_space_[kConfigBar0 + 4 * index] & 1U) != 0;
      // Address bits below the size and the type bits are fixed, which is
      // how software sizes a window.
      const std::uint32_t fixed = (size - 1) | (io ? 3U : 15U);
      const std::uint8_t writable = static_cast<std::uint8_t>(~fixed >> shift);
      stored = static_cast<std::uint8_t>((stored & ~writable) | (byte & writable));
    } else if (address == kConfigInterruptLine) {
      stored = byte;
    } else if (address == kConfigPowerControl) {
      stored = static_cast<std::uint8_t>((stored & ~kPowerStateBits) | (byte & kPowerStateBits));
    }
  }
}

}  // namespace vantor::sim
