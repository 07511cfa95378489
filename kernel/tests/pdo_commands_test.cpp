// The user-PDO commands 47 to 50 on an in-process kernel in CNC mode.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <vector>

#include "common/command_codes.h"
#include "common/pdo_command_records.h"
#include "kernel/core/canopen/can_object_cycle.h"
#include "kernel/services/command_dispatcher.h"
#include "kernel/tests/kernel_stand_in.h"
#include "platform/os/wait.h"

namespace vantor::kernel {
namespace {

namespace cb = common::communication_block;
namespace ap = common::assign_pdo;
namespace pd = common::pdo_data;
using common::CommandCode;
using common::kKernelPdoParameterInvalid;
using common::kKernelSuccess;

struct Assignment {
  std::uint32_t direction = 1;
  std::uint32_t guarding = 0;
  std::uint8_t nodeId = 20;
  std::uint16_t cobId = 0x214;
  std::uint8_t length = 2;
  std::uint32_t compare = 0;
  std::array<std::uint8_t, 8> mask{};
  std::array<std::uint8_t, 8> expected{};
  std::uint32_t answerTimeout = 5000;
  std::uint32_t period = 10000;
};

Assignment ReceiveOn(std::uint16_t cobId) {
  Assignment a;
  a.direction = 0;
  a.cobId = cobId;
  return a;
}

class PdoCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::CreateStandardRequestArea(kernel_);
    KernelData& data = kernel_.data;
    testing::CreateKernelDataLocks(data);
    data.state.cycleRunning = 1;
    data.state.busOk = 1;
    data.state.SetCncInitialised(true);
    canopen::ResetCanObjectList(kernel_.canObjects);
  }

  common::StatusCode Run(CommandCode code) {
    auto block = kernel_.Block();
    block.Set(cb::kCommandCode, static_cast<std::uint32_t>(code));
    block.Set(cb::kResult, kKernelSuccess);
    kernel_.standard.applicationReady.Set();
    EXPECT_EQ(DispatchCommand(kernel_), AfterCommand::KeepServing);
    EXPECT_EQ(os::WaitForOne(kernel_.standard.kernelReady, 0).kind, os::WaitKind::Signalled);
    kernel_.standard.kernelReady.Reset();
    return block.Get(cb::kResult);
  }

  common::StatusCode Assign(const Assignment& a) {
    auto block = kernel_.Block();
    block.Set(ap::kDirection, a.direction);
    block.Set(ap::kGuarding, a.guarding);
    block.Set(ap::kNodeId, a.nodeId);
    block.Set(ap::kCobId, a.cobId);
    block.Set(ap::kLength, a.length);
    block.Set(ap::kCompare, a.compare);
    std::copy(a.mask.begin(), a.mask.end(), block.MutableBytes(ap::kMask).begin());
    std::copy(a.expected.begin(), a.expected.end(), block.MutableBytes(ap::kExpected).begin());
    block.Set(ap::kAnswerTimeout, a.answerTimeout);
    block.Set(ap::kPeriod, a.period);
    return Run(CommandCode::AssignPdo);
  }
  common::StatusCode Remove(std::uint16_t cobId) {
    kernel_.Block().Set(common::remove_pdo::kCobId, cobId);
    return Run(CommandCode::ClearPdo);
  }

  struct Reply {
    common::StatusCode result;
    std::array<std::uint8_t, 8> data;
    std::uint8_t length;
    std::uint32_t mismatch;
  };
  Reply DataCommand(CommandCode code, std::uint16_t cobId, std::uint8_t length = 0,
                    std::array<std::uint8_t, 8> data = {}) {
    auto block = kernel_.Block();
    block.Set(pd::kCobId, cobId);
    std::copy(data.begin(), data.end(), block.MutableBytes(pd::kData).begin());
    block.Set(pd::kLength, length);
    block.Set(pd::kMismatch, 0xEEEEEEEE);
    Reply reply{Run(code), {}, 0, 0};
    const auto answered = block.GetBytes(pd::kData);
    std::copy(answered.begin(), answered.end(), reply.data.begin());
    reply.length = block.Get(pd::kLength);
    reply.mismatch = block.Get(pd::kMismatch);
    return reply;
  }
  Reply Read(std::uint16_t cobId) { return DataCommand(CommandCode::ReadPdo, cobId); }
  Reply Write(std::uint16_t cobId, std::uint8_t length, std::array<std::uint8_t, 8> data) {
    return DataCommand(CommandCode::WritePdo, cobId, length, data);
  }

  canopen::CanObjectEntry* Entry(std::uint16_t cobId) {
    return canopen::FindCanObject(cobId, kernel_.canObjects);
  }

