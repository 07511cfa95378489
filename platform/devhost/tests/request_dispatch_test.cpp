// Opening devices and dispatching requests through the transport.
#include <gtest/gtest.h>

#include <array>
#include <future>
#include <thread>
#include <vector>

#include "common/byte_order.h"
#include "platform/devhost/tests/host_fixture.h"
#include "platform/os/device/device_handle.h"

namespace vantor::devhost::testing {
namespace {

using common::LoadLittleEndian;
using common::StoreLittleEndian;
using os::DeviceHandle;
using os::DeviceOpenError;

using DeviceOpenTest = HostFixture;

TEST_F(DeviceOpenTest, NamesMatchCaseInsensitivelyWithOrWithoutPrefix) {
  for (const char* path : {"\\\\.\\TestDev", "\\\\.\\testdev", "\\\\.\\TESTDEV", "testDev"}) {
    SCOPED_TRACE(path);
    auto opened = DeviceHandle::Open(path);
    EXPECT_EQ(opened.error, DeviceOpenError::kNone);
    EXPECT_TRUE(opened.handle.valid());
  }
}

TEST_F(DeviceOpenTest, MissingDeviceAndRefusedHandleAreToldApart) {
  auto missing = DeviceHandle::Open("\\\\.\\NoSuchDevice");
  EXPECT_EQ(missing.error, DeviceOpenError::kMissing);
  EXPECT_FALSE(missing.handle.valid());

  // A device name that exists but has no link is not reachable by programs.
  auto unlinked = DeviceHandle::Open("\\\\.\\Device\\TestDev");
  EXPECT_EQ(unlinked.error, DeviceOpenError::kMissing);

  auto owner = OpenTestDevice();
  std::array<std::uint8_t, 4> status{};
  ASSERT_EQ(owner.Control(kClaim, {}, status).status, os::kStatusSuccess);
  auto refused = DeviceHandle::Open("\\\\.\\TestDev");
  EXPECT_EQ(refused.error, DeviceOpenError::kRefused);
  EXPECT_EQ(refused.status, os::kStatusAccessViolation);

  // Closing the claiming handle runs the driver's clean-up, which drops the claim.
  owner.Close();
  ASSERT_TRUE(Eventually([&] { return driver_->CleanupCount() == 1; }));
  EXPECT_EQ(DeviceHandle::Open("\\\\.\\TestDev").error, DeviceOpenError::kNone);
}

TEST_F(DeviceOpenTest, NoHostServingTheNamespaceMeansMissing) {
  server_->Stop();
  auto opened = DeviceHandle::Open("\\\\.\\TestDev");
  EXPECT_EQ(opened.error, DeviceOpenError::kMissing);
}

using RequestDispatchTest = HostFixture;

// Every request with its input or output one byte short or long completes
// as "invalid buffer size" and writes nothing into the caller's output.
TEST_F(RequestDispatchTest, LengthCheckRefusesEveryLengthOffByOne) {
  auto handle = OpenTestDevice();
  for (const RequestSpec& spec : TestDriver::RequestTable()) {
    if (spec.callers == RequestCallers::kKernelOnly) continue;
    struct Lengths {
      std::int64_t input;
      std::int64_t output;
    };
    const std::int64_t in = spec.inputLength;
    const std::int64_t out = spec.outputLength;
    for (const Lengths lengths :
         {Lengths{in + 1, out}, Lengths{in - 1, out}, Lengths{in, out + 1}, Lengths{in, out - 1}}) {
      if (lengths.input < 0 || lengths.output < 0) continue;
      SCOPED_TRACE(::testing::Message() << std::hex << spec.code << std::dec << " in "
                                        << lengths.input << " out " << lengths.output);
      std::vector<std::uint8_t> input(static_cast<std::size_t>(lengths.input), 0x11);
      std::vector<std::uint8_t> output(static_cast<std::size_t>(lengths.output), 0xAA);
      const auto result = handle.Control(spec.code, input, output);
      EXPECT_EQ(result.status, os::kStatusInvalidBufferSize);
      EXPECT_EQ(result.bytesReturned, 0u);
      EXPECT_EQ(output, std::vector<std::uint8_t>(output.size(), 0xAA));
    }
  }
  // Nothing was held by the refused holds.
  EXPECT_EQ(driver_->HeldCount(), 0u);
}

TEST_F(RequestDispatchTest, UnknownAndDriverOnlyCodesAreInvalidParameters) {
  auto handle = OpenTestDevice();
  std::array<std::uint8_t, 8> input{};
  std::array<std::uint8_t, 4> output{0xAA, 0xAA, 0xAA, 0xAA};
  EXPECT_EQ(handle.Control(ControlCode(0x999), {}, output).status, os::kStatusInvalidParameter);
  EXPECT_EQ(handle.Control(kAdd, input, output).status, os::kStatusInvalidParameter);
  EXPECT_EQ(output, (std::array<std::uint8_t, 4>{0xAA, 0xAA, 0xAA, 0xAA}));
}

TEST_F(RequestDispatchTest, DriversReachDriverOnlyCodesAndSeeTheSameLengthCheck) {
  std::array<std::uint8_t, 8> input{};
  StoreLittleEndian<std::uint32_t>(input.data(), 40);
  StoreLittleEndian<std::uint32_t>(input.data() + 4, 2);
  std::array<std::uint8_t, 4> output{};
  const auto result = host_->SendRequest(driver_->Device(), nullptr, kAdd, input, output);
  EXPECT_EQ(result.status, os::kStatusSuccess);
  EXPECT_EQ(result.information, 4u);
  EXPECT_EQ(LoadLittleEndian<std::uint32_t>(output.data()), 42u);

  std::array<std::uint8_t, 5> longOutput{};
  EXPECT_EQ(host_->SendRequest(driver_->Device(), nullptr, kAdd, input, longOutput).status,
            os::kStatusInvalidBufferSize);
}

TEST_F(RequestDispatchTest, DriverRequestThatIsNeverAnsweredTimesOutOnTheHostClock) {
  std::array<std::uint8_t, 16> input{};
  std::array<std::uint8_t, 16> output{};
  output.fill(0x55);
  RequestResult result{};
  std::thread sender([&] {
    result = host_->SendRequest(driver_->Device(), nullptr, kHold, input, output,
                                MillisecondsToTicks(5000));
  });
  ASSERT_TRUE(Eventually([&] { return driver_->HeldCount() == 1; }));
  clock_.Advance(MillisecondsToTicks(4999));
  EXPECT_EQ(driver_->HeldCount(), 1u);
  clock_.Advance(MillisecondsToTicks(1));
  sender.join();
  EXPECT_EQ(result.status, os::kStatusIoTimeout);
  // The late answer lands in the request's own buffer, not in the caller's.
  std::array<std::uint8_t, 4> release{0x77};
  auto handle = OpenTestDevice();
  ASSERT_EQ(handle.Control(kRelease, release, release).status, os::kStatusSuccess);
  ASSERT_TRUE(host_->WaitDeferredCallsIdle(std::chrono::steady_clock::now() + kTestDeadline));
  std::array<std::uint8_t, 16> untouched;
  untouched.fill(0x55);
  EXPECT_EQ(output, untouched);
}

// A driver that answers wrongly: the caller must see a failure, or at most
// the bytes it asked for, never a success that was none.
class FaultyDriver final : public DeviceDispatch {
 public:
  static constexpr std::uint32_t kForgets = ControlCode(0xA01);
  static constexpr std::uint32_t kSaysPending = ControlCode(0xA02);
  static constexpr std::uint32_t kOverstates = ControlCode(0xA03);
  static constexpr std::uint32_t kFailsWithData = ControlCode(0xA04);

