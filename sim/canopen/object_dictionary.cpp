#include "sim/canopen/object_dictionary.h"

#include <algorithm>
#include <array>
#include <utility>

namespace vantor::sim::canopen {

namespace {

std::vector<std::uint8_t> DefaultBytes(const ObjectDefinition& definition) {
  if (IsStringType(definition.type)) {
    return {definition.defaultText.begin(), definition.defaultText.end()};
  }
  std::vector<std::uint8_t> bytes(FixedSizeOf(definition.type));
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<std::uint8_t>(definition.defaultValue >> (8 * i));
  }
  return bytes;
}

}  // namespace

ObjectEntry::ObjectEntry(const ObjectDefinition& definition)
    : key_{definition.index, definition.subindex},
      type_(definition.type),
      access_(definition.access),
      pdoMappable_(definition.pdoMappable),
      capacity_(IsStringType(definition.type)
                    ? std::max(definition.capacity, definition.defaultText.size())
                    : FixedSizeOf(definition.type)),
      value_(DefaultBytes(definition)),
      default_(value_) {}

std::uint64_t ObjectEntry::Unsigned() const {
  std::uint64_t value = 0;
  const std::size_t bytes = std::min<std::size_t>(value_.size(), 8);
  for (std::size_t i = 0; i < bytes; ++i) {
    value |= static_cast<std::uint64_t>(value_[i]) << (8 * i);
  }
  return value;
}

std::int64_t ObjectEntry::Signed() const {
  const std::size_t bytes = std::min<std::size_t>(value_.size(), 8);
  std::uint64_t value = Unsigned();
  if (bytes > 0 && bytes < 8 && (value_[bytes - 1] & 0x80) != 0) {
    value |= ~std::uint64_t{0} << (8 * bytes);
  }
  return static_cast<std::int64_t>(value);
}

bool ObjectEntry::AcceptsSize(std::size_t size) const {
  return IsStringType(type_) ? size <= capacity_ : size == capacity_;
}

ObjectEntry& ObjectDictionary::Add(const ObjectDefinition& definition) {
  const ObjectKey key{definition.index, definition.subindex};
  entries_.erase(key);
  ++generation_;
  return entries_.emplace(key, ObjectEntry(definition)).first->second;
}

void ObjectDictionary::Remove(std::uint16_t index, std::uint8_t subindex) {
  entries_.erase(ObjectKey{index, subindex});
}

void ObjectDictionary::RemoveIndex(std::uint16_t index) {
  entries_.erase(entries_.lower_bound(ObjectKey{index, 0}),
                 entries_.upper_bound(ObjectKey{index, 0xFF}));
}

const ObjectEntry* ObjectDictionary::Find(std::uint16_t index, std::uint8_t subindex) const {
  const auto found = entries_.find(ObjectKey{index, subindex});
  return found == entries_.end() ? nullptr : &found->second;
}

ObjectEntry* ObjectDictionary::FindMutable(std::uint16_t index, std::uint8_t subindex) {
  const auto found = entries_.find(ObjectKey{index, subindex});
  return found == entries_.end() ? nullptr : &found->second;
}

bool ObjectDictionary::HasIndex(std::uint16_t index) const {
  const auto first = entries_.lower_bound(ObjectKey{index, 0});
  return first != entries_.end() && first->first.index == index;
}

SdoAbortCode ObjectDictionary::Locate(std::uint16_t index, std::uint8_t subindex) const {
  if (Find(index, subindex) != nullptr) return SdoAbortCode::kNone;
  return HasIndex(index) ? SdoAbortCode::kSubindexMissing : SdoAbortCode::kObjectMissing;
}

void ObjectDictionary::OnWriteCheck(std::uint16_t index, std::uint8_t subindex, WriteCheck check) {
  if (ObjectEntry* entry = FindMutable(index, subindex)) entry->check_ = std::move(check);
}

void ObjectDictionary::OnWritten(std::uint16_t index, std::uint8_t subindex,
                                 WriteReaction reaction) {
  if (ObjectEntry* entry = FindMutable(index, subindex)) entry->reaction_ = std::move(reaction);
}

