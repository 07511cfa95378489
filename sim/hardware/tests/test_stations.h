#pragma once

#include <deque>
#include <optional>
#include <vector>

#include "sim/can_station.h"

namespace vantor::sim::testing {

// A plain station for bus tests: acknowledges when told to, keeps what it
// hears, and sends the frames queued on it at a fixed bit time.
class RecordingStation : public CanStation {
 public:
  struct Heard {
    CanFrame frame;
    SimTime time;
  };

  explicit RecordingStation(SimTime bit_time = 1000, bool acknowledges = true)
      : bit_time_(bit_time), acknowledges_(acknowledges) {}

  void Queue(const CanFrame& frame) { outbox_.push_back(frame); }
  void SetAcknowledges(bool acknowledges) { acknowledges_ = acknowledges; }
  // Drop a frame after this many failures (0: keep retrying).
  void SetGiveUpAfter(int failures) { give_up_after_ = failures; }

  std::optional<CanFrame> FrameToSend() override {
    if (outbox_.empty()) return std::nullopt;
    return outbox_.front();
  }
  SimTime BitTime() const override { return bit_time_; }
  void FrameSent(SimTime now) override {
    sent_times.push_back(now);
    outbox_.pop_front();
    failures_in_row_ = 0;
  }
  void FrameFailed(CanTransmitError error, SimTime now) override {
    failures.push_back({error, now});
    if (give_up_after_ > 0 && ++failures_in_row_ >= give_up_after_) {
      outbox_.pop_front();
      failures_in_row_ = 0;
    }
  }
  bool Acknowledges() const override { return acknowledges_; }
  void FrameReceived(const CanFrame& frame, SimTime now) override { heard.push_back({frame, now}); }
  void FrameUnreadable(SimTime now) override { unreadable.push_back(now); }

  struct Failure {
    CanTransmitError error;
    SimTime time;
  };
  std::vector<Heard> heard;
  std::vector<SimTime> unreadable;
  std::vector<SimTime> sent_times;
  std::vector<Failure> failures;

 private:
  SimTime bit_time_;
  bool acknowledges_;
  int give_up_after_ = 0;
  int failures_in_row_ = 0;
  std::deque<CanFrame> outbox_;
};

inline CanFrame DataFrame(std::uint16_t identifier, std::initializer_list<std::uint8_t> bytes) {
  CanFrame frame;
  frame.identifier = identifier;
  frame.length = static_cast<std::uint8_t>(bytes.size());
  std::uint8_t i = 0;
  for (std::uint8_t byte : bytes) frame.data[i++] = byte;
  return frame;
}

inline CanFrame RemoteFrame(std::uint16_t identifier, std::uint8_t length = 0) {
  CanFrame frame;
  frame.identifier = identifier;
  frame.remote = true;
  frame.length = length;
  return frame;
}

}  // namespace vantor::sim::testing