  Kernel kernel_;
};

TEST_F(PdoCommands, EveryCommandTestsTheCanStateFirst) {
  struct State {
    const char* what;
    std::function<void(KernelData&)> spoil;
    common::StatusCode result;
  };
  const State states[] = {
      {"not initialised", [](KernelData& d) { d.state.SetCncInitialised(false); },
       common::kKernelCncNotInitialized},
      {"cycle stopped", [](KernelData& d) { d.state.cycleRunning = 0; }, 0xC9100008},
      {"bus disturbed", [](KernelData& d) { d.state.busOk = 0; }, common::kKernelCanBusDisturbed},
  };
  for (const State& s : states) {
    SetUp();
    ASSERT_EQ(Assign(Assignment{}), kKernelSuccess);
    s.spoil(kernel_.data);
    EXPECT_EQ(Assign(ReceiveOn(0x050)), s.result) << s.what;
    EXPECT_EQ(Remove(0x214), s.result) << s.what;
    EXPECT_EQ(Read(0x214).result, s.result) << s.what;
    EXPECT_EQ(Write(0x214, 2, {}).result, s.result) << s.what;
    // Nothing changed behind the refusals.
    ASSERT_NE(Entry(0x214), nullptr);
    EXPECT_EQ(Entry(0x214)->active, 0u);
    EXPECT_EQ(Entry(0x214)->next, nullptr);
  }
}

TEST_F(PdoCommands, AssignmentRefusals) {
  struct Case {
    const char* what;
    std::function<void(Assignment&)> change;
  };
  const Case cases[] = {
      {"period 0", [](Assignment& a) { a.period = 0; }},
      {"period beyond 31 bits", [](Assignment& a) { a.period = 0x80000000; }},
      {"time-out 0", [](Assignment& a) { a.answerTimeout = 0; }},
      {"time-out beyond 31 bits", [](Assignment& a) { a.answerTimeout = 0xFFFFFFFF; }},
      {"length 0", [](Assignment& a) { a.length = 0; }},
      {"length 9", [](Assignment& a) { a.length = 9; }},
      {"COB-ID beyond 11 bits", [](Assignment& a) { a.cobId = 0x814; }},
      {"another node's PDO", [](Assignment& a) { a.cobId = 0x215; }},
      {"node id 0", [](Assignment& a) { a.nodeId = 0; }},
      {"node id 200", [](Assignment& a) { a.nodeId = 200; }},
      {"guarding that sends",
       [](Assignment& a) {
         a.guarding = 1;
         a.cobId = 0x714;
         a.length = 1;
       }},
      {"guarding of two bytes",
       [](Assignment& a) {
         a.guarding = 1;
         a.direction = 0;
         a.cobId = 0x714;
       }},
      {"the identifier already assigned", [](Assignment& a) { a.cobId = 0x050; }},
  };
  ASSERT_EQ(Assign(ReceiveOn(0x050)), kKernelSuccess);
  for (const Case& c : cases) {
    Assignment a;
    c.change(a);
    const common::StatusCode result = Assign(a);
    EXPECT_EQ(result, kKernelPdoParameterInvalid) << c.what;
    // An object wrongly made must not hide the next case.
    if (result == kKernelSuccess) static_cast<void>(Remove(a.cobId));
  }
  EXPECT_EQ(canopen::LastCanObject(kernel_.canObjects)->cobId, 0x050);
  EXPECT_EQ(Assign(Assignment{}), kKernelSuccess);
}

TEST_F(PdoCommands, KernelFunctionsKeepTheirIdentifiers) {
  canopen::KernelCanObjects& owners = kernel_.canObjects.kernelObjects;
  owners.reservedCobId = 0x214;
  owners.reservedFlag = 1;
  EXPECT_EQ(Assign(Assignment{}), kKernelPdoParameterInvalid);
  owners.reservedFlag = 2;
  EXPECT_EQ(Assign(Assignment{}), kKernelSuccess);

  owners.handwheelLinked = 1;
  owners.handwheelNodeId = 30;
  owners.handwheelCobIds = {0x060, 0x061, 0x71E};
  Assignment onGateway = ReceiveOn(0x061);
  EXPECT_EQ(Assign(onGateway), kKernelPdoParameterInvalid);
  Assignment forGatewayNode = ReceiveOn(0x062);
  forGatewayNode.nodeId = 30;
  EXPECT_EQ(Assign(forGatewayNode), kKernelPdoParameterInvalid);
  forGatewayNode.nodeId = 31;
  EXPECT_EQ(Assign(forGatewayNode), kKernelSuccess);
}

