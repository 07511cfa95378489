// Round trips between two processes in a chosen CPU placement, and their
// floor: a bare futex ping-pong between two processes placed the same way,
// measured in the same run so that the machine's load of the moment shows
// in both.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <vector>

namespace vantor::os::bench {

enum class Placement {
  Unpinned,  // wherever the scheduler puts them
  TwoCpus,   // this process on one CPU, the other side on another
  OneCpu,    // both sides on the same CPU
};

inline constexpr Placement kPlacements[] = {Placement::Unpinned, Placement::TwoCpus,
                                            Placement::OneCpu};

const char* PlacementName(Placement placement);

// Whether the CPUs this process may use allow the placement.
bool PlacementPossible(Placement placement);

// Pins the calling thread (this side) or every thread of process `pid` (the
// other side) as the placement says; Unpinned restores the CPUs the process
// had at start. False when the system refused.
bool PlaceThisSide(Placement placement);
bool PlaceOtherSide(pid_t pid, Placement placement);

struct LatencyFigures {
  double medianUs = 0;
  double p99Us = 0;
};

// Sorts the samples; zero figures for none.
LatencyFigures Summarise(std::vector<double>& samplesUs);

// A futex ping-pong with a forked process in the placement: each round
// wakes the other side and sleeps until it answers. False when the other
// side failed.
bool MeasureFutexFloor(Placement placement, int rounds, LatencyFigures& figures);

double NowUs();

}  // namespace vantor::os::bench