  void DeviceControl(IoRequest& request) override {
    std::fill(request.SystemBuffer().begin(), request.SystemBuffer().end(), 0x77);
    switch (request.Code()) {
      case kForgets:
        return;
      case kSaysPending:
        request.Complete(os::kStatusPending, 4);
        return;
      case kOverstates:
        request.Complete(os::kStatusSuccess, 1000);
        return;
      default:
        request.Complete(os::kStatusNotImplemented, 4);
        return;
    }
  }
};

TEST(DriverFaultTest, WrongAnswersAreNotTakenForSuccess) {
  VirtualClock clock;
  DriverHost host(clock);
  FaultyDriver driver;
  std::shared_ptr<DeviceObject> device;
  ASSERT_EQ(host.CreateDevice({"\\Device\\Faulty",
                               &driver,
                               {{FaultyDriver::kForgets, 0, 4},
                                {FaultyDriver::kSaysPending, 0, 4},
                                {FaultyDriver::kOverstates, 0, 4},
                                {FaultyDriver::kFailsWithData, 0, 4}}},
                              device),
            os::kStatusSuccess);
  struct Case {
    std::uint32_t code;
    IoStatus status;
    std::uint32_t bytes;
  };
  for (const Case& c : {Case{FaultyDriver::kForgets, os::kStatusInternalError, 0},
                        Case{FaultyDriver::kSaysPending, os::kStatusInternalError, 0},
                        Case{FaultyDriver::kOverstates, os::kStatusSuccess, 4},
                        Case{FaultyDriver::kFailsWithData, os::kStatusNotImplemented, 0}}) {
    SCOPED_TRACE(c.code);
    std::array<std::uint8_t, 4> output{};
    // The virtual clock stands still, so the caller's own time-out never
    // ends a wait for an answer that does not come: a bounded wait here
    // fails the case, and the clock is then stepped to let the caller go.
    RequestResult result{};
    std::promise<void> answered;
    auto answer = answered.get_future();
    std::thread caller([&] {
      result = host.SendRequest(*device, nullptr, c.code, {}, output, MillisecondsToTicks(1));
      answered.set_value();
    });
    const bool inTime = answer.wait_for(kTestDeadline) == std::future_status::ready;
    if (!inTime) clock.Advance(MillisecondsToTicks(1));
    caller.join();
    EXPECT_TRUE(inTime) << "the caller waited for an answer that never came";
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.information, c.bytes);
    EXPECT_EQ(output[0], c.bytes == 0 ? 0 : 0x77);
  }
  std::shared_ptr<DeviceObject> twin;
  EXPECT_EQ(host.CreateDevice({"\\device\\FAULTY", &driver, {}}, twin),
            os::kStatusObjectNameCollision);
  EXPECT_EQ(host.CreateSymbolicLink("\\DosDevices\\faulty", "\\Device\\Nothing"),
            os::kStatusObjectNameNotFound);
  EXPECT_EQ(host.CreateSymbolicLink("faulty", "\\Device\\Faulty"), os::kStatusInvalidParameter);
  host.DeleteDevice(*device);
  EXPECT_EQ(host.FindDevice("\\Device\\Faulty"), nullptr);
}

TEST_F(RequestDispatchTest, TwoClientsInterleaveWithoutMixing) {
  constexpr int kRequestsPerClient = 300;
  auto run = [&](std::uint64_t base, std::uint64_t& handleId, int& mismatches) {
    auto handle = OpenTestDevice();
    for (int i = 0; i < kRequestsPerClient; ++i) {
      std::array<std::uint8_t, 8> input{};
      StoreLittleEndian<std::uint64_t>(input.data(), base + static_cast<std::uint64_t>(i));
      std::array<std::uint8_t, 16> output{};
      const auto result = handle.Control(kEcho, input, output);
      const auto id = LoadLittleEndian<std::uint64_t>(output.data() + 8);
      if (i == 0) handleId = id;
      if (result.status != os::kStatusSuccess || result.bytesReturned != 16 ||
          LoadLittleEndian<std::uint64_t>(output.data()) != base + static_cast<std::uint64_t>(i) ||
          id != handleId) {
        ++mismatches;
      }
    }
  };
  std::uint64_t firstId = 0;
  std::uint64_t secondId = 0;
  int firstMismatches = 0;
  int secondMismatches = 0;
  std::thread first([&] { run(1'000'000, firstId, firstMismatches); });
  std::thread second([&] { run(2'000'000, secondId, secondMismatches); });
  first.join();
  second.join();
  EXPECT_EQ(firstMismatches, 0);
  EXPECT_EQ(secondMismatches, 0);
  EXPECT_NE(firstId, secondId);
}

// A handle that outlives its driver (the driver unloaded first) is closed
// without calling into the driver that is gone; what it held is cancelled.
TEST(DriverUnloadTest, HandleClosedAfterItsDriverUnloadedNeverReachesTheDriver) {
  VirtualClock clock;
  DriverHost host(clock);
  auto driver = std::make_unique<TestDriver>(host);
  std::shared_ptr<FileObject> file;
  ASSERT_EQ(host.OpenDevice(kDeviceName, file), os::kStatusSuccess);
  driver.reset();
  host.CloseFile(file);
  EXPECT_TRUE(file->Device().Deleted());
}

}  // namespace
}  // namespace vantor::devhost::testing
