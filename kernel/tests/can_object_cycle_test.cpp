// The CAN object list in the kernel's real cycle, against the scripted
// driver: what goes on the bus, what comes back, and how faults show.
#include <gtest/gtest.h>

#include <algorithm>

#include "kernel/core/can_object_steps.h"
#include "kernel/core/kernel_locks.h"
#include "kernel/tests/driver_link_fixture.h"

namespace vantor::kernel::testing {
namespace {

using canopen::CanObjectEntry;

void CreateKernelLocks(KernelData& data) {
  data.motionMutex = os::Mutex::CreateUnnamed(false).take();
  data.nodeConfiguration.mutex = os::Mutex::CreateUnnamed(false).take();
  data.globalRequestMutex = os::Mutex::CreateUnnamed(false).take();
  data.canObjectListMutex = os::Mutex::CreateUnnamed(false).take();
}

class ObjectListInTheCycle : public ::testing::Test {
 protected:
  void SetUp() override {
    UseNamespaceOfThisProcess("objects");
    host_ = std::make_unique<ScriptedDriverHost>();
    ASSERT_TRUE(host_->started());
    CreateKernelLocks(data_);
    data_.state.busOk = 1;
    data_.state.cycleRunning = 1;
    data_.state.peripheryPdoOk = 1;
    canopen::ResetCanObjectList(list_);
    block_ = os::Mapping::CreateUnnamed(common::kCommunicationBlockSize).take();
    request_.completion = os::Event::CreateUnnamed(os::EventReset::Manual, true).take();
    DriverLinkTimings timings;
    timings.startCheckMs = 50;
    link_ =
        std::make_unique<DriverLink>(CycleEnvironment{data_, request_, block_, steps_}, timings);
    driver().SetCycleMicroseconds(1000);
  }

  void TearDown() override {
    data_.state.SetCncInitialised(false);
    link_.reset();
    host_.reset();
    if (auto folder = os::RuntimeDirectory()) ::rmdir(folder->c_str());
  }

  ScriptedCanDriver& driver() { return host_->driver(); }

  void Start() {
    driver().StartPacing(std::chrono::milliseconds(2));
    ASSERT_EQ(link_->OpenCanDevice(common::Channel::CanOne, StartRecord({}).View()),
              common::kKernelSuccess);
    data_.state.SetCncInitialised(true);
  }

  CanObjectEntry& Add(std::uint16_t cobId, std::uint32_t direction, std::int32_t period,
                      std::uint32_t compare = 0) {
    canopen::CanObjectParameters p;
    p.direction = direction;
    p.nodeId = 40;
    p.cobId = cobId;
    p.length = 2;
    p.compare = compare;
    p.mask = {0xFF, 0xFF};
    p.expected = {0x11, 0x22};
    p.answerTimeout = 3000;
    p.period = period;
    CanObjectEntry* entry = canopen::AppendCanObject(list_, p);
    EXPECT_NE(entry, nullptr);
    entry->active = 1;
    return *entry;
  }

  // Reads the list under its lock, as a command would.
  template <typename Read>
  auto UnderListLock(Read read) {
    EXPECT_TRUE(LockKernelDataAndObjectList(data_));
    const auto value = read();
    UnlockKernelDataAndObjectList(data_);
    return value;
  }

  std::size_t FramesOn(std::uint16_t cobId) {
    const auto frames = driver().SentFrames();
    return static_cast<std::size_t>(std::count_if(
        frames.begin(), frames.end(), [&](const BusFrame& f) { return f.cobId == cobId; }));
  }

