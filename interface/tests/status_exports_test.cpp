// The status exports against the scripted kernel: what the kernel answers
// to the complete status request, and what the exports make of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "common/kernel_object_names.h"
#include "interface/include/linkora.h"
#include "interface/tests/fake_channel.h"
#include "interface/tests/homing_holder.h"
#include "platform/os/named_objects.h"
#include "platform/os/wait.h"

namespace linkora_test {
namespace {

class StatusExportsTest : public FakeChannelTest {
 protected:
  // Two axes (the second with a slave axis) on one coordinate.
  void EnterCncMode() {
    const LinkoraAxisEntry axes[2] = {{1, 0, 0}, {2, 1, 3}};
    FakeChannelTest::EnterCncMode(1, axes, 20);
  }

  void ScriptResult(const char* code) { std::ofstream(Path("status-result")) << code; }
  void ScriptAnswer() { std::filesystem::remove(Path("status-result")); }

  int StatusRequests() const { return Requests(24); }
};

// A complete status as a kernel in CNC mode writes it: every condition
// absent except that axis 1 has not been homed yet.
std::array<std::uint8_t, 2484> KernelImage() {
  std::array<std::uint8_t, 2484> image{};
  const auto put = [&](std::size_t offset, std::uint32_t value) {
    std::memcpy(image.data() + offset, &value, sizeof value);
  };
  for (std::size_t offset : {0u, 4u, 8u, 12u, 16u, 20u, 24u, 128u}) put(offset, 1);
  for (std::size_t offset = 148; offset < 360; offset += 4) put(offset, 1);
  for (std::size_t axis = 0; axis < 8; ++axis) {
    put(360 + 16 * axis + 4, 1);
    for (std::size_t word = 0; word < 16; ++word) {
      put(552 + 64 * axis + 4 * word, 1);
      put(1064 + 64 * axis + 4 * word, 1);
    }
    put(1672 + 12 * axis, 1);
    put(1672 + 12 * axis + 4, 1);
    put(1768 + 12 * axis, 1);
    put(1768 + 12 * axis + 4, 1);
  }
  put(552 + 64 + 44, 0);  // latched homing of axis 1
  put(1576, 1);
  put(1588, 2);
  put(1592, 1);
  put(1596, 3);
  const auto text = [&](std::size_t offset, const char* value) {
    std::memcpy(image.data() + offset, value, std::strlen(value) + 1);
  };
  text(1928, "drive of X");
  text(2400, "tarnis1");
  text(2421, "driver 2.3");
  text(2442, "01.70.00.13");
  text(2463, "left by the kernel!!");
  return image;
}

TEST_F(StatusExportsTest, WithoutCncModeTheKernelRefusesAndTheStatusShowsNoInitialisation) {
  LinkoraCompleteStatusRecord complete;
  std::memset(&complete, 0xA5, sizeof complete);
  EXPECT_EQ(mctl_specfct_GetCompleteStatus(&complete, sizeof complete), 0xC913000Au);
  EXPECT_EQ(complete.CanInterfaceOK, 0u);
  EXPECT_EQ(complete.LibraryVersion[20], 0);

  LinkoraMotionControlStatus status;
  std::memset(&status, 0xA5, sizeof status);
  EXPECT_EQ(mctl_GetStatus(&status, sizeof status), LINKORA_SUCCESS);
  EXPECT_EQ(status.IsInitialized, 0u);
  EXPECT_EQ(status.Flags2, 0u);
  EXPECT_EQ(status.Flags, 0u);

  LinkoraAxisStatus axis;
  std::memset(&axis, 0xA5, sizeof axis);
  EXPECT_EQ(mctl_GetAxisStatus(0, &axis, sizeof axis), LINKORA_SUCCESS);
  EXPECT_EQ(axis.IsInitialized, 0u);
  EXPECT_EQ(axis.Ready, 0u);
  EXPECT_EQ(axis.Flags2, 0u);
  EXPECT_EQ(StatusRequests(), 3) << "the library leaves the refusal to the kernel";
}

TEST_F(StatusExportsTest, StatusComesAsTheKernelWroteItWithTheLibrarysVersion) {
  EnterCncMode();
  const auto image = KernelImage();
  std::ofstream(Path("status"), std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), image.size());

