// What the cycle makes of a drive's cyclic answer: the two rows of status
// flags, and whether the drives, as those rows show them, allow motion.
#pragma once

#include <cstdint>
#include <span>

#include "kernel/core/node_status.h"

namespace vantor::kernel {

// One cyclic answer of a drive and what the kernel knows beside it.
struct DriveAnswer {
  std::uint8_t inputByte = 0;     // bit 0, bit 1: hardware limit switches
  std::uint16_t statusword = 0;   // DS402
  std::uint8_t sendResult = 0;    // result byte of the node's send record
  std::uint8_t answerResult = 0;  // result byte of the node's answer record
  bool driveError = false;        // the node's watched result reports an error
  bool nodeCheckFailed = false;   // the node service found the node not in order
  bool handlingAxis = false;
};

struct DriveStatusOutcome {
  // The drive has just entered a fault reaction: the caller clears the
  // enable words.
  bool faultReactionEntered = false;
  // A handling axis reports its target reached (always true for others).
  bool targetReached = true;
};

// A failed check clears the flag in both rows, a passed one sets only the
// current flag; the flags of the answer's contents are looked at only while
// the answers arrive.
DriveStatusOutcome EvaluateDriveStatus(const DriveAnswer& answer, NodeStatusRow& latched,
                                       NodeStatusRow& current) noexcept;

// The node's rows are good for running (warnings aside); with `powerOff`
// the drive must be switch-on-disabled instead of operation enabled.
bool AllDriveFlagsOk(const NodeStatusRow& latched, const NodeStatusRow& current,
                     bool powerOff) noexcept;

struct StopAllowance {
  bool powerOff = false;
  bool testMode = false;
  bool limitSwitchBridge = false;
};

// The node's rows allow motion: the drive stop's test for one node.
bool NodeAllowsMotion(const NodeStatusRow& latched, const NodeStatusRow& current, bool inMotion,
                      const StopAllowance& allowance) noexcept;

}  // namespace vantor::kernel