TEST_F(PdoCommands, AssignedObjectsWaitInactiveAtTheEndOfTheList) {
  Assignment guarding = ReceiveOn(0x714);
  guarding.guarding = 1;
  guarding.length = 1;
  Assignment compare = ReceiveOn(0x050);
  compare.compare = 1;
  compare.mask = {0xFF, 0x0F};
  compare.expected = {0x12, 0x34};
  ASSERT_EQ(Assign(Assignment{}), kKernelSuccess);
  ASSERT_EQ(Assign(guarding), kKernelSuccess);
  ASSERT_EQ(Assign(compare), kKernelSuccess);
  const canopen::CanObjectEntry* first = kernel_.canObjects.head;
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->cobId, 0x214);
  EXPECT_EQ(first->next->cobId, 0x714);
  EXPECT_EQ(first->next->data[0], 0x80);
  const canopen::CanObjectEntry* last = first->next->next;
  EXPECT_EQ(last->cobId, 0x050);
  EXPECT_EQ(last->mask[1], 0x0F);
  EXPECT_EQ(last->expected[1], 0x34);
  EXPECT_EQ(last->answerTimeout, 5000);
  EXPECT_EQ(last->period, 10000);
  EXPECT_EQ(last->nodeId, 20u);
  for (const auto* e = first; e != nullptr; e = e->next) {
    EXPECT_EQ(e->active, 0u);
    EXPECT_EQ(e->scheduled, 0u);
    EXPECT_EQ(e->result, kKernelSuccess);
  }
}

TEST_F(PdoCommands, AFullPoolIsOutOfResources) {
  for (std::size_t k = 0; k < canopen::kCanObjectPoolSize; ++k) {
    ASSERT_EQ(Assign(ReceiveOn(static_cast<std::uint16_t>(0x001 + k))), kKernelSuccess) << k;
  }
  EXPECT_EQ(Assign(ReceiveOn(0x07F)), common::kKernelOutOfResources);
  ASSERT_EQ(Remove(0x001), kKernelSuccess);
  EXPECT_EQ(Assign(ReceiveOn(0x07F)), kKernelSuccess);
}

TEST_F(PdoCommands, RemoveTakesOnlyApplicationObjects) {
  canopen::KernelCanObjects& owners = kernel_.canObjects.kernelObjects;
  for (std::uint16_t cobId : {0x050, 0x051, 0x052, 0x053}) {
    ASSERT_EQ(Assign(ReceiveOn(cobId)), kKernelSuccess);
  }
  owners.peripheralCobIds[3] = 0x051;
  owners.handwheelLinked = 1;
  owners.handwheelCobIds = {0x052, 0x060, 0x700};
  owners.velocityOutputOn = 1;
  owners.velocityOutputCobId = 0x053;
  for (std::uint16_t cobId : {0x051, 0x052, 0x053}) {
    EXPECT_EQ(Remove(cobId), kKernelPdoParameterInvalid) << cobId;
    EXPECT_NE(Entry(cobId), nullptr) << cobId;
  }
  EXPECT_EQ(Remove(0x050), kKernelSuccess);
  EXPECT_EQ(Entry(0x050), nullptr);
  EXPECT_EQ(Remove(0x050), kKernelPdoParameterInvalid);
  owners.velocityOutputOn = 0;
  EXPECT_EQ(Remove(0x053), kKernelSuccess);
}

TEST_F(PdoCommands, ReadActivatesAReceiveObjectAndReturnsWhatItGot) {
  Assignment compare = ReceiveOn(0x050);
  compare.compare = 1;
  compare.mask = {0xF0, 0xFF};
  compare.expected = {0x50, 0x01};
  ASSERT_EQ(Assign(compare), kKernelSuccess);

  Reply first = Read(0x050);
  EXPECT_EQ(first.result, kKernelSuccess);
  EXPECT_EQ(first.length, 0);
  EXPECT_EQ(first.mismatch, 0u);
  canopen::CanObjectEntry& entry = *Entry(0x050);
  EXPECT_EQ(entry.active, 1u);
  EXPECT_EQ(entry.countdown, 0);

  entry.done = 1;
  entry.data = {0x5A, 0x01, 0x77};
  Reply matching = Read(0x050);
  EXPECT_EQ(matching.length, 2);
  EXPECT_EQ(matching.data[0], 0x5A);
  EXPECT_EQ(matching.data[1], 0x01);
  EXPECT_EQ(matching.data[2], 0);
  EXPECT_EQ(matching.mismatch, 0u);

  entry.data[1] = 0x02;
  EXPECT_EQ(Read(0x050).mismatch, 1u);

  entry.result = common::kKernelCanMessageTimeout;
  Reply failed = Read(0x050);
  EXPECT_EQ(failed.result, common::kKernelCanMessageTimeout);
  EXPECT_EQ(failed.length, 0);
  EXPECT_EQ(failed.mismatch, 1u);
  // A failed object stays failed: reading does not start it again.
  EXPECT_EQ(entry.result, common::kKernelCanMessageTimeout);

  EXPECT_EQ(Read(0x051).result, kKernelPdoParameterInvalid);
}

