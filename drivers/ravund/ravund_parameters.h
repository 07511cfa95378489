// The values of ravund's service key, each with its default.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/devhost/parameter_store.h"

namespace vantor::ravund {

inline constexpr char kServiceKey[] = "ravund";
inline constexpr char kParametersSubkey[] = "ravund\\Parameters";

struct RavundParameters {
  std::uint32_t parallelPortNumber = 0;  // n of \Device\ParallelPort<n>
  std::uint32_t autoConfiguration = 1;   // nonzero: port and interrupt from the port driver
  std::uint32_t baseAddress = 0x378;     // manual configuration
  std::uint32_t interruptVector = 7;     // manual configuration
  std::uint32_t parallelPortMode = 2;    // transfer mode 1 to 4
  std::uint32_t ecpDmaSelect = 3;        // kept; nothing depends on it
  std::uint32_t interfaceType = 1;       // manual configuration
  std::uint32_t busNumber = 0;           // manual configuration
  std::uint32_t interruptLevel = 7;      // manual configuration
  std::uint32_t interruptMode = 1;       // 1 latched, 0 level-sensitive
  // A byte-wide output port for timing marks, only when configured.
  std::optional<std::uint16_t> testPortAddress;
};

RavundParameters ReadRavundParameters(const devhost::ParameterStore& store);

}  // namespace vantor::ravund
