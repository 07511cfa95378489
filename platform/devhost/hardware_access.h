// Register windows, port space and PCI configuration space, served by
// hardware models.
//
// The machine places models at physical addresses, port ranges and PCI
// slots; drivers reach them only through these accessors, exactly as they
// would reach the real machine. Reads have side effects (a model may clear
// a latch on read), so every access goes to the model, and an access that
// no model answers reads as all ones and writes nowhere, as on an empty bus.
// Every access can be recorded for tests in a bounded log.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace vantor::devhost {

// A model's memory-mapped registers; offsets count from the start of its range.
class RegisterModel {
 public:
  virtual ~RegisterModel() = default;
  virtual std::uint8_t Read8(std::uint32_t offset) = 0;
  virtual void Write8(std::uint32_t offset, std::uint8_t value) = 0;
  // Wider accesses are little-endian; by default byte accesses, lowest
  // address first.
  virtual std::uint16_t Read16(std::uint32_t offset);
  virtual void Write16(std::uint32_t offset, std::uint16_t value);
  virtual std::uint32_t Read32(std::uint32_t offset);
  virtual void Write32(std::uint32_t offset, std::uint32_t value);
};

// A model's I/O ports; offsets count from the first port of its range (a
// model placed at port 0 over all 65,536 ports sees port numbers).
class PortModel {
 public:
  virtual ~PortModel() = default;
  virtual std::uint8_t In8(std::uint16_t offset) = 0;
  virtual void Out8(std::uint16_t offset, std::uint8_t value) = 0;
  // Double-word accesses; by default four byte accesses, lowest port first.
  virtual std::uint32_t In32(std::uint16_t offset);
  virtual void Out32(std::uint16_t offset, std::uint32_t value);
};

// A PCI function's 256-byte configuration space.
class PciConfigModel {
 public:
  virtual ~PciConfigModel() = default;
  virtual std::uint8_t ReadConfig8(std::uint8_t offset) = 0;
  virtual void WriteConfig8(std::uint8_t offset, std::uint8_t value) = 0;
};

struct PciSlot {
  std::uint8_t bus = 0;
  std::uint8_t device = 0;
  std::uint8_t function = 0;
  friend bool operator==(const PciSlot&, const PciSlot&) = default;
};

enum class AccessKind : std::uint8_t {
  kRead8,
  kWrite8,
  kRead16,
  kWrite16,
  kRead32,
  kWrite32,
  kPortIn,
  kPortOut,
  kPortIn32,
  kPortOut32,
  kConfigRead,
  kConfigWrite,
};

struct AccessRecord {
  std::int64_t counter;  // performance counter at the access
  AccessKind kind;
  std::uint64_t address;  // physical address, port number or config offset
  std::uint32_t value;
};

// "W8 0x00000000f0000100 0x5a" style lines, one per access.
std::string FormatAccessRecord(const AccessRecord& record);

class AccessLog {
 public:
  static constexpr std::size_t kCapacity = 1 << 16;

  void Enable(bool on);
  bool Enabled() const noexcept { return enabled_; }
  void Add(const AccessRecord& record);
  // Everything recorded since the last take, oldest first; the oldest
  // entries are dropped when more than kCapacity accumulate.
  std::vector<AccessRecord> Take();

 private:
  std::mutex mutex_;
  std::atomic<bool> enabled_{false};
  std::deque<AccessRecord> records_;
};

class HardwareMap;

// A mapped register window: bounds-checked accesses into one model.
class RegisterWindow {
 public:
  RegisterWindow() = default;

  std::uint8_t Read8(std::uint32_t offset) const;
  void Write8(std::uint32_t offset, std::uint8_t value) const;
  std::uint16_t Read16(std::uint32_t offset) const;
  void Write16(std::uint32_t offset, std::uint16_t value) const;
  std::uint32_t Read32(std::uint32_t offset) const;
  void Write32(std::uint32_t offset, std::uint32_t value) const;

