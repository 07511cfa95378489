#include "kernel/core/canopen/stop_on_input_plan.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "kernel/core/canopen/stop_on_input_drives.h"

namespace vantor::canopen {
namespace {

// Three interpolated axes (nodes 1 to 3); axis 1 carries one slave (node 9).
StopOnInputMachine Gantry() {
  StopOnInputMachine m;
  m.interpolatedCount = 3;
  m.nodeId = {1, 2, 3};
  m.slaveCount = {0, 1, 0};
  m.slaveNodeId[1][0] = 9;
  m.maxAcceleration = {100, 200, 300};
  return m;
}

StopOnInputMachine Plain() {
  StopOnInputMachine m = Gantry();
  m.slaveCount = {};
  return m;
}

StopOnInputParameters Mode(std::uint8_t mode) {
  StopOnInputParameters p;
  p.mode = mode;
  p.inputMask = 0x30;
  p.inputLevels = 0x10;
  return p;
}

TEST(ValidateStopOnInputPar, RefusesAndCompletesRecords) {
  struct Case {
    std::string name;
    StopOnInputMachine machine;
    std::function<void(StopOnInputParameters&)> set;
    bool cobIdFree;
    bool valid;
    std::function<void(const StopOnInputParameters&)> expect;
  };
  const auto none = [](const StopOnInputParameters&) {};
  const std::vector<Case> cases = {
      {"off", Plain(), [](auto& p) { p.mode = 0; }, false, true, none},
      {"unknown mode", Plain(), [](auto& p) { p.mode = 4; }, true, false, none},
      {"module", Plain(),
       [](auto& p) {
         p.mode = 1;
         p.sourceNodeId = 20;
         p.sourceCobId = 0x194;
         p.sourceValid = 1;
       },
       true, true,
       [](const auto& p) {
         EXPECT_EQ(p.sourceNodeId, 20);
         EXPECT_EQ(p.sourceCobId, 0x194);
       }},
      {"module on a used identifier", Plain(),
       [](auto& p) {
         p.mode = 1;
         p.sourceValid = 1;
       },
       false, false, none},
      {"module not marked valid", Plain(), [](auto& p) { p.mode = 1; }, true, false, none},
      {"mask cut to the interpolated axes", Plain(),
       [](auto& p) {
         p.mode = 3;
         p.axisMask = 0xF6;
         p.inputSlave = 5;
       },
       false, true,
       [](const auto& p) {
         EXPECT_EQ(p.axisMask, 0x6u);
         EXPECT_EQ(p.inputAxis, 1);
         EXPECT_EQ(p.inputSlave, -1);
         EXPECT_EQ(p.sourceNodeId, 2);
         EXPECT_EQ(p.sourceCobId, 0x382);
         EXPECT_EQ(p.sourceValid, 1u);
       }},
      {"mask beyond the interpolated axes", Plain(),
       [](auto& p) {
         p.mode = 3;
         p.axisMask = 0x18;
       },
       true, false, none},
      {"one drive: own drive", Plain(),
       [](auto& p) {
         p.mode = 2;
         p.inputAxis = 2;
       },
       false, true, [](const auto& p) { EXPECT_EQ(p.sourceCobId, 0x383); }},
      {"one drive: slave drive", Gantry(),
       [](auto& p) {
         p.mode = 2;
         p.inputAxis = 1;
         p.inputSlave = 0;
       },
       false, true,
       [](const auto& p) {
         EXPECT_EQ(p.sourceNodeId, 9);
         EXPECT_EQ(p.sourceCobId, 0x389);
       }},
      {"one drive: slave of an axis without one", Gantry(),
       [](auto& p) {
         p.mode = 2;
         p.inputAxis = 0;
         p.inputSlave = 0;
       },
       true, false, none},
      {"one drive: slave below -1", Gantry(),
       [](auto& p) {
         p.mode = 2;
         p.inputSlave = -2;
       },
       true, false, none},
      {"one drive: axis beyond the interpolated", Plain(),
       [](auto& p) {
         p.mode = 2;
         p.inputAxis = 3;
       },
       true, false, none},
      {"one drive: negative axis", Plain(),
       [](auto& p) {
         p.mode = 2;
         p.inputAxis = -1;
       },
       true, false, none},
      {"subindex 6 value not 0", Plain(),
       [](auto& p) {
         p.mode = 2;
         p.subindex6Value = 1;
       },
       true, false, none},
  };
  for (const Case& c : cases) {
    StopOnInputParameters p;
    p.inputSlave = -1;
    c.set(p);
    EXPECT_EQ(ValidateStopOnInputPar(p, c.machine, [&](auto, auto) { return c.cobIdFree; }),
              c.valid)
        << c.name;
    if (c.valid) c.expect(p);
  }
}

TEST(StopOnInputAxisRole, FollowsModeSlavesAndPass) {
  struct Case {
    std::string name;
    StopOnInputMachine machine;
    StopOnInputParameters p;
    std::uint32_t axis;
    std::int32_t pass;
    StopOnInputRole role;
  };
  StopOnInputParameters mask = Mode(3);
  mask.axisMask = 0x2;
  StopOnInputParameters own = Mode(2);
  own.inputAxis = 1;
  StopOnInputParameters slave = Mode(2);
  slave.inputAxis = 1;
  slave.inputSlave = 0;
  const std::vector<Case> cases = {
      {"off", Plain(), Mode(0), 0, -1, {0, 0}},
      {"module, no slaves", Plain(), Mode(1), 0, -1, {1, 0}},
      {"module, axis without slave", Gantry(), Mode(1), 0, -1, {1, 0}},
      {"module, gantry axis own drive", Gantry(), Mode(1), 1, -1, {0, 0}},
      {"module, gantry axis slave drive", Gantry(), Mode(1), 1, 0, {1, 0}},
      {"mask, axis inside, own drive", Gantry(), mask, 1, -1, {2, 1}},
      {"mask, axis inside, slave drive", Gantry(), mask, 1, 0, {1, 0}},
      {"mask, axis outside", Gantry(), mask, 2, -1, {1, 0}},
      {"one drive, selected own drive", Gantry(), own, 1, -1, {2, 1}},
      {"one drive, slave of the selected axis", Gantry(), own, 1, 0, {1, 0}},
      {"one drive, other axis", Gantry(), own, 0, -1, {1, 0}},
      {"one drive, selected slave drive", Gantry(), slave, 1, 0, {2, 1}},
      {"one drive, own drive beside a selected slave", Gantry(), slave, 1, -1, {1, 0}},
      {"axis beyond the interpolated", Plain(), Mode(1), 3, -1, {0, 0}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StopOnInputAxisRole(c.p, c.machine, c.axis, c.pass), c.role) << c.name;
  }
}

// A pass's writes as "sub:value,value,..." over the masked axes.
std::vector<std::string> Describe(const StopOnInputWrites& writes) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < writes.count; ++i) {
    const StopOnInputWrite& w = writes.writes[i];
    std::string s = std::to_string(w.subindex) + "/" + std::to_string(w.size) + ":";
    for (std::uint32_t a = 0; a < kMaxNodes; ++a) {
      if ((w.axes & (1u << a)) == 0) continue;
      s += (s.back() == ':' ? "" : ",") + std::to_string(a) + "=" + std::to_string(w.values[a]);
    }
    out.push_back(s);
  }
  return out;
}

