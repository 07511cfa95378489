// The object dictionary of the simulated drive: the DS402 objects with the
// sizes the kernel uploads and downloads, and the maker objects of the
// firmware variant.
#pragma once

#include "sim/canopen/object_dictionary.h"
#include "sim/drives/drive_config.h"

namespace vantor::sim::drives {

// Adds the drive's objects with their defaults; objects the variant lacks
// are left out. The configured start position seeds 0x6062 and 0x6064.
void AddDriveObjects(canopen::ObjectDictionary& dictionary, const DriveConfig& config);

}  // namespace vantor::sim::drives
