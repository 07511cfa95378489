// The 82527 routines as register traces: each operation's exact accesses in
// order, and how the read routines judge what the controller answers.
#include "drivers/canlayer/controller_82527.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <vector>

namespace vantor::canlayer {
namespace {

struct Access {
  char kind;  // 'R' or 'W'
  std::uint8_t address;
  std::uint8_t value;
  friend bool operator==(const Access&, const Access&) = default;
};

std::ostream& operator<<(std::ostream& out, const Access& access) {
  return out << access.kind << " 0x" << std::hex << int{access.address} << " 0x"
             << int{access.value} << std::dec;
}

// A controller whose answers the test scripts: per register a queue of
// values, then a default. Records every access.
class ScriptedBus final : public ControllerBus {
 public:
  std::uint8_t Read(std::uint8_t address) override {
    std::uint8_t value = defaults_.contains(address) ? defaults_[address] : 0x55;
    auto& queue = scripted_[address];
    if (!queue.empty()) {
      value = queue.front();
      queue.pop_front();
    }
    trace_.push_back({'R', address, value});
    return value;
  }
  void Write(std::uint8_t address, std::uint8_t value) override {
    trace_.push_back({'W', address, value});
  }

  void Answer(std::uint8_t address, std::initializer_list<std::uint8_t> values) {
    scripted_[address].insert(scripted_[address].end(), values);
  }
  void Default(std::uint8_t address, std::uint8_t value) { defaults_[address] = value; }
  std::vector<Access> Take() { return std::exchange(trace_, {}); }

