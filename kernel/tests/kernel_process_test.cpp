// A real Motrix process driven through its communication block, the way the
// library drives it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "common/command_codes.h"
#include "common/kernel_link_records.h"
#include "kernel/services/channel_user_watch.h"
#include "kernel/tests/kernel_test_client.h"
#include "platform/os/named_objects.h"
#include "platform/os/wait.h"

namespace vantor::kernel::test_client {
namespace {

namespace cb = common::communication_block;
using common::Channel;
using common::InterfaceType;

constexpr std::uint32_t kStartTimeoutMs = 10000;
constexpr std::uint32_t kEndTimeoutMs = 10000;

class KernelProcessTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { UseOwnNamespace("kernel-process"); }

  void TearDown() override {
    // A kernel that a failed test left running must not outlive the test.
    if (client_) client_->EndLeftoverKernel(kEndTimeoutMs);
  }

  // Starts the kernel as the library does: code 1 written and signalled
  // before the process exists; the kernel's first act is to answer it.
  LibrarySide& StartAnsweringKernel(Channel channel, InterfaceType type = InterfaceType::Pci) {
    client_ = std::make_unique<LibrarySide>(channel);
    const auto ping = client_->StartKernelAnsweringPing(type, kStartTimeoutMs);
    EXPECT_TRUE(ping.answered);
    EXPECT_EQ(ping.result, common::kKernelSuccess);
    return *client_;
  }

