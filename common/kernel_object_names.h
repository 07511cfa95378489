// The one table of named objects through which the library, the kernel and
// the watching program find each other, and the channel and interface
// keywords of the kernel's command line.
//
// The order is fixed: every process indexes the same table, so an entry may
// never move. The strings are stored exactly as the system names them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace vantor::common {

// CAN channel served by one kernel instance.
enum class Channel : std::uint8_t { NoCan = 0, CanOne = 1, CanTwo = 2, CanThree = 3, CanFour = 4 };
inline constexpr std::size_t kChannelCount = 5;

// CAN interface type (also the driver's interface kind).
enum class InterfaceType : std::uint8_t { Dongle = 0, Pc104 = 1, Pci = 2 };
inline constexpr std::size_t kInterfaceTypeCount = 3;

// Offsets inside a channel's block of 13 names.
enum class ChannelObject : std::uint8_t {
  CommunicationMapping = 0,
  InitializationSemaphore = 1,
  CncInitializationSemaphore = 2,
  StandardMutex = 3,
  StandardApplicationReadyEvent = 4,
  StandardKernelReadyEvent = 5,
  SdoMutex = 6,
  SdoApplicationReadyEvent = 7,
  SdoKernelReadyEvent = 8,
  HomingBreakEvent = 9,
  HomingBreakMutex = 10,
  HomingActiveEvent = 11,
  PathBufferMapping = 12,
};
inline constexpr std::size_t kChannelBlockSize = 13;

inline constexpr std::size_t kKernelObjectNameCount = 85;

// Fixed indices of the table.
inline constexpr std::size_t kInitializationEventIndex = 0;
inline constexpr std::size_t kFirstChannelKeywordIndex = 1;
inline constexpr std::size_t kFirstInterfaceKeywordIndex = 6;
inline constexpr std::size_t kWatchEventIndex = 9;
inline constexpr std::size_t kWatchCommandLineIndex = 10;
inline constexpr std::size_t kWatchWindowHandleMappingIndex = 11;
inline constexpr std::size_t kFirstHardwareEventIndex = 12;
inline constexpr std::size_t kFirstKernelModeEventIndex = 15;
inline constexpr std::size_t kFirstChannelBlockIndex = 20;

// Both channel semaphores count the users of a channel: initial count 0,
// at most this many.
inline constexpr std::int32_t kChannelSemaphoreMaximum = 100;

// The watching program's window-handle mapping is one page; its first
// 32-bit word is the handle.
inline constexpr std::size_t kWatchWindowHandleMappingSize = 4096;

