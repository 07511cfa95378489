// Eight threads in four processes contend on the same mutexes, semaphore
// and event; afterwards the namespace's table must be empty.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/os/process.h"
#include "platform/os/runtime_dir.h"
#include "platform/os/tests/os_test_support.h"
#include "platform/os/tests/stress_roles.h"
#include "platform/os/wait.h"

namespace vantor::os {
namespace {

constexpr int kProcesses = 4;
constexpr const char* kSeconds = "3";

TEST(StressTest, NoLostWakeUpNoDoubleOwnerAndNothingLeftBehind) {
  // The contenders get a namespace of their own; this process never uses
  // it, so that only they are counted.
  const std::string stressNamespace = "ostest-stress-" + std::to_string(::getpid());
  const std::string parentNamespace = "ostest-stress-parent-" + std::to_string(::getpid());
  ::setenv("VANTOR_NAMESPACE", parentNamespace.c_str(), 1);
  TakeNamespaceCensus();  // binds this process to the parent namespace
  std::vector<Process> contenders;
  ::setenv("VANTOR_NAMESPACE", stressNamespace.c_str(), 1);
  for (int i = 0; i < kProcesses; ++i) {
    auto process = testing::StartHelper({"stress", kSeconds, std::to_string(i)});
    ASSERT_TRUE(process);
    contenders.push_back(process.take());
  }
  for (int i = 0; i < kProcesses; ++i) {
    ASSERT_EQ(WaitForOne(contenders[i], 60'000).kind, WaitKind::Signalled) << i;
    EXPECT_EQ(contenders[i].exitCode(), static_cast<std::uint32_t>(testing::kStressPassed)) << i;
  }
  auto census = testing::StartHelper({"census"});
  ASSERT_TRUE(census);
  ASSERT_EQ(WaitForOne(*census, testing::kDeadlineMs).kind, WaitKind::Signalled);
  EXPECT_EQ(census->exitCode(), 0u) << "objects left in the stress namespace";

  // The last process to leave took the namespace's files along.
  ::setenv("VANTOR_NAMESPACE", parentNamespace.c_str(), 1);
  auto ownFolder = RuntimeDirectory();
  ASSERT_TRUE(ownFolder);
  const std::string stressFolder =
      ownFolder->substr(0, ownFolder->rfind('/') + 1) + SafeIdentifier(stressNamespace);
  EXPECT_NE(::access(stressFolder.c_str(), F_OK), 0) << stressFolder;
}

}  // namespace
}  // namespace vantor::os
