#include "sim/hardware/can_bus.h"

#include <algorithm>

#include "sim/hardware/candump_log.h"
#include "sim/hardware/frame_timing.h"

namespace vantor::sim {
namespace {

// What a station hands the bus is only what fits an 11-bit frame: the wire
// has no room for more identifier bits, and a longer length code carries
// eight bytes.
CanFrame AsOnTheWire(CanFrame frame) {
  frame.identifier &= CanFrame::kMaxIdentifier;
  if (frame.length > CanFrame::kMaxLength) frame.length = CanFrame::kMaxLength;
  return frame;
}

}  // namespace

void CanBus::Attach(CanStation* station) {
  if (station != nullptr &&
      std::find(stations_.begin(), stations_.end(), station) == stations_.end()) {
    stations_.push_back(station);
  }
}

void CanBus::Detach(CanStation* station) {
  stations_.erase(std::remove(stations_.begin(), stations_.end(), station), stations_.end());
  bus_off_injections_.erase(
      std::remove(bus_off_injections_.begin(), bus_off_injections_.end(), station),
      bus_off_injections_.end());
  if (in_flight_ && in_flight_->transmitter == station) {
    in_flight_.reset();
    free_at_ = cursor_;
  }
}

void CanBus::InjectErrorFrames(unsigned count, std::optional<std::uint16_t> identifier) {
  error_frame_injections_ = count;
  error_frame_identifier_ = identifier;
}

void CanBus::InjectBusOff(const CanStation* transmitter) {
  bus_off_injections_.push_back(transmitter);
}

void CanBus::DeliverNow(const CanFrame& injected, const CanStation* from) {
  const CanFrame frame = AsOnTheWire(injected);
  if (log_ != nullptr) *log_ << FormatCandumpLine(log_start_ + cursor_, name_, frame) << '\n';
  Deliver(frame, from, cursor_);
}

bool CanBus::AnyStationPending() const {
  return std::any_of(stations_.begin(), stations_.end(),
                     [](CanStation* station) { return station->FrameToSend().has_value(); });
}

SimTime CanBus::BusEventTime() const {
  if (in_flight_) return in_flight_->end;
  if (!AnyStationPending()) return kNever;
  return std::max(free_at_, cursor_);
}

SimTime CanBus::StationDeadline() const {
  SimTime next = kNever;
  for (const CanStation* station : stations_) next = std::min(next, station->NextDeadline());
  return next;
}

SimTime CanBus::NextDeadline() const { return std::min(BusEventTime(), StationDeadline()); }

void CanBus::AdvanceTo(SimTime now) {
  now = std::max(now, cursor_);
  for (int events = 0; events < kMaxEventsPerCall; ++events) {
    const SimTime station_next = StationDeadline();
    const SimTime bus_next = BusEventTime();
    const SimTime next = std::min(station_next, bus_next);
    if (next > now) break;
    cursor_ = std::max(cursor_, next);
    if (station_next <= bus_next) {
      // Station timers first: a node that wakes at the instant the bus is
      // free gets to compete for it.
      for (std::size_t i = 0; i < stations_.size(); ++i) stations_[i]->AdvanceTo(cursor_);
      if (StationDeadline() > cursor_) continue;
      // A station that keeps its deadline in the present would stall time:
      // let the bus event of this instant happen, then stop.
      if (bus_next > cursor_) break;
    }
    if (in_flight_) {
      FinishTransmission();
    } else {
      StartArbitration(cursor_);
      if (!in_flight_) break;
    }
  }
  cursor_ = now;
  for (std::size_t i = 0; i < stations_.size(); ++i) stations_[i]->AdvanceTo(now);
}

void CanBus::StartArbitration(SimTime now) {
  CanStation* winner = nullptr;
  CanFrame winning_frame;
  for (CanStation* station : stations_) {
    std::optional<CanFrame> frame = station->FrameToSend();
    if (!frame) continue;
    frame = AsOnTheWire(*frame);
    const bool wins =
        winner == nullptr || frame->identifier < winning_frame.identifier ||
        (frame->identifier == winning_frame.identifier && winning_frame.remote && !frame->remote);
    if (wins) {
      winner = station;
      winning_frame = *frame;
    }
  }
  if (winner == nullptr) return;
  const SimTime bit_time = std::max<SimTime>(winner->BitTime(), 1);
  in_flight_ =
      Transmission{winner, winning_frame, now + FrameBitCount(winning_frame) * bit_time, bit_time};
}

void CanBus::FinishTransmission() {
  const Transmission transmission = *in_flight_;
  in_flight_.reset();

  // Stations at another bit time never make sense of the frame, whatever
  // becomes of it: each attempt is a run of errors to them.
  TellUnreadable(transmission);

  if (TakeBusOffInjection(transmission.transmitter)) {
    ++statistics_.bus_off_failures;
    FailTransmission(transmission, CanTransmitError::kBusOff);
    return;
  }
  if (TakeErrorFrameInjection(transmission.frame.identifier)) {
    ++statistics_.error_frames;
    FailTransmission(transmission, CanTransmitError::kErrorFrame);
    return;
  }
  bool acknowledged = AnotherStationAcknowledges(transmission);
  if (acknowledged && suppressed_acknowledges_ > 0) {
    --suppressed_acknowledges_;
    acknowledged = false;
  }
  if (!acknowledged) {
    ++statistics_.acknowledge_errors;
    FailTransmission(transmission, CanTransmitError::kNoAcknowledge);
    return;
  }

  ++statistics_.frames;
  free_at_ = transmission.end + kIntermissionBits * transmission.bit_time;
  if (log_ != nullptr)
    *log_ << FormatCandumpLine(log_start_ + transmission.end, name_, transmission.frame) << '\n';
  transmission.transmitter->FrameSent(transmission.end);
  Deliver(transmission.frame, transmission.transmitter, transmission.end, transmission.bit_time);
}

void CanBus::FailTransmission(const Transmission& transmission, CanTransmitError error) {
  // The error frame follows the failed frame before the bus is free again.
  free_at_ = transmission.end + (kErrorFrameBits + kIntermissionBits) * transmission.bit_time;
  transmission.transmitter->FrameFailed(error, transmission.end);
}

bool CanBus::TakeErrorFrameInjection(std::uint16_t identifier) {
  if (error_frame_injections_ == 0) return false;
  if (error_frame_identifier_ && *error_frame_identifier_ != identifier) return false;
  --error_frame_injections_;
  return true;
}

bool CanBus::TakeBusOffInjection(const CanStation* transmitter) {
  const auto it = std::find(bus_off_injections_.begin(), bus_off_injections_.end(), transmitter);
  if (it == bus_off_injections_.end()) return false;
  bus_off_injections_.erase(it);
  return true;
}

bool CanBus::AnotherStationAcknowledges(const Transmission& transmission) const {
  return std::any_of(stations_.begin(), stations_.end(),
                     [&transmission](const CanStation* station) {
                       return station != transmission.transmitter && station->Acknowledges() &&
                              BitTimesMatch(transmission.bit_time, station->BitTime());
                     });
}

void CanBus::TellUnreadable(const Transmission& transmission) {
  // A station may detach itself or others while it sees the errors.
  const std::vector<CanStation*> receivers = stations_;
  for (CanStation* station : receivers) {
    if (station == transmission.transmitter) continue;
    if (std::find(stations_.begin(), stations_.end(), station) == stations_.end()) continue;
    if (!BitTimesMatch(transmission.bit_time, station->BitTime()))
      station->FrameUnreadable(transmission.end);
  }
}

void CanBus::Deliver(const CanFrame& frame, const CanStation* from, SimTime time,
                     std::optional<SimTime> bit_time) {
  // A receiver may detach itself or others while hearing a frame.
  const std::vector<CanStation*> receivers = stations_;
  for (CanStation* station : receivers) {
    if (station == from) continue;
    if (std::find(stations_.begin(), stations_.end(), station) == stations_.end()) continue;
    if (bit_time && !BitTimesMatch(*bit_time, station->BitTime())) continue;
    station->FrameReceived(frame, time);
  }
}

}  // namespace vantor::sim
