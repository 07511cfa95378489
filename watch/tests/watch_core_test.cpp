#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "common/kernel_object_names.h"
#include "platform/os/named_objects.h"
#include "platform/os/wait.h"
#include "watch/presence_indicators.h"
#include "watch/tests/test_environment.h"
#include "watch/watch_command_line.h"
#include "watch/watch_presence.h"
#include "common/watch_window_handle.h"

namespace vantor::watch {
namespace {

using common::KernelObjectName;

std::string_view WatchEventName() { return KernelObjectName(common::kWatchEventIndex); }
std::string_view WatchMappingName() {
  return KernelObjectName(common::kWatchWindowHandleMappingIndex);
}

bool EventIsSet(const os::Event& event) {
  return os::WaitForOne(event, 0).kind == os::WaitKind::Signalled;
}

std::uint32_t PublishedToken() {
  auto mapping = os::Mapping::Open(WatchMappingName());
  if (!mapping) return 0;
  const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(mapping->data()),
                                            mapping->size());
  return common::LoadWatchWindowHandle(bytes).value_or(0);
}

TEST(WatchCommandLineTest, OnlyTheKeywordAloneStartsTheProgram) {
  struct Case {
    std::vector<const char*> arguments;
    bool accepted;
  };
  const std::array<Case, 9> cases = {{
      {{"/opt/vantor/Vigilo", "MotrixWatchComLine"}, true},
      {{"/opt/vantor/Vigilo"}, false},
      {{}, false},
      {{"/opt/vantor/Vigilo", ""}, false},
      {{"/opt/vantor/Vigilo", "MotrixWatchComLine", "MotrixWatchComLine"}, false},
      {{"/opt/vantor/Vigilo", "motrixwatchcomline"}, false},
      {{"/opt/vantor/Vigilo", "MotrixWatchComLine "}, false},
      {{"/opt/vantor/Vigilo", " MotrixWatchComLine"}, false},
      {{"/opt/vantor/Vigilo", nullptr}, false},
  }};
  for (const Case& c : cases) {
    EXPECT_EQ(IsWatchCommandLine(c.arguments), c.accepted)
        << "arguments: " << c.arguments.size()
        << (c.arguments.size() > 1 && c.arguments[1] ? std::string(" '") + c.arguments[1] + "'"
                                                     : std::string());
  }
}

TEST(WatchWindowHandleTest, TokenIsTheFirstLittleEndianWordOfOnePage) {
  common::WatchWindowHandleRecord record;
  ASSERT_TRUE(common::StoreWatchWindowHandle(record.MutableBytes(), 0x11223344u));
  const auto bytes = record.Bytes();
  EXPECT_EQ(bytes[0], 0x44);
  EXPECT_EQ(bytes[1], 0x33);
  EXPECT_EQ(bytes[2], 0x22);
  EXPECT_EQ(bytes[3], 0x11);
  for (std::size_t i = 4; i < bytes.size(); ++i) ASSERT_EQ(bytes[i], 0) << "byte " << i;
  EXPECT_EQ(common::LoadWatchWindowHandle(bytes), 0x11223344u);

  // A mapping shorter than a page under our name is not ours to read or write.
  std::array<std::uint8_t, 16> tooShort{};
  EXPECT_FALSE(common::LoadWatchWindowHandle(tooShort).has_value());
  EXPECT_FALSE(common::StoreWatchWindowHandle(tooShort, 7));
  EXPECT_EQ(tooShort, (std::array<std::uint8_t, 16>{}));
}

TEST(WatchPresenceTest, PublishWritesTheTokenThenSetsTheEventAndWithdrawResetsIt) {
  WatchPresence presence;
  ASSERT_EQ(presence.Publish(0x0BADF00Du), PresenceStart::Published);
  EXPECT_TRUE(presence.published());
  EXPECT_EQ(PublishedToken(), 0x0BADF00Du);

  auto observer = os::Event::Open(WatchEventName());
  ASSERT_TRUE(observer);
  EXPECT_TRUE(EventIsSet(*observer));

  presence.Withdraw();
  EXPECT_FALSE(presence.published());
  EXPECT_FALSE(EventIsSet(*observer));
  presence.Withdraw();  // the close path may come twice
  EXPECT_FALSE(EventIsSet(*observer));
}

TEST(WatchPresenceTest, SecondPublisherLeavesTheFirstsWordAndEventAlone) {
  WatchPresence first;
  ASSERT_EQ(first.Publish(41), PresenceStart::Published);
  {
    WatchPresence second;
    EXPECT_EQ(second.Publish(42), PresenceStart::AnotherWatchRuns);
    EXPECT_FALSE(second.published());
    second.Withdraw();
  }
  EXPECT_EQ(PublishedToken(), 41u);
  EXPECT_TRUE(IsPresenceEventSet(WatchEventName()));

  // Once the first has withdrawn, a new one may take over.
  first.Withdraw();
  WatchPresence third;
  EXPECT_EQ(third.Publish(43), PresenceStart::Published);
  EXPECT_EQ(PublishedToken(), 43u);
}

TEST(WatchPresenceTest, ForeignObjectsUnderOurNamesAreRefused) {
  {
    // An event where the mapping belongs.
    auto squatter = os::Event::CreateOrOpen(WatchMappingName(), os::EventReset::Manual, false);
    ASSERT_TRUE(squatter);
    WatchPresence presence;
    EXPECT_EQ(presence.Publish(5), PresenceStart::MappingFailed);
    EXPECT_FALSE(presence.published());
    EXPECT_FALSE(os::Event::Open(WatchEventName()).ok());
  }
  {
    // A mapping where the presence event belongs.
    auto squatter = os::Mapping::CreateOrOpen(WatchEventName(), 64);
    ASSERT_TRUE(squatter);
    WatchPresence presence;
    EXPECT_EQ(presence.Publish(6), PresenceStart::EventFailed);
    EXPECT_FALSE(presence.published());
  }
  {
    // A mapping of the right name that is too short to hold our page.
    auto squatter = os::Mapping::CreateOrOpen(WatchMappingName(), 2);
    ASSERT_TRUE(squatter);
    WatchPresence presence;
    EXPECT_EQ(presence.Publish(7), PresenceStart::MappingFailed);
  }
  EXPECT_EQ(os::TakeNamespaceCensus().objects, 0u);
}

TEST(PresenceIndicatorsTest, ReadsEachEventInTableOrderAndCreatesNothing) {
  enum class State { Absent, Unset, Set };
  using Row = std::array<State, kPresenceIndicatorCount>;
  constexpr State A = State::Absent, U = State::Unset, S = State::Set;
  const std::array<Row, 6> cases = {{
      {A, A, A, A, A, A, A, A},
      {S, S, S, S, S, S, S, S},
      {U, U, U, U, U, U, U, U},
      {A, A, S, A, S, A, A, A},  // a kernel on the PCI card, channel 1
      {S, U, A, U, A, S, U, S},
      {A, U, S, S, U, A, S, A},
  }};
  for (std::size_t row = 0; row < cases.size(); ++row) {
    std::vector<os::Event> held;
    for (std::size_t i = 0; i < kPresenceIndicatorCount; ++i) {
      if (cases[row][i] == State::Absent) continue;
      auto event = os::Event::CreateOrOpen(KernelObjectName(kPresenceIndicators[i].nameIndex),
                                           os::EventReset::Manual, cases[row][i] == State::Set);
      ASSERT_TRUE(event);
      held.push_back(event.take());
    }
    const std::uint32_t objectsBefore = os::TakeNamespaceCensus().objects;

    const PresenceReading reading = ReadPresenceIndicators();
    for (std::size_t i = 0; i < kPresenceIndicatorCount; ++i) {
      EXPECT_EQ(reading[i], cases[row][i] == State::Set)
          << "row " << row << ", indicator " << kPresenceIndicators[i].controlId;
    }
    // Reading neither creates the absent events nor consumes the set ones.
    EXPECT_EQ(os::TakeNamespaceCensus().objects, objectsBefore) << "row " << row;
    EXPECT_EQ(ReadPresenceIndicators(), reading) << "row " << row;
  }
  EXPECT_EQ(os::TakeNamespaceCensus().objects, 0u);
}

}  // namespace
}  // namespace vantor::watch
