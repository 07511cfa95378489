#pragma once

#include <cstdint>
#include <functional>
#include <utility>

namespace vantor::sim {

// One interrupt output of a device model. A level-triggered source (the PCI
// card) holds the line asserted until its handler clears the cause; an
// edge-triggered source (the parallel port) raises a short pulse. Either way
// the listener hears every change, so the driver runtime can queue the
// handlers on each rising edge and, for level lines, run them again while
// the line stays asserted.
//
// The listener runs inside the model's own update, possibly in the middle of
// a register access or of advancing time: it must only note the change and
// must not access device registers itself.
class InterruptLine {
 public:
  using Listener = std::function<void(bool asserted)>;

  void SetListener(Listener listener) { listener_ = std::move(listener); }

  bool Asserted() const { return asserted_; }

  // Rising edges seen since the line was made: a pulse counts as one.
  std::uint64_t RisingEdges() const { return rising_edges_; }

  void Set(bool asserted) {
    if (asserted == asserted_) return;
    asserted_ = asserted;
    if (asserted) ++rising_edges_;
    if (listener_) listener_(asserted);
  }

  // A short pulse for edge-triggered lines: up and down again at once.
  void Pulse() {
    if (asserted_) return;
    Set(true);
    Set(false);
  }

 private:
  Listener listener_;
  bool asserted_ = false;
  std::uint64_t rising_edges_ = 0;
};

}  // namespace vantor::sim