  bool Mapped() const noexcept { return model_ != nullptr; }
  std::uint64_t PhysicalAddress() const noexcept { return physical_; }
  std::uint32_t Length() const noexcept { return length_; }

 private:
  friend class HardwareMap;
  RegisterWindow(HardwareMap* map, RegisterModel* model, std::uint64_t physical,
                 std::uint32_t modelOffset, std::uint32_t length)
      : map_(map), model_(model), physical_(physical), modelOffset_(modelOffset), length_(length) {}
  bool Fits(std::uint32_t offset, std::uint32_t size) const noexcept {
    return offset <= length_ && size <= length_ - offset;
  }
  // One access of Word's width: bounds-checked, recorded, served by the model.
  template <typename Word>
  Word Read(std::uint32_t offset, AccessKind kind,
            Word (RegisterModel::*read)(std::uint32_t)) const;
  template <typename Word>
  void Write(std::uint32_t offset, Word value, AccessKind kind,
             void (RegisterModel::*write)(std::uint32_t, Word)) const;

  HardwareMap* map_ = nullptr;
  RegisterModel* model_ = nullptr;
  std::uint64_t physical_ = 0;
  std::uint32_t modelOffset_ = 0;
  std::uint32_t length_ = 0;
};

class HardwareMap {
 public:
  // Placing models. Ranges must not overlap; false when they would. The
  // models must outlive the map.
  bool AddMemoryRange(std::uint64_t physical, std::uint32_t length, RegisterModel& model);
  bool AddPortRange(std::uint16_t firstPort, std::uint32_t count, PortModel& model);
  bool AddPciFunction(PciSlot slot, PciConfigModel& model);

  // A window over [physical, physical + length), which must lie inside one
  // model's range; nothing otherwise.
  std::optional<RegisterWindow> MapIoSpace(std::uint64_t physical, std::uint32_t length);

  std::uint8_t PortIn8(std::uint16_t port);
  void PortOut8(std::uint16_t port, std::uint8_t value);
  std::uint32_t PortIn32(std::uint16_t port);
  void PortOut32(std::uint16_t port, std::uint32_t value);

  // Reads or writes configuration bytes from `offset` on; returns how many
  // bytes were transferred (0 when no function sits in the slot).
  std::size_t ReadPciConfig(PciSlot slot, std::uint8_t offset, std::span<std::uint8_t> bytes);
  std::size_t WritePciConfig(PciSlot slot, std::uint8_t offset,
                             std::span<const std::uint8_t> bytes);

  AccessLog& Log() noexcept { return log_; }

  // Set by the host so that log entries carry the performance counter.
  void SetCounterSource(std::function<std::int64_t()> counter) { counter_ = std::move(counter); }

 private:
  friend class RegisterWindow;
  struct MemoryRange {
    std::uint64_t physical;
    std::uint32_t length;
    RegisterModel* model;
  };
  struct PortRange {
    std::uint16_t first;
    std::uint32_t count;
    PortModel* model;
  };
  struct PciFunction {
    PciSlot slot;
    PciConfigModel* model;
  };

  void Record(AccessKind kind, std::uint64_t address, std::uint32_t value);
  // The model serving `port` and the port's offset in its range.
  std::pair<PortModel*, std::uint16_t> FindPort(std::uint16_t port) const;
  // The model in `slot`, or nullptr.
  PciConfigModel* FindPciFunction(PciSlot slot) const;
  // One port access of Word's width, recorded; unserved ports read as all ones.
  template <typename Word>
  Word PortIn(std::uint16_t port, AccessKind kind, Word (PortModel::*in)(std::uint16_t));
  template <typename Word>
  void PortOut(std::uint16_t port, Word value, AccessKind kind,
               void (PortModel::*out)(std::uint16_t, Word));

  mutable std::mutex layoutMutex_;  // guards the tables, not the accesses
  std::vector<MemoryRange> memory_;
  std::vector<PortRange> ports_;
  std::vector<PciFunction> pci_;
  AccessLog log_;
  std::function<std::int64_t()> counter_;
};

}  // namespace vantor::devhost
