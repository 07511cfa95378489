#include "sim/hardware/parallel_can_adapter.h"

namespace vantor::sim {

ParallelCanAdapter::ParallelCanAdapter(Simulation& simulation, ParallelPort& port,
                                       I82527::Config controller)
    : simulation_(simulation),
      port_(port),
      controller_(std::make_unique<I82527>(simulation, std::move(controller))) {
  tick_ = std::make_unique<ClockOutDivider>(*controller_, ClockOutDivider::kTickDivisor,
                                            [this](SimTime) { OnTickEdge(); });
  simulation_.Add(tick_.get());
  port_.Connect(this);
}

ParallelCanAdapter::~ParallelCanAdapter() {
  port_.Connect(nullptr);
  simulation_.Remove(tick_.get());
}

void ParallelCanAdapter::ControlChanged(std::uint8_t before, std::uint8_t after,
                                        std::uint8_t data) {
  const auto rose = [before, after](std::uint8_t bit) {
    return (before & bit) == 0 && (after & bit) != 0;
  };
  const bool input = (after & ParallelPort::kControlInput) != 0;

  // The adapter drives the data lines only during a read strobe.
  if (!input || (after & ParallelPort::kControlAutoFeed) == 0) driven_.reset();
  if (stuck_not_ready_) return;

  if (!input && (after & ParallelPort::kControlStrobe) != 0) {
    if (rose(ParallelPort::kControlSelectIn)) address_ = data;
    if (rose(ParallelPort::kControlAutoFeed)) controller_->Write(address_, data);
    return;
  }
  if (input && rose(ParallelPort::kControlAutoFeed)) driven_ = controller_->Read(address_);
}

bool ParallelCanAdapter::EppAddressWrite(std::uint8_t value) {
  if (stuck_not_ready_) return false;
  address_ = value;
  return true;
}

bool ParallelCanAdapter::EppAddressRead(std::uint8_t& value) {
  if (stuck_not_ready_) return false;
  value = address_;
  return true;
}

bool ParallelCanAdapter::EppDataWrite(std::uint8_t value) {
  if (stuck_not_ready_) return false;
  controller_->Write(address_, value);
  return true;
}

bool ParallelCanAdapter::EppDataRead(std::uint8_t& value) {
  if (stuck_not_ready_) return false;
  value = controller_->Read(address_);
  return true;
}

void ParallelCanAdapter::OnTickEdge() {
  if (!controller_->Port2PinHigh(kTickLineBit)) port_.AcknowledgePulse();
}

}  // namespace vantor::sim
