#include "interface/init_records.h"

#include <algorithm>

namespace vantor::interface {

namespace cir = common::cnc_init_record;

std::optional<std::vector<std::uint8_t>> PackCncInitPayload(const CncInitImage& image) {
  const int coordinates = image.record.Get(cir::kCoorNo);
  const int axes = image.record.Get(cir::kAxisNo);
  const int handlingAxes = image.record.Get(cir::kHandlingAxisNo);
  const auto layout = common::LayoutCncInitLists(coordinates, axes, handlingAxes);
  if (!layout) return std::nullopt;

  std::vector<std::uint8_t> payload(layout->totalSize, 0);
  const auto fixed = image.record.Bytes();
  std::copy(fixed.begin(), fixed.end(), payload.begin());
  // The pointer slots mean nothing to the kernel: they go out as zeros.
  std::fill_n(payload.begin() + cir::kListPointerSlots.kOffset, cir::kListPointerSlots.kLength,
              std::uint8_t{0});
  for (int i = 0; i < coordinates; ++i) {
    const auto bytes = image.coordinates[static_cast<std::size_t>(i)].Bytes();
    std::copy(bytes.begin(), bytes.end(), payload.begin() + layout->CoordinateOffset(i));
  }
  for (int i = 0; i < axes; ++i) {
    const auto bytes = image.axes[static_cast<std::size_t>(i)].Bytes();
    std::copy(bytes.begin(), bytes.end(), payload.begin() + layout->AxisOffset(i));
  }
  for (int i = 0; i < handlingAxes; ++i) {
    const auto bytes = image.handlingAxes[static_cast<std::size_t>(i)].Bytes();
    std::copy(bytes.begin(), bytes.end(), payload.begin() + layout->HandlingAxisOffset(i));
  }
  return payload;
}

std::optional<std::string> DeviceNameFor(std::uint8_t canInterface, std::uint8_t channel) {
  switch (canInterface) {
    case 0:
      return std::string("Ravund");
    case 1:
      return std::string("Pelmar104");
    case 2:
      if (channel >= 1 && channel <= 4) return "tarnis" + std::to_string(channel);
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

}  // namespace vantor::interface
