#include "sim/drives/homing_run.h"

#include <cmath>

namespace vantor::sim::drives {

namespace {
constexpr std::int8_t kIndexOnlyNegative = 33;
constexpr std::int8_t kCurrentPosition = 34;
// Methods 17..22 are methods 1..6 without the index pulse.
constexpr std::int8_t kWithoutIndexShift = 16;
// A search that passes the whole position range has no switch to find: the
// run fails where a real axis would end on its mechanical stop.
constexpr double kTravelRangeIncrements = 2147483647.0;

// The nearest positions past a switch's edge.
double JustAbove(std::int32_t edge) { return std::nextafter(static_cast<double>(edge), HUGE_VAL); }
double JustBelow(std::int32_t edge) { return std::nextafter(static_cast<double>(edge), -HUGE_VAL); }
}  // namespace

bool IsSupportedHomingMethod(std::int8_t method) {
  return (method >= 1 && method <= 6) || (method >= 17 && method <= 22) ||
         method == kIndexOnlyNegative || method == kCurrentPosition;
}

bool HomeSwitchActiveBelowEdge(std::int8_t method) {
  const int base = method > kWithoutIndexShift ? method - kWithoutIndexShift : method;
  return base == 5 || base == 6;
}

HomingRun::HomingRun(const HomingParameters& parameters, const DriveConfig& machine,
                     double position)
    : parameters_(parameters), machine_(machine), reference_(position) {
  Plan(position);
}

void HomingRun::AddSearch(Event event, double direction, double speed) {
  if (legCount_ >= kMaxLegs) return;
  legs_[legCount_++] = Leg{LegKind::kSearch, event, direction, speed};
}

void HomingRun::AddLeg(LegKind kind) {
  if (legCount_ >= kMaxLegs) return;
  legs_[legCount_++] = Leg{kind, Event::kIndexPulse, 1.0, 0.0};
}

void HomingRun::Plan(double position) {
  const std::int8_t method = parameters_.method;
  if (method == kCurrentPosition || !IsSupportedHomingMethod(method)) {
    status_ = method == kCurrentPosition ? HomingStatus::kAttained : HomingStatus::kError;
    return;
  }
  const double toSwitch = parameters_.switchSearchSpeed;
  const double toZero = parameters_.zeroSearchSpeed;
  // A search that cannot move would never end.
  if (toSwitch <= 0.0 || toZero <= 0.0) {
    status_ = HomingStatus::kError;
    return;
  }
  const bool phased = parameters_.gantryPhases;
  if (method == kIndexOnlyNegative) {
    if (phased) AddLeg(LegKind::kWaitPhaseA);
    AddSearch(Event::kIndexPulse, -1.0, toZero);
  } else {
    const bool withIndex = method <= 6;
    const int base = withIndex ? method : method - kWithoutIndexShift;
    double indexDirection = 1.0;
    switch (base) {
      case 1: {
        const bool onSwitch = machine_.negativeLimit && position <= *machine_.negativeLimit;
        if (!onSwitch) AddSearch(Event::kNegativeLimitActive, -1.0, toSwitch);
        AddSearch(Event::kNegativeLimitReleased, 1.0, toZero);
        indexDirection = 1.0;
        break;
      }
      case 2: {
        const bool onSwitch = machine_.positiveLimit && position >= *machine_.positiveLimit;
        if (!onSwitch) AddSearch(Event::kPositiveLimitActive, 1.0, toSwitch);
        AddSearch(Event::kPositiveLimitReleased, -1.0, toZero);
        indexDirection = -1.0;
        break;
      }
      case 3:
      case 4: {
        // Home switch active at and above its edge.
        const bool active = machine_.homeSwitch && position >= *machine_.homeSwitch;
        AddSearch(Event::kHomeEdge, active ? -1.0 : 1.0, toSwitch);
        indexDirection = base == 3 ? -1.0 : 1.0;
        break;
      }
      default: {
        // 5 and 6: home switch active at and below its edge.
        const bool active = machine_.homeSwitch && position <= *machine_.homeSwitch;
        AddSearch(Event::kHomeEdge, active ? 1.0 : -1.0, toSwitch);
        indexDirection = base == 5 ? 1.0 : -1.0;
        break;
      }
    }
    if (phased) AddLeg(LegKind::kWaitPhaseA);
    if (withIndex) AddSearch(Event::kIndexPulse, indexDirection, toZero);
  }
  if (phased) AddLeg(LegKind::kWaitPhaseB);
  AddLeg(LegKind::kOffsetTravel);
}

void HomingRun::SetPhaseBytes(bool a, bool b) {
  phaseA_ = a;
  phaseB_ = b;
}

void HomingRun::NextLeg() {
  ++current_;
  status_ = HomingStatus::kRunning;
}

std::optional<double> HomingRun::NextIndexPulse(double from, double to) const {
  const double spacing = machine_.indexSpacing;
  const double offset = machine_.indexOffset;
  if (to > from) {
    const double pulse = offset + (std::floor((from - offset) / spacing) + 1.0) * spacing;
    if (pulse <= to) return pulse;
  } else if (to < from) {
    const double pulse = offset + (std::ceil((from - offset) / spacing) - 1.0) * spacing;
    if (pulse >= to) return pulse;
  }
  return std::nullopt;
}

std::optional<double> HomingRun::FindEvent(const Leg& leg, double from, double to) const {
  switch (leg.event) {
    case Event::kNegativeLimitActive:
      if (machine_.negativeLimit && to <= *machine_.negativeLimit) {
        return std::max(to, std::min(from, static_cast<double>(*machine_.negativeLimit)));
      }
      return std::nullopt;
    // A switch reads active up to and on its edge: it has released only
    // past it, so the run stops there and the homed drive stands free.
    case Event::kNegativeLimitReleased:
      if (!machine_.negativeLimit || to > *machine_.negativeLimit) {
        return machine_.negativeLimit ? std::max(from, JustAbove(*machine_.negativeLimit)) : from;
      }
      return std::nullopt;
    case Event::kPositiveLimitActive:
      if (machine_.positiveLimit && to >= *machine_.positiveLimit) {
        return std::min(to, std::max(from, static_cast<double>(*machine_.positiveLimit)));
      }
      return std::nullopt;
    case Event::kPositiveLimitReleased:
      if (!machine_.positiveLimit || to < *machine_.positiveLimit) {
        return machine_.positiveLimit ? std::min(from, JustBelow(*machine_.positiveLimit)) : from;
      }
      return std::nullopt;
    case Event::kHomeEdge: {
      if (!machine_.homeSwitch) return std::nullopt;
      const double edge = *machine_.homeSwitch;
      const bool crossed = leg.direction > 0.0
                               ? (from < edge && to >= edge)
                               : (from >= edge && to < edge) || (from > edge && to <= edge);
      if (crossed) return edge;
      return std::nullopt;
    }
    case Event::kIndexPulse:
      return NextIndexPulse(from, to);
  }
  return std::nullopt;
}

bool HomingRun::HitsUnexpectedLimit(const Leg& leg, double from, double to) const {
  // The travel by the home offset may go back onto the switch the run
  // homed on.
  const bool offsetTravel = leg.kind == LegKind::kOffsetTravel;
  const bool lookingForNegative =
      (leg.kind == LegKind::kSearch && leg.event == Event::kNegativeLimitActive) ||
      (offsetTravel && machine_.negativeLimit && reference_ == JustAbove(*machine_.negativeLimit));
  const bool lookingForPositive =
      (leg.kind == LegKind::kSearch && leg.event == Event::kPositiveLimitActive) ||
      (offsetTravel && machine_.positiveLimit && reference_ == JustBelow(*machine_.positiveLimit));
  if (!lookingForNegative && machine_.negativeLimit && to < from && to <= *machine_.negativeLimit &&
      from > *machine_.negativeLimit) {
    return true;
  }
  return !lookingForPositive && machine_.positiveLimit && to > from &&
         to >= *machine_.positiveLimit && from < *machine_.positiveLimit;
}

HomingStatus HomingRun::Step(AxisMotion& axis, double seconds) {
  if (status_ == HomingStatus::kAttained || status_ == HomingStatus::kError) {
    axis.velocity = 0.0;
    return status_;
  }
  if (current_ >= legCount_) {
    status_ = HomingStatus::kAttained;
    return status_;
  }
  const Leg& leg = legs_[current_];
  const double from = axis.position;
  switch (leg.kind) {
    case LegKind::kWaitPhaseA:
      axis.velocity = 0.0;
      status_ = HomingStatus::kWaitingPhaseA;
      if (phaseA_) NextLeg();
      return status_;
    case LegKind::kWaitPhaseB:
      axis.velocity = 0.0;
      status_ = HomingStatus::kWaitingPhaseB;
      if (phaseB_) NextLeg();
      return status_;
    case LegKind::kSearch: {
      StepTowardVelocity(axis, leg.direction * leg.speed, parameters_.acceleration, seconds);
      if (HitsUnexpectedLimit(leg, from, axis.position) ||
          std::abs(axis.position) > kTravelRangeIncrements) {
        axis.velocity = 0.0;
        status_ = HomingStatus::kError;
        return status_;
      }
      if (const auto event = FindEvent(leg, from, axis.position)) {
        axis.position = *event;
        axis.velocity = 0.0;
        reference_ = *event;
        NextLeg();
      }
      return status_;
    }
    case LegKind::kOffsetTravel: {
      const RampLimits limits{parameters_.zeroSearchSpeed, parameters_.acceleration,
                              parameters_.acceleration};
      if (StepTowardPosition(axis, reference_ + parameters_.homeOffset, limits, seconds)) {
        status_ = HomingStatus::kAttained;
        return status_;
      }
      if (HitsUnexpectedLimit(leg, from, axis.position)) {
        axis.velocity = 0.0;
        status_ = HomingStatus::kError;
      }
      return status_;
    }
  }
  return status_;
}

}  // namespace vantor::sim::drives
