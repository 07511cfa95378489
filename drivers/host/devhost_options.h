// The devhost program's command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vantor::host {

enum class ClockChoice {
  kReal,     // the monotonic clock
  kStepped,  // virtual; stands until stepped through the control endpoint
  kFast,     // virtual; runs on by itself as fast as the host keeps up
};

struct DevhostOptions {
  std::string machinePath;     // empty: the built-in machine
  std::string candumpPath;     // empty: no frame file
  std::string parametersPath;  // empty: every driver takes its defaults
  ClockChoice clock = ClockChoice::kReal;
  // Frame log stamps count simulated time from 0 instead of the wall clock.
  bool zeroBasedLog = false;
  bool help = false;
};

inline constexpr const char* kDevhostUsage =
    "usage: devhost [--machine FILE] [--parameters FILE] [--candump FILE]\n"
    "               [--zero-based-log] [--virtual-clock | --fast]\n"
    "  --machine FILE     the machine description to simulate (default: one PCI\n"
    "                     card with sample drives on channel 1)\n"
    "  --parameters FILE  the drivers' parameters (their service keys' values)\n"
    "  --candump FILE     write every frame on the simulated buses to FILE\n"
    "  --zero-based-log   stamp logged frames with simulated time from 0 instead of\n"
    "                     the wall-clock time at start plus simulated time\n"
    "  --virtual-clock    run on a virtual clock that only the control endpoint steps\n"
    "  --fast             run on a virtual clock that advances as fast as possible\n";

// The options, or nothing with `error` telling what was wrong.
std::optional<DevhostOptions> ParseDevhostOptions(const std::vector<std::string>& arguments,
                                                  std::string& error);

}  // namespace vantor::host