TEST(StopOnInputPassWrites, SequencePerModeAndPass) {
  using V = std::vector<std::string>;
  StopOnInputParameters mask = Mode(3);
  mask.axisMask = 0x2;
  mask.subindex7Flag = 7;
  StopOnInputParameters own = Mode(2);
  own.inputAxis = 1;
  StopOnInputParameters slave = Mode(2);
  slave.inputAxis = 1;
  slave.inputSlave = 0;
  struct Case {
    std::string name;
    StopOnInputParameters p;
    std::int32_t pass;
    bool on;
    V writes;
  };
  const std::vector<Case> cases = {
      {"module, own drives",
       Mode(1),
       -1,
       true,
       {"11/1:0=0,1=0,2=0", "1/1:0=0,1=0,2=0", "2/1:0=1,1=0,2=1", "3/4:0=100,1=200,2=300",
        "4/1:0=0,1=0,2=0", "9/1:0=48,1=48,2=48", "10/1:0=16,1=16,2=16", "1/1:0=1,1=1,2=1"}},
      {"module, slave pass",
       Mode(1),
       0,
       true,
       {"11/1:1=0", "1/1:1=0", "2/1:1=1", "3/4:1=200", "4/1:1=0", "9/1:1=48", "10/1:1=16",
        "1/1:1=1"}},
      {"mask, own drives",
       mask,
       -1,
       true,
       {"11/1:0=0,1=0,2=0", "1/1:0=0,1=0,2=0", "2/1:0=1,1=2,2=1", "3/4:0=100,1=200,2=300",
        "4/1:0=0,1=1,2=0", "6/1:1=0", "7/1:1=1", "9/1:0=48,1=48,2=48", "10/1:0=16,1=16,2=16",
        "1/1:0=1,1=3,2=1"}},
      {"mask, slave pass",
       mask,
       0,
       true,
       {"11/1:1=0", "1/1:1=0", "2/1:1=1", "3/4:1=200", "4/1:1=0", "9/1:1=48", "10/1:1=16",
        "1/1:1=1"}},
      {"one drive, own drives",
       own,
       -1,
       true,
       {"11/1:0=0,1=0,2=0", "1/1:0=0,1=0,2=0", "2/1:0=1,1=2,2=1", "3/4:0=100,1=200,2=300",
        "4/1:0=0,1=1,2=0", "6/1:1=0", "9/1:0=48,1=48,2=48", "10/1:0=16,1=16,2=16",
        "1/1:0=1,1=2,2=1"}},
      {"one drive on a slave, slave pass",
       slave,
       0,
       true,
       {"11/1:1=0", "1/1:1=0", "2/1:1=2", "3/4:1=200", "4/1:1=1", "6/1:1=0", "9/1:1=48",
        "10/1:1=16", "1/1:1=1"}},
      {"switching off", own, -1, false, {"11/1:0=0,1=0,2=0", "1/1:0=0,1=0,2=0"}},
      {"a pass beyond every slave", Mode(1), 1, true, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Describe(StopOnInputPassWrites(c.p, Gantry(), c.pass, c.on)), c.writes) << c.name;
  }
}

