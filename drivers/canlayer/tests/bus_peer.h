// A scripted station on the simulated bus: it acknowledges (while
// on-line), keeps every frame it hears with the time it ended, answers
// remote frames from a table, sends what the test queues and can answer
// each synchronisation frame with frames of its own.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "sim/can_station.h"

namespace vantor::canlayer::testing {

class BusPeer final : public sim::CanStation {
 public:
  struct Heard {
    sim::CanFrame frame;
    sim::SimTime at = 0;
  };

  void SetOnline(bool online) { online_ = online; }
  void Queue(const sim::CanFrame& frame) { outbox_.push_back(frame); }
  void AnswerRemote(std::uint16_t identifier, const sim::CanFrame& answer) {
    remoteAnswers_[identifier] = answer;
  }
  void StopAnsweringRemote(std::uint16_t identifier) { remoteAnswers_.erase(identifier); }
  // Called for every frame heard; may queue answers.
  void OnFrame(std::function<void(const sim::CanFrame&)> handler) { onFrame_ = std::move(handler); }

  const std::vector<Heard>& HeardFrames() const { return heard_; }
  std::vector<sim::CanFrame> FramesWithId(std::uint16_t identifier) const {
    std::vector<sim::CanFrame> frames;
    for (const Heard& heard : heard_)
      if (heard.frame.identifier == identifier) frames.push_back(heard.frame);
    return frames;
  }
  void ForgetHeard() { heard_.clear(); }

  std::optional<sim::CanFrame> FrameToSend() override {
    if (!online_ || outbox_.empty()) return std::nullopt;
    return outbox_.front();
  }
  sim::SimTime BitTime() const override { return 1000; }  // 1 Mbit/s
  void FrameSent(sim::SimTime) override {
    if (!outbox_.empty()) outbox_.pop_front();
  }
  void FrameFailed(sim::CanTransmitError, sim::SimTime) override {}
  bool Acknowledges() const override { return online_; }
  void FrameReceived(const sim::CanFrame& frame, sim::SimTime now) override {
    if (!online_) return;
    heard_.push_back({frame, now});
    if (frame.remote) {
      const auto answer = remoteAnswers_.find(frame.identifier);
      if (answer != remoteAnswers_.end()) Queue(answer->second);
    }
    if (onFrame_) onFrame_(frame);
  }

 private:
  bool online_ = true;
  std::deque<sim::CanFrame> outbox_;
  std::map<std::uint16_t, sim::CanFrame> remoteAnswers_;
  std::function<void(const sim::CanFrame&)> onFrame_;
  std::vector<Heard> heard_;
};

inline sim::CanFrame DataFrame(std::uint16_t identifier, std::initializer_list<std::uint8_t> data) {
  sim::CanFrame frame;
  frame.identifier = identifier;
  frame.length = static_cast<std::uint8_t>(data.size());
  std::copy(data.begin(), data.end(), frame.data.begin());
  return frame;
}

}  // namespace vantor::canlayer::testing
