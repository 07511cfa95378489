// A scripted CANopen client around one simulated drive: SDO transfers as
// the kernel frames them, SYNC and receive-PDO frames, virtual time.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

#include "sim/canopen/tests/node_harness.h"
#include "sim/drives/drive_model.h"

namespace vantor::sim::drives::drivetest {

using canopen::nodetest::Frame;
using canopen::nodetest::kMs;

class DriveHarness {
 public:
  explicit DriveHarness(const DriveConfig& config = {}, canopen::NodeId id = 5)
      : node_(Options(id)), drive_(node_.Core(), config) {
    node_.Core().SetApplication(&drive_);
    node_.Boot();
    node_.StartNode();
  }

  static canopen::NodeOptions Options(canopen::NodeId id) {
    canopen::NodeOptions options = canopen::nodetest::NodeHarness::Defaults();
    options.nodeId = id;
    return options;
  }

  DriveModel& Drive() { return drive_; }
  canopen::nodetest::NodeHarness& Node() { return node_; }
  SimTime Now() const { return node_.now; }

  // An expedited download; the abort code, or kNone when it was taken.
  canopen::SdoAbortCode Download(std::uint16_t index, std::uint8_t sub, std::uint32_t value,
                                 int size) {
    const auto command = static_cast<std::uint8_t>(0x23 | ((4 - size) << 2));
    const auto answer =
        SdoAnswer({command, static_cast<std::uint8_t>(index), static_cast<std::uint8_t>(index >> 8),
                   sub, static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                   static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)});
    if (answer.size() != 1) return canopen::SdoAbortCode::kGeneral;
    if (answer[0].data[0] == 0x60) return canopen::SdoAbortCode::kNone;
    return static_cast<canopen::SdoAbortCode>(Word(answer[0], 4));
  }

  void Write(std::uint16_t index, std::uint8_t sub, std::uint32_t value, int size) {
    ASSERT_EQ(Download(index, sub, value, size), canopen::SdoAbortCode::kNone)
        << std::hex << index << ":" << int{sub};
  }

  // An expedited upload of up to four bytes; nothing on an abort.
  std::optional<std::uint32_t> Upload(std::uint16_t index, std::uint8_t sub) {
    const auto answer = SdoAnswer({0x40, static_cast<std::uint8_t>(index),
                                   static_cast<std::uint8_t>(index >> 8), sub, 0, 0, 0, 0});
    if (answer.size() != 1 || (answer[0].data[0] & 0xE3) != 0x43) return std::nullopt;
    return Word(answer[0], 4);
  }

  std::uint16_t Statusword() {
    return static_cast<std::uint16_t>(Upload(0x6041, 0).value_or(0xFFFF));
  }
  std::uint16_t State() { return Statusword() & 0x6F; }
  // The limit and home switch bits of 0x60FD (the interlock input beside
  // them is always closed).
  std::optional<std::uint32_t> SwitchInputs() {
    const auto inputs = Upload(0x60FD, 0);
    return inputs ? std::optional<std::uint32_t>(*inputs & 0x07u) : std::nullopt;
  }
  std::int32_t Position() { return static_cast<std::int32_t>(Upload(0x6064, 0).value_or(0)); }

  void Controlword(std::uint16_t value) { Write(0x6040, 0, value, 2); }
  void Mode(std::int8_t mode) { Write(0x6060, 0, static_cast<std::uint8_t>(mode), 1); }

  // Shutdown, switch on, enable operation from switch-on disabled.
  void Enable() {
    Controlword(0x0006);
    Controlword(0x0007);
    Controlword(0x000F);
    ASSERT_EQ(State(), 0x27);
  }

  // Enabled as above, then switched to operation mode `mode`.
  void EnableInMode(std::int8_t mode) {
    Enable();
    Mode(mode);
  }

  // The server's answers to one request; other frames sent meanwhile (an
  // emergency, a PDO) are kept in `otherFrames`.
  std::vector<CanFrame> SdoAnswer(std::initializer_list<std::uint8_t> bytes) {
    std::vector<CanFrame> answers;
    for (const CanFrame& frame : node_.Sdo(bytes)) {
      if (frame.identifier == node_.SdoResponse()) {
        answers.push_back(frame);
      } else {
        otherFrames.push_back(frame);
      }
    }
    return answers;
  }

  void Sync() { node_.Receive(canopen::nodetest::kSync); }
  void Send(const CanFrame& frame) { node_.Receive(frame); }

  void Advance(SimTime duration) { node_.AdvanceTo(node_.now + duration); }

  // Steps time (`step` at a time) until `done` holds or `timeout` passed;
  // every wait has its deadline.
  bool RunUntil(const std::function<bool()>& done, SimTime timeout, SimTime step = kMs) {
    const SimTime deadline = node_.now + timeout;
    while (!done()) {
      if (node_.now >= deadline) return false;
      Advance(step);
    }
    return true;
  }

  bool WaitForStatusBits(std::uint16_t bits, SimTime timeout, SimTime step = kMs) {
    return RunUntil([&] { return (Statusword() & bits) == bits; }, timeout, step);
  }

  // Maps receive PDO `pdo` (type 0: taken at the next SYNC) with `entries`,
  // on its own identifier unless `cobId` names another.
  void MapRpdo(int pdo, std::vector<std::uint32_t> entries, std::uint8_t type,
               std::optional<std::uint16_t> cobId = std::nullopt) {
    const auto comm = static_cast<std::uint16_t>(0x1400 + pdo - 1);
    const auto mapping = static_cast<std::uint16_t>(0x1600 + pdo - 1);
    Write(comm, 1, cobId.value_or(RpdoCobId(pdo)), 4);
    Write(mapping, 0, 0, 1);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      Write(mapping, static_cast<std::uint8_t>(i + 1), entries[i], 4);
    }
    Write(mapping, 0, static_cast<std::uint32_t>(entries.size()), 1);
    Write(comm, 2, type, 1);
  }

  std::uint16_t RpdoCobId(int pdo) const {
    static constexpr std::uint16_t kBases[] = {0x200, 0x300, 0x400, 0x500};
    return static_cast<std::uint16_t>(kBases[pdo - 1] + node_.Id());
  }

  std::vector<CanFrame> otherFrames;

  static std::uint32_t Word(const CanFrame& frame, int offset) {
    return std::uint32_t{frame.data[offset]} | (std::uint32_t{frame.data[offset + 1]} << 8) |
           (std::uint32_t{frame.data[offset + 2]} << 16) |
           (std::uint32_t{frame.data[offset + 3]} << 24);
  }

 private:
  canopen::nodetest::NodeHarness node_;
  DriveModel drive_;
};

}  // namespace vantor::sim::drives::drivetest
