// The library's own forms of the two start records: the CAN settings that
// `InitKernelLink` takes (the CAN initialisation record without pointers)
// and the CNC initialisation record with its three lists, from which the
// wire image of command 12 is packed.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/cnc_init_record.h"
#include "common/kernel_link_records.h"
#include "common/status_code.h"

namespace vantor::interface {

struct CanInitSettings {
  std::uint32_t declareMode = 0;
  std::uint32_t kernelShared = 0;
  std::uint32_t popupMenuActive = 0;
  common::CanHardwareParameters hardware;
  std::uint32_t windowsTimerRes = 0;
  std::uint32_t pathWindowsTimerRes = 0;
  std::uint32_t realTimeThreadIntWaitTime = 0;
  std::string deviceName;
  std::string kernelPath;
  std::string watchPath;
};

using CoordinateEntry = common::ByteRecord<common::kCoordinateEntrySize>;
using AxisEntry = common::ByteRecord<common::kAxisEntrySize>;
using HandlingAxisEntry = common::ByteRecord<common::kHandlingAxisEntrySize>;

struct CncInitImage {
  // The fixed part as it travels; its list-pointer bytes stay zero.
  common::CncInitRecord record;
  std::array<CoordinateEntry, common::cnc_init_record::kMaxCoordinates> coordinates{};
  std::array<AxisEntry, common::cnc_init_record::kMaxAxes> axes{};
  std::array<HandlingAxisEntry, common::cnc_init_record::kMaxHandlingAxes> handlingAxes{};
};

// The payload of command 12: the 880 bytes, then as many coordinate, axis
// and handling-axis entries as the fixed part counts. Nothing when a count
// is negative or above its maximum.
std::optional<std::vector<std::uint8_t>> PackCncInitPayload(const CncInitImage& image);

// Device name of an interface type and channel: "Ravund", "Pelmar104",
// "tarnis1" .. "tarnis4"; nothing for a PCI card without channel or any
// unknown combination.
std::optional<std::string> DeviceNameFor(std::uint8_t canInterface, std::uint8_t channel);

}  // namespace vantor::interface
