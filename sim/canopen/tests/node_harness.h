// A scripted CANopen client around one node core: frames in, the node's
// frames collected, virtual time stepped by the test.
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <ostream>
#include <vector>

#include <gmock/gmock.h>

#include "sim/can_frame.h"
#include "sim/canopen/canopen_node.h"

namespace vantor::sim {

inline void PrintTo(const CanFrame& frame, std::ostream* out) {
  char text[64];
  std::snprintf(text, sizeof(text), "%03X%s [%u]", frame.identifier, frame.remote ? " RTR" : "",
                frame.length);
  *out << text;
  for (std::uint8_t i = 0; i < frame.length && i < CanFrame::kMaxLength; ++i) {
    std::snprintf(text, sizeof(text), " %02X", frame.data[i]);
    *out << text;
  }
}

}  // namespace vantor::sim

namespace vantor::sim::canopen::nodetest {

constexpr SimTime kMs = kNanosecondsPerMillisecond;

// A data frame written out byte by byte, as a client or a bus trace shows it.
inline CanFrame Frame(std::uint16_t identifier, std::initializer_list<std::uint8_t> bytes) {
  CanFrame frame;
  frame.identifier = identifier;
  frame.length = static_cast<std::uint8_t>(bytes.size());
  std::uint8_t i = 0;
  for (const std::uint8_t byte : bytes) frame.data[i++] = byte;
  return frame;
}

inline CanFrame Remote(std::uint16_t identifier) {
  CanFrame frame;
  frame.identifier = identifier;
  frame.remote = true;
  return frame;
}

// The SYNC frame, as a bus trace shows it.
inline const CanFrame kSync = Frame(0x080, {});

// The matchers node tests state the frames on the bus with; a test takes
// them with the harness by `using namespace nodetest;`.
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class NodeHarness {
 public:
  explicit NodeHarness(NodeOptions options = Defaults())
      : core_(options, [this](const CanFrame& frame) { sent.push_back(frame); }) {}

  static NodeOptions Defaults() {
    NodeOptions options;
    options.nodeId = 5;
    return options;
  }

  std::uint16_t SdoRequest() const { return static_cast<std::uint16_t>(0x600 + Id()); }
  std::uint16_t SdoResponse() const { return static_cast<std::uint16_t>(0x580 + Id()); }
  std::uint8_t Id() const { return core_.Id(); }

  void AdvanceTo(SimTime time) {
    now = time;
    core_.AdvanceTo(time);
  }
  void Receive(const CanFrame& frame) { core_.Receive(frame, now); }

  // Boots the node (its boot time from now) and forgets the boot-up frame.
  void Boot() {
    if (core_.State() == NmtState::kInitialising) AdvanceTo(core_.NextDeadline());
    sent.clear();
  }
  void Nmt(std::uint8_t command, std::uint8_t target) { Receive(Frame(0x000, {command, target})); }
  void StartNode() {
    Nmt(0x01, Id());
    sent.clear();
  }

  // One frame in; the node's answers.
  std::vector<CanFrame> Exchange(const CanFrame& frame) {
    sent.clear();
    Receive(frame);
    return Take();
  }

  // One SDO request; the node's answers.
  std::vector<CanFrame> Sdo(std::initializer_list<std::uint8_t> bytes) {
    return Exchange(Frame(SdoRequest(), bytes));
  }

  std::vector<CanFrame> Take() {
    std::vector<CanFrame> taken;
    taken.swap(sent);
    return taken;
  }

  CanopenNode& Core() { return core_; }
  ObjectDictionary& Objects() { return core_.Objects(); }

  // Declared before the node: the node's sink writes here from its start.
  std::vector<CanFrame> sent;
  SimTime now = 0;

 private:
  CanopenNode core_;
};

}  // namespace vantor::sim::canopen::nodetest
