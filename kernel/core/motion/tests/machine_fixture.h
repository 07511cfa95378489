// A small machine for segment tests: X, Y, Z on the path, a linear axis U
// and a rotary axis A off the path, with round limits.
#pragma once

#include <array>
#include <cmath>
#include <initializer_list>
#include <memory>
#include <vector>

#include "kernel/core/motion/command_values.h"
#include "kernel/core/motion/motion_inputs.h"
#include "kernel/core/motion/path_segment.h"
#include "kernel/core/motion/segment_preparation.h"
#include "kernel/core/motion/segment_queue.h"

namespace vantor::motion::testing {

inline constexpr std::size_t kX = 0, kY = 1, kZ = 2, kU = 3, kA = 4;
inline constexpr double kUnset = NAN;  // an unprogrammed value in a value list

struct Machine {
  std::vector<CoordinateInput> coordinates;
  std::vector<NodeLimits> nodes;
  PathParameters parameters;
  PlaneRotation rotation;
  bool pathMode = true;
  SegmentQueue queue;
  std::vector<std::unique_ptr<PathSegment>> owned;

  Machine() {
    for (std::size_t i = 0; i < 5; ++i) {
      CoordinateInput coordinate;
      coordinate.onPath = i < 3;
      coordinate.linear = i != kA;
      coordinates.push_back(coordinate);
      NodeLimits node;
      node.maxVelocity = 100.0;
      node.maxAcceleration = 1000.0;
      node.maxJerk = 10000.0;
      node.kv = 20.0;
      nodes.push_back(node);
    }
    parameters.cycleTime = 0.001;
    parameters.RadiusRoundingError = 0.01;
    parameters.AngleRoundingError = 1e-6;
    parameters.RadiusError = 0.01;
    parameters.PathError = 0.05;
    parameters.AngleToRadianFac = std::acos(-1.0) / 180.0;
    queue.capacity = 1000000;
  }

  PlanningContext Context() const { return PlanningContext{parameters, rotation, pathMode, coordinates, nodes}; }

  static std::vector<CommandValue> Values(std::initializer_list<double> list) {
    std::vector<CommandValue> values;
    for (const double value : list) values.push_back(CommandValue{std::isnan(value) ? 0.0 : value, !std::isnan(value)});
    return values;
  }

  PathSegment& NewSegment() {
    owned.push_back(std::make_unique<PathSegment>());
    return *owned.back();
  }

  // Prepares a relative (or absolute) line and appends it when accepted.
  PathSegment* Line(std::initializer_list<double> values, bool absolute = false) {
    PathSegment& segment = NewSegment();
    const auto list = Values(values);
    const LinearMove move{false, absolute, false, list};
    if (!PrepareLinearSegment(move, queue.tail, segment, Context())) return nullptr;
    AppendSegment(queue, segment);
    return &segment;
  }
};

}  // namespace vantor::motion::testing