SdoAbortCode ObjectDictionary::Write(std::uint16_t index, std::uint8_t subindex,
                                     std::span<const std::uint8_t> value, WriteOrigin origin) {
  ObjectEntry* entry = FindMutable(index, subindex);
  if (entry == nullptr) return Locate(index, subindex);
  if (origin == WriteOrigin::kSdo && !IsWritable(entry->access_)) {
    return SdoAbortCode::kReadOnly;
  }
  if (!entry->AcceptsSize(value.size())) {
    return IsStringType(entry->type_) ? SdoAbortCode::kSizeTooHigh : SdoAbortCode::kSizeMismatch;
  }
  if (entry->check_) {
    const SdoAbortCode refusal = entry->check_(value);
    if (refusal != SdoAbortCode::kNone) return refusal;
  }
  Store(*entry, value);
  if (entry->reaction_) entry->reaction_(*entry, origin);
  return SdoAbortCode::kNone;
}

SdoAbortCode ObjectDictionary::Read(std::uint16_t index, std::uint8_t subindex,
                                    std::vector<std::uint8_t>& value) const {
  const ObjectEntry* entry = Find(index, subindex);
  if (entry == nullptr) return Locate(index, subindex);
  if (!IsReadable(entry->access_)) return SdoAbortCode::kWriteOnly;
  value.assign(entry->value_.begin(), entry->value_.end());
  return SdoAbortCode::kNone;
}

bool ObjectDictionary::Set(std::uint16_t index, std::uint8_t subindex,
                           std::span<const std::uint8_t> value) {
  ObjectEntry* entry = FindMutable(index, subindex);
  if (entry == nullptr || !entry->AcceptsSize(value.size())) return false;
  Store(*entry, value);
  return true;
}

bool ObjectDictionary::SetUnsigned(std::uint16_t index, std::uint8_t subindex,
                                   std::uint64_t value) {
  ObjectEntry* entry = FindMutable(index, subindex);
  if (entry == nullptr || IsStringType(entry->type_)) return false;
  // Fixed-size entries hold at most eight bytes; no buffer is needed.
  std::array<std::uint8_t, 8> bytes{};
  const std::size_t size = std::min(entry->capacity_, bytes.size());
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
  Store(*entry, std::span<const std::uint8_t>(bytes.data(), size));
  return true;
}

bool ObjectDictionary::SetText(std::uint16_t index, std::uint8_t subindex, std::string_view text) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  ObjectEntry* entry = FindMutable(index, subindex);
  if (entry == nullptr || !IsStringType(entry->type_)) return false;
  return Set(index, subindex, std::span<const std::uint8_t>(bytes, text.size()));
}

bool ObjectDictionary::SetDefaultUnsigned(std::uint16_t index, std::uint8_t subindex,
                                          std::uint64_t value) {
  if (!SetUnsigned(index, subindex, value)) return false;
  ObjectEntry* entry = FindMutable(index, subindex);
  entry->default_ = entry->value_;
  return true;
}

bool ObjectDictionary::SetDefaultText(std::uint16_t index, std::uint8_t subindex,
                                      std::string_view text) {
  ObjectEntry* entry = FindMutable(index, subindex);
  if (entry == nullptr || !IsStringType(entry->type_)) return false;
  // A model's default may be longer than the core's placeholder.
  entry->capacity_ = std::max(entry->capacity_, text.size());
  if (!SetText(index, subindex, text)) return false;
  entry->default_ = entry->value_;
  return true;
}

std::uint64_t ObjectDictionary::Unsigned(std::uint16_t index, std::uint8_t subindex) const {
  const ObjectEntry* entry = Find(index, subindex);
  return entry == nullptr ? 0 : entry->Unsigned();
}

void ObjectDictionary::RestoreDefaults(std::uint16_t first, std::uint16_t last) {
  for (auto it = entries_.lower_bound(ObjectKey{first, 0});
       it != entries_.end() && it->first.index <= last; ++it) {
    Store(it->second, it->second.default_);
  }
}

void ObjectDictionary::Store(ObjectEntry& entry, std::span<const std::uint8_t> value) {
  if (std::ranges::equal(entry.value_, value)) return;
  entry.value_.assign(value.begin(), value.end());
  ++generation_;
}

}  // namespace vantor::sim::canopen
