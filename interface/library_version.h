// The library's own version, as mctl_GetVersion reports it and as the
// complete status carries it beside the kernel's and the driver's.
#pragma once

#include <cstdint>

namespace vantor::interface {

inline constexpr char kLibraryVersionText[] = "01.70.00.13";
inline constexpr std::uint32_t kLibraryVersionNumbers[5] = {9, 1, 70, 0, 13};

}  // namespace vantor::interface