  LinkoraCompleteStatusRecord complete{};
  ASSERT_EQ(mctl_specfct_GetCompleteStatus(&complete, sizeof complete), LINKORA_SUCCESS);
  EXPECT_EQ(std::memcmp(&complete, image.data(), 2463), 0);
  EXPECT_STREQ(complete.LibraryVersion, "01.70.00.13");
  EXPECT_TRUE(std::all_of(complete.LibraryVersion + 12, complete.LibraryVersion + 21,
                          [](char c) { return c == 0; }));
  EXPECT_EQ(complete.ControlInit, 1u);
  EXPECT_EQ(complete.AxisNodes[1].SlaveNodeNo, 3u);
  EXPECT_STREQ(complete.DriverVersion, "driver 2.3");

  LinkoraMotionControlStatus status{};
  ASSERT_EQ(mctl_GetStatus(&status, sizeof status), LINKORA_SUCCESS);
  EXPECT_EQ(status.IsInitialized, 1u);
  EXPECT_EQ(status.NeedReferenceRun, 1u);
  EXPECT_EQ(status.Flags, 1u << 16);
  EXPECT_EQ(status.Flags2, 1u << 2);
  EXPECT_EQ(status.IsBusy, 0u);
  EXPECT_EQ(status.CommunicationFail, 0u);

  const struct {
    std::int32_t axis;
    LinkoraStatus result;
    std::uint32_t needReferenceRun;
  } axes[] = {{0, LINKORA_SUCCESS, 0},
              {1, LINKORA_SUCCESS, 1},
              {2, 0xC9130027u, 0},
              {-1, 0xC9130027u, 0},
              {8, 0xC9130027u, 0}};
  for (const auto& a : axes) {
    LinkoraAxisStatus axis{};
    EXPECT_EQ(mctl_GetAxisStatus(a.axis, &axis, sizeof axis), a.result) << a.axis;
    EXPECT_EQ(axis.NeedReferenceRun, a.needReferenceRun) << a.axis;
    EXPECT_EQ(axis.Ready, a.result == LINKORA_SUCCESS ? 1u : 0u) << a.axis;
  }
}

TEST_F(StatusExportsTest, FailedFetchIsReturnedWithTheControllerInitialised) {
  EnterCncMode();
  ScriptResult("C9100008");
  LinkoraCompleteStatusRecord complete{};
  EXPECT_EQ(mctl_specfct_GetCompleteStatus(&complete, sizeof complete), 0xC9100008u);
  EXPECT_EQ(complete.CanInterfaceOK, 0u) << "the scribbled payload is not taken";

  LinkoraMotionControlStatus status{};
  EXPECT_EQ(mctl_GetStatus(&status, sizeof status), 0xC9100008u);
  EXPECT_EQ(status.IsInitialized, 1u);
  EXPECT_EQ(status.Flags2, 1u << 2);
  EXPECT_EQ(status.Flags, 0u);

  LinkoraAxisStatus axis{};
  EXPECT_EQ(mctl_GetAxisStatus(1, &axis, sizeof axis), 0xC9100008u);
  EXPECT_EQ(axis.IsInitialized, 1u);
  EXPECT_EQ(axis.Ready, 1u);
  EXPECT_EQ(axis.Flags2, (1u << 2) | (1u << 3));
  EXPECT_EQ(mctl_GetAxisStatus(2, &axis, sizeof axis), 0xC9130027u) << "the index comes first";

  // While a homing run holds the channel nothing is sent.
  ScriptAnswer();
  {
    const HomingHolder holder;
    const int before = StatusRequests();
    EXPECT_EQ(mctl_GetStatus(&status, sizeof status), 0xC9130016u);
    EXPECT_EQ(status.IsInitialized, 1u);
    EXPECT_EQ(mctl_GetAxisStatus(0, &axis, sizeof axis), 0xC9130016u);
    EXPECT_EQ(axis.Ready, 1u);
    EXPECT_EQ(StatusRequests(), before);
  }
  EXPECT_EQ(mctl_GetAxisStatus(0, &axis, sizeof axis), LINKORA_SUCCESS);
}

// The path buffer's header words: enabled flag and record count.
struct PathBufferHeader {
  std::uint32_t enabled = 0;
  std::uint32_t count = 0;
  bool operator==(const PathBufferHeader&) const = default;
};

class PathBufferWords {
 public:
  PathBufferWords()
      : mapping_(
            os::Mapping::Open(common::ChannelObjectName(common::Channel::CanOne,
                                                        common::ChannelObject::PathBufferMapping))
                .take()) {}
  PathBufferHeader Get() const {
    PathBufferHeader header;
    std::memcpy(&header.enabled, mapping_.data() + 4, 4);
    std::memcpy(&header.count, mapping_.data() + 12, 4);
    return header;
  }
  void Set(PathBufferHeader header) {
    std::memcpy(mapping_.data() + 4, &header.enabled, 4);
    std::memcpy(mapping_.data() + 12, &header.count, 4);
  }

