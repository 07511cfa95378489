// The application's side of the path events: events made by the kernel as
// it makes them (create-or-open by name, manual reset, not set), waited for
// through the C library by the same name.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "platform/os/include/vantor_events.h"
#include "platform/os/named_objects.h"
#include "platform/os/wait.h"

// The same calls made from C (application_events_c_check.c).
extern "C" int VantorEventsFromC(const char* name);

namespace {

namespace os = vantor::os;

constexpr std::uint32_t kGenerousMs = 30000;

class ApplicationEventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    ::setenv("VANTOR_NAMESPACE", ("app-events-" + test + "-" + std::to_string(::getpid())).c_str(),
             1);
  }

  // The kernel's event of a path point, made as the kernel makes it.
  static os::Event KernelEvent(const std::string& name) {
    auto event = os::Event::CreateOrOpen(name, os::EventReset::Manual, false);
    EXPECT_TRUE(event) << name;
    return event ? event.take() : os::Event{};
  }
};

struct Closer {
  void operator()(VantorEvent* event) const { vantor_event_close(event); }
};
using EventHandle = std::unique_ptr<VantorEvent, Closer>;

EventHandle Open(const std::string& name) {
  VantorEvent* event = nullptr;
  EXPECT_EQ(vantor_event_open(name.c_str(), &event), VANTOR_EVENT_OK) << name;
  return EventHandle(event);
}

TEST_F(ApplicationEventsTest, OpenedBeforeTheKernelMakesItTheWaitSeesTheKernelsSet) {
  const std::string name = "Vantor Automation Test Event 1";
  const EventHandle event = Open(name);
  ASSERT_TRUE(event);
  EXPECT_EQ(vantor_event_wait(event.get(), 0), VANTOR_EVENT_TIMEOUT);

  os::Event kernel = KernelEvent(name);
  EXPECT_TRUE(kernel.existed()) << "the kernel meets the application's event";
  std::thread path([&kernel] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(kernel.Set());
  });
  EXPECT_EQ(vantor_event_wait(event.get(), kGenerousMs), VANTOR_EVENT_OK);
  path.join();
  EXPECT_EQ(vantor_event_wait(event.get(), 0), VANTOR_EVENT_OK) << "stays set";

  EXPECT_EQ(vantor_event_reset(event.get()), VANTOR_EVENT_OK);
  EXPECT_EQ(vantor_event_wait(event.get(), 20), VANTOR_EVENT_TIMEOUT);
  EXPECT_EQ(os::WaitForOne(kernel, 0).kind, os::WaitKind::Timeout) << "one event for both";
}

TEST_F(ApplicationEventsTest, AnEventTheKernelAlreadySetIsSeenAtOnce) {
  const std::string longest(VANTOR_EVENT_MAX_NAME_LENGTH, 'e');
  for (const std::string& name : {std::string("Vantor Automation Test Event 2"), longest}) {
    os::Event kernel = KernelEvent(name);
    ASSERT_TRUE(kernel.Set());
    const EventHandle event = Open(name);
    ASSERT_TRUE(event);
    EXPECT_EQ(vantor_event_wait(event.get(), 0), VANTOR_EVENT_OK) << name.size();
    EXPECT_EQ(VantorEventsFromC(name.c_str()), VANTOR_EVENT_OK) << name.size();
  }
}

TEST_F(ApplicationEventsTest, ClosedByAllTheEventIsGone) {
  const std::string name = "point 7";
  {
    os::Event kernel = KernelEvent(name);
    const EventHandle event = Open(name);
    ASSERT_TRUE(event);
  }
  EXPECT_EQ(os::Event::Open(name).error(), os::OsError::NotFound);
  vantor_event_close(nullptr);
}

TEST_F(ApplicationEventsTest, BadInputIsRefusedWithNoHandleLeft) {
  // Exactly one byte more than the longest name and no terminator: the
  // check must not read past it.
  const auto unterminated = std::make_unique<char[]>(VANTOR_EVENT_MAX_NAME_LENGTH + 1);
  std::fill_n(unterminated.get(), VANTOR_EVENT_MAX_NAME_LENGTH + 1, 'x');
  const std::string tooLong(VANTOR_EVENT_MAX_NAME_LENGTH + 1, 'y');
  auto mutex = os::Mutex::CreateOrOpen("a mutex's name", false);
  ASSERT_TRUE(mutex);

  const struct {
    const char* name;
    VantorEventResult result;
  } cases[] = {
      {nullptr, VANTOR_EVENT_INVALID_ARGUMENT},
      {"", VANTOR_EVENT_INVALID_ARGUMENT},
      {tooLong.c_str(), VANTOR_EVENT_NAME_TOO_LONG},
      {unterminated.get(), VANTOR_EVENT_NAME_TOO_LONG},
      {"a mutex's name", VANTOR_EVENT_FAILED},
  };
  for (const auto& c : cases) {
    VantorEvent* event = reinterpret_cast<VantorEvent*>(&mutex);
    EXPECT_EQ(vantor_event_open(c.name, &event), c.result) << (c.name ? c.name : "null");
    EXPECT_EQ(event, nullptr);
  }
  EXPECT_EQ(vantor_event_open("fine", nullptr), VANTOR_EVENT_INVALID_ARGUMENT);
  EXPECT_EQ(vantor_event_wait(nullptr, 0), VANTOR_EVENT_INVALID_ARGUMENT);
  EXPECT_EQ(vantor_event_reset(nullptr), VANTOR_EVENT_INVALID_ARGUMENT);
  EXPECT_EQ(os::Event::Open(tooLong.substr(0, VANTOR_EVENT_MAX_NAME_LENGTH)).error(),
            os::OsError::NotFound)
      << "a long name is refused, not cut";
}

}  // namespace
