// The watching program's texts. They are the system's own and shown
// exactly so; the program speaks German.
#pragma once

#include <cstddef>
#include <string_view>

namespace vantor::watch {

// Tool tip of the notification icon (string 61204). The notification-icon
// record holds at most 64 characters with the terminator.
inline constexpr std::string_view kNotifyIconTip = "Vantor Germany AG - Motrix";
inline constexpr std::size_t kNotifyIconTipCapacity = 64;
static_assert(kNotifyIconTip.size() < kNotifyIconTipCapacity);

// Main frame menu (128).
inline constexpr std::string_view kFileMenuText = "&Datei";
inline constexpr std::string_view kExitMenuText = "&Beenden";

// Info dialog (100).
inline constexpr std::string_view kInfoTitle = "Info";
inline constexpr std::string_view kProductText = "Vantor CAN-CNC-Control";
inline constexpr std::string_view kVersionText = "01.70.00.13";
inline constexpr std::string_view kMakerNotice =
    "Copyright \u00A9 Vantor Germany AG. Alle Rechte vorbehalten.";
inline constexpr std::string_view kCreditLine =
    "Entwickelt von der Abteilung Steuerungstechnik der Vantor Germany AG.";
inline constexpr std::string_view kInterfaceGroupTitle = "Can Interface";
inline constexpr std::string_view kPortGroupTitle = "Can Port";
inline constexpr std::string_view kOkText = "OK";

}  // namespace vantor::watch