 private:
  os::Mapping mapping_;
};

TEST_F(StatusExportsTest, ResetEmptiesTheDllPathBufferOnlyWhenTheKernelSucceeds) {
  EXPECT_EQ(mctl_Reset(), 0xC914000Bu);
  EXPECT_EQ(Requests(15), 0) << "nothing is sent outside CNC mode";

  EnterCncMode();
  PathBufferWords buffer;
  const PathBufferHeader filled{1, 3};
  buffer.Set(filled);
  std::ofstream(Path("reset-result")) << "C913000D";
  EXPECT_EQ(mctl_Reset(), 0xC913000Du);
  EXPECT_EQ(buffer.Get(), filled);

  std::filesystem::remove(Path("reset-result"));
  EXPECT_EQ(mctl_Reset(), LINKORA_SUCCESS);
  EXPECT_EQ(buffer.Get(), (PathBufferHeader{0, 0}));
  EXPECT_EQ(Requests(15), 2);
}

TEST_F(StatusExportsTest, ResetBreaksAHomingRunThatHoldsTheChannel) {
  EnterCncMode();
  const auto name = [](common::ChannelObject object) {
    return common::ChannelObjectName(common::Channel::CanOne, object);
  };
  auto homingBreak = os::Event::Open(name(common::ChannelObject::HomingBreakEvent)).take();
  ASSERT_TRUE(homingBreak.Reset());
  const HomingHolder holder;
  EXPECT_EQ(mctl_Reset(), LINKORA_SUCCESS);
  EXPECT_EQ(os::WaitForOne(homingBreak, 0).kind, os::WaitKind::Signalled);
  EXPECT_EQ(Requests(15), 1);
}

TEST_F(StatusExportsTest, AHomingMarkNobodyHoldsIsTakenBack) {
  EnterCncMode();
  // Left by a homing caller that died after its run had ended.
  auto homing = os::Event::Open(CanOneObjectName(common::ChannelObject::HomingActiveEvent)).take();
  ASSERT_TRUE(homing.Set());
  LinkoraMotionControlStatus status{};
  EXPECT_NE(mctl_GetStatus(&status, sizeof status), 0xC9130016u);
  EXPECT_EQ(os::WaitForOne(homing, 0).kind, os::WaitKind::Timeout);
}

TEST_F(StatusExportsTest, HomingExports) {
  auto homing = os::Event::Open(CanOneObjectName(common::ChannelObject::HomingActiveEvent)).take();
  auto homingBreak =
      os::Event::Open(CanOneObjectName(common::ChannelObject::HomingBreakEvent)).take();
  const std::int32_t shift[2] = {1, -5};
  EXPECT_EQ(mctl_Reference(0b11), 0xC914000Bu);
  EXPECT_EQ(mctl_ReferenceBreak(), 0xC914000Bu);
  EXPECT_EQ(mctl_ChangeHomePosition(shift, sizeof shift), 0xC914000Bu);
  EXPECT_EQ(os::WaitForOne(homingBreak, 0).kind, os::WaitKind::Timeout);

  EnterCncMode();
  EXPECT_EQ(mctl_ChangeHomePosition(shift, 4), 0xC914000Eu);
  EXPECT_EQ(mctl_ChangeHomePosition(nullptr, sizeof shift), 0xC9140006u);
  EXPECT_EQ(mctl_ChangeHomePosition(shift, sizeof shift), LINKORA_SUCCESS);
  EXPECT_EQ(Requests(82), 1);

  EXPECT_EQ(mctl_ReferenceBreak(), LINKORA_SUCCESS);
  EXPECT_EQ(os::WaitForOne(homingBreak, 0).kind, os::WaitKind::Signalled);
  EXPECT_EQ(Requests(16), 0) << "the break sends nothing";
  EXPECT_EQ(mctl_Reference(0b11), LINKORA_SUCCESS);
  EXPECT_EQ(Requests(16), 1);
  EXPECT_EQ(os::WaitForOne(homingBreak, 0).kind, os::WaitKind::Timeout)
      << "an old break does not end the next run";
  EXPECT_EQ(os::WaitForOne(homing, 0).kind, os::WaitKind::Timeout) << "the mark is taken back";

  PathBufferWords buffer;
  buffer.Set({1, 0});
  EXPECT_EQ(mctl_Reference(0b11), 0xC914000Du);
  EXPECT_EQ(Requests(16), 1);
  buffer.Set({0, 0});
}

}  // namespace
}  // namespace linkora_test