  std::unique_ptr<LibrarySide> client_;
};

TEST_F(KernelProcessTest, AnswersThePingWrittenBeforeItStartedAndAnnouncesItself) {
  StartAnsweringKernel(Channel::CanOne);
  EXPECT_TRUE(PresenceEventSet(common::HardwareEventIndex(InterfaceType::Pci)));
  EXPECT_TRUE(PresenceEventSet(common::KernelModeEventIndex(Channel::CanOne)));
  EXPECT_FALSE(PresenceEventExists(common::HardwareEventIndex(InterfaceType::Dongle)));
  EXPECT_FALSE(PresenceEventExists(common::KernelModeEventIndex(Channel::CanTwo)));
  EXPECT_EQ(client_->Command(1).result, common::kKernelSuccess);
}

TEST_F(KernelProcessTest, IdentifiesItselfBeforeTheHardwareIsOpened) {
  auto& client = StartAnsweringKernel(Channel::CanTwo, InterfaceType::Dongle);
  // Whatever the payload held before, the identity replaces it.
  ASSERT_TRUE(client.Block().Fill(cb::kPayloadOffset, common::kKernelIdentitySize, 0xAB));

  const auto answer =
      client.Command(static_cast<std::uint32_t>(common::CommandCode::IdentifyKernel));
  ASSERT_TRUE(answer.answered);
  EXPECT_EQ(answer.result, common::kKernelSuccess);

  namespace id = common::kernel_identity;
  const auto identity = *client.Block().Window<common::kKernelIdentitySize>(cb::kPayloadOffset);
  EXPECT_EQ(identity.Get(id::kCanInterface), 0);
  EXPECT_EQ(identity.Get(id::kKernelModus), 2);
  EXPECT_EQ(identity.Get(id::kBaudRateForCan), 0);
  EXPECT_EQ(identity.Get(id::kMeasureLatenzTime), 0u);
  EXPECT_EQ(identity.Get(id::kLookAheadDesPosiMaxNo), 0);
  EXPECT_EQ(identity.Get(id::kInterruptCycle), 0u);
  EXPECT_EQ(identity.Get(id::kTimeForGlobalSynPeriod), 0u);
  EXPECT_EQ(identity.Get(id::kSynMaxWaitTime), 0u);
  EXPECT_EQ(identity.Get(id::kWindowsTimerRes), 0u);
  EXPECT_EQ(identity.Get(id::kPathWindowsTimerRes), 0u);
  EXPECT_EQ(identity.Get(id::kRealTimeThreadIntWaitTime), 0u);
  EXPECT_EQ(identity.Get(id::kKernelProcessId), client.kernel().id());
  EXPECT_EQ(identity.Get(id::kWatchProcessId), 0u);
}

struct CodeCase {
  std::uint32_t code;
  common::StatusCode expected;
};

TEST_F(KernelProcessTest, AnswersEveryCodeWithoutTouchingThePayloadWhenRefused) {
  auto& client = StartAnsweringKernel(Channel::CanOne);
  const CodeCase cases[] = {
      // Codes without a handler.
      {0, common::kKernelWrongFunctionNumber},
      {109, common::kKernelWrongFunctionNumber},
      {149, common::kKernelWrongFunctionNumber},
      {151, common::kKernelWrongFunctionNumber},
      {0xFFFFFFFF, common::kKernelWrongFunctionNumber},
      // No driver serves this namespace: the device named in the payload is
      // missing, and requests for the driver find no device open.
      {4, common::kKernelDriverMissing},
      {5, common::kKernelDriverMissing},
      {6, common::kKernelDriverMissing},
      {7, common::kKernelDriverMissing},
      {11, common::kKernelDriverMissing},
      // The CNC initialisation needs a running cycle.
      {12, common::kDriverNoController},
      // CNC services before the CNC initialisation.
      {14, common::kKernelCncNotInitialized},
      {15, common::kKernelCncNotInitialized},
      {16, common::kKernelCncNotInitialized},
      {17, common::kKernelCncNotInitialized},
      {20, common::kKernelCncNotInitialized},
      {27, common::kKernelCncNotInitialized},
      {28, common::kKernelCncNotInitialized},
      {32, common::kKernelCncNotInitialized},
      {34, common::kKernelCncNotInitialized},
      {82, common::kKernelCncNotInitialized},
      {150, common::kKernelCncNotInitialized},
      {36, common::kKernelCncNotInitialized},
      {52, common::kKernelCncNotInitialized},
      {108, common::kKernelCncNotInitialized},
      {46, common::kKernelCncNotInitialized},
      {70, common::kKernelCncNotInitialized},
      {72, common::kKernelCncNotInitialized},
      // Leaving CNC mode when not in it runs over no nodes.
      {13, common::kKernelSuccess},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(client.Block().Fill(cb::kPayloadOffset, 64, 0x5A));
    const auto answer = client.Command(c.code);
    ASSERT_TRUE(answer.answered) << c.code;
    EXPECT_EQ(answer.result, c.expected) << "code " << c.code;
    for (std::size_t i = 0; i < 64; ++i) {
      ASSERT_EQ(*client.Block().Load<std::uint8_t>(cb::kPayloadOffset + i), 0x5A)
          << "code " << c.code << " byte " << i;
    }
  }
  // Still serving after all of them.
  EXPECT_EQ(client.Command(1).result, common::kKernelSuccess);
}

TEST_F(KernelProcessTest, PresenceHeldNonSignalledByAnotherProcessIsSetAtStart) {
  // A reader that made the events before the kernel started (and holds
  // them) must not make a running kernel look absent.
  auto hardware = os::Event::CreateOrOpen(
      common::KernelObjectName(common::HardwareEventIndex(InterfaceType::Pci)),
      os::EventReset::Manual, false);
  auto channel = os::Event::CreateOrOpen(
      common::KernelObjectName(common::KernelModeEventIndex(Channel::CanOne)),
      os::EventReset::Manual, false);
  ASSERT_TRUE(hardware);
  ASSERT_TRUE(channel);
  StartAnsweringKernel(Channel::CanOne);
  EXPECT_TRUE(PresenceEventSet(common::HardwareEventIndex(InterfaceType::Pci)));
  EXPECT_TRUE(PresenceEventSet(common::KernelModeEventIndex(Channel::CanOne)));
}

TEST_F(KernelProcessTest, CodeTwoEndsTheProcessAndRemovesItsPresence) {
  auto& client = StartAnsweringKernel(Channel::CanOne);
  const auto answer =
      client.Command(static_cast<std::uint32_t>(common::CommandCode::TerminateKernel));
  ASSERT_TRUE(answer.answered);
  EXPECT_EQ(answer.result, common::kKernelSuccess);
  ASSERT_TRUE(client.AwaitKernelEnd(kEndTimeoutMs));
  EXPECT_EQ(client.kernel().exitCode(), std::optional<std::uint32_t>(0));
  EXPECT_FALSE(PresenceEventExists(common::HardwareEventIndex(InterfaceType::Pci)));
  EXPECT_FALSE(PresenceEventExists(common::KernelModeEventIndex(Channel::CanOne)));
}

TEST_F(KernelProcessTest, SecondKernelComingAndGoingLeavesTheFirstServing) {
  auto& first = StartAnsweringKernel(Channel::CanOne);
  LibrarySide second(Channel::CanOne);
  ASSERT_TRUE(second.StartKernel(InterfaceType::Pci));
  // Whenever the second kernel ends, the first still holds the shared
  // objects and serves the channel.
  ASSERT_EQ(kill(static_cast<pid_t>(second.kernel().id()), SIGTERM), 0);
  ASSERT_TRUE(second.AwaitKernelEnd(kEndTimeoutMs));
  EXPECT_TRUE(PresenceEventSet(common::HardwareEventIndex(InterfaceType::Pci)));
  EXPECT_TRUE(PresenceEventSet(common::KernelModeEventIndex(Channel::CanOne)));
  EXPECT_EQ(first.Command(1).result, common::kKernelSuccess);
}

// A child process that holds the channel as an application does, until it
// is killed.
pid_t StartChannelHolder(Channel channel) {
  int ready[2];
  if (::pipe(ready) != 0) return -1;
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(ready[0]);
    auto users = os::Semaphore::CreateOrOpen(
        common::ChannelObjectName(channel, common::ChannelObject::InitializationSemaphore), 0,
        common::kChannelSemaphoreMaximum);
    const char byte = users ? 1 : 0;
    static_cast<void>(::write(ready[1], &byte, 1));
    for (;;) ::pause();
  }
  ::close(ready[1]);
  char byte = 0;
  const bool held = child > 0 && ::read(ready[0], &byte, 1) == 1 && byte == 1;
  ::close(ready[0]);
  return held ? child : -1;
}

