// Round trip of the request handshake between two processes, and the cost
// of an uncontended mutex take and release. Prints median and p99.
//
// Application side: reset "Kernel Ready", set "Applikation Ready", wait for
// "Kernel Ready". Kernel side: wait for "Applikation Ready", reset it, set
// "Kernel Ready". Goal: a median round trip of at most 20 microseconds.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os/library_path.h"
#include "platform/os/named_objects.h"
#include "platform/os/process.h"
#include "platform/os/timing.h"
#include "platform/os/wait.h"

namespace os = vantor::os;

namespace {

constexpr int kWarmUpRounds = 2'000;
constexpr int kMeasuredRounds = 20'000;
constexpr std::uint32_t kRoundTimeoutMs = 5'000;
constexpr const char* kApplicationReady = "Applikation Ready Event for Standard Communication";
constexpr const char* kKernelReady = "Kernel Ready Event for Standard Communication";
constexpr const char* kStop = "Benchmark Stop";

struct Figures {
  double medianUs;
  double p99Us;
};

Figures Summarise(std::vector<double>& samplesUs) {
  std::sort(samplesUs.begin(), samplesUs.end());
  return Figures{samplesUs[samplesUs.size() / 2], samplesUs[samplesUs.size() * 99 / 100]};
}

double NowUs() {
  return std::chrono::duration<double, std::micro>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int ServeHandshakes() {
  auto applicationReady = os::Event::Open(kApplicationReady);
  auto kernelReady = os::Event::Open(kKernelReady);
  auto stop = os::Event::Open(kStop);
  if (!applicationReady || !kernelReady || !stop) return 1;
  for (;;) {
    const os::WaitResult woke = os::WaitForAny({&*stop, &*applicationReady}, kRoundTimeoutMs);
    if (woke.kind != os::WaitKind::Signalled || woke.index == 0) return 0;
    applicationReady->Reset();
    kernelReady->Set();
  }
}

bool MeasureHandshake(Figures& figures) {
  auto applicationReady = os::Event::CreateOrOpen(kApplicationReady, os::EventReset::Manual, false);
  auto kernelReady = os::Event::CreateOrOpen(kKernelReady, os::EventReset::Manual, false);
  auto stop = os::Event::CreateOrOpen(kStop, os::EventReset::Manual, false);
  if (!applicationReady || !kernelReady || !stop) return false;
  char self[4096];
  const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return false;
  self[length] = '\0';
  auto server = os::Process::Start(self, {"--serve"});
  if (!server) return false;

  std::vector<double> samples;
  samples.reserve(kMeasuredRounds);
  bool ok = true;
  for (int round = 0; round < kWarmUpRounds + kMeasuredRounds && ok; ++round) {
    const double start = NowUs();
    kernelReady->Reset();
    applicationReady->Set();
    ok = os::WaitForOne(*kernelReady, kRoundTimeoutMs).kind == os::WaitKind::Signalled;
    if (round >= kWarmUpRounds) samples.push_back(NowUs() - start);
  }
  stop->Set();
  os::WaitForOne(*server, kRoundTimeoutMs);
  if (!ok) return false;
  figures = Summarise(samples);
  return true;
}

bool MeasureMutex(Figures& figures) {
  auto mutex = os::Mutex::CreateOrOpen("Benchmark Mutex", false);
  if (!mutex) return false;
  std::vector<double> samples;
  samples.reserve(kMeasuredRounds);
  constexpr int kBatch = 100;
  for (int round = 0; round < kMeasuredRounds / kBatch * 10; ++round) {
    const double start = NowUs();
    for (int i = 0; i < kBatch; ++i) {
      if (!os::WaitForOne(*mutex, 0).acquired() || mutex->Release() != os::OsError::Ok) {
        return false;
      }
    }
    samples.push_back((NowUs() - start) / kBatch);
  }
  figures = Summarise(samples);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string_view(argv[1]) == "--serve") return ServeHandshakes();
  const std::string benchNamespace = "bench-" + std::to_string(::getpid());
  ::setenv("VANTOR_NAMESPACE", benchNamespace.c_str(), 1);

  Figures handshake{};
  if (!MeasureHandshake(handshake)) {
    std::fprintf(stderr, "handshake benchmark failed\n");
    return 1;
  }
  std::printf("request handshake round trip: median %.2f us, p99 %.2f us (goal: median <= 20 us)\n",
              handshake.medianUs, handshake.p99Us);
  Figures mutex{};
  if (!MeasureMutex(mutex)) {
    std::fprintf(stderr, "mutex benchmark failed\n");
    return 1;
  }
  std::printf("uncontended mutex take+release: median %.3f us, p99 %.3f us\n", mutex.medianUs,
              mutex.p99Us);
  return 0;
}
