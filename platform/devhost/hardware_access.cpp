#include "platform/devhost/hardware_access.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace vantor::devhost {

namespace {

// What an access that no model answers reads: all ones, as on an empty bus.
template <typename Word>
constexpr Word kFloating = std::numeric_limits<Word>::max();
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

// A wide access as byte accesses, little-endian, lowest address first.
template <typename Word, typename Offset, typename ReadByte>
Word ReadBytewise(Offset offset, ReadByte readByte) {
  Word value = 0;
  for (std::size_t i = 0; i < sizeof(Word); ++i) {
    const Word byte = readByte(static_cast<Offset>(offset + i));
    value = static_cast<Word>(value | (byte << (8 * i)));
  }
  return value;
}

template <typename Word, typename Offset, typename WriteByte>
void WriteBytewise(Offset offset, Word value, WriteByte writeByte) {
  for (std::size_t i = 0; i < sizeof(Word); ++i) {
    writeByte(static_cast<Offset>(offset + i), static_cast<std::uint8_t>(value >> (8 * i)));
  }
}

}  // namespace

std::uint16_t RegisterModel::Read16(std::uint32_t offset) {
  return ReadBytewise<std::uint16_t>(offset, [this](std::uint32_t at) { return Read8(at); });
}

void RegisterModel::Write16(std::uint32_t offset, std::uint16_t value) {
  WriteBytewise(offset, value, [this](std::uint32_t at, std::uint8_t byte) { Write8(at, byte); });
}

std::uint32_t RegisterModel::Read32(std::uint32_t offset) {
  return ReadBytewise<std::uint32_t>(offset, [this](std::uint32_t at) { return Read8(at); });
}

void RegisterModel::Write32(std::uint32_t offset, std::uint32_t value) {
  WriteBytewise(offset, value, [this](std::uint32_t at, std::uint8_t byte) { Write8(at, byte); });
}

std::uint32_t PortModel::In32(std::uint16_t offset) {
  return ReadBytewise<std::uint32_t>(offset, [this](std::uint16_t at) { return In8(at); });
}

void PortModel::Out32(std::uint16_t offset, std::uint32_t value) {
  WriteBytewise(offset, value, [this](std::uint16_t at, std::uint8_t byte) { Out8(at, byte); });
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

template <typename Word>
Word RegisterWindow::Read(std::uint32_t offset, AccessKind kind,
                          Word (RegisterModel::*read)(std::uint32_t)) const {
  if (model_ == nullptr || !Fits(offset, sizeof(Word))) return kFloating<Word>;
  const Word value = (model_->*read)(modelOffset_ + offset);
  map_->Record(kind, physical_ + offset, value);
  return value;
}

template <typename Word>
void RegisterWindow::Write(std::uint32_t offset, Word value, AccessKind kind,
                           void (RegisterModel::*write)(std::uint32_t, Word)) const {
  if (model_ == nullptr || !Fits(offset, sizeof(Word))) return;
  map_->Record(kind, physical_ + offset, value);
  (model_->*write)(modelOffset_ + offset, value);
}

std::uint8_t RegisterWindow::Read8(std::uint32_t offset) const {
  return Read(offset, AccessKind::kRead8, &RegisterModel::Read8);
}

void RegisterWindow::Write8(std::uint32_t offset, std::uint8_t value) const {
  Write(offset, value, AccessKind::kWrite8, &RegisterModel::Write8);
}

std::uint16_t RegisterWindow::Read16(std::uint32_t offset) const {
  return Read(offset, AccessKind::kRead16, &RegisterModel::Read16);
}

void RegisterWindow::Write16(std::uint32_t offset, std::uint16_t value) const {
  Write(offset, value, AccessKind::kWrite16, &RegisterModel::Write16);
}

std::uint32_t RegisterWindow::Read32(std::uint32_t offset) const {
  return Read(offset, AccessKind::kRead32, &RegisterModel::Read32);
}

void RegisterWindow::Write32(std::uint32_t offset, std::uint32_t value) const {
  Write(offset, value, AccessKind::kWrite32, &RegisterModel::Write32);
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

template <typename Word>
Word HardwareMap::PortIn(std::uint16_t port, AccessKind kind,
                         Word (PortModel::*in)(std::uint16_t)) {
  const auto [model, offset] = FindPort(port);
  const Word value = model != nullptr ? (model->*in)(offset) : kFloating<Word>;
  Record(kind, port, value);
  return value;
}

template <typename Word>
void HardwareMap::PortOut(std::uint16_t port, Word value, AccessKind kind,
                          void (PortModel::*out)(std::uint16_t, Word)) {
  const auto [model, offset] = FindPort(port);
  Record(kind, port, value);
  if (model != nullptr) (model->*out)(offset, value);
}

std::uint8_t HardwareMap::PortIn8(std::uint16_t port) {
  return PortIn(port, AccessKind::kPortIn, &PortModel::In8);
}

void HardwareMap::PortOut8(std::uint16_t port, std::uint8_t value) {
  PortOut(port, value, AccessKind::kPortOut, &PortModel::Out8);
}

std::uint32_t HardwareMap::PortIn32(std::uint16_t port) {
  return PortIn(port, AccessKind::kPortIn32, &PortModel::In32);
}

void HardwareMap::PortOut32(std::uint16_t port, std::uint32_t value) {
  PortOut(port, value, AccessKind::kPortOut32, &PortModel::Out32);
}

PciConfigModel* HardwareMap::FindPciFunction(PciSlot slot) const {
  PciConfigModel* model = nullptr;
  std::lock_guard lock(layoutMutex_);
  for (const auto& function : pci_) {
    if (function.slot == slot) model = function.model;
  }
  return model;
}

std::size_t HardwareMap::ReadPciConfig(PciSlot slot, std::uint8_t offset,
                                       std::span<std::uint8_t> bytes) {
  PciConfigModel* model = FindPciFunction(slot);
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
  PciConfigModel* model = FindPciFunction(slot);
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