void KillChild(pid_t child) {
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
}

// What a kernel looks like once it ended as after command 2.
void ExpectEndedAsByCodeTwo(LibrarySide& client, Channel channel) {
  ASSERT_TRUE(client.AwaitKernelEnd(kEndTimeoutMs));
  EXPECT_EQ(client.kernel().exitCode(), std::optional<std::uint32_t>(0));
  EXPECT_FALSE(PresenceEventExists(common::HardwareEventIndex(InterfaceType::Pci)));
  EXPECT_FALSE(PresenceEventExists(common::KernelModeEventIndex(channel)));
}

// Its starter gone before the start record came: the kernel ends by itself,
// and the next start on the channel meets no kernel.
TEST_F(KernelProcessTest, EndsByItselfOnceNoApplicationHoldsTheChannel) {
  auto& client = StartAnsweringKernel(Channel::CanOne);
  client.LeaveChannel();
  ExpectEndedAsByCodeTwo(client, Channel::CanOne);
  if (HasFatalFailure()) return;  // the fixture still ends the kernel
  EXPECT_EQ(client.Block().Get(cb::kCommandCode),
            static_cast<std::uint32_t>(common::CommandCode::TerminateKernel))
      << "it ended through its own command 2";

  auto& next = StartAnsweringKernel(Channel::CanOne);
  const auto identity =
      next.Command(static_cast<std::uint32_t>(common::CommandCode::IdentifyKernel));
  EXPECT_TRUE(identity.answered);
}

TEST_F(KernelProcessTest, EndsOnceTheLastApplicationHoldingTheChannelIsKilled) {
  auto& client = StartAnsweringKernel(Channel::CanTwo);
  const pid_t holder = StartChannelHolder(Channel::CanTwo);
  ASSERT_GT(holder, 0);
  client.LeaveChannel();
  EXPECT_FALSE(client.AwaitKernelEnd(4 * kUserCheckPeriodMs)) << "an application holds it";
  EXPECT_EQ(client.Command(1).result, common::kKernelSuccess);
  KillChild(holder);
  ExpectEndedAsByCodeTwo(client, Channel::CanTwo);
}

// An application starting or leaving holds the start-up lock: the kernel
// does not decide meanwhile, so a newcomer is either counted or finds it
// gone.
TEST_F(KernelProcessTest, DecidesOnlyWhileNoApplicationStartsOrLeaves) {
  auto& client = StartAnsweringKernel(Channel::CanThree);
  auto lock =
      os::Mutex::CreateOrOpen(common::KernelObjectName(common::kInitializationEventIndex), false);
  ASSERT_TRUE(lock);
  ASSERT_TRUE(os::WaitForOne(*lock, kEndTimeoutMs).acquired());
  client.LeaveChannel();
  EXPECT_FALSE(client.AwaitKernelEnd(4 * kUserCheckPeriodMs));
  ASSERT_EQ(lock->Release(), os::OsError::Ok);
  ExpectEndedAsByCodeTwo(client, Channel::CanThree);
  EXPECT_TRUE(os::WaitForOne(*lock, 0).acquired()) << "the ended kernel let the lock go";
  EXPECT_EQ(lock->Release(), os::OsError::Ok);
}

class KernelSignalTest : public KernelProcessTest, public ::testing::WithParamInterface<int> {};

TEST_P(KernelSignalTest, TerminationSignalEndsTheProcessLikeTheExitCommand) {
  auto& client = StartAnsweringKernel(Channel::CanThree);
  ASSERT_EQ(kill(static_cast<pid_t>(client.kernel().id()), GetParam()), 0);
  ASSERT_TRUE(client.AwaitKernelEnd(kEndTimeoutMs));
  EXPECT_EQ(client.kernel().exitCode(), std::optional<std::uint32_t>(0));
  EXPECT_FALSE(PresenceEventExists(common::HardwareEventIndex(InterfaceType::Pci)));
  EXPECT_FALSE(PresenceEventExists(common::KernelModeEventIndex(Channel::CanThree)));
}