TEST_F(PdoCommands, ReadOfAGuardingObjectGivesTheStateWithoutTheToggle) {
  Assignment guarding = ReceiveOn(0x714);
  guarding.guarding = 1;
  guarding.length = 1;
  ASSERT_EQ(Assign(guarding), kKernelSuccess);
  Entry(0x714)->done = 1;
  Entry(0x714)->data[0] = 0x85;
  const Reply reply = Read(0x714);
  EXPECT_EQ(reply.length, 1);
  EXPECT_EQ(reply.data[0], 0x05);
}

TEST_F(PdoCommands, WriteGivesDataToTheNextScheduling) {
  ASSERT_EQ(Assign(Assignment{}), kKernelSuccess);
  ASSERT_EQ(Assign(ReceiveOn(0x050)), kKernelSuccess);
  EXPECT_EQ(Write(0x214, 3, {1, 2, 3}).result, kKernelPdoParameterInvalid);
  EXPECT_EQ(Write(0x214, 1, {1}).result, kKernelPdoParameterInvalid);
  EXPECT_EQ(Write(0x050, 2, {1, 2}).result, kKernelPdoParameterInvalid);
  EXPECT_EQ(Write(0x300, 2, {1, 2}).result, kKernelPdoParameterInvalid);
  EXPECT_EQ(Entry(0x214)->active, 0u);

  const Reply written = Write(0x214, 2, {0xCA, 0xFE, 0xFF});
  EXPECT_EQ(written.result, kKernelSuccess);
  EXPECT_EQ(written.length, 0);  // nothing sent yet
  EXPECT_EQ(written.mismatch, 0u);
  canopen::CanObjectEntry& entry = *Entry(0x214);
  EXPECT_EQ(entry.active, 1u);
  EXPECT_EQ(entry.data[0], 0xCA);
  EXPECT_EQ(entry.data[1], 0xFE);
  EXPECT_EQ(entry.data[2], 0);

  // The cycle sends it in the lowest free record at once.
  common::ExchangeBuffer exchange;
  exchange.Set(common::exchange_buffer::kStatus, common::kDriverSuccess);
  canopen::ScheduleCanObjects(kernel_.canObjects, exchange);
  const auto record = *common::MessageRecordIn(exchange, 1);
  EXPECT_EQ(record.Get(common::message_record::kCode), 2);
  EXPECT_EQ(record.Get(common::message_record::kCobId), 0x214);
  EXPECT_EQ(record.Get(common::message_record::kLength), 2);
  EXPECT_EQ(record.GetBytes(common::message_record::kData)[1], 0xFE);

  // Once sent, a write that waits for its period is sent at the next
  // scheduling too.
  entry.scheduled = 0;
  entry.done = 1;
  entry.countdown = 9000;
  EXPECT_EQ(Write(0x214, 2, {1, 2}).length, 2);
  EXPECT_EQ(entry.countdown, 0);
}

TEST_F(PdoCommands, WriteKeepsAFailedObjectsData) {
  Assignment compare;
  compare.compare = 1;
  ASSERT_EQ(Assign(compare), kKernelSuccess);
  canopen::CanObjectEntry& entry = *Entry(0x214);
  entry.result = common::kKernelCanMessageInvalid;
  const Reply reply = Write(0x214, 2, {7, 7});
  EXPECT_EQ(reply.result, common::kKernelCanMessageInvalid);
  EXPECT_EQ(reply.mismatch, 1u);
  EXPECT_EQ(entry.data[0], 0);
  EXPECT_EQ(entry.active, 0u);
}

TEST_F(PdoCommands, TheVelocityOutputsObjectIsNotWrittenByApplications) {
  ASSERT_EQ(Assign(Assignment{}), kKernelSuccess);
  kernel_.canObjects.kernelObjects.velocityOutputOn = 1;
  kernel_.canObjects.kernelObjects.velocityOutputCobId = 0x214;
  EXPECT_EQ(Write(0x214, 2, {1, 2}).result, kKernelPdoParameterInvalid);
}

}  // namespace
}  // namespace vantor::kernel
