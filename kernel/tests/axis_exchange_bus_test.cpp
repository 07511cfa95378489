// The exchange of two interpolated axes over the real channel-1 driver and
// simulated drives: the lines of the first coordinate move the drive that
// was the second axis, and a second exchange gives each drive its own
// coordinate back.
#include <gtest/gtest.h>

#include <cstdint>

#include "common/command_codes.h"
#include "kernel/tests/motion_bus_fixture.h"

namespace vantor::kernel {
namespace {

using testing::kOk;
using testing::MotionOnTheBus;

// X on drive 1, Y on drive 2, until they are exchanged.
class AxisExchangeOnTheBusTest : public MotionOnTheBus {
 protected:
  AxisExchangeOnTheBusTest() : MotionOnTheBus({}) {}

  common::StatusCode Exchange(std::uint32_t a, std::uint32_t b) {
    namespace cb = common::communication_block;
    static_cast<void>(kernel_.Block().Store<std::uint32_t>(cb::PayloadAt(0), a));
    static_cast<void>(kernel_.Block().Store<std::uint32_t>(cb::PayloadAt(4), b));
    return Run(static_cast<std::uint32_t>(common::CommandCode::ExchangeInterAxis));
  }

  bool MotionEnded() {
    return WaitFor([](KernelData& data) { return data.state.motionActive == 0; });
  }
};

TEST_F(AxisExchangeOnTheBusTest, TheFirstCoordinateDrivesTheOtherDriveUntilExchangedBack) {
  ASSERT_EQ(Exchange(0, 1), kOk);
  QueueLines({{1000.0, -400.0}});
  ASSERT_TRUE(MotionEnded());
  EXPECT_TRUE(WaitForPositions(-400, 1000))
      << "drives at " << PositionOf(1) << ", " << PositionOf(2);

  // The lines start where the exchanged coordinates stand.
  ASSERT_EQ(Exchange(1, 0), kOk);
  QueueLines({{300.0, 700.0}});
  ASSERT_TRUE(MotionEnded());
  EXPECT_TRUE(WaitForPositions(300, 700)) << "drives at " << PositionOf(1) << ", " << PositionOf(2);
  for (std::uint8_t id : {1, 2}) {
    EXPECT_EQ(Models([&](sim::Machine&) { return Drive(id).DroppedSetPoints(); }), 0u)
        << "drive " << int{id};
  }
}

}  // namespace
}  // namespace vantor::kernel
