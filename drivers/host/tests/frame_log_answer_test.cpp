// A full frame log read over the control endpoint's own socket: every line
// kept arrives, in order, and nothing taken from the log is lost on the way.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "drivers/host/tests/control_endpoint_fixture.h"

namespace vantor::host::testing {
namespace {

class FrameLogAnswerTest : public ControlEndpointFixture {
 protected:
  // Puts `count` eight-byte frames on can0, the frame's number in its data.
  void SendNumberedFrames(std::size_t count) {
    SimulationPump::ModelAccess access(machine_->Pump());
    sim::CanBus* bus = machine_->Models().FindBus("can0");
    for (std::size_t number = 0; number < count; ++number) {
      sim::CanFrame frame;
      frame.identifier = 0x181;
      frame.length = 8;
      for (unsigned byte = 0; byte < 8; ++byte) {
        frame.data[byte] = static_cast<std::uint8_t>(number >> (8 * (7 - byte)));
      }
      bus->DeliverNow(frame);
    }
  }

  static std::string NumberedLine(std::size_t number) {
    char text[64];
    std::snprintf(text, sizeof(text), "(0000000000.000000) can0 181#%016zX\n", number);
    return text;
  }
};

TEST_F(FrameLogAnswerTest, AFullLogArrivesWholeAndInOrder) {
  constexpr std::size_t kDropped = 100;
  SendNumberedFrames(FrameLog::kCapacity + kDropped);

  const std::string answer = client_->Command("frame-log");
  const std::size_t lineLength = NumberedLine(0).size();
  ASSERT_EQ(answer.size(), FrameLog::kCapacity * lineLength) << answer.substr(0, 200);
  std::size_t wrong = 0;
  for (std::size_t line = 0; line < FrameLog::kCapacity; ++line) {
    if (answer.compare(line * lineLength, lineLength, NumberedLine(kDropped + line)) != 0) ++wrong;
  }
  EXPECT_EQ(wrong, 0u);

  // The session goes on, and the log holds only what came after.
  EXPECT_EQ(client_->Command("frame-log"), "");
  SendNumberedFrames(1);
  EXPECT_EQ(client_->Command("frame-log"), NumberedLine(0));
}

}  // namespace
}  // namespace vantor::host::testing
