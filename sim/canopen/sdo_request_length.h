// How many bytes an SDO request must carry to be served: a frame too short
// for its command specifier is ignored by the server, as a real node's
// controller hands the stack only what was on the wire.
#pragma once

#include <cstdint>

namespace vantor::sim::canopen {

// CiA 301 frames every SDO request with all 8 bytes. Masters commonly end a
// request after its last meaningful byte instead (an initiate upload of 4,
// an expedited download of 4 + n, segment requests that end after their
// data); with `shortRequests` such requests are served too.
std::uint8_t RequiredSdoRequestLength(std::uint8_t specifier, bool shortRequests);

}  // namespace vantor::sim::canopen
