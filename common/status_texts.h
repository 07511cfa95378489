// German and English texts of every result code, and of the drive
// (amplifier) errors, in the form in which the system shows them.
//
// Each table entry is stored whole, display prefix and text together
// ("0xC9140002 (3-2324-2): Linkora noch nicht initialisiert!"), so the
// library, the test program and the configuration program show the very
// same line. The English driver and kernel entries of one-digit numbers
// carry two blanks after the colon; every other entry carries one.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/status_code.h"

namespace vantor::common {

enum class TextLanguage { German, English };

// 0 is German, every other value English, as the exports take it.
constexpr TextLanguage LanguageFromFlag(std::int32_t flag) noexcept {
  return flag == 0 ? TextLanguage::German : TextLanguage::English;
}

// The table of a facility, indexed by the code's number (entry 0 is the
// success text); empty for a facility without table.
std::span<const std::string_view> StatusTextTable(std::uint32_t facility, TextLanguage language);

// The stored entry of an error code of facility 2320, 2323 or 2324, or an
// empty view for every other code (success words included).
std::string_view StatusTableEntry(StatusCode code, TextLanguage language);

// Device name that driver messages are headed with before any channel
// was initialised.
inline constexpr std::string_view kDefaultDriverMessageSource = "WDM";

// The whole message for a code: the facility's heading ("Linkora-Meldung",
// "Motrix-Message", "<device>-Meldung", each followed by "\n\r\n\r") and the
// table entry; "Unbekannter Fehler!"/"Unknown Error!" behind the heading
// for an error number past the table, and alone for every code without a
// table (success words, the file reader's facility, anything else).
std::string FormatStatusMessage(StatusCode code, TextLanguage language,
                                std::string_view deviceName);

// ---- Drive (amplifier) errors -------------------------------------------------

inline constexpr int kFirstDriveErrorIndex = 10;
inline constexpr int kLastDriveErrorIndex = 46;
inline constexpr int kDriveErrorNone = 0;
inline constexpr int kDriveErrorUnknown = -1;
inline constexpr int kDriveErrorUnreadable = -2;

// The drive error index of a CANopen emergency error code, or -1 for a code
// the drives do not report.
int DriveErrorIndexFromEmergency(std::uint16_t emergencyCode) noexcept;

// The text of a drive error index: the table text for 10..46 (a placeholder
// index reads as unknown), the texts of 0, -1 and -2, and "Unbekannter
// Fehler!"/"Unknown Error!" for everything else.
std::string_view DriveErrorText(int index, TextLanguage language) noexcept;

// The caption word of drive errors: "Endstufe" / "Amplify".
std::string_view DriveErrorCaption(TextLanguage language) noexcept;

}  // namespace vantor::common