inline constexpr std::array<std::string_view, kKernelObjectNameCount> kKernelObjectNames = {
    "Vantor Automation KG - Event for Initialization and Uninitialization",
    "NoCanComLine",
    "CanOneComLine",
    "CanTwoComLine",
    "CanThreeComLine",
    "CanFourComLine",
    "CanDongleInterfaceComLine",
    "Pelmar104InterfaceComLine",
    "TarnisInterfaceComLine",
    "Vantor Automation KG - Event for MotrixWatch",
    "MotrixWatchComLine",
    "Vantor Automation KG - Memory Mapped File for MotrixWatch - Windows Handle",
    "Vantor Automation KG - Event for Can Hardware - Dongle",
    "Vantor Automation KG - Event for Can Hardware - PC104",
    "Vantor Automation KG - Event for Can Hardware - PCI",
    "Vantor Automation KG - Event for Kernel Modus - NoCan",
    "Vantor Automation KG - Event for Kernel Modus - CanOne",
    "Vantor Automation KG - Event for Kernel Modus - CanTwo",
    "Vantor Automation KG - Event for Kernel Modus - CanThree",
    "Vantor Automation KG - Event for Kernel Modus - CanFour",
    // Channel NoCan (20 .. 32)
    "Vantor Automation KG - Memory Mapped File for Communication - NoCan",
    "Vantor Automation KG - Semaphore for Initialization - NoCan",
    "Vantor Automation KG - Semaphore for Cnc_Initialization - NoCan",
    "Vantor Automation KG - Mutex for Standard Communication - NoCan",
    "Vantor Automation KG - Applikation Ready Event for Standard Communication - NoCan",
    "Vantor Automation KG - Kernel Ready Event for Standard Communication - NoCan",
    "Vantor Automation KG - Mutex for SDO1 Communication - NoCan",
    "Vantor Automation KG - Applikation Ready Event for SDO1 Communication - NoCan",
    "Vantor Automation KG - Kernel Ready Event for SDO1 Communication - NoCan",
    "Vantor Automation KG - Cnc Homing Break Event - NoCan",
    "Vantor Automation KG - Cnc Homing Break Mutex - NoCan",
    "Vantor Automation KG - Cnc Homing Activ Event - NoCan",
    "Vantor Automation KG - Cnc High Speed Cutting Path Puffer - NoCan",
    // Channel CanOne (33 .. 45)
    "Vantor Automation KG - Memory Mapped File for Communication - CanOne",
    "Vantor Automation KG - Semaphore for Initialization - CanOne",
    "Vantor Automation KG - Semaphore for Cnc_Initialization - CanOne",
    "Vantor Automation KG - Mutex for Standard Communication - CanOne",
    "Vantor Automation KG - Applikation Ready Event for Standard Communication - CanOne",
    "Vantor Automation KG - Kernel Ready Event for Standard Communication - CanOne",
    "Vantor Automation KG - Mutex for SDO1 Communication - CanOne",
    "Vantor Automation KG - Applikation Ready Event for SDO1 Communication - CanOne",
    "Vantor Automation KG - Kernel Ready Event for SDO1 Communication - CanOne",
    "Vantor Automation KG - Cnc Homing Break Event - CanOne",
    "Vantor Automation KG - Cnc Homing Break Mutex - CanOne",
    "Vantor Automation KG - Cnc Homing Activ Event - CanOne",
    "Vantor Automation KG - Cnc High Speed Cutting Path Puffer - CanOne",
    // Channel CanTwo (46 .. 58)
    "Vantor Automation KG - Memory Mapped File for Communication - CanTwo",
    "Vantor Automation KG - Semaphore for Initialization - CanTwo",
    "Vantor Automation KG - Semaphore for Cnc_Initialization - CanTwo",
    "Vantor Automation KG - Mutex for Standard Communication - CanTwo",
    "Vantor Automation KG - Applikation Ready Event for Standard Communication - CanTwo",
    "Vantor Automation KG - Kernel Ready Event for Standard Communication - CanTwo",
    "Vantor Automation KG - Mutex for SDO1 Communication - CanTwo",
    "Vantor Automation KG - Applikation Ready Event for SDO1 Communication - CanTwo",
    "Vantor Automation KG - Kernel Ready Event for SDO1 Communication - CanTwo",
    "Vantor Automation KG - Cnc Homing Break Event - CanTwo",
    "Vantor Automation KG - Cnc Homing Break Mutex - CanTwo",
    "Vantor Automation KG - Cnc Homing Activ Event - CanTwo",
    "Vantor Automation KG - Cnc High Speed Cutting Path Puffer - CanTwo",
    // Channel CanThree (59 .. 71)
    "Vantor Automation KG - Memory Mapped File for Communication - CanThree",
    "Vantor Automation KG - Semaphore for Initialization - CanThree",
    "Vantor Automation KG - Semaphore for Cnc_Initialization - CanThree",
    "Vantor Automation KG - Mutex for Standard Communication - CanThree",
    "Vantor Automation KG - Applikation Ready Event for Standard Communication - CanThree",
    "Vantor Automation KG - Kernel Ready Event for Standard Communication - CanThree",
    "Vantor Automation KG - Mutex for SDO1 Communication - CanThree",
    "Vantor Automation KG - Applikation Ready Event for SDO1 Communication - CanThree",
    "Vantor Automation KG - Kernel Ready Event for SDO1 Communication - CanThree",
    "Vantor Automation KG - Cnc Homing Break Event - CanThree",
    "Vantor Automation KG - Cnc Homing Break Mutex - CanThree",
    "Vantor Automation KG - Cnc Homing Activ Event - CanThree",
    "Vantor Automation KG - Cnc High Speed Cutting Path Puffer - CanThree",
    // Channel CanFour (72 .. 84)
    "Vantor Automation KG - Memory Mapped File for Communication - CanFour",
    "Vantor Automation KG - Semaphore for Initialization - CanFour",
    "Vantor Automation KG - Semaphore for Cnc_Initialization - CanFour",
    "Vantor Automation KG - Mutex for Standard Communication - CanFour",
    "Vantor Automation KG - Applikation Ready Event for Standard Communication - CanFour",
    "Vantor Automation KG - Kernel Ready Event for Standard Communication - CanFour",
    "Vantor Automation KG - Mutex for SDO1 Communication - CanFour",
    "Vantor Automation KG - Applikation Ready Event for SDO1 Communication - CanFour",
    "Vantor Automation KG - Kernel Ready Event for SDO1 Communication - CanFour",
    "Vantor Automation KG - Cnc Homing Break Event - CanFour",
    "Vantor Automation KG - Cnc Homing Break Mutex - CanFour",
    "Vantor Automation KG - Cnc Homing Activ Event - CanFour",
    "Vantor Automation KG - Cnc High Speed Cutting Path Puffer - CanFour",
};

