// Byte-exact wire records: named fields at fixed offsets over a byte array.
//
// Our shared-memory and driver records are packed, little-endian and in
// places overlapping (the exchange record's mask requests share bytes with
// message record 15), so they are modelled as byte arrays with typed
// accessors rather than as C structs. A field is described once by its type
// and offset (`Field<std::uint32_t, 0x3C>`); access through such a
// descriptor is checked against the record size at compile time. Offsets
// computed at run time (list entries, payload positions) go through the
// checked `Load`/`Store`, which refuse anything that would leave the record.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>

#include "common/byte_order.h"

namespace vantor::common {

// A scalar of type T at byte offset Offset.
template <WireScalar T, std::size_t Offset>
struct Field {
  using Type = T;
  static constexpr std::size_t kOffset = Offset;
  static constexpr std::size_t kEnd = Offset + sizeof(T);
};

// A zero-terminated text of at most Capacity - 1 bytes in Capacity bytes.
template <std::size_t Offset, std::size_t Capacity>
struct TextField {
  static_assert(Capacity >= 1, "a text field holds at least its terminator");
  static constexpr std::size_t kOffset = Offset;
  static constexpr std::size_t kCapacity = Capacity;
  static constexpr std::size_t kEnd = Offset + Capacity;
};

// An opaque run of Length bytes.
template <std::size_t Offset, std::size_t Length>
struct BytesField {
  static constexpr std::size_t kOffset = Offset;
  static constexpr std::size_t kLength = Length;
  static constexpr std::size_t kEnd = Offset + Length;
};

// An offset that lies in no record: list helpers return it for an index out
// of range, so that any Load or Store at it fails instead of touching a
// neighbouring field.
inline constexpr std::size_t kNoOffset = static_cast<std::size_t>(-1);

// True when [offset, offset + length) lies inside a record of `size` bytes,
// written so that huge offsets cannot wrap around.
constexpr bool RangeFits(std::size_t offset, std::size_t length, std::size_t size) noexcept {
  return offset <= size && length <= size - offset;
}

template <std::size_t Size>
class ByteView;
template <std::size_t Size>
class ConstByteView;

// Accessors shared by views and owned records. Derived provides
// `ReadData()` and, when writable, `WriteData()`.
template <typename Derived, std::size_t Size, bool Writable>
class WireAccess {
 public:
  static constexpr std::size_t kSize = Size;

  template <WireScalar T, std::size_t Offset>
  T Get(Field<T, Offset>) const noexcept {
    static_assert(Field<T, Offset>::kEnd <= Size, "field lies outside the record");
    return LoadLittleEndian<T>(Read() + Offset);
  }

  template <WireScalar T, std::size_t Offset>
  void Set(Field<T, Offset>, std::type_identity_t<T> value) noexcept requires Writable {
    static_assert(Field<T, Offset>::kEnd <= Size, "field lies outside the record");
    StoreLittleEndian<T>(Write() + Offset, value);
  }

  // Checked access at an offset known only at run time.
  template <WireScalar T>
  std::optional<T> Load(std::size_t offset) const noexcept {
    if (!RangeFits(offset, sizeof(T), Size)) return std::nullopt;
    return LoadLittleEndian<T>(Read() + offset);
  }

  template <WireScalar T>
  bool Store(std::size_t offset, std::type_identity_t<T> value) noexcept requires Writable {
    if (!RangeFits(offset, sizeof(T), Size)) return false;
    StoreLittleEndian<T>(Write() + offset, value);
    return true;
  }

  // The text up to its terminator, never reading past the field; a field
  // without terminator yields all Capacity bytes.
  template <std::size_t Offset, std::size_t Capacity>
  std::string_view GetText(TextField<Offset, Capacity>) const noexcept {
    static_assert(TextField<Offset, Capacity>::kEnd <= Size, "field lies outside the record");
    const auto* begin = reinterpret_cast<const char*>(Read() + Offset);
    const auto* end = std::find(begin, begin + Capacity, '\0');
    return {begin, static_cast<std::size_t>(end - begin)};
  }

  // The text when the field holds its terminator, or nothing for a field
  // that was filled to the brim (malformed input from another process).
  template <std::size_t Offset, std::size_t Capacity>
  std::optional<std::string_view> GetTerminatedText(
      TextField<Offset, Capacity> field) const noexcept {
    const std::string_view text = GetText(field);
    if (text.size() == Capacity) return std::nullopt;
    return text;
  }

  // Writes the text and zero-fills the rest of the field. A text that does
  // not fit with its terminator is refused and the field left unchanged.
  template <std::size_t Offset, std::size_t Capacity>
  bool SetText(TextField<Offset, Capacity>, std::string_view text) noexcept requires Writable {
    static_assert(TextField<Offset, Capacity>::kEnd <= Size, "field lies outside the record");
    if (text.size() >= Capacity) return false;
    auto* target = Write() + Offset;
    std::fill(target, target + Capacity, std::uint8_t{0});
    std::copy(text.begin(), text.end(), reinterpret_cast<char*>(target));
    return true;
  }