INSTANTIATE_TEST_SUITE_P(TermAndInt, KernelSignalTest, ::testing::Values(SIGTERM, SIGINT),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return info.param == SIGTERM ? std::string("SIGTERM")
                                                        : std::string("SIGINT");
                         });

TEST_F(KernelProcessTest, KilledKernelLeavesNoPresence) {
  auto& client = StartAnsweringKernel(Channel::CanFour);
  ASSERT_EQ(kill(static_cast<pid_t>(client.kernel().id()), SIGKILL), 0);
  ASSERT_TRUE(client.AwaitKernelEnd(kEndTimeoutMs));
  EXPECT_FALSE(PresenceEventExists(common::HardwareEventIndex(InterfaceType::Pci)));
  EXPECT_FALSE(PresenceEventExists(common::KernelModeEventIndex(Channel::CanFour)));
}

TEST_F(KernelProcessTest, MissingBlockEndsTheKernelAtStartWithNoPresenceLeft) {
  client_ = std::make_unique<LibrarySide>(Channel::CanTwo, /*createBlock=*/false);
  ASSERT_TRUE(client_->StartKernel(InterfaceType::Pci));
  ASSERT_TRUE(client_->AwaitKernelEnd(kEndTimeoutMs));
  EXPECT_NE(client_->kernel().exitCode(), std::optional<std::uint32_t>(0));
  EXPECT_FALSE(PresenceEventExists(common::HardwareEventIndex(InterfaceType::Pci)));
  EXPECT_FALSE(PresenceEventExists(common::KernelModeEventIndex(Channel::CanTwo)));
}

TEST_F(KernelProcessTest, RefusedCommandLineEndsTheKernelBeforeItAnnouncesItself) {
  const std::vector<std::vector<std::string>> refused = {
      {"Motrix", "TarnisInterfaceComLine", "-CanOneComLine"},
      {"tarnisinterfacecomline", "-CanOneComLine"},
      {"TarnisInterfaceComLine", "-CanFiveComLine"},
      {}};
  for (const auto& arguments : refused) {
    client_ = std::make_unique<LibrarySide>(Channel::CanOne);
    ASSERT_TRUE(client_->StartKernelWithArguments(arguments));
    ASSERT_TRUE(client_->AwaitKernelEnd(kEndTimeoutMs));
    EXPECT_NE(client_->kernel().exitCode(), std::optional<std::uint32_t>(0));
    EXPECT_FALSE(PresenceEventExists(common::HardwareEventIndex(InterfaceType::Pci)));
    EXPECT_FALSE(PresenceEventExists(common::KernelModeEventIndex(Channel::CanOne)));
  }
}

struct SdoAreaCase {
  Channel channel;
  common::StatusCode expected;
};

void PrintTo(const SdoAreaCase& c, std::ostream* out) { *out << common::ChannelWord(c.channel); }

class KernelSdoAreaTest : public KernelProcessTest,
                          public ::testing::WithParamInterface<SdoAreaCase> {};

TEST_P(KernelSdoAreaTest, AnswersBothAreasSignalledTogether) {
  auto& client = StartAnsweringKernel(GetParam().channel);
  for (int round = 0; round < 20; ++round) {
    auto block = client.Block();
    block.Set(cb::kSdoRequestCobId, 0);  // NMT: reset communication of all nodes
    block.Set(cb::kSdoRequestLength, 2);
    block.Store<std::uint8_t>(cb::kSdoRequestData.kOffset, 0x81);
    block.Store<std::uint8_t>(cb::kSdoRequestData.kOffset + 1, 0);
    block.Set(cb::kSdoResult, 0);

    client.SignalCommand(1);
    client.SignalSdoRequest();
    const auto sdo = client.AwaitSdoAnswer(LibrarySide::kAnswerTimeoutMs);
    ASSERT_TRUE(sdo.answered) << "round " << round;
    EXPECT_EQ(sdo.result, GetParam().expected);
    const auto standard = client.AwaitCommandAnswer(LibrarySide::kAnswerTimeoutMs);
    ASSERT_TRUE(standard.answered) << "round " << round;
    EXPECT_EQ(standard.result, common::kKernelSuccess);
  }
}

INSTANTIATE_TEST_SUITE_P(Channels, KernelSdoAreaTest,
                         ::testing::Values(
                             // No CAN operation on the NoCan channel.
                             SdoAreaCase{Channel::NoCan, common::kKernelCanOperationInactive},
                             // No cycle runs before the hardware is opened.
                             SdoAreaCase{Channel::CanOne, common::kDriverNoController}),
                         [](const ::testing::TestParamInfo<SdoAreaCase>& info) {
                           return std::string(common::ChannelWord(info.param.channel));
                         });

}  // namespace
}  // namespace vantor::kernel::test_client
