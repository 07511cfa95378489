// A channel served by the scripted kernel: the library initialised on
// channel CanOne in a namespace of the test's own, the kernel's logs and
// scripts in a folder of its own (each script acts only while its file
// exists), and the shared memory the test looks into.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include "common/kernel_object_names.h"
#include "interface/include/linkora.h"
#include "platform/os/named_objects.h"

namespace linkora_test {

namespace os = vantor::os;
namespace common = vantor::common;

// One shared mapping of the channel, read and written word by word.
class ChannelMapping {
 public:
  explicit ChannelMapping(common::ChannelObject object)
      : mapping_(
            os::Mapping::Open(common::ChannelObjectName(common::Channel::CanOne, object)).take()) {}
  std::uint32_t Word(std::size_t offset) const {
    std::uint32_t value = 0;
    std::memcpy(&value, mapping_.data() + offset, sizeof value);
    return value;
  }
  void SetWord(std::size_t offset, std::uint32_t value) {
    std::memcpy(mapping_.data() + offset, &value, sizeof value);
  }
  std::vector<std::uint8_t> Bytes(std::size_t offset, std::size_t length) const {
    std::vector<std::uint8_t> bytes(length);
    std::memcpy(bytes.data(), mapping_.data() + offset, length);
    return bytes;
  }

 private:
  os::Mapping mapping_;
};

class FakeChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string tag =
        std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
        std::to_string(::getpid());
    ::setenv("VANTOR_NAMESPACE", ("linkora-fake-" + tag).c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    folder_ = std::filesystem::temp_directory_path() / ("linkora-fake-" + tag);
    std::filesystem::create_directories(folder_);
    ::setenv("VANTOR_FAKE_KERNEL_LOG", Path("commands").c_str(), 1);
    ::setenv("VANTOR_FAKE_KERNEL_MOTION_LOG", Path("motion").c_str(), 1);
    ::setenv("VANTOR_FAKE_KERNEL_MOTION_ANSWER", Path("answer").c_str(), 1);
    ::setenv("VANTOR_FAKE_KERNEL_MOTION_RESULTS", Path("results").c_str(), 1);
    ::setenv("VANTOR_FAKE_KERNEL_STATUS_FILE", Path("status").c_str(), 1);
    ::setenv("VANTOR_FAKE_KERNEL_STATUS_RESULT", Path("status-result").c_str(), 1);
    ::setenv("VANTOR_FAKE_KERNEL_RESET_RESULT", Path("reset-result").c_str(), 1);
    ::setenv("VANTOR_FAKE_KERNEL_PATH_FILE", Path("path").c_str(), 1);
    SetUpFakeKernel();

    hardware_.CanInterface = 2;
    hardware_.KernelModus = 1;
    hardware_.BaudRateForCan = 5;
    hardware_.InterruptCycle = 3000;
    hardware_.TimeForGlobalSynPeriod = 300000;
    hardware_.SynMaxWaitTime = 1000;
    LinkoraCanInitRecord record{};
    record.KernelShared = 1;
    record.HardwareParameters = &hardware_;
    record.DeviceName = deviceName_.data();
    record.KernelPath = const_cast<char*>(kernel_.c_str());
    record.WatchPath = const_cast<char*>(watch_.c_str());
    ASSERT_EQ(mctl_specfct_CanInitialize(&record, sizeof record), LINKORA_SUCCESS);
  }

  void TearDown() override {
    EXPECT_EQ(mctl_Exit(), LINKORA_SUCCESS);
    std::filesystem::remove_all(folder_);
  }

  // Settings of the scripted kernel beyond its files, made before the
  // channel starts.
  virtual void SetUpFakeKernel() {}

  std::string Path(const std::string& name) const { return (folder_ / name).string(); }

  // Axes 1, 2, ... without slaves.
  void EnterCncMode(std::uint32_t coordinates, std::uint32_t axes, std::uint32_t pathBuffer) {
    std::vector<LinkoraAxisEntry> axisList(axes);
    for (std::uint32_t i = 0; i < axes; ++i) axisList[i] = {i + 1, 0, 0};
    EnterCncMode(coordinates, axisList, pathBuffer);
  }
  void EnterCncMode(std::uint32_t coordinates, std::span<const LinkoraAxisEntry> axes,
                    std::uint32_t pathBuffer) {
    std::vector<LinkoraCoordinateEntry> coordinateList(coordinates, {1, 1, 0, 0, 1000.0, -1000.0});
    std::vector<LinkoraAxisEntry> axisList(axes.begin(), axes.end());
    LinkoraCncInitRecord cnc{};
    cnc.CncKernelShared = 1;
    cnc.DllPathPufVecMaxNo = pathBuffer;
    cnc.CoorNo = static_cast<std::int32_t>(coordinates);
    cnc.AxisNo = static_cast<std::int32_t>(axes.size());
    cnc.CoordinateList = coordinateList.data();
    cnc.AxisList = axisList.data();
    ASSERT_EQ(mctl_specfct_CncInitialize(&cnc, sizeof cnc), LINKORA_SUCCESS);
  }

  // How often the kernel received `code`.
  int Requests(int code) const {
    std::ifstream in(Path("commands"));
    int received = 0, count = 0;
    while (in >> received) count += received == code ? 1 : 0;
    return count;
  }

  std::string deviceName_ = "tarnis1";
  LinkoraCanHardwareParameters hardware_{};

 private:
  std::filesystem::path folder_;
  std::string kernel_ = VANTOR_FAKE_KERNEL;
  std::string watch_ = std::string(VANTOR_PROGRAM_FOLDER) + "/Vigilo";
};

}  // namespace linkora_test
