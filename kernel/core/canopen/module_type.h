// What a drive's manufacturer software version (0x100A) says of the
// module: its type, its controller board and its firmware version, as the
// short description the status commands show.
#pragma once

#include <cstdint>
#include <span>

namespace vantor::canopen {

inline constexpr const char* kUnknownModule = "Modul_Unknown";
// The description of an external handling axis that is not active.
inline constexpr const char* kUnknownAmplifier = "Unknown Amplify";
// The longest description, without its terminator.
inline constexpr std::size_t kMaxModuleDescription = 25;

// Replaces the NUL-terminated answer text in `text` by the module
// description (type, board tag, version part), cut to 25 characters;
// "Modul_Unknown" when no rule matches or the text holds no version part.
// `driveVariant` tells the two power stages of a dual drive apart (0x6510
// sub 10). A buffer without a terminator is read up to its end; the result
// is always terminated (a buffer of fewer than 26 bytes cuts it further).
void DescribeModuleType(std::uint32_t driveVariant, std::span<char> text) noexcept;

}  // namespace vantor::canopen
