#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "sim/can_frame.h"
#include "sim/can_station.h"
#include "sim/hardware/timed_model.h"

namespace vantor::sim {

// A CAN bus with any number of stations. When the bus is free it asks every
// station for its frame; the lowest identifier wins arbitration (a data frame
// beats a remote frame of the same identifier, and of two equal frames the
// station attached first goes). The frame lasts its stuffed bit count times
// the transmitter's bit time; at its end it is acknowledged when another
// station at the same bit time is on-line, and every station at that bit
// time hears it. Stations at another bit time neither hear nor acknowledge
// it: they are told of a frame they could not read.
//
// Faults can be injected: error frames, a missing acknowledgement, a
// transmitter driven bus-off, and a frame that appears on the bus between
// two register accesses.
class CanBus : public TimedModel {
 public:
  struct Statistics {
    std::uint64_t frames = 0;              // acknowledged frames
    std::uint64_t error_frames = 0;        // frames destroyed by an error frame
    std::uint64_t acknowledge_errors = 0;  // frames nobody acknowledged
    std::uint64_t bus_off_failures = 0;    // frames that drove their sender bus-off
  };

  explicit CanBus(std::string name) : name_(std::move(name)) {}

  const std::string& Name() const { return name_; }

  // A station stays attached until detached; a detached transmitter's frame
  // in flight is dropped.
  void Attach(CanStation* station);
  void Detach(CanStation* station);
  // The attached stations, in the order they joined.
  const std::vector<CanStation*>& Stations() const { return stations_; }

  // Every acknowledged frame goes to the stream as a candump log line under
  // the bus's name; nullptr stops the log.
  void SetLog(std::ostream* log) { log_ = log; }
  // Log stamps are `start` plus simulated time (both in nanoseconds); the
  // owner passes the wall-clock time at which simulated time was 0, so the
  // log reads like one taken on a real bus. 0 (the default): simulated time.
  void SetLogStart(std::uint64_t start) { log_start_ = start; }

  // The next `count` frames (only those with `identifier`, when given) are
  // destroyed by an error frame.
  void InjectErrorFrames(unsigned count, std::optional<std::uint16_t> identifier = std::nullopt);
  // The next `count` frames find nobody acknowledging them.
  void SuppressAcknowledge(unsigned count) { suppressed_acknowledges_ += count; }
  // The next frame of `transmitter` ends with the transmitter bus-off.
  void InjectBusOff(const CanStation* transmitter);

  // A frame appears on the bus now, from outside or from `from`: logged and
  // heard by every station other than `from`.
  void DeliverNow(const CanFrame& frame, const CanStation* from = nullptr);

  bool Busy() const { return in_flight_.has_value(); }
  SimTime Now() const { return cursor_; }
  const Statistics& Stats() const { return statistics_; }

  SimTime NextDeadline() const override;
  void AdvanceTo(SimTime now) override;

 private:
  struct Transmission {
    CanStation* transmitter = nullptr;
    CanFrame frame;
    SimTime end = 0;
    SimTime bit_time = 0;
  };

  // Bounds one call's work: a caller that jumps far ahead gets the rest of
  // the events on its next call instead of a stall.
  static constexpr int kMaxEventsPerCall = 1000000;

  SimTime BusEventTime() const;
  SimTime StationDeadline() const;
  bool AnyStationPending() const;
  void StartArbitration(SimTime now);
  void FinishTransmission();
  void FailTransmission(const Transmission& transmission, CanTransmitError error);
  bool TakeErrorFrameInjection(std::uint16_t identifier);
  bool TakeBusOffInjection(const CanStation* transmitter);
  bool AnotherStationAcknowledges(const Transmission& transmission) const;
  void TellUnreadable(const Transmission& transmission);
  // Only stations at `bit_time` hear the frame; without one (a frame put on
  // the bus from outside), every station does.
  void Deliver(const CanFrame& frame, const CanStation* from, SimTime time,
               std::optional<SimTime> bit_time = std::nullopt);

  std::string name_;
  std::vector<CanStation*> stations_;
  std::ostream* log_ = nullptr;
  std::uint64_t log_start_ = 0;
  std::optional<Transmission> in_flight_;
  SimTime free_at_ = 0;
  SimTime cursor_ = 0;
  unsigned error_frame_injections_ = 0;
  std::optional<std::uint16_t> error_frame_identifier_;
  unsigned suppressed_acknowledges_ = 0;
  std::vector<const CanStation*> bus_off_injections_;
  Statistics statistics_;
};

}  // namespace vantor::sim
