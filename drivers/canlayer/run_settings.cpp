#include "drivers/canlayer/run_settings.h"

#include "drivers/canlayer/controller_82527.h"

namespace vantor::canlayer {
namespace {

namespace rr = common::run_record;

// The controller's clock output runs at 16 MHz; the card divides it by
// 2048 (and by d) into the tick.
constexpr std::int64_t kClockOutHz = 16'000'000;
constexpr std::int64_t kTickDivisor = 2048;

}  // namespace

RunRecordCheck CheckRunRecord(common::ConstByteView<common::kRunRecordSize> record,
                              common::InterfaceKind ownKind, std::uint8_t ownChannel) noexcept {
  RunRecordCheck check;
  RunSettings& run = check.settings;
  if (record.Get(rr::kInterfaceKind) != static_cast<std::uint8_t>(ownKind)) return check;
  if (record.Get(rr::kChannel) != ownChannel) return check;
  run.latencyMeasurement = record.Get(rr::kLatencyMeasurement) != 0;
  run.tickClockDivider = record.Get(rr::kTickClockDivider);
  if (run.tickClockDivider < rr::kMinTickClockDivider ||
      run.tickClockDivider > rr::kMaxTickClockDivider) {
    return check;
  }
  run.bitRateCode = record.Get(rr::kBitRateCode);
  if (!SelectBitTiming(run.bitRateCode)) return check;
  run.cycleDivider = record.Get(rr::kCycleDivider);
  if (run.cycleDivider <= 0) return check;
  const std::uint8_t mode = record.Get(rr::kRunMode);
  if (mode == rr::kRunModeFixed) {
    run.mode = RunMode::kFixed;
    run.sendTick = record.Get(rr::kSendTick);
    if (run.sendTick < 0 || run.sendTick >= run.cycleDivider) return check;
  } else if (mode == rr::kRunModeBuffered) {
    run.mode = RunMode::kBuffered;
    run.fillLimit = record.Get(rr::kFillLimit);
    if (run.fillLimit > rr::kMaxFillLimit) return check;
    run.pollInterval = record.Get(rr::kPollInterval);
    if (run.pollInterval < 1) return check;
    run.pollBudget = record.Get(rr::kPollBudget);
    if (run.pollBudget < 1) return check;
  } else {
    return check;
  }
  check.status = common::kDriverSuccess;
  return check;
}

std::uint32_t CycleTimeMicroseconds(std::uint8_t tickDivider, std::int16_t cycleDivider) noexcept {
  return static_cast<std::uint32_t>(rr::CycleMicroseconds(cycleDivider, tickDivider));
}

std::int64_t CycleLengthTicks(std::uint8_t tickDivider, std::int16_t cycleDivider,
                              std::int64_t frequency) noexcept {
  const std::int64_t k = std::int64_t{cycleDivider} * tickDivider * kTickDivisor;
  return (frequency / kClockOutHz) * k + ((frequency % kClockOutHz) * k) / kClockOutHz + 1;
}

}  // namespace vantor::canlayer
