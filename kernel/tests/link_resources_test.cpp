// Timer periods and the path-buffer mapping of the kernel link.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "common/kernel_object_names.h"
#include "common/path_buffer.h"
#include "kernel/services/path_buffer_link.h"
#include "kernel/services/timer_periods.h"
#include "platform/os/timing.h"

namespace vantor::kernel {
namespace {

// Named objects of this test binary stay in a namespace of their own.
const bool kOwnNamespace = [] {
  const std::string name = "kernel-link-" + std::to_string(getpid());
  return setenv("VANTOR_NAMESPACE", name.c_str(), 1) == 0;
}();

TEST(SetTimerResolutionTest, BeginsAndEndsClampedPeriods) {
  ASSERT_TRUE(kOwnNamespace);
  EXPECT_FALSE(SetTimerResolution(TimerPeriod::Begin, 0));
  EXPECT_FALSE(SetTimerResolution(TimerPeriod::End, 0));
  EXPECT_TRUE(SetTimerResolution(TimerPeriod::Begin, 5));
  EXPECT_TRUE(SetTimerResolution(TimerPeriod::End, 5));
  // Nothing left to end.
  EXPECT_FALSE(SetTimerResolution(TimerPeriod::End, 5));
  // Beyond the timer's range the period is its maximum.
  EXPECT_TRUE(SetTimerResolution(TimerPeriod::Begin, os::kTimerPeriodMax + 1));
  EXPECT_TRUE(SetTimerResolution(TimerPeriod::End, os::kTimerPeriodMax));
}

KernelSettings NormalOperation() {
  KernelSettings settings;
  settings.normalTimerResolution = 3;
  settings.pathTimerResolution = 7;
  settings.normalPeriodActive = SetTimerResolution(TimerPeriod::Begin, 3);
  return settings;
}

TEST(SelectTimerPeriodTest, SwitchesBetweenNormalAndPathMode) {
  KernelSettings settings = NormalOperation();
  ASSERT_TRUE(settings.normalPeriodActive);

  SelectTimerPeriod(settings, true);
  EXPECT_FALSE(settings.normalPeriodActive);
  EXPECT_TRUE(settings.pathPeriodActive);
  // Selecting the mode in force changes nothing.
  SelectTimerPeriod(settings, true);
  EXPECT_TRUE(settings.pathPeriodActive);

  SelectTimerPeriod(settings, false);
  EXPECT_TRUE(settings.normalPeriodActive);
  EXPECT_FALSE(settings.pathPeriodActive);

  SelectTimerPeriod(settings, false);
  EXPECT_TRUE(settings.normalPeriodActive);
  EndTimerPeriods(settings, settings);
  EXPECT_FALSE(settings.normalPeriodActive);
}

TEST(EndTimerPeriodsTest, EndsThePeriodsAndRestoresTheSavedResolutions) {
  KernelSettings settings = NormalOperation();
  ASSERT_TRUE(settings.normalPeriodActive);
  const KernelSettings saved = settings;
  settings.pathTimerResolution = 11;  // changed since the hardware was opened
  EndTimerPeriods(settings, saved);
  EXPECT_FALSE(settings.normalPeriodActive);
  EXPECT_FALSE(settings.pathPeriodActive);
  EXPECT_EQ(settings.normalTimerResolution, 3u);
  EXPECT_EQ(settings.pathTimerResolution, 7u);
  // The period really ended: there is nothing left to end.
  EXPECT_FALSE(SetTimerResolution(TimerPeriod::End, 3));
}

TEST(SelectTimerPeriodTest, KeepsTheNormalPeriodWhenItCannotEnd) {
  KernelSettings settings;
  settings.normalTimerResolution = 4;
  settings.pathTimerResolution = 7;
  settings.normalPeriodActive = true;  // marked active but never begun: ending fails
  SelectTimerPeriod(settings, true);
  EXPECT_TRUE(settings.normalPeriodActive);
  EXPECT_FALSE(settings.pathPeriodActive);
}

TEST(SelectTimerPeriodTest, NoResolutionBeginsNoPeriod) {
  KernelSettings settings;  // both resolutions 0
  SelectTimerPeriod(settings, true);
  EXPECT_FALSE(settings.pathPeriodActive);
  SelectTimerPeriod(settings, false);
  EXPECT_FALSE(settings.normalPeriodActive);
}

class PathBufferLinkTest : public ::testing::Test {
 protected:
  void Use(common::Channel channel) { kernel_.instance = {common::InterfaceType::Pci, channel}; }

  os::Mapping CreateLibraryMapping(common::Channel channel, std::size_t size) {
    return os::Mapping::CreateOrOpen(
               common::ChannelObjectName(channel, common::ChannelObject::PathBufferMapping), size)
        .take();
  }

  Kernel kernel_;
};

TEST_F(PathBufferLinkTest, OpensOnlyWhatTheLibraryMade) {
  ASSERT_TRUE(kOwnNamespace);
  Use(common::Channel::CanTwo);
  EXPECT_FALSE(OpenPathBuffer(kernel_));

  auto library = CreateLibraryMapping(common::Channel::CanTwo, 4096);
  ASSERT_TRUE(library.valid());
  common::PathBufferHeaderView(reinterpret_cast<std::uint8_t*>(library.data()))
      .Set(common::path_buffer::kCapacity, 14);
  ASSERT_TRUE(OpenPathBuffer(kernel_));
  const common::PathBufferHeaderView header(
      reinterpret_cast<std::uint8_t*>(kernel_.link.pathBufferMapping.data()));
  EXPECT_EQ(header.Get(common::path_buffer::kCapacity), 14u);

  ClosePathBuffer(kernel_);
  EXPECT_FALSE(kernel_.link.pathBufferMapping.valid());
  ClosePathBuffer(kernel_);
}

TEST_F(PathBufferLinkTest, RefusesNoCanAndAMappingTooSmallForItsHeader) {
  auto noCan = CreateLibraryMapping(common::Channel::NoCan, 4096);
  Use(common::Channel::NoCan);
  EXPECT_FALSE(OpenPathBuffer(kernel_));

  auto tiny = CreateLibraryMapping(common::Channel::CanThree, 8);
  ASSERT_TRUE(tiny.valid());
  Use(common::Channel::CanThree);
  EXPECT_FALSE(OpenPathBuffer(kernel_));
  EXPECT_FALSE(kernel_.link.pathBufferMapping.valid());
}

}  // namespace
}  // namespace vantor::kernel
