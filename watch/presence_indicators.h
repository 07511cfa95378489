// What the Info dialog shows: which interface types and which channels have
// a running kernel, read from the kernels' presence events.
//
// The events are only opened, never created: a kernel creates its presence
// events already set, and an event that the watching program created for a
// moment would be found by a starting kernel and taken over unset. An absent
// event simply means that nothing runs there.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "common/kernel_object_names.h"

namespace vantor::watch {

struct PresenceIndicator {
  int controlId;          // the indicator's control in the Info dialog
  std::string_view text;  // its label
  std::size_t nameIndex;  // its presence event in the named-object table
};

inline constexpr std::size_t kInterfaceIndicatorCount = 3;
inline constexpr std::size_t kChannelIndicatorCount = 5;
inline constexpr std::size_t kPresenceIndicatorCount =
    kInterfaceIndicatorCount + kChannelIndicatorCount;

// In the order in which the dialog reads them: the three "Event for Can
// Hardware" events, then the five "Event for Kernel Modus" events.
inline constexpr std::array<PresenceIndicator, kPresenceIndicatorCount> kPresenceIndicators = {{
    {1009, "Printer Port Can", common::HardwareEventIndex(common::InterfaceType::Dongle)},
    {1010, "PC104-Can", common::HardwareEventIndex(common::InterfaceType::Pc104)},
    {1011, "PCI-Can", common::HardwareEventIndex(common::InterfaceType::Pci)},
    {1012, "No Can", common::KernelModeEventIndex(common::Channel::NoCan)},
    {1013, "Can 1", common::KernelModeEventIndex(common::Channel::CanOne)},
    {1014, "Can 2", common::KernelModeEventIndex(common::Channel::CanTwo)},
    {1015, "Can 3", common::KernelModeEventIndex(common::Channel::CanThree)},
    {1016, "Can 4", common::KernelModeEventIndex(common::Channel::CanFour)},
}};

static_assert(kPresenceIndicators[0].nameIndex == 12 && kPresenceIndicators[7].nameIndex == 19);

// One reading, indexed like kPresenceIndicators: true where the event is set.
using PresenceReading = std::array<bool, kPresenceIndicatorCount>;

// Tests each event once with a zero wait and lets go of it at once.
PresenceReading ReadPresenceIndicators();

// True when the named event exists and is set; the test consumes nothing.
bool IsPresenceEventSet(std::string_view name);

}  // namespace vantor::watch
