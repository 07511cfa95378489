#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include "sim/canopen/tests/node_harness.h"
#include "sim/drives/handwheel_gateway.h"
#include "sim/drives/io_module.h"

namespace vantor::sim::drives {
namespace {

using namespace canopen::nodetest;

template <typename Device>
class DeviceHarness {
 public:
  DeviceHarness() : device(node.Core()) {
    node.Core().SetApplication(&device);
    node.Boot();
    node.StartNode();
    node.AdvanceTo(node.now + kMs);
    node.sent.clear();
  }

  std::vector<CanFrame> AfterAMillisecond() {
    node.AdvanceTo(node.now + kMs);
    return node.Take();
  }

  NodeHarness node;
  Device device;
};

TEST(IoModuleTest, InputChangeIsSentAndOutputsFollowTheirPdo) {
  DeviceHarness<IoModule> io;
  const auto id = io.node.Id();
  EXPECT_THAT(io.AfterAMillisecond(), IsEmpty());
  io.device.SetInputs(1, 0xA5);
  EXPECT_THAT(io.AfterAMillisecond(),
              ElementsAre(Frame(static_cast<std::uint16_t>(0x180 + id), {0x00, 0xA5})));
  EXPECT_THAT(io.AfterAMillisecond(), IsEmpty());

  io.node.Receive(Frame(static_cast<std::uint16_t>(0x200 + id), {0x0F, 0xF0}));
  EXPECT_EQ(io.device.Output(0), 0x0F);
  EXPECT_EQ(io.device.Output(1), 0xF0);
  // Outputs by SDO too; inputs cannot be written.
  EXPECT_EQ(io.node.Sdo({0x2F, 0x00, 0x62, 0x02, 0x33, 0, 0, 0})[0].data[0], 0x60);
  EXPECT_EQ(io.device.Output(1), 0x33);
  EXPECT_EQ(io.node.Sdo({0x2F, 0x00, 0x60, 0x01, 0x33, 0, 0, 0})[0].data[0], 0x80);
  EXPECT_EQ(io.device.Output(2), 0);  // no third byte
}

TEST(IoModuleTest, LostMasterSetsTheOutputsToTheirErrorValues) {
  DeviceHarness<IoModule> io;
  const auto id = io.node.Id();
  io.node.Receive(Frame(static_cast<std::uint16_t>(0x200 + id), {0xFF, 0xAA}));
  // Byte 1: only the low nibble takes its error value 0x05; byte 2 keeps
  // the defaults (every bit to 0).
  EXPECT_EQ(io.node.Sdo({0x2F, 0x06, 0x62, 0x01, 0x0F, 0, 0, 0})[0].data[0], 0x60);
  EXPECT_EQ(io.node.Sdo({0x2F, 0x07, 0x62, 0x01, 0x05, 0, 0, 0})[0].data[0], 0x60);
  io.node.Sdo({0x2B, 0x0C, 0x10, 0x00, 100, 0x00});
  io.node.Sdo({0x2F, 0x0D, 0x10, 0x00, 3});
  io.node.Exchange(Remote(static_cast<std::uint16_t>(0x700 + id)));
  io.node.AdvanceTo(io.node.now + 300 * kMs - 1);
  EXPECT_EQ(io.device.Output(0), 0xFF);
  EXPECT_EQ(io.device.Output(1), 0xAA);
  io.node.AdvanceTo(io.node.now + 1);
  EXPECT_EQ(io.device.Output(0), 0xF5);
  EXPECT_EQ(io.device.Output(1), 0x00);
}

TEST(HandwheelGatewayTest, CounterChangeArrivesInItsTransmitPdo) {
  DeviceHarness<HandwheelGateway> gateway;
  const auto tpdo = static_cast<std::uint16_t>(0x180 + gateway.node.Id());
  gateway.device.TurnWheel(5);
  EXPECT_THAT(gateway.AfterAMillisecond(), ElementsAre(Frame(tpdo, {0x00, 0x00, 0x05, 0x00})));
  // The counter wraps at 16 bits, turning back past zero.
  gateway.device.TurnWheel(-10);
  EXPECT_THAT(gateway.AfterAMillisecond(), ElementsAre(Frame(tpdo, {0x00, 0x00, 0xFB, 0xFF})));
  gateway.device.PressButtons(0x04, 0x80);
  EXPECT_THAT(gateway.AfterAMillisecond(), ElementsAre(Frame(tpdo, {0x04, 0x80, 0xFB, 0xFF})));
  gateway.node.sent.clear();
  gateway.node.Receive(Remote(tpdo));
  EXPECT_THAT(gateway.node.Take(), ElementsAre(Frame(tpdo, {0x04, 0x80, 0xFB, 0xFF})));
}

TEST(HandwheelGatewayTest, OutputsByPdoAndTheKernelsSyncIdentifier) {
  DeviceHarness<HandwheelGateway> gateway;
  const auto id = gateway.node.Id();
  gateway.node.Receive(Frame(static_cast<std::uint16_t>(0x200 + id), {0x01, 0x02}));
  EXPECT_EQ(gateway.device.Output(0), 0x01);
  EXPECT_EQ(gateway.device.Output(1), 0x02);
  EXPECT_EQ(gateway.node.Sdo({0x23, 0x05, 0x10, 0x00, 0x80, 0x07, 0, 0})[0].data[0], 0x60);
  EXPECT_EQ(gateway.node.Objects().Unsigned(0x1005, 0), 0x780u);
}

}  // namespace
}  // namespace vantor::sim::drives
