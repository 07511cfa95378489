// Round trip of device requests through the transport: a synchronous
// request, and an overlapped request that the driver completes at once.
// Prints the median and the 99th percentile in microseconds.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/devhost/device_server.h"
#include "platform/devhost/driver_host.h"
#include "platform/os/device/device_handle.h"
#include "platform/os/runtime_dir.h"
#include "platform/os/wait.h"

namespace {

using namespace vantor;

constexpr std::uint32_t kEcho = 0x220000 + 4 * 0x901;
constexpr std::uint32_t kExchangeLength = 12468;
constexpr std::uint32_t kExchange = 0x220000 + 4 * 0x80A;

// Answers both requests at once: the echo with its input, the exchange with
// the whole record, like an exchange refused at once.
class ImmediateDriver final : public devhost::DeviceDispatch {
 public:
  void DeviceControl(devhost::IoRequest& request) override {
    request.Complete(os::kStatusSuccess, request.OutputLength());
  }
};

struct Figures {
  double median;
  double p99;
};

Figures Summarise(std::vector<double>& microseconds) {
  std::sort(microseconds.begin(), microseconds.end());
  const auto at = [&](double fraction) {
    return microseconds[static_cast<std::size_t>(fraction *
                                                 static_cast<double>(microseconds.size() - 1))];
  };
  return {at(0.5), at(0.99)};
}

template <typename Request>
Figures Measure(int rounds, Request&& request) {
  std::vector<double> samples;
  samples.reserve(static_cast<std::size_t>(rounds));
  for (int i = 0; i < rounds + rounds / 10; ++i) {
    const auto start = std::chrono::steady_clock::now();
    request();
    const auto end = std::chrono::steady_clock::now();
    if (i >= rounds / 10) {  // the first tenth warms up
      samples.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
  }
  return Summarise(samples);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(10, std::atoi(argv[1])) : 20'000;
  ::setenv("VANTOR_NAMESPACE", ("devhost-bench-" + std::to_string(::getpid())).c_str(), 1);

  devhost::RealClock clock;
  devhost::DriverHost host(clock);
  ImmediateDriver driver;
  std::shared_ptr<devhost::DeviceObject> device;
  host.CreateDevice(
      {"\\Device\\bench", &driver, {{kEcho, 8, 16}, {kExchange, kExchangeLength, kExchangeLength}}},
      device);
  host.CreateSymbolicLink("\\DosDevices\\bench", "\\Device\\bench");
  devhost::DeviceServer server(host);
  std::string error;
  if (!server.StartInRuntimeDirectory(error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  auto opened = os::DeviceHandle::Open("\\\\.\\bench");
  auto event = os::Event::CreateUnnamed(os::EventReset::Manual, false);
  if (opened.error != os::DeviceOpenError::kNone || !event) return 1;
  os::DeviceHandle& handle = opened.handle;

  std::array<std::uint8_t, 8> input{};
  std::array<std::uint8_t, 16> output{};
  const Figures synchronous = Measure(rounds, [&] { handle.Control(kEcho, input, output); });

  std::vector<std::uint8_t> exchange(kExchangeLength);
  os::DeviceOverlapped overlapped(*event);
  const Figures overlappedFigures = Measure(rounds, [&] {
    handle.ControlOverlapped(kExchange, exchange, exchange, overlapped);
    os::WaitForOne(*event, os::kInfinite);
  });

  std::printf("synchronous request (8 in, 16 out):        median %.1f us, p99 %.1f us\n",
              synchronous.median, synchronous.p99);
  std::printf("overlapped exchange (12468 in/out, at once): median %.1f us, p99 %.1f us\n",
              overlappedFigures.median, overlappedFigures.p99);
  handle.Close();
  server.Stop();
  host.DeleteDevice(*device);
  if (auto folder = os::RuntimeDirectory()) ::rmdir(folder->c_str());
  return 0;
}
