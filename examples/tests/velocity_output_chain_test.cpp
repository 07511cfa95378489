// The velocity-proportional output over the whole chain: the homed machine
// moves X back and forth by single moves while the output runs on a free
// CAN object, and the driver host's frame log shows what it sent: its
// offset at rest, the path velocity scaled while X moves, capped to the
// object's two bytes, and ahead of X's motion by the output's delay.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "examples/tests/homed_machine.h"
#include "interface/include/linkora.h"

namespace vantor::examples_test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Position = std::array<std::int32_t, 9>;

const std::string kSampleIni = VANTOR_EXAMPLES_FOLDER "/machine.ini";

// machine.ini's processing velocity, in units per second.
constexpr std::int32_t kPathVelocity = 20000;
// machine.ini's fill level (set-point entries queued in the driver) and
// drive buffer depth (set-points a drive holds before it plays them).
constexpr std::uint32_t kFillLevel = 40;
constexpr std::uint32_t kDriveBufferDepth = 16;
// The first receive PDO of node 30, which no station of the machine has.
constexpr std::uint8_t kOutputNode = 30;
constexpr std::uint32_t kOutputCobId = 0x21E;
// X's set-points: drive 1's set-point PDO.
constexpr std::uint32_t kSetpointCobId = 0x301;
// The SYNC that starts every cycle: the log's clock, which a loaded machine
// cannot stretch as it stretches the frames' time stamps.
constexpr std::uint32_t kSyncCobId = 0x080;
constexpr std::int32_t kOffset = 100;
// Long enough that X runs a while at the processing velocity.
constexpr std::int32_t kStroke = 30000;
constexpr auto kGenerous = 120s;

// What the output sent during one move: its values in order, and in which
// cycle (SYNCs counted) it first and last left its offset against when X's
// set-point first and last changed.
struct Sent {
  std::vector<std::int16_t> values;
  std::int64_t firstMovedCycle = -1;
  std::int64_t firstSetpointMovedCycle = -1;
  std::int64_t lastMovedCycle = -1;
  std::int64_t lastSetpointMovedCycle = -1;
  std::int64_t Lead() const { return firstSetpointMovedCycle - firstMovedCycle; }
  std::int64_t EndLead() const { return lastSetpointMovedCycle - lastMovedCycle; }
  std::int16_t Largest() const { return *std::max_element(values.begin(), values.end()); }
  std::int16_t Smallest() const { return *std::min_element(values.begin(), values.end()); }
};

// The little-endian bytes of a logged frame's data ("<id>#<hex>").
std::vector<std::uint8_t> DataOf(const LoggedFrame& frame) {
  const std::string hex = frame.text.substr(frame.text.find('#') + 1);
  std::vector<std::uint8_t> bytes;
  for (std::size_t at = 0; at + 1 < hex.size(); at += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(at, 2), nullptr, 16)));
  }
  return bytes;
}

class VelocityOutputChainTest : public HomedMachineTest {
 protected:
  VelocityOutputChainTest() : HomedMachineTest("velocity-output-chain") {}

  void TearDown() override {
    static_cast<void>(mctl_Exit());
    ChainTest::TearDown();
  }

  static bool InMotion() {
    LinkoraMotionControlStatus status{};
    EXPECT_EQ(mctl_GetStatus(&status, sizeof status), LINKORA_SUCCESS);
    return status.InMotion != 0;
  }

  template <typename Condition>
  static bool Await(Condition&& done) {
    const auto deadline = std::chrono::steady_clock::now() + kGenerous;
    while (!done()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(10ms);
    }
    return true;
  }

  std::vector<LoggedFrame> FramesSince(std::size_t seen) {
    std::vector<LoggedFrame> frames = ReadFrameLog(log_);
    frames.erase(frames.begin(),
                 frames.begin() + static_cast<std::ptrdiff_t>(std::min(seen, frames.size())));
    return frames;
  }