  std::unique_ptr<ScriptedDriverHost> host_;
  KernelData data_;
  canopen::CanObjectList list_;
  ApplicationCanRequest request_;
  os::Mapping block_;
  CanObjectCycleSteps steps_{data_, list_};
  std::unique_ptr<DriverLink> link_;
};

TEST_F(ObjectListInTheCycle, ObjectsAreSentAndPolledInTheirPeriod) {
  CanObjectEntry& transmit = Add(0x230, 1, 4000);
  transmit.data = {0xCA, 0xFE};
  CanObjectEntry& receive = Add(0x1A0, 0, 4000, 1);
  driver().AnswerFrame(0x1A0, 0x1A0, {0x11, 0x22});
  Start();

  ASSERT_TRUE(Eventually([&] { return FramesOn(0x230) >= 3 && FramesOn(0x1A0) >= 3; }));
  EXPECT_TRUE(UnderListLock([&] { return receive.done == 1 && receive.data[1] == 0x22; }));
  EXPECT_TRUE(UnderListLock([&] { return transmit.done == 1 && transmit.IsInOrder(); }));
  for (const BusFrame& frame : driver().SentFrames()) {
    EXPECT_NE(frame.record, 15) << "record 15 is the driver's receive store";
    if (frame.cobId == 0x230) {
      EXPECT_FALSE(frame.remote);
      EXPECT_EQ(frame.length, 2);
      EXPECT_EQ(frame.data[1], 0xFE);
    }
    if (frame.cobId == 0x1A0) {
      EXPECT_TRUE(frame.remote);
    }
  }
  EXPECT_EQ(UnderListLock([&] { return data_.state.peripheryPdoOk; }), 1u);
}

TEST_F(ObjectListInTheCycle, ASilentPeripheralObjectFailsAndClearsThePeripheryFlag) {
  CanObjectEntry& silent = Add(0x1A1, 0, 4000, 1);
  Start();
  ASSERT_TRUE(Eventually([&] { return UnderListLock([&] { return !silent.IsInOrder(); }); }));
  EXPECT_EQ(UnderListLock([&] { return silent.result; }), common::kKernelCanMessageTimeout);
  // Polled again at once after each silence: three requests, no more.
  const std::size_t polls = FramesOn(0x1A1);
  EXPECT_EQ(polls, 3u);
  ASSERT_TRUE(Eventually([&] {
    return UnderListLock([&] { return data_.state.peripheryPdoOk == 0 && list_.faultCount == 1; });
  }));
  EXPECT_EQ(UnderListLock([&] { return list_.firstFaultyCobId; }), 0x1A1);
  EXPECT_EQ(FramesOn(0x1A1), polls) << "a failed object is no longer scheduled";
}

TEST(ObjectListAdmission, RawFramesAreJudgedOnlyInCncMode) {
  KernelData data;
  CreateKernelLocks(data);
  canopen::CanObjectList list;
  canopen::ResetCanObjectList(list);
  canopen::CanObjectParameters user;
  user.cobId = 0x050;
  user.length = 1;
  ASSERT_NE(canopen::AppendCanObject(list, user), nullptr);
  CanObjectCycleSteps steps(data, list);

  ApplicationCanRequest sync;
  sync.cobId = 0x080;
  ApplicationCanRequest onList;
  onList.cobId = 0x050;
  ApplicationCanRequest stranger;
  stranger.cobId = 0x620;
  stranger.length = 8;
  stranger.answerCobId = 0x5A0;
  stranger.kernelNodeRequest = 1;
  for (ApplicationCanRequest* request : {&sync, &onList, &stranger}) {
    EXPECT_EQ(steps.CheckApplicationCanRequest(*request), common::kKernelSuccess);
    EXPECT_EQ(request->kernelNodeRequest, 0u);
  }
  data.state.SetCncInitialised(true);
  EXPECT_EQ(steps.CheckApplicationCanRequest(sync), common::kKernelCanMessageInvalid);
  EXPECT_EQ(steps.CheckApplicationCanRequest(onList), common::kKernelCanMessageInvalid);
  EXPECT_EQ(steps.CheckApplicationCanRequest(stranger), common::kKernelSuccess);
  EXPECT_EQ(stranger.kernelNodeRequest, 0u);
  // The check leaves the locks free.
  EXPECT_TRUE(LockKernelDataAndObjectList(data));
  UnlockKernelDataAndObjectList(data);
  EXPECT_EQ(steps.CanObjectFreeRecords(), &list.freeRecords);
}

}  // namespace
}  // namespace vantor::kernel::testing
