#include "kernel/core/external_axes.h"

#include <cstddef>

namespace vantor::kernel {

canopen::ExternalAxis ExternalAxisOf(const HandlingAxisSettings& settings) noexcept {
  return {.active = settings.deviceTypeFlag == 1 ? 1u : 0u,
          .countdownReload = settings.countdownReload,
          .sdoRequestCobId = settings.sdoRequestCobId,
          .sdoResponseCobId = settings.sdoResponseCobId,
          .description = {}};
}

void ConfigureExternalAxes(
    const std::array<HandlingAxisSettings, kMaxHandlingAxisRecords>& settings, std::int32_t count,
    ExternalAxisTable& table) noexcept {
  for (std::size_t i = 0; i < table.size(); ++i) {
    if (static_cast<std::int32_t>(i) >= count) {
      table[i] = {};
      continue;
    }
    const canopen::ModuleDescription learned = table[i].description;
    table[i] = ExternalAxisOf(settings[i]);
    table[i].description = learned;
  }
}

}  // namespace vantor::kernel