 private:
  std::map<std::uint8_t, std::deque<std::uint8_t>> scripted_;
  std::map<std::uint8_t, std::uint8_t> defaults_;
  std::vector<Access> trace_;
};

class ControllerTraceTest : public ::testing::Test {
 protected:
  ScriptedBus bus_;
  devhost::CardLock card_;
  Controller82527 controller_{bus_, card_};
};

constexpr FrameData kData{0xAA, 0xBB, 0xCC, 0xDD, 0x11, 0x22, 0x33, 0x44};

TEST_F(ControllerTraceTest, DetectClockAndBusSetUp) {
  bus_.Answer(0x02, {0x61});
  bus_.Answer(0xCF, {0xBC});
  ASSERT_TRUE(controller_.DetectController());
  EXPECT_EQ(bus_.Take(), (std::vector<Access>{{'R', 0x02, 0x61},
                                              {'W', 0xEF, 0xFC},
                                              {'W', 0x00, 0x41},
                                              {'W', 0xAF, 0x3F},
                                              {'W', 0x00, 0x00},
                                              {'R', 0xCF, 0xBC}}));
  EXPECT_EQ(controller_.Port2Shadow(), 0xFC);

  controller_.InitControllerClock(4);
  EXPECT_EQ(bus_.Take(), (std::vector<Access>{{'W', 0x00, 0x41},
                                              {'W', 0x02, 0x41},
                                              {'W', 0x1F, 0x33},
                                              {'W', 0x00, 0x00},
                                              {'W', 0xEF, 0xF8}}));

  ASSERT_TRUE(controller_.InitControllerBus(3));
  std::vector<Access> expected{
      {'W', 0x00, 0x41}, {'W', 0x2F, 0x08}, {'W', 0x3F, 0x43}, {'W', 0x4F, 0x49}};
  for (int n = 1; n <= 15; ++n) expected.push_back({'W', static_cast<std::uint8_t>(16 * n), 0x7F});
  expected.push_back({'W', 0x00, 0x00});
  expected.push_back({'W', 0xEF, 0xE8});
  EXPECT_EQ(bus_.Take(), expected);
}

TEST_F(ControllerTraceTest, ClockOutByDivider) {
  const std::pair<std::uint8_t, std::uint8_t> cases[] = {{1, 0x20}, {2, 0x31}, {15, 0x3E}};
  for (const auto& [divider, clockOut] : cases) {
    SCOPED_TRACE(int{divider});
    controller_.InitControllerClock(divider);
    const auto trace = bus_.Take();
    ASSERT_EQ(trace.size(), 5u);
    EXPECT_EQ(trace[2], (Access{'W', 0x1F, clockOut}));
  }
}

TEST_F(ControllerTraceTest, DetectionFailures) {
  bus_.Answer(0x02, {0x80});
  EXPECT_FALSE(controller_.DetectController()) << "held in hardware reset";
  EXPECT_EQ(bus_.Take().size(), 1u) << "nothing written to a controller in reset";
  for (std::uint8_t port2 : {0xC0, 0x40, 0x00, 0xFF}) {
    SCOPED_TRACE(int{port2});
    bus_.Answer(0x02, {0x61});
    bus_.Answer(0xCF, {port2});
    EXPECT_FALSE(controller_.DetectController());
  }
  bus_.Answer(0x02, {0x61});
  bus_.Answer(0xCF, {0x80});
  EXPECT_TRUE(controller_.DetectController());
  EXPECT_FALSE(controller_.InitControllerBus(6)) << "800 kbit/s has no timing";
  EXPECT_FALSE(controller_.InitControllerBus(8));
}

// Object 3 set up to send identifier 0x181 (arbitration 0x30 0x20).
const std::vector<Access> kTransmitter3For181{
    {'W', 0x30, 0x7F}, {'W', 0x32, 0x30}, {'W', 0x33, 0x20}, {'W', 0x34, 0x00},
    {'W', 0x35, 0x00}, {'W', 0x36, 0x08}, {'W', 0x31, 0x59}, {'W', 0x30, 0x95}};

// The object whose registers start at `base` set up to receive identifier
// 0x281 (arbitration 0x50 0x20); `validate` is the last control-0 value.
std::vector<Access> ReceiverFor281(std::uint8_t base, std::uint8_t validate) {
  const auto at = [base](int offset) { return static_cast<std::uint8_t>(base + offset); };
  return {{'R', at(1), 0x55}, {'W', at(0), 0x7F}, {'W', at(2), 0x50},
          {'W', at(3), 0x20}, {'W', at(4), 0x00}, {'W', at(5), 0x00},
          {'W', at(6), 0x00}, {'W', at(1), 0x55}, {'W', at(0), validate}};
}

TEST_F(ControllerTraceTest, MasksAndMessageObjectOperations) {
  struct Case {
    const char* name;
    std::function<void()> operation;
    std::vector<Access> trace;
  };
  const Case cases[] = {
      {"global standard mask",
       [&] { controller_.SetGlobalStandardMask(0x123); },
       {{'W', 0x06, 0x24}, {'W', 0x07, 0x7F}}},
      {"message-15 mask",
       [&] { controller_.SetMessage15Mask(0x123); },
       {{'W', 0x0C, 0x24}, {'W', 0x0D, 0x60}, {'W', 0x0E, 0x00}, {'W', 0x0F, 0x00}}},
      {"invalidate", [&] { controller_.InvalidateMessageObject(9); }, {{'W', 0x90, 0x7F}}},
      {"configure transmitter", [&] { controller_.ConfigureTransmitObject(3, 0x181); },
       kTransmitter3For181},
      {"identifier cut to 11 bits", [&] { controller_.ConfigureTransmitObject(3, 0xF981); },
       kTransmitter3For181},
      {"load and send",
       [&] { controller_.LoadAndSend(3, 0x181, 2, kData); },
       {{'W', 0x30, 0x7F},
        {'W', 0x32, 0x30},
        {'W', 0x33, 0x20},
        {'W', 0x36, 0x28},
        {'W', 0x37, 0xAA},
        {'W', 0x38, 0xBB},
        {'W', 0x31, 0x66},
        {'W', 0x30, 0x95}}},
      {"update and send",
       [&] { controller_.UpdateAndSend(3, 1, kData); },
       {{'W', 0x31, 0xFB}, {'W', 0x36, 0x18}, {'W', 0x37, 0xAA}, {'W', 0x31, 0xE6}}},
      {"request transmission", [&] { controller_.RequestTransmission(3); }, {{'W', 0x31, 0xE6}}},
      {"remote request",
       [&] { controller_.RemoteRequest(4, 0x701); },
       {{'W', 0x40, 0x7F},
        {'W', 0x42, 0xE0},
        {'W', 0x43, 0x20},
        {'W', 0x46, 0x00},
        {'W', 0x41, 0x65},
        {'W', 0x40, 0x95}}},
      {"configure receiver", [&] { controller_.ConfigureReceiveObject(5, 0x281); },
       ReceiverFor281(0x50, 0x95)},
      {"configure object 15", [&] { controller_.ConfigureReceiveObject(15, 0x281); },
       ReceiverFor281(0xF0, 0x99)},
      {"transmit state", [&] { (void)controller_.GetTransmitState(2); }, {{'R', 0x21, 0x55}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.operation();
    EXPECT_EQ(bus_.Take(), c.trace);
  }
}

TEST_F(ControllerTraceTest, NeverWritesPastTheEighthDataByte) {
  controller_.LoadAndSend(2, 0x100, 12, kData);
  const auto trace = bus_.Take();
  EXPECT_EQ(trace[3], (Access{'W', 0x26, 0x88}));
  for (const Access& access : trace) EXPECT_LE(access.address, 0x2E);
}

TEST_F(ControllerTraceTest, TransmitStateFromControlOne) {
  const std::pair<std::uint8_t, TransmitState> cases[] = {
      {0x55, TransmitState::kSent},           {0x65, TransmitState::kPending},
      {0xA6, TransmitState::kPending},        {0x95, TransmitState::kSent},
      {0x75, TransmitState::kControlInvalid}, {0x54, TransmitState::kControlInvalid}};
  for (const auto& [control, state] : cases) {
    SCOPED_TRACE(int{control});
    bus_.Answer(0x31, {control});
    EXPECT_EQ(controller_.GetTransmitState(3), state);
  }
}

TEST_F(ControllerTraceTest, ReadObjectJudgesEachAnswer) {
  // Control 1: NewDat pair low, MsgLst pair next, TxRqst, RmtPnd.
  constexpr std::uint8_t kNoNewData = 0x55;
  constexpr std::uint8_t kNewData = 0x56;
  constexpr std::uint8_t kNewDataLost = 0x5A;
  constexpr std::uint8_t kLostNoNewData = 0x59;
  struct Case {
    const char* name;
    std::initializer_list<std::uint8_t> control1;
    std::uint8_t configuration;
    ObjectReadResult result;
  };
  const Case cases[] = {
      {"nothing new", {kNoNewData}, 0x20, ObjectReadResult::kNothingNew},
      {"invalid control", {0x57}, 0x20, ObjectReadResult::kControllerError},
      {"one frame", {kNewData, kNoNewData}, 0x20, ObjectReadResult::kFrame},
      {"frame after a loss", {kNewDataLost, kNoNewData}, 0x20, ObjectReadResult::kFrameAfterLoss},
      {"frame changed while read",
       {kNewData, kNewData, kNoNewData},
       0x20,
       ObjectReadResult::kFrameAfterLoss},
      {"three collisions",
       {kNewData, kNewData, kNewData, kNewData},
       0x20,
       ObjectReadResult::kNoStableFrame},
      {"collision with a lost frame counts twice",
       {kNewData, kNewDataLost, kNewData},
       0x20,
       ObjectReadResult::kNoStableFrame},
      {"length 9 is an error", {kNewData}, 0x90, ObjectReadResult::kControllerError},
      {"invalid control after the read",
       {kNewData, 0xFF},
       0x20,
       ObjectReadResult::kControllerError},
      {"lost without new data", {kLostNoNewData}, 0x20, ObjectReadResult::kNothingNew},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedBus bus;
    Controller82527 controller(bus, card_);
    bus.Answer(0x71, c.control1);
    bus.Default(0x71, kNoNewData);
    bus.Default(0x76, c.configuration);
    bus.Answer(0x77, {0x10, 0x21, 0x32});
    const ObjectRead read = controller.ReadObject(7);
    EXPECT_EQ(read.result, c.result);
  }
}

TEST_F(ControllerTraceTest, ReadObjectTakesTheNewerFrameAfterACollision) {
  bus_.Answer(0x71, {0x56, 0x56, 0x55});
  bus_.Default(0x76, 0x20);
  bus_.Answer(0x77, {0x01, 0x03});
  bus_.Answer(0x78, {0x02, 0x04});
  const ObjectRead read = controller_.ReadObject(7);
  EXPECT_EQ(read.result, ObjectReadResult::kFrameAfterLoss);
  EXPECT_EQ(read.length, 2);
  EXPECT_EQ(read.data[0], 0x03);
  EXPECT_EQ(read.data[1], 0x04);
  const auto trace = bus_.Take();
  EXPECT_EQ(trace[1], (Access{'W', 0x71, 0xF5})) << "frame taken before it is read";
}

TEST_F(ControllerTraceTest, ReadObject15TwoBuffers) {
  bus_.Answer(0xF1, {0x56, 0x56, 0x5A});
  bus_.Default(0xF6, 0x10);
  bus_.Answer(0xF7, {0x77, 0x88});
  bus_.Answer(0xF2, {0x50, 0x50});
  bus_.Answer(0xF3, {0x20, 0x40});
  const Object15Read read = controller_.ReadObject15();
  EXPECT_EQ(read.result, Object15ReadResult::kTwoFramesWithLoss);
  EXPECT_EQ(read.frames[0].cobId, 0x281);
  EXPECT_EQ(read.frames[0].data[0], 0x77);
  EXPECT_EQ(read.frames[1].cobId, 0x282);
  EXPECT_EQ(read.frames[1].length, 1);
  EXPECT_EQ(read.frames[1].data[0], 0x88);
  const auto trace = bus_.Take();
  EXPECT_EQ(trace[5], (Access{'W', 0xF1, 0x7D})) << "first buffer released";
  EXPECT_EQ(trace.back(), (Access{'W', 0xF1, 0x75}));

  bus_.Answer(0xF1, {0x56, 0x55});
  EXPECT_EQ(controller_.ReadObject15().result, Object15ReadResult::kOneFrame);
  bus_.Answer(0xF1, {0x56});
  bus_.Answer(0xF6, {0x90});
  EXPECT_EQ(controller_.ReadObject15().result, Object15ReadResult::kControllerError);
}

TEST_F(ControllerTraceTest, BusOffRecoveryMakesExactlyFourRestarts) {
  bus_.Default(0x01, 0x80);
  bus_.Default(0x00, 0x00);
  EXPECT_TRUE(controller_.RecoverBusOff());
  std::vector<Access> expected;
  for (int restart = 0; restart < 4; ++restart) {
    expected.push_back({'R', 0x01, 0x80});
    expected.push_back({'R', 0x00, 0x00});
    expected.push_back({'W', 0x00, 0x40});
    expected.push_back({'W', 0x00, 0x00});
  }
  EXPECT_EQ(bus_.Take(), expected) << "no status read after the fourth restart";

  bus_.Answer(0x01, {0x80, 0x00});
  bus_.Answer(0x00, {0x41});
  EXPECT_FALSE(controller_.RecoverBusOff());
  EXPECT_EQ(bus_.Take(), (std::vector<Access>{{'R', 0x01, 0x80},
                                              {'R', 0x00, 0x41},
                                              {'W', 0x00, 0x41},
                                              {'W', 0x00, 0x00},
                                              {'R', 0x01, 0x00}}));
}

TEST_F(ControllerTraceTest, LedsToggleInThePort2Shadow) {
  bus_.Answer(0x02, {0x61});
  bus_.Answer(0xCF, {0xBC});
  ASSERT_TRUE(controller_.DetectController());
  bus_.Take();
  controller_.ToggleLeds();
  controller_.ToggleLeds();
  controller_.SetPort2Bits(0x20);
  EXPECT_EQ(bus_.Take(),
            (std::vector<Access>{{'W', 0xEF, 0xFF}, {'W', 0xEF, 0xFC}, {'W', 0xEF, 0xFC}}));
  EXPECT_FALSE(controller_.LedsOn());
}

}  // namespace
}  // namespace vantor::canlayer
