#include "platform/devhost/hardware_access.h"

#include <algorithm>
#include <cstdio>

namespace vantor::devhost {

namespace {

constexpr std::uint8_t kFloatingByte = 0xFF;
constexpr std::uint32_t kFloatingWord = 0xFFFFFFFF;
constexpr std::size_t kPciConfigSize = 256;

const char* AccessKindText(AccessKind kind) {
  switch (kind) {
    case AccessKind::kRead8:
      return "R8";
    case AccessKind::kWrite8:
      return "W8";
    case AccessKind::kRead16:
      return "R16";
    case AccessKind::kWrite16:
      return "W16";
    case AccessKind::kRead32:
      return "R32";
    case AccessKind::kWrite32:
      return "W32";
    case AccessKind::kPortIn:
      return "IN";
    case AccessKind::kPortOut:
      return "OUT";
    case AccessKind::kPortIn32:
      return "IN32";
    case AccessKind::kPortOut32:
      return "OUT32";
    case AccessKind::kConfigRead:
      return "CFGR";
    case AccessKind::kConfigWrite:
      return "CFGW";
  }
  return "?";
}

bool Overlaps(std::uint64_t firstA, std::uint64_t lengthA, std::uint64_t firstB,
              std::uint64_t lengthB) {
  return firstA < firstB + lengthB && firstB < firstA + lengthA;
}

}  // namespace

std::uint16_t RegisterModel::Read16(std::uint32_t offset) {
  return static_cast<std::uint16_t>(Read8(offset) | (Read8(offset + 1) << 8));
}

void RegisterModel::Write16(std::uint32_t offset, std::uint16_t value) {
  Write8(offset, static_cast<std::uint8_t>(value));
  Write8(offset + 1, static_cast<std::uint8_t>(value >> 8));
}

std::uint32_t PortModel::In32(std::uint16_t offset) {
  std::uint32_t value = 0;
  for (std::uint16_t i = 0; i < 4; ++i) {
    value |= std::uint32_t{In8(static_cast<std::uint16_t>(offset + i))} << (8 * i);
  }
  return value;
}

void PortModel::Out32(std::uint16_t offset, std::uint32_t value) {
  for (std::uint16_t i = 0; i < 4; ++i) {
    Out8(static_cast<std::uint16_t>(offset + i), static_cast<std::uint8_t>(value >> (8 * i)));
  }
}

std::uint32_t RegisterModel::Read32(std::uint32_t offset) {
  std::uint32_t value = 0;
  for (std::uint32_t i = 0; i < 4; ++i) value |= std::uint32_t{Read8(offset + i)} << (8 * i);
  return value;
}

void RegisterModel::Write32(std::uint32_t offset, std::uint32_t value) {
  for (std::uint32_t i = 0; i < 4; ++i)
    Write8(offset + i, static_cast<std::uint8_t>(value >> (8 * i)));
}

std::string FormatAccessRecord(const AccessRecord& record) {
  char line[96];
  std::snprintf(line, sizeof(line), "%lld %s 0x%llx 0x%x", static_cast<long long>(record.counter),
                AccessKindText(record.kind), static_cast<unsigned long long>(record.address),
                record.value);
  return line;
}

// ---- AccessLog ------------------------------------------------------------

void AccessLog::Enable(bool on) {
  std::lock_guard lock(mutex_);
  enabled_ = on;
  if (!on) records_.clear();
}

void AccessLog::Add(const AccessRecord& record) {
  std::lock_guard lock(mutex_);
  if (!enabled_) return;
  if (records_.size() == kCapacity) records_.pop_front();
  records_.push_back(record);
}

std::vector<AccessRecord> AccessLog::Take() {
  std::lock_guard lock(mutex_);
  std::vector<AccessRecord> taken(records_.begin(), records_.end());
  records_.clear();
  return taken;
}

// ---- RegisterWindow -------------------------------------------------------

std::uint8_t RegisterWindow::Read8(std::uint32_t offset) const {
  if (model_ == nullptr || !Fits(offset, 1)) return kFloatingByte;
  const std::uint8_t value = model_->Read8(modelOffset_ + offset);
  map_->Record(AccessKind::kRead8, physical_ + offset, value);
  return value;
}

void RegisterWindow::Write8(std::uint32_t offset, std::uint8_t value) const {
  if (model_ == nullptr || !Fits(offset, 1)) return;
  map_->Record(AccessKind::kWrite8, physical_ + offset, value);
  model_->Write8(modelOffset_ + offset, value);
}

std::uint16_t RegisterWindow::Read16(std::uint32_t offset) const {
  if (model_ == nullptr || !Fits(offset, 2)) return 0xFFFF;
  const std::uint16_t value = model_->Read16(modelOffset_ + offset);
  map_->Record(AccessKind::kRead16, physical_ + offset, value);
  return value;
}

void RegisterWindow::Write16(std::uint32_t offset, std::uint16_t value) const {
  if (model_ == nullptr || !Fits(offset, 2)) return;
  map_->Record(AccessKind::kWrite16, physical_ + offset, value);
  model_->Write16(modelOffset_ + offset, value);
}

std::uint32_t RegisterWindow::Read32(std::uint32_t offset) const {
  if (model_ == nullptr || !Fits(offset, 4)) return kFloatingWord;
  const std::uint32_t value = model_->Read32(modelOffset_ + offset);
  map_->Record(AccessKind::kRead32, physical_ + offset, value);
  return value;
}

void RegisterWindow::Write32(std::uint32_t offset, std::uint32_t value) const {
  if (model_ == nullptr || !Fits(offset, 4)) return;
  map_->Record(AccessKind::kWrite32, physical_ + offset, value);
  model_->Write32(modelOffset_ + offset, value);
}

// ---- HardwareMap ----------------------------------------------------------

bool HardwareMap::AddMemoryRange(std::uint64_t physical, std::uint32_t length,
                                 RegisterModel& model) {
  if (length == 0 || physical > UINT64_MAX - length) return false;
  std::lock_guard lock(layoutMutex_);
  for (const auto& range : memory_) {
    if (Overlaps(physical, length, range.physical, range.length)) return false;
  }
  memory_.push_back({physical, length, &model});
  return true;
}

bool HardwareMap::AddPortRange(std::uint16_t firstPort, std::uint32_t count, PortModel& model) {
  if (count == 0 || std::uint32_t{firstPort} + count > 0x10000) return false;
  std::lock_guard lock(layoutMutex_);
  for (const auto& range : ports_) {
    if (Overlaps(firstPort, count, range.first, range.count)) return false;
  }
  ports_.push_back({firstPort, count, &model});
  return true;
}

bool HardwareMap::AddPciFunction(PciSlot slot, PciConfigModel& model) {
  if (slot.device >= 32 || slot.function >= 8) return false;
  std::lock_guard lock(layoutMutex_);
  for (const auto& function : pci_) {
    if (function.slot == slot) return false;
  }
  pci_.push_back({slot, &model});
  return true;
}

std::optional<RegisterWindow> HardwareMap::MapIoSpace(std::uint64_t physical,
                                                      std::uint32_t length) {
  if (length == 0) return std::nullopt;
  std::lock_guard lock(layoutMutex_);
  for (const auto& range : memory_) {
    if (physical < range.physical) continue;
    const std::uint64_t offset = physical - range.physical;
    if (offset >= range.length || length > range.length - offset) continue;
    return RegisterWindow(this, range.model, physical, static_cast<std::uint32_t>(offset), length);
  }
  return std::nullopt;
}

std::pair<PortModel*, std::uint16_t> HardwareMap::FindPort(std::uint16_t port) const {
  std::lock_guard lock(layoutMutex_);
  for (const auto& range : ports_) {
    if (port >= range.first && std::uint32_t{port} - range.first < range.count) {
      return {range.model, static_cast<std::uint16_t>(port - range.first)};
    }
  }
  return {nullptr, 0};
}

std::uint8_t HardwareMap::PortIn8(std::uint16_t port) {
  const auto [model, offset] = FindPort(port);
  const std::uint8_t value = model != nullptr ? model->In8(offset) : kFloatingByte;
  Record(AccessKind::kPortIn, port, value);
  return value;
}

void HardwareMap::PortOut8(std::uint16_t port, std::uint8_t value) {
  const auto [model, offset] = FindPort(port);
  Record(AccessKind::kPortOut, port, value);
  if (model != nullptr) model->Out8(offset, value);
}

std::uint32_t HardwareMap::PortIn32(std::uint16_t port) {
  const auto [model, offset] = FindPort(port);
  const std::uint32_t value = model != nullptr ? model->In32(offset) : kFloatingWord;
  Record(AccessKind::kPortIn32, port, value);
  return value;
}

void HardwareMap::PortOut32(std::uint16_t port, std::uint32_t value) {
  const auto [model, offset] = FindPort(port);
  Record(AccessKind::kPortOut32, port, value);
  if (model != nullptr) model->Out32(offset, value);
}

std::size_t HardwareMap::ReadPciConfig(PciSlot slot, std::uint8_t offset,
                                       std::span<std::uint8_t> bytes) {
  PciConfigModel* model = nullptr;
  {
    std::lock_guard lock(layoutMutex_);
    for (const auto& function : pci_) {
      if (function.slot == slot) model = function.model;
    }
  }
  if (model == nullptr) return 0;
  const std::size_t count = std::min(bytes.size(), kPciConfigSize - offset);
  for (std::size_t i = 0; i < count; ++i) {
    bytes[i] = model->ReadConfig8(static_cast<std::uint8_t>(offset + i));
    Record(AccessKind::kConfigRead, offset + i, bytes[i]);
  }
  return count;
}

std::size_t HardwareMap::WritePciConfig(PciSlot slot, std::uint8_t offset,
                                        std::span<const std::uint8_t> bytes) {
  PciConfigModel* model = nullptr;
  {
    std::lock_guard lock(layoutMutex_);
    for (const auto& function : pci_) {
      if (function.slot == slot) model = function.model;
    }
  }
  if (model == nullptr) return 0;
  const std::size_t count = std::min(bytes.size(), kPciConfigSize - offset);
  for (std::size_t i = 0; i < count; ++i) {
    Record(AccessKind::kConfigWrite, offset + i, bytes[i]);
    model->WriteConfig8(static_cast<std::uint8_t>(offset + i), bytes[i]);
  }
  return count;
}

void HardwareMap::Record(AccessKind kind, std::uint64_t address, std::uint32_t value) {
  if (!log_.Enabled()) return;
  log_.Add({counter_ ? counter_() : 0, kind, address, value});
}

}  // namespace vantor::devhost