static_assert(kFirstChannelBlockIndex + kChannelBlockSize * kChannelCount ==
              kKernelObjectNameCount);

// The name at `index`, or an empty view for an index outside the table.
constexpr std::string_view KernelObjectName(std::size_t index) noexcept {
  return index < kKernelObjectNames.size() ? kKernelObjectNames[index] : std::string_view{};
}

constexpr std::size_t ChannelBlockIndex(Channel channel, ChannelObject object) noexcept {
  return kFirstChannelBlockIndex + kChannelBlockSize * static_cast<std::size_t>(channel) +
         static_cast<std::size_t>(object);
}

constexpr std::string_view ChannelObjectName(Channel channel, ChannelObject object) noexcept {
  return KernelObjectName(ChannelBlockIndex(channel, object));
}

constexpr std::size_t ChannelKeywordIndex(Channel channel) noexcept {
  return kFirstChannelKeywordIndex + static_cast<std::size_t>(channel);
}
constexpr std::size_t InterfaceKeywordIndex(InterfaceType type) noexcept {
  return kFirstInterfaceKeywordIndex + static_cast<std::size_t>(type);
}
// "Event for Can Hardware" of an interface type, set while a kernel runs on it.
constexpr std::size_t HardwareEventIndex(InterfaceType type) noexcept {
  return kFirstHardwareEventIndex + static_cast<std::size_t>(type);
}
// "Event for Kernel Modus" of a channel, set while a kernel serves it.
constexpr std::size_t KernelModeEventIndex(Channel channel) noexcept {
  return kFirstKernelModeEventIndex + static_cast<std::size_t>(channel);
}

constexpr std::string_view ChannelKeyword(Channel channel) noexcept {
  return KernelObjectName(ChannelKeywordIndex(channel));
}
constexpr std::string_view InterfaceKeyword(InterfaceType type) noexcept {
  return KernelObjectName(InterfaceKeywordIndex(type));
}

// The channel's word in names and texts: "NoCan", "CanOne" ... "CanFour".
constexpr std::string_view ChannelWord(Channel channel) noexcept {
  constexpr std::array<std::string_view, kChannelCount> kWords = {"NoCan", "CanOne", "CanTwo",
                                                                  "CanThree", "CanFour"};
  const auto index = static_cast<std::size_t>(channel);
  return index < kWords.size() ? kWords[index] : std::string_view{};
}

constexpr std::optional<Channel> ChannelFromNumber(std::uint32_t number) noexcept {
  if (number >= kChannelCount) return std::nullopt;
  return static_cast<Channel>(number);
}
constexpr std::optional<InterfaceType> InterfaceTypeFromNumber(std::uint32_t number) noexcept {
  if (number >= kInterfaceTypeCount) return std::nullopt;
  return static_cast<InterfaceType>(number);
}

// Command-line keywords are compared whole and case-sensitively.
constexpr std::optional<Channel> ParseChannelKeyword(std::string_view word) noexcept {
  for (std::uint32_t c = 0; c < kChannelCount; ++c) {
    if (word == KernelObjectName(kFirstChannelKeywordIndex + c)) return static_cast<Channel>(c);
  }
  return std::nullopt;
}
constexpr std::optional<InterfaceType> ParseInterfaceKeyword(std::string_view word) noexcept {
  for (std::uint32_t t = 0; t < kInterfaceTypeCount; ++t) {
    if (word == KernelObjectName(kFirstInterfaceKeywordIndex + t)) {
      return static_cast<InterfaceType>(t);
    }
  }
  return std::nullopt;
}

static_assert(ChannelBlockIndex(Channel::CanFour, ChannelObject::PathBufferMapping) == 84);
static_assert(ChannelKeyword(Channel::CanTwo) == "CanTwoComLine");
static_assert(InterfaceKeyword(InterfaceType::Pci) == "TarnisInterfaceComLine");

}  // namespace vantor::common
