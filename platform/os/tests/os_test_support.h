// Shared pieces of the platform/os tests: a namespace of their own, unique
// object names and helper processes.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/os/named_objects.h"
#include "platform/os/process.h"
#include "platform/os/wait.h"

namespace vantor::os::testing {

// Generous bound for anything a test waits for; never reached when the
// code works, however slow the machine.
inline constexpr std::uint32_t kDeadlineMs = 20'000;

inline std::string CurrentTestName() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info != nullptr ? std::string(info->test_suite_name()) + "." + info->name()
                                     : std::string("no-test");
  for (char& c : name) {
    if (c == '/') c = '.';
  }
  return name;
}

// Every test process runs in a namespace of its own, so parallel test
// processes never meet. The namespace binds at the first named-object call
// of the process, and helper processes inherit it; object names carry the
// test's name, so tests run one after another in one process stay apart too.
class OsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    namespace_ = "ostest-" + std::to_string(::getpid());
    ::setenv("VANTOR_NAMESPACE", namespace_.c_str(), 1);
  }

  // A name no other test uses, with blanks like the system's own names.
  static std::string Name(std::string_view stem) {
    return "Vantor Test " + CurrentTestName() + " " + std::string(stem) + " " +
           std::to_string(::getpid());
  }

  std::string namespace_;
};

inline OsResult<Process> StartHelper(const std::vector<std::string>& arguments,
                                     ProcessStartOptions options = {}) {
  return Process::Start(VANTOR_OS_TEST_HELPER, arguments, options);
}

// A helper's ready event, made before the helper starts: the helper's own
// handle may be gone by the time this side looks.
class ReadySignal {
 public:
  explicit ReadySignal(std::string name) : name_(std::move(name)) {
    auto event = Event::CreateOrOpen(name_, EventReset::Manual, false);
    if (event) event_ = event.take();
  }
  const std::string& name() const { return name_; }
  bool Wait() const { return WaitForOne(event_, kDeadlineMs).kind == WaitKind::Signalled; }
  bool IsSet() const { return WaitForOne(event_, 0).kind == WaitKind::Signalled; }

 private:
  std::string name_;
  Event event_;
};

inline void KillAndReap(Process& process) {
  ASSERT_EQ(process.Terminate(9), OsError::Ok);
  ASSERT_EQ(WaitForOne(process, kDeadlineMs).kind, WaitKind::Signalled);
}

}  // namespace vantor::os::testing