  // Sets the working parameters, moves X by `stroke` and reads what the
  // output sent from just before the move until it has sent 20 frames
  // after the motion ended. X's drive takes its set-points unscaled.
  Sent Move(std::int32_t stroke, std::int32_t gain, std::int32_t divisor,
            std::uint32_t delayMicroseconds) {
    Sent sent;
    const LinkoraVelPropOutputWorkPar work{1, gain, divisor, kOffset, delayMicroseconds};
    EXPECT_EQ(mctl_SetVelPropOutputWorkPar(&work, sizeof work), LINKORA_SUCCESS);
    const std::size_t seen = ReadFrameLog(log_).size();
    Position x{};
    EXPECT_EQ(mctl_GetDesiredPos(x.data(), sizeof x), LINKORA_SUCCESS);
    const std::int32_t start = x[0];
    Position move{stroke};
    EXPECT_EQ(mctl_MoveRel(move.data(), sizeof move), LINKORA_SUCCESS);
    EXPECT_TRUE(Await([] { return !InMotion(); })) << "the move never ended";
    const auto outputFramesSince = [&] {
      const auto frames = FramesSince(seen);
      return std::count_if(frames.begin(), frames.end(),
                           [](const LoggedFrame& f) { return f.id == kOutputCobId; });
    };
    const auto ended = outputFramesSince();
    EXPECT_TRUE(Await([&] { return outputFramesSince() >= ended + 20; }));
    std::int32_t previous = start;
    std::int64_t cycle = 0;
    for (const LoggedFrame& frame : FramesSince(seen)) {
      const std::vector<std::uint8_t> data = DataOf(frame);
      if (frame.id == kSyncCobId) {
        ++cycle;
      } else if (frame.id == kOutputCobId && data.size() == 2) {
        const auto value = static_cast<std::int16_t>(data[0] | (data[1] << 8));
        sent.values.push_back(value);
        if (value != kOffset && sent.firstMovedCycle < 0) sent.firstMovedCycle = cycle;
        if (value != kOffset) sent.lastMovedCycle = cycle;
      } else if (frame.id == kSetpointCobId && data.size() >= 4) {
        const auto setpoint =
            static_cast<std::int32_t>(data[0] | (data[1] << 8) | (data[2] << 16) |
                                      (static_cast<std::uint32_t>(data[3]) << 24));
        if (setpoint != start && sent.firstSetpointMovedCycle < 0) {
          sent.firstSetpointMovedCycle = cycle;
        }
        if (setpoint != previous) sent.lastSetpointMovedCycle = cycle;
        previous = setpoint;
      }
    }
    EXPECT_GT(sent.values.size(), 100u);
    EXPECT_GE(sent.firstMovedCycle, 0) << "the output never left its offset";
    EXPECT_GE(sent.firstSetpointMovedCycle, 0) << "X's set-point never moved";
    if (sent.values.empty()) sent.values.push_back(kOffset);
    return sent;
  }

  fs::path log_;
};

TEST_F(VelocityOutputChainTest, TheOutputFramesFollowThePathVelocityDelayedScaledAndCapped) {
  log_ = folder_ / "frames.log";
  ASSERT_NO_FATAL_FAILURE(StartHomedMachine(kSampleIni, log_.string()));

  LinkoraVelPropOutputActPar state{};
  ASSERT_EQ(mctl_GetVelPropOutputActPar(&state, sizeof state), LINKORA_SUCCESS);
  // The configured look-ahead: the shortest delay the output may have.
  const std::uint32_t delay = state.SmallestDelayMicroseconds;
  ASSERT_GT(delay, 0u);
  LinkoraVelPropOutputRecord record{};
  record.Mode = 1;
  record.DelayMicroseconds = delay;
  record.Direction = 1;
  record.NodeId = kOutputNode;
  record.CobId = kOutputCobId;
  record.DataLength = 2;
  record.AnswerTimeout = 20000;
  record.Period = 3000;
  ASSERT_EQ(mctl_ActivateVelPropOutputMode(&record, sizeof record), LINKORA_SUCCESS);

  // The smallest delay is the fill level in cycles.
  const auto delayCycles = static_cast<std::int64_t>(kFillLevel);
  constexpr std::int64_t kTolerance = 3;

  // 20000 units/s x 3 / 2 + 100, at the start's delay.
  const Sent delayed = Move(kStroke, 3, 2, delay);
  EXPECT_EQ(delayed.values.front(), kOffset) << "at rest before the move";
  EXPECT_EQ(delayed.Largest(), kPathVelocity * 3 / 2 + kOffset) << "at the path velocity";
  EXPECT_EQ(delayed.Smallest(), kOffset);
  EXPECT_EQ(delayed.values.back(), kOffset) << "at rest after the move";

  // X plays a set-point the drive buffer depth after its frame. Without a
  // delay the output changes as X moves, that much after the frames; the
  // delay moves it ahead of X's motion by its cycles, from the start of the
  // move to its end.
  const Sent undelayed = Move(-kStroke, 3, 2, 0);
  EXPECT_EQ(undelayed.Largest(), kPathVelocity * 3 / 2 + kOffset);
  const auto played = static_cast<std::int64_t>(kDriveBufferDepth);
  EXPECT_NEAR(undelayed.EndLead(), -played, kTolerance);
  EXPECT_NEAR(delayed.Lead(), delayCycles - played, kTolerance);
  EXPECT_NEAR(delayed.EndLead(), delayCycles - played, kTolerance);

  // 20000 units/s x -10 + 100 lies beyond two bytes: -32767, the sign kept.
  const Sent capped = Move(kStroke, -10, 1, delay);
  EXPECT_EQ(capped.Smallest(), -32767);
  EXPECT_EQ(capped.Largest(), kOffset);
  EXPECT_EQ(capped.values.back(), kOffset);

  ASSERT_EQ(mctl_DeactivateVelPropOutputMode(), LINKORA_SUCCESS);
  EXPECT_EQ(mctl_Exit(), LINKORA_SUCCESS);
  ExpectNothingLeft();
}

}  // namespace
}  // namespace vantor::examples_test