  template <std::size_t Offset, std::size_t Length>
  std::span<const std::uint8_t, Length> GetBytes(BytesField<Offset, Length>) const noexcept {
    static_assert(BytesField<Offset, Length>::kEnd <= Size, "field lies outside the record");
    return std::span<const std::uint8_t, Length>(Read() + Offset, Length);
  }

  template <std::size_t Offset, std::size_t Length>
  std::span<std::uint8_t, Length> MutableBytes(
      BytesField<Offset, Length>) noexcept requires Writable {
    static_assert(BytesField<Offset, Length>::kEnd <= Size, "field lies outside the record");
    return std::span<std::uint8_t, Length>(Write() + Offset, Length);
  }

  // Checked copies of byte runs at run-time offsets.
  bool CopyOut(std::size_t offset, std::span<std::uint8_t> target) const noexcept {
    if (!RangeFits(offset, target.size(), Size)) return false;
    std::copy_n(Read() + offset, target.size(), target.data());
    return true;
  }

  bool CopyIn(std::size_t offset, std::span<const std::uint8_t> source) noexcept requires Writable {
    if (!RangeFits(offset, source.size(), Size)) return false;
    std::copy_n(source.data(), source.size(), Write() + offset);
    return true;
  }

  bool Fill(std::size_t offset, std::size_t length, std::uint8_t value) noexcept requires Writable {
    if (!RangeFits(offset, length, Size)) return false;
    std::fill_n(Write() + offset, length, value);
    return true;
  }

  // A sub-record of SubSize bytes at a run-time offset, or nothing when it
  // would leave this record.
  template <std::size_t SubSize>
  std::optional<ConstByteView<SubSize>> Window(std::size_t offset) const noexcept {
    if (!RangeFits(offset, SubSize, Size)) return std::nullopt;
    return ConstByteView<SubSize>(Read() + offset);
  }

  template <std::size_t SubSize>
  std::optional<ByteView<SubSize>> MutableWindow(std::size_t offset) noexcept requires Writable {
    if (!RangeFits(offset, SubSize, Size)) return std::nullopt;
    return ByteView<SubSize>(Write() + offset);
  }

  std::span<const std::uint8_t, Size> Bytes() const noexcept {
    return std::span<const std::uint8_t, Size>(Read(), Size);
  }

  std::span<std::uint8_t, Size> MutableBytes() noexcept requires Writable {
    return std::span<std::uint8_t, Size>(Write(), Size);
  }

 private:
  const std::uint8_t* Read() const noexcept {
    return static_cast<const Derived*>(this)->ReadData();
  }
  std::uint8_t* Write() noexcept { return static_cast<Derived*>(this)->WriteData(); }
};

// A writable view of Size bytes owned elsewhere (a mapping, a device buffer).
template <std::size_t Size>
class ByteView : public WireAccess<ByteView<Size>, Size, true> {
 public:
  explicit ByteView(std::uint8_t* data) noexcept : data_(data) {}
  explicit ByteView(std::span<std::uint8_t, Size> bytes) noexcept : data_(bytes.data()) {}

  // Views the first Size bytes of `bytes`, or nothing when it is shorter.
  static std::optional<ByteView> Over(std::span<std::uint8_t> bytes) noexcept {
    if (bytes.size() < Size) return std::nullopt;
    return ByteView(bytes.data());
  }

  const std::uint8_t* ReadData() const noexcept { return data_; }
  std::uint8_t* WriteData() noexcept { return data_; }

 private:
  std::uint8_t* data_;
};

// A read-only view of Size bytes owned elsewhere.
template <std::size_t Size>
class ConstByteView : public WireAccess<ConstByteView<Size>, Size, false> {
 public:
  explicit ConstByteView(const std::uint8_t* data) noexcept : data_(data) {}
  explicit ConstByteView(std::span<const std::uint8_t, Size> bytes) noexcept
      : data_(bytes.data()) {}
  // A writable view may always be read: implicit on purpose.
  ConstByteView(ByteView<Size> view) noexcept : data_(view.ReadData()) {}

  static std::optional<ConstByteView> Over(std::span<const std::uint8_t> bytes) noexcept {
    if (bytes.size() < Size) return std::nullopt;
    return ConstByteView(bytes.data());
  }

  const std::uint8_t* ReadData() const noexcept { return data_; }

 private:
  const std::uint8_t* data_;
};

// A record that owns its Size bytes, zero-initialised. It has no padding and
// no alignment beyond a byte: sizeof is exactly Size.
template <std::size_t Size>
class ByteRecord : public WireAccess<ByteRecord<Size>, Size, true> {
 public:
  ByteRecord() noexcept = default;

  ByteView<Size> View() noexcept { return ByteView<Size>(bytes_.data()); }
  ConstByteView<Size> View() const noexcept { return ConstByteView<Size>(bytes_.data()); }

  const std::uint8_t* ReadData() const noexcept { return bytes_.data(); }
  std::uint8_t* WriteData() noexcept { return bytes_.data(); }

  friend bool operator==(const ByteRecord& a, const ByteRecord& b) noexcept {
    return a.bytes_ == b.bytes_;
  }

 private:
  std::array<std::uint8_t, Size> bytes_{};
};

}  // namespace vantor::common
