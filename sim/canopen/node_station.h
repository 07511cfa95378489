// A simulated CANopen node as a station on a simulated CAN bus: the
// protocol core plus the transmit queue of its CAN controller.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <optional>

#include "sim/can_frame.h"
#include "sim/can_station.h"
#include "sim/canopen/canopen_node.h"
#include "sim/sim_time.h"

namespace vantor::sim::canopen {

// 1 Mbit/s, the rate the simulated machines run at unless told otherwise.
constexpr SimTime kDefaultBitTime = 1000;

class NodeStation final : public CanStation {
 public:
  // Frames a node may hold back while the bus is busy or nobody
  // acknowledges; beyond that the newest are dropped and counted.
  static constexpr std::size_t kTransmitQueueCapacity = 256;

  explicit NodeStation(const NodeOptions& options, SimTime bitTime = kDefaultBitTime);

  CanopenNode& Node() { return node_; }
  const CanopenNode& Node() const { return node_; }
  // The station keeps the device model alive as long as the node.
  void AdoptApplication(std::unique_ptr<NodeApplication> application);
  // The device model adopted, or null for a node of the core only.
  NodeApplication* Application() { return application_.get(); }

  std::size_t PendingFrames() const { return queue_.size(); }
  std::size_t DroppedFrames() const { return dropped_; }
  // Frames at another bit time that the node's controller could not read.
  std::size_t UnreadableFrames() const { return unreadable_; }

  std::optional<CanFrame> FrameToSend() override;
  SimTime BitTime() const override { return bitTime_; }
  void FrameSent(SimTime now) override;
  void FrameFailed(CanTransmitError error, SimTime now) override;
  bool Acknowledges() const override { return true; }
  void FrameReceived(const CanFrame& frame, SimTime now) override;
  void FrameUnreadable(SimTime /*now*/) override { ++unreadable_; }
  SimTime NextDeadline() const override { return node_.NextDeadline(); }
  void AdvanceTo(SimTime now) override { node_.AdvanceTo(now); }

 private:
  void Enqueue(const CanFrame& frame);

  SimTime bitTime_;
  std::deque<CanFrame> queue_;
  std::size_t dropped_ = 0;
  std::size_t unreadable_ = 0;
  std::unique_ptr<NodeApplication> application_;
  CanopenNode node_;
};

}  // namespace vantor::sim::canopen