TEST(StopOnInputStopValue, ScalesThePerAxisValueOrTakesTheLimit) {
  struct Case {
    double perAxis;
    double scale;
    std::uint32_t expected;
  };
  const Case cases[] = {
      {0.0, 5.0, 777},          {-2.5, 3.0, 7},         {2.5, 3.0, 7},
      {1e30, 1.0, 0xFFFFFFFFu}, {std::nan(""), 1.0, 0}, {1.0, -1.0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StopOnInputStopValue(c.perAxis, c.scale, 777), c.expected) << c.perAxis;
  }
}

TEST(StopOnInputParameters, RecordRoundTripsByteForByte) {
  common::stop_on_input_parameters::Record record;
  for (std::size_t i = 0; i < record.kSize; ++i) {
    record.MutableBytes()[i] = static_cast<std::uint8_t>(0x11 * (i % 15) + 1);
  }
  record.MutableBytes()[3] = 0;   // unused
  record.MutableBytes()[29] = 0;  // unused
  const StopOnInputParameters p = DecodeStopOnInputParameters(record);
  EXPECT_EQ(p.mode, 0x01);
  EXPECT_EQ(p.inputMask, 0x12);
  EXPECT_EQ(p.axisMask, 0xBCAB9A89u);
  EXPECT_EQ(p.sourceCobId, 0x1201);
  EXPECT_EQ(EncodeStopOnInputParameters(p), record);
}

}  // namespace
}  // namespace vantor::canopen
