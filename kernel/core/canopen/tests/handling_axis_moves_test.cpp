#include "kernel/core/canopen/handling_axis_moves.h"

#include <gtest/gtest.h>

#include <vector>

#include "kernel/core/canopen/tests/canopen_test_support.h"

namespace vantor::canopen {
namespace {

using testing::LoggedFrame;

constexpr common::StatusCode kOk = common::kKernelSuccess;

LoggedFrame Download(std::uint16_t index, std::uint8_t size, std::uint32_t value) {
  const std::uint8_t specifier = size == 1 ? 0x2F : size == 2 ? 0x2B : 0x23;
  LoggedFrame frame{0x605,
                    static_cast<std::uint8_t>(4 + size),
                    {specifier, static_cast<std::uint8_t>(index),
                     static_cast<std::uint8_t>(index >> 8), 0, 0, 0, 0, 0}};
  for (std::uint8_t i = 0; i < size; ++i)
    frame.data[4 + i] = static_cast<std::uint8_t>(value >> (8 * i));
  return frame;
}

class HandlingAxisMoves : public ::testing::Test {
 protected:
  HandlingAxisMoves() : nodes({5}), server(5), host(nodes.table, bus), context{host, nodes.table} {
    for (const std::uint16_t index : {0x6040, 0x6060, 0x607A, 0x6081, 0x6082, 0x6083, 0x60FF}) {
      server.Define(index, 0, 4, 0);
    }
    bus.Attach(server);
  }

  testing::TestNodes nodes;
  testing::SdoServer server;
  testing::FakeBus bus;
  testing::FakeHost host;
  ServiceContext context;
};

TEST_F(HandlingAxisMoves, ProfilePositionMoveWritesItsObjectsThenStarts) {
  EXPECT_EQ(StartProfilePositionMove(context, 0, 5000, 1200, -40000), kOk);
  EXPECT_EQ(bus.frames,
            (std::vector<LoggedFrame>{Download(0x6083, 4, 5000), Download(0x6081, 4, 1200),
                                      Download(0x6082, 4, 0),
                                      Download(0x607A, 4, static_cast<std::uint32_t>(-40000)),
                                      Download(0x6040, 2, 0x000F), Download(0x6040, 2, 0x003F)}));
}

TEST_F(HandlingAxisMoves, VelocityMovesAndHalt) {
  EXPECT_EQ(StartProfileVelocityMove(context, 0, 800, -300), kOk);
  EXPECT_EQ(SetVelocityModeHalted(context, 0), kOk);
  EXPECT_EQ(bus.frames,
            (std::vector<LoggedFrame>{Download(0x6083, 4, 800),
                                      Download(0x60FF, 4, static_cast<std::uint32_t>(-300)),
                                      Download(0x6040, 2, 0x000F), Download(0x6040, 2, 0x010F),
                                      Download(0x60FF, 4, 0), Download(0x6060, 1, 3)}));
}

TEST_F(HandlingAxisMoves, FirstFailingWriteEndsTheSequence) {
  testing::SdoServer lacking(5);
  lacking.Define(0x6083, 0, 4, 0);
  testing::FakeBus otherBus;
  otherBus.Attach(lacking);
  testing::FakeHost otherHost(nodes.table, otherBus);
  ServiceContext otherContext{otherHost, nodes.table};
  EXPECT_EQ(StartProfilePositionMove(otherContext, 0, 1, 2, 3), common::kKernelOperationFailed);
  // The acceleration went through, the velocity was asked three times.
  EXPECT_EQ(otherBus.frames.size(), 4u);
  EXPECT_EQ(nodes[0].request.lastResult, common::kKernelCanMessageInvalid);
}

}  // namespace
}  // namespace vantor::canopen
