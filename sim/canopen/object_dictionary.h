// The object dictionary of one simulated node: typed entries of exact sizes
// with access rights, PDO mappability, default values and write hooks.
//
// A device model adds its own objects and hooks their writes; the SDO
// server and the PDO engine reach values only through the checked paths
// below, so a refused value never lands in an entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/canopen/canopen_wire.h"

namespace vantor::sim::canopen {

enum class DataType : std::uint8_t {
  kBoolean,
  kInteger8,
  kInteger16,
  kInteger32,
  kInteger64,
  kUnsigned8,
  kUnsigned16,
  kUnsigned32,
  kUnsigned64,
  kVisibleString,
  kOctetString,
};

// Size in bytes of a fixed-size type; 0 for the string types.
constexpr std::size_t FixedSizeOf(DataType type) {
  switch (type) {
    case DataType::kBoolean:
    case DataType::kInteger8:
    case DataType::kUnsigned8:
      return 1;
    case DataType::kInteger16:
    case DataType::kUnsigned16:
      return 2;
    case DataType::kInteger32:
    case DataType::kUnsigned32:
      return 4;
    case DataType::kInteger64:
    case DataType::kUnsigned64:
      return 8;
    case DataType::kVisibleString:
    case DataType::kOctetString:
      return 0;
  }
  return 0;
}

constexpr bool IsStringType(DataType type) { return FixedSizeOf(type) == 0; }

enum class Access : std::uint8_t { kReadOnly, kWriteOnly, kReadWrite, kConst };

constexpr bool IsReadable(Access access) { return access != Access::kWriteOnly; }
constexpr bool IsWritable(Access access) {
  return access == Access::kWriteOnly || access == Access::kReadWrite;
}

// Where a write comes from: the SDO server checks access rights, a received
// PDO was checked when it was mapped.
enum class WriteOrigin : std::uint8_t { kSdo, kPdo };

struct ObjectKey {
  std::uint16_t index = 0;
  std::uint8_t subindex = 0;
  friend auto operator<=>(const ObjectKey&, const ObjectKey&) = default;
};

class ObjectEntry;

// Called before a write is stored; anything but kNone refuses the value
// (for a range check or a device state that forbids the change).
using WriteCheck = std::function<SdoAbortCode(std::span<const std::uint8_t> value)>;
// Called after a write was stored, before the SDO answer leaves the node, so
// that a device's reaction is visible to the client's next request.
using WriteReaction = std::function<void(const ObjectEntry& entry, WriteOrigin origin)>;

struct ObjectDefinition {
  std::uint16_t index = 0;
  std::uint8_t subindex = 0;
  DataType type = DataType::kUnsigned8;
  Access access = Access::kReadOnly;
  bool pdoMappable = false;
  std::uint64_t defaultValue = 0;  // numeric types
  std::string_view defaultText{};  // string types
  std::size_t capacity = 0;        // string types: most bytes a write may store
};

class ObjectEntry {
 public:
  explicit ObjectEntry(const ObjectDefinition& definition);

  ObjectKey Key() const { return key_; }
  DataType Type() const { return type_; }
  Access AccessRights() const { return access_; }
  bool PdoMappable() const { return pdoMappable_; }
  // Exact size of a fixed-size entry; the current length of a string.
  std::size_t Size() const { return value_.size(); }
  std::size_t Capacity() const { return capacity_; }
  std::span<const std::uint8_t> Bytes() const { return value_; }
  // The value as an unsigned number (little-endian, at most 8 bytes).
  std::uint64_t Unsigned() const;
  // The value sign-extended from its size.
  std::int64_t Signed() const;
  std::string Text() const { return std::string(value_.begin(), value_.end()); }

  // True when a value of `size` bytes fits this entry exactly (strings: up
  // to their capacity).
  bool AcceptsSize(std::size_t size) const;

 private:
  friend class ObjectDictionary;

  ObjectKey key_;
  DataType type_;
  Access access_;
  bool pdoMappable_;
  std::size_t capacity_;
  std::vector<std::uint8_t> value_;
  std::vector<std::uint8_t> default_;
  WriteCheck check_;
  WriteReaction reaction_;
};

class ObjectDictionary {
 public:
  ObjectDictionary() = default;
  ObjectDictionary(const ObjectDictionary&) = delete;
  ObjectDictionary& operator=(const ObjectDictionary&) = delete;

  // Adds or replaces an entry; a device model's definition wins over the
  // core's of the same key.
  ObjectEntry& Add(const ObjectDefinition& definition);
  // Removes one entry, or every subindex of an index; variant profiles use
  // it to leave out objects a device of that kind does not have.
  void Remove(std::uint16_t index, std::uint8_t subindex);
  void RemoveIndex(std::uint16_t index);

  const ObjectEntry* Find(std::uint16_t index, std::uint8_t subindex) const;
  bool HasIndex(std::uint16_t index) const;

  // kNone when the entry exists; else kObjectMissing or kSubindexMissing.
  SdoAbortCode Locate(std::uint16_t index, std::uint8_t subindex) const;

  void OnWriteCheck(std::uint16_t index, std::uint8_t subindex, WriteCheck check);
  void OnWritten(std::uint16_t index, std::uint8_t subindex, WriteReaction reaction);

  // A checked write from the bus: existence, access (SDO only), size, then
  // the entry's check; stored and reacted to only when all pass.
  SdoAbortCode Write(std::uint16_t index, std::uint8_t subindex,
                     std::span<const std::uint8_t> value, WriteOrigin origin);

  // A checked read for the bus: existence and access.
  SdoAbortCode Read(std::uint16_t index, std::uint8_t subindex,
                    std::vector<std::uint8_t>& value) const;

  // The device's own view: stores without access checks or hooks. Sizes
  // must still fit; false when the entry is missing or the size is wrong.
  bool Set(std::uint16_t index, std::uint8_t subindex, std::span<const std::uint8_t> value);
  bool SetUnsigned(std::uint16_t index, std::uint8_t subindex, std::uint64_t value);
  bool SetText(std::uint16_t index, std::uint8_t subindex, std::string_view text);
  // Changes an entry's default and its current value: a device model's own
  // defaults for objects the core defines (a PDO mapping, an identity).
  bool SetDefaultUnsigned(std::uint16_t index, std::uint8_t subindex, std::uint64_t value);
  bool SetDefaultText(std::uint16_t index, std::uint8_t subindex, std::string_view text);
  // The value of an entry that the caller knows exists (0 when missing).
  std::uint64_t Unsigned(std::uint16_t index, std::uint8_t subindex) const;

  // Restores the defaults of every entry whose index lies in [first, last].
  void RestoreDefaults(std::uint16_t first, std::uint16_t last);

  // Rises whenever any stored value changes; lets the PDO engine notice
  // changes without hooks on every mapped object.
  std::uint64_t Generation() const { return generation_; }

  const std::map<ObjectKey, ObjectEntry>& Entries() const { return entries_; }

 private:
  ObjectEntry* FindMutable(std::uint16_t index, std::uint8_t subindex);
  void Store(ObjectEntry& entry, std::span<const std::uint8_t> value);

  std::map<ObjectKey, ObjectEntry> entries_;
  std::uint64_t generation_ = 0;
};

}  // namespace vantor::sim::canopen
