// Stations a test puts on a simulated bus: CANopen nodes made by kind, and
// the client that talks to them.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include <nlohmann/json.hpp>

#include "sim/canopen/node_factory.h"
#include "sim/hardware/machine.h"
#include "sim/hardware/tests/test_stations.h"

namespace vantor::sim::canopen::nodetest {

// A node of `kind` with its default options, on `bus`; its core, or nullptr
// (and a test failure) when the kind refuses.
inline CanopenNode* AddNode(Machine& machine, std::string_view kind, unsigned nodeId,
                            const std::string& bus = "can0") {
  NodeCreation created = CreateNode(kind, nodeId, nlohmann::json::object());
  EXPECT_NE(created.station, nullptr) << created.error;
  if (created.station == nullptr) return nullptr;
  CanopenNode& node = created.station->Node();
  machine.AddStation(bus, std::move(created.station));
  return &node;
}

// The client on `bus` at `bitTime`: sends what the test queues, keeps what
// it hears.
inline sim::testing::RecordingStation* AddClient(Machine& machine, const std::string& bus = "can0",
                                                 SimTime bitTime = kDefaultBitTime) {
  return static_cast<sim::testing::RecordingStation*>(
      machine.AddStation(bus, std::make_unique<sim::testing::RecordingStation>(bitTime)));
}

}  // namespace vantor::sim::canopen::nodetest
