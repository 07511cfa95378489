#include "sim/hardware/i82527.h"

#include <gtest/gtest.h>

#include "sim/hardware/tests/card_fixture.h"
#include "sim/hardware/tests/test_stations.h"

namespace vantor::sim {
namespace {

using testing::CardFixture;
using testing::CardOnBus;
using testing::ControllerAccess;
using testing::DataFrame;

constexpr std::uint8_t Object(int n, int offset) {
  return static_cast<std::uint8_t>(16 * n + offset);
}

class ControllerTest : public CardFixture {};

// Both controllers started as a run start does: channel 1 sends, channel 2
// receives.
class ControllerPairTest : public CardFixture {
 protected:
  void SetUp() override {
    StartChannel(1);
    StartChannel(2);
  }

  ControllerAccess sender = Channel(1);
  ControllerAccess receiver = Channel(2);
};

TEST_F(ControllerTest, EveryBitRateCodeOfTheDriversTableGivesItsNominalRate) {
  struct Row {
    int code;
    std::uint8_t timing0;
    std::uint8_t timing1;
    std::uint32_t bits_per_second;
  };
  const Row table[] = {{0, 0x5F, 0x7F, 10'000},   {1, 0x4F, 0x7F, 20'000},
                       {2, 0x47, 0x6B, 50'000},   {3, 0x43, 0x49, 125'000},
                       {4, 0x41, 0x49, 250'000},  {5, 0x40, 0x49, 500'000},
                       {7, 0x40, 0x23, 1'000'000}};
  for (const Row& row : table) {
    SCOPED_TRACE(row.code);
    CardOnBus rig;
    ControllerAccess sender = rig.Channel(1);
    ControllerAccess receiver = rig.Channel(2);
    for (ControllerAccess* access : {&sender, &receiver}) {
      ASSERT_TRUE(access->Detect());
      access->InitBus(row.timing0, row.timing1);
      access->SetGlobalStandardMask(0x7FF);
    }
    receiver.ConfigureReceive(1, 0x123);
    const CanFrame frame = DataFrame(0x123, {0xA5, 0x5A});
    sender.LoadAndSend(2, 0x123, frame);

    const SimTime bit_time = 1'000'000'000ULL / row.bits_per_second;
    EXPECT_EQ(rig.card->Controller(0).BitTime(), bit_time);
    const SimTime end = rig.machine.Sim().Now() + FrameBitCount(frame) * bit_time;
    rig.machine.Sim().AdvanceTo(end - 1);
    EXPECT_EQ(receiver.Read(Object(1, 1)), 0x55) << "frame must not land early";
    rig.machine.Sim().AdvanceTo(end);
    const ControllerAccess::ObjectRead read = receiver.ReadObject(1);
    EXPECT_EQ(read.result, 1);
    EXPECT_EQ(read.frame.length, 2);
    EXPECT_EQ(read.frame.data[0], 0xA5);
  }
}

TEST_F(ControllerPairTest, TransmitObjectFrameLandsInLowestMatchingReceiveObject) {
  receiver.ConfigureReceive(1, 0x200);
  receiver.ConfigureReceive(4, 0x123);
  receiver.ConfigureReceive(5, 0x123);
  sender.LoadAndSend(3, 0x123, DataFrame(0x123, {1, 2, 3}));
  EXPECT_EQ(sender.Read(Object(3, 1)), 0x66) << "send requested";

  Sim().AdvanceBy(kNanosecondsPerMillisecond);

  EXPECT_EQ(sender.Read(Object(3, 1)), 0x55) << "TxRqst and NewDat cleared once acknowledged";
  EXPECT_EQ(sender.Read(0x01) & 0x0F, 0x08) << "TXOK, no error";
  EXPECT_EQ(receiver.ReadObject(1).result, 0);
  EXPECT_EQ(receiver.ReadObject(5).result, 0);
  const ControllerAccess::ObjectRead read = receiver.ReadObject(4);
  ASSERT_EQ(read.result, 1);
  EXPECT_EQ(read.frame.length, 3);
  EXPECT_EQ(read.frame.data[2], 3);
  EXPECT_EQ(receiver.Read(0x01) & 0x10, 0x10) << "RXOK";
}

TEST_F(ControllerTest, LowestNumberedObjectIsSentFirst) {
  StartChannel(1);
  ControllerAccess sender = Channel(1);
  testing::RecordingStation listener;
  bus->Attach(&listener);
  // While object 5's frame is on the wire, objects 9 and 2 ask to send:
  // object 2 goes next, whatever the identifiers say.
  sender.LoadAndSend(5, 0x700, DataFrame(0x700, {5}));
  Sim().AdvanceBy(0);
  ASSERT_TRUE(bus->Busy());
  sender.LoadAndSend(9, 0x010, DataFrame(0x010, {9}));
  sender.LoadAndSend(2, 0x500, DataFrame(0x500, {2}));
  Sim().AdvanceBy(kNanosecondsPerMillisecond);
  ASSERT_EQ(listener.heard.size(), 3U);
  EXPECT_EQ(listener.heard[0].frame.identifier, 0x700);
  EXPECT_EQ(listener.heard[1].frame.identifier, 0x500);
  EXPECT_EQ(listener.heard[2].frame.identifier, 0x010);
  bus->Detach(&listener);
}

TEST_F(ControllerTest, MissingAcknowledgeKeepsTxRqstWithLastErrorCode3) {
  StartChannel(1);  // channel 2 stays in initialisation: nobody acknowledges
  ControllerAccess sender = Channel(1);
  sender.LoadAndSend(1, 0x181, DataFrame(0x181, {7}));
  Sim().AdvanceBy(5 * kNanosecondsPerMillisecond);
  EXPECT_EQ(sender.Read(Object(1, 1)) & 0x30, 0x20) << "TxRqst still set";
  EXPECT_EQ(sender.Read(0x01) & 0x07, 3);
  EXPECT_EQ(sender.Read(0x01) & 0x80, 0) << "a lone station never goes bus-off";
  EXPECT_EQ(card->Controller(0).TransmitErrorCount(), 128) << "error-passive, no further count";

  StartChannel(2);
  Sim().AdvanceBy(kNanosecondsPerMillisecond);
  EXPECT_EQ(sender.Read(Object(1, 1)) & 0x30, 0x10) << "TxRqst cleared";
  EXPECT_EQ(sender.Read(0x01) & 0x0F, 0x08);
}

TEST_F(ControllerTest, BusOffSetsInitAndRecoversAfterRecessiveBits) {
  struct Way {
    const char* name;
    std::function<void(CanBus&, I82527&)> inject;
  };
  const Way ways[] = {
      {"32 error frames", [](CanBus& bus, I82527&) { bus.InjectErrorFrames(32); }},
      {"bus-off of the transmitter",
       [](CanBus& bus, I82527& controller) { bus.InjectBusOff(&controller); }},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.name);
    CardOnBus rig;
    ControllerAccess sender = rig.Channel(1);
    ControllerAccess receiver = rig.Channel(2);
    for (ControllerAccess* access : {&sender, &receiver}) {
      ASSERT_TRUE(access->Detect());
      access->InitBus(0x40, 0x23);
    }
    way.inject(*rig.bus, rig.card->Controller(0));
    sender.LoadAndSend(1, 0x181, DataFrame(0x181, {1}));
    rig.machine.Sim().AdvanceBy(10 * kNanosecondsPerMillisecond);

    EXPECT_EQ(sender.Read(0x01) & 0xC0, 0xC0) << "bus-off and warning";
    EXPECT_EQ(sender.Read(0x00) & 0x01, 0x01) << "bus-off sets Init";
    EXPECT_TRUE(sender.RecoverBusOff()) << "recovery takes bus time, not four restarts";
    const SimTime recovery_started = rig.machine.Sim().Now();
    const SimTime recovery = 128 * 11 * 1000;
    rig.machine.Sim().AdvanceTo(recovery_started + recovery - 1);
    EXPECT_EQ(sender.Read(0x01) & 0x80, 0x80);
    rig.machine.Sim().AdvanceTo(recovery_started + recovery);
    EXPECT_EQ(sender.Read(0x01) & 0xC0, 0x00) << "on the bus again, counters cleared";
    rig.machine.Sim().AdvanceBy(kNanosecondsPerMillisecond);
    EXPECT_EQ(sender.Read(Object(1, 1)) & 0x30, 0x10) << "the waiting frame went out";
    EXPECT_FALSE(sender.RecoverBusOff());
  }
}

TEST_F(ControllerTest, ErrorWarningFollowsTheTransmitErrorCount) {
  StartChannel(1);
  ControllerAccess sender = Channel(1);
  bus->InjectErrorFrames(11);
  sender.LoadAndSend(1, 0x181, DataFrame(0x181, {1}));
  Sim().AdvanceBy(2 * kNanosecondsPerMillisecond);
  // 11 error frames count 88; the missing acknowledgements that follow add
  // 8 each up to the error-passive limit.
  EXPECT_EQ(sender.Read(0x01) & 0x47, 0x43);
  EXPECT_EQ(card->Controller(0).TransmitErrorCount(), 128);
}

TEST_F(ControllerPairTest, Object15KeepsUnreadFrameAndNewestAndFlagsTheLoss) {
  receiver.SetGlobalStandardMask(0x700);
  receiver.SetMessage15Mask(0x7F0);
  receiver.ConfigureReceive(15, 0x180);

  struct Step {
    int frames;
    int result;
    std::uint16_t first;
    std::uint16_t second;
  };
  const Step steps[] = {{0, 0, 0, 0}, {1, 1, 0x181, 0}, {2, 2, 0x181, 0x182}, {3, 3, 0x181, 0x183}};
  for (const Step& step : steps) {
    SCOPED_TRACE(step.frames);
    for (int i = 1; i <= step.frames; ++i) {
      const std::uint16_t id = static_cast<std::uint16_t>(0x180 + i);
      sender.LoadAndSend(1, id, DataFrame(id, {static_cast<std::uint8_t>(i)}));
      Sim().AdvanceBy(kNanosecondsPerMillisecond);
    }
    const ControllerAccess::Object15Read read = receiver.ReadObject15();
    EXPECT_EQ(read.result, step.result);
    if (step.result >= 1) {
      EXPECT_EQ(read.frames[0].identifier, step.first);
    }
    if (step.result >= 2) {
      EXPECT_EQ(read.frames[1].identifier, step.second);
    }
  }
  // A frame outside object 15's mask is not taken.
  sender.LoadAndSend(1, 0x281, DataFrame(0x281, {}));
  Sim().AdvanceBy(kNanosecondsPerMillisecond);
  EXPECT_EQ(receiver.ReadObject15().result, 0);
}

TEST_F(ControllerTest, ControlBytesFollowThePairRules) {
  ControllerAccess access = Channel(1);
  ASSERT_TRUE(access.Detect());
  struct Step {
    int offset;
    std::uint8_t write;
    std::uint8_t read;
  };
  const Step steps[] = {
      {0, 0x7F, 0x55},  // valid reset, rest unchanged
      {0, 0x95, 0x95},  // valid set, enables and pending reset
      {0, 0xFF, 0x95},  // 11: nothing changes
      {0, 0x00, 0x95},  // 00 changes nothing either
      {0, 0xAA, 0xAA},  // every flag set
      {0, 0x99, 0x99},  // object-15 style: receive interrupt enabled
      {1, 0x59, 0x59},  // transmitter at rest
      {1, 0x66, 0x66},  // send
      {1, 0xFB, 0x6A},  // CPU updating set, rest unchanged
      {1, 0xE6, 0x66},  // send again, remote pending unchanged
      {1, 0x55, 0x55},  // receiver at rest
      {1, 0xF5, 0x55}, {1, 0x7D, 0x55},
  };
  for (const Step& step : steps) {
    access.Write(Object(3, step.offset), step.write);
    const std::uint8_t read = access.Read(Object(3, step.offset));
    EXPECT_EQ(read, step.read) << "control " << step.offset << " write 0x" << std::hex
                               << int{step.write};
    EXPECT_TRUE(ControllerAccess::ValidControl(read)) << "reads give 01 or 10 per pair";
  }
}

TEST_F(ControllerPairTest, CpuUpdatingHoldsTheTransmission) {
  receiver.ConfigureReceive(1, 0x300);
  sender.Write(Object(2, 0), 0x7F);
  sender.Write(Object(2, 2), 0x300 >> 3);
  sender.Write(Object(2, 3), static_cast<std::uint8_t>(0x300 << 5));
  sender.Write(Object(2, 6), 0x18);
  sender.Write(Object(2, 7), 0x42);
  sender.Write(Object(2, 1), 0xEA);  // send requested while the CPU still updates
  sender.Write(Object(2, 0), 0x95);
  Sim().AdvanceBy(kNanosecondsPerMillisecond);
  EXPECT_EQ(receiver.ReadObject(1).result, 0);

  sender.Write(Object(2, 1), 0xF7);  // CPU updating reset
  Sim().AdvanceBy(kNanosecondsPerMillisecond);
  const ControllerAccess::ObjectRead read = receiver.ReadObject(1);
  EXPECT_EQ(read.result, 1);
  EXPECT_EQ(read.frame.data[0], 0x42);
}

TEST_F(ControllerTest, RemoteFrameFromReceiverIsAnsweredByMatchingTransmitter) {
  StartChannel(1);
  StartChannel(2);
  ControllerAccess requester = Channel(1);
  ControllerAccess answerer = Channel(2);
  // Transmitter at rest with its data loaded (CPU updating set: it must not answer yet).
  answerer.Write(Object(4, 0), 0x7F);
  answerer.Write(Object(4, 2), 0x281 >> 3);
  answerer.Write(Object(4, 3), static_cast<std::uint8_t>(0x281 << 5));
  answerer.Write(Object(4, 6), 0x28);
  answerer.Write(Object(4, 7), 0xBE);
  answerer.Write(Object(4, 8), 0xEF);
  answerer.Write(Object(4, 1), 0x59);
  answerer.Write(Object(4, 0), 0x95);

  requester.RemoteRequest(6, 0x281);
  Sim().AdvanceBy(kNanosecondsPerMillisecond);
  EXPECT_EQ(requester.Read(Object(6, 1)) & 0x30, 0x10) << "remote frame sent";
  EXPECT_EQ(answerer.Read(Object(4, 1)) & 0xF0, 0xA0)
      << "remote pending and send requested, held by CPU updating";
  EXPECT_EQ(requester.ReadObject(6).result, 0);

  answerer.Write(Object(4, 1), 0xF7);
  Sim().AdvanceBy(kNanosecondsPerMillisecond);
  const ControllerAccess::ObjectRead read = requester.ReadObject(6);
  ASSERT_EQ(read.result, 1);
  EXPECT_EQ(read.frame.length, 2);
  EXPECT_EQ(read.frame.data[1], 0xEF);
  EXPECT_EQ(answerer.Read(Object(4, 1)) & 0xF0, 0x50) << "remote pending and send request cleared";
}

TEST_F(ControllerPairTest, FrameArrivingDuringAnObjectReadIsCaught) {
  receiver.ConfigureReceive(2, 0x181);
  sender.LoadAndSend(1, 0x181, DataFrame(0x181, {1}));
  Sim().AdvanceBy(kNanosecondsPerMillisecond);

  struct Case {
    unsigned collisions;
    int result;
  };
  for (const Case& c : {Case{0, 1}, Case{1, 2}, Case{2, 2}, Case{3, 3}}) {
    SCOPED_TRACE(c.collisions);
    if (c.collisions > 0) {
      sender.LoadAndSend(1, 0x181, DataFrame(0x181, {1}));
      Sim().AdvanceBy(kNanosecondsPerMillisecond);
    }
    // Each newer frame lands right after the configuration byte was read.
    card->Controller(1).InjectFrameAfterRead(Object(2, 6), DataFrame(0x181, {0x99}), c.collisions);
    const ControllerAccess::ObjectRead read = receiver.ReadObject(2);
    EXPECT_EQ(read.result, c.result);
    if (c.result == 2) {
      EXPECT_EQ(read.frame.data[0], 0x99) << "the newer data";
    }
    receiver.ReadObject(2);  // whatever is left
  }
}

TEST_F(ControllerTest, InvalidControlReadIsAControllerError) {
  StartChannel(1);
  ControllerAccess access = Channel(1);
  access.ConfigureReceive(2, 0x181);
  for (std::uint8_t corrupt : {0x00, 0xFF, 0x57}) {
    card->Controller(0).OverrideNextRead(Object(2, 1), corrupt);
    EXPECT_EQ(access.ReadObject(2).result, 4) << int{corrupt};
  }
  EXPECT_EQ(access.ReadObject(2).result, 0) << "the override lasts one read";
}

TEST_F(ControllerPairTest, InterruptRegisterNamesTheObjectWithPendingInterrupt) {
  receiver.SetGlobalStandardMask(0);
  receiver.SetMessage15Mask(0);
  receiver.ConfigureReceive(15, 0);  // receive interrupt enabled
  EXPECT_EQ(receiver.Read(0x5F), 0);
  sender.LoadAndSend(1, 0x181, DataFrame(0x181, {1}));
  Sim().AdvanceBy(kNanosecondsPerMillisecond);
  EXPECT_EQ(receiver.Read(0x5F), 2) << "object 15";
  receiver.Write(Object(15, 0), 0xFD);  // interrupt pending reset
  EXPECT_EQ(receiver.Read(0x5F), 0);
}

TEST_F(ControllerPairTest, UnreadFrameOverwrittenSetsMessageLost) {
  receiver.ConfigureReceive(2, 0x181);
  for (std::uint8_t i = 1; i <= 2; ++i) {
    sender.LoadAndSend(1, 0x181, DataFrame(0x181, {i}));
    Sim().AdvanceBy(kNanosecondsPerMillisecond);
  }
  const ControllerAccess::ObjectRead read = receiver.ReadObject(2);
  EXPECT_EQ(read.result, 2);
  EXPECT_EQ(read.frame.data[0], 2);
  EXPECT_EQ(receiver.ReadObject(2).result, 0);
}

TEST_F(ControllerTest, DetectionNeedsResetClearAndBoardPins) {
  struct Case {
    const char* name;
    std::uint8_t pins;
    bool in_reset;
    bool detected;
  };
  for (const Case& c : {Case{"card", 0xBF, false, true}, Case{"pins read 0xC0", 0xFF, false, false},
                        Case{"held in reset", 0xBF, true, false}}) {
    SCOPED_TRACE(c.name);
    Simulation simulation;
    I82527::Config config;
    config.port2_pins = c.pins;
    I82527 controller(simulation, config);
    controller.SetResetStatus(c.in_reset);
    ControllerAccess access([&](std::uint8_t a) { return controller.Read(a); },
                            [&](std::uint8_t a, std::uint8_t v) { controller.Write(a, v); });
    EXPECT_EQ(access.Detect(), c.detected);
  }
}

TEST_F(ControllerTest, BitTimingOnlyChangesWithConfigurationChangeEnabled) {
  ControllerAccess access = Channel(1);
  ASSERT_TRUE(access.Detect());
  access.Write(0x00, 0x01);  // Init without configuration-change enable
  access.Write(0x3F, 0x43);
  EXPECT_EQ(access.Read(0x3F), 0x00);
  access.Write(0x00, 0x41);
  access.Write(0x3F, 0x43);
  EXPECT_EQ(access.Read(0x3F), 0x43);
}

TEST_F(ControllerTest, Port2KeepsItsOutputHistory) {
  ControllerAccess access = Channel(1);
  ASSERT_TRUE(access.Detect());
  access.InitClock(4);
  const auto& history = card->Controller(0).Port2History();
  ASSERT_EQ(history.size(), 2U);
  EXPECT_EQ(history[0].value, 0xFC);
  EXPECT_EQ(history[1].value, 0xF8) << "channel-2 line switched on";
  EXPECT_EQ(access.Read(0xCF), 0xB8) << "outputs read back, pins 7 and 6 from the board";
}

}  // namespace
}  // namespace vantor::sim
