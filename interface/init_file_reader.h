// Reading the initialisation file into the start records.
//
// Every key is taken from the user's file and, where it is missing or its
// value is faulty there, from the built-in default list of the file's
// schema; the keys of the lists (coordinates, axes, handling axes) and
// `AngleToRadianFacTyp` come from the user's file alone. The reader reports
// in its own facility (0x0915nnnn), which never leaves the library, and
// leaves its last message in the reader message ("OK\n" until a fault).
#pragma once

#include <string>
#include <string_view>

#include "common/status_code.h"
#include "interface/init_records.h"

namespace vantor::interface {

// Fills the flags, the hardware parameters and the timer settings. Names
// and paths are left alone.
common::StatusCode ReadCanInitSection(std::string_view path, CanInitSettings& settings);

// Fills the fixed part and all three lists (the list counts included).
common::StatusCode ReadCncInitSections(std::string_view path, CncInitImage& image);

// The reader's last message.
std::string ReaderMessage();

}  // namespace vantor::interface
