#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "sim/can_frame.h"
#include "sim/sim_time.h"

namespace vantor::sim {

// One line of candump's log-file format, without the line end:
// "(0000000001.000250) can0 123#11223344" for a data frame and
// "(0000000001.000250) can0 123#R" (or "123#R4" with a length) for a remote
// frame. The time stamp is `time` (nanoseconds) in seconds with
// microseconds: simulated time, or the wall clock when a bus is told when
// its simulated time began.
std::string FormatCandumpLine(SimTime time, std::string_view interface_name, const CanFrame& frame);

// Writes every frame that made it onto a bus to a stream, one line each.
class CandumpLog {
 public:
  CandumpLog(std::ostream& out, std::string interface_name)
      : out_(out), interface_name_(std::move(interface_name)) {}

  void Write(SimTime time, const CanFrame& frame) {
    out_ << FormatCandumpLine(time, interface_name_, frame) << '\n';
  }

 private:
  std::ostream& out_;
  std::string interface_name_;
};

}  // namespace vantor::sim
