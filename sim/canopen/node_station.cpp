#include "sim/canopen/node_station.h"

#include <utility>

namespace vantor::sim::canopen {

NodeStation::NodeStation(const NodeOptions& options, SimTime bitTime)
    : bitTime_(bitTime), node_(options, [this](const CanFrame& frame) { Enqueue(frame); }) {}

void NodeStation::AdoptApplication(std::unique_ptr<NodeApplication> application) {
  node_.SetApplication(application.get());
  application_ = std::move(application);
}

std::optional<CanFrame> NodeStation::FrameToSend() {
  if (queue_.empty()) return std::nullopt;
  return queue_.front();
}

void NodeStation::FrameSent(SimTime /*now*/) {
  if (!queue_.empty()) queue_.pop_front();
}

void NodeStation::FrameFailed(CanTransmitError error, SimTime /*now*/) {
  // The controller retries on its own after a missing acknowledge or an
  // error frame; bus-off throws away what it held.
  if (error == CanTransmitError::kBusOff) queue_.clear();
}

void NodeStation::FrameReceived(const CanFrame& frame, SimTime now) { node_.Receive(frame, now); }

void NodeStation::Enqueue(const CanFrame& frame) {
  if (queue_.size() >= kTransmitQueueCapacity) {
    ++dropped_;
    return;
  }
  queue_.push_back(frame);
}

}  // namespace vantor::sim::canopen
