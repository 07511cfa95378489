// Round trip of the request handshake between two processes, and the cost
// of an uncontended mutex take and release. Prints median and p99, for the
// two processes unpinned, on two pinned CPUs and both on one CPU, each
// beside a bare futex ping-pong between two processes placed the same way.
//
// Application side: reset "Kernel Ready", set "Applikation Ready", wait for
// "Kernel Ready". Kernel side: wait for "Applikation Ready", reset it, set
// "Kernel Ready". Goal: a median round trip of at most 1.5 times the futex
// floor of the same placement.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os/bench/round_trip_placement.h"
#include "platform/os/library_path.h"
#include "platform/os/named_objects.h"
#include "platform/os/process.h"
#include "platform/os/timing.h"
#include "platform/os/wait.h"

namespace os = vantor::os;
namespace bench = vantor::os::bench;
using bench::LatencyFigures;
using bench::NowUs;
using bench::Placement;
using bench::Summarise;

namespace {

constexpr int kWarmUpRounds = 2'000;
constexpr int kMeasuredRounds = 10'000;
constexpr std::uint32_t kRoundTimeoutMs = 5'000;
constexpr const char* kApplicationReady = "Applikation Ready Event for Standard Communication";
constexpr const char* kKernelReady = "Kernel Ready Event for Standard Communication";
constexpr const char* kStop = "Benchmark Stop";

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

bool MeasureHandshake(Placement placement, LatencyFigures& figures) {
  auto applicationReady = os::Event::CreateOrOpen(kApplicationReady, os::EventReset::Manual, false);
  auto kernelReady = os::Event::CreateOrOpen(kKernelReady, os::EventReset::Manual, false);
  auto stop = os::Event::CreateOrOpen(kStop, os::EventReset::Manual, false);
  if (!applicationReady || !kernelReady || !stop) return false;
  char self[4096];
  const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return false;
  self[length] = '\0';
  if (!bench::PlaceThisSide(placement)) return false;
  auto server = os::Process::Start(self, {"--serve"});
  if (!server) return false;
  if (!bench::PlaceOtherSide(static_cast<pid_t>(server->id()), placement)) {
    stop->Set();
    os::WaitForOne(*server, kRoundTimeoutMs);
    return false;
  }

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
  stop->Reset();
  if (!ok) return false;
  figures = Summarise(samples);
  return true;
}

bool MeasureMutex(LatencyFigures& figures) {
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

  std::printf("request handshake round trip (median / p99, us) beside the futex floor:\n");
  for (const Placement placement : bench::kPlacements) {
    if (!bench::PlacementPossible(placement)) {
      std::printf("  %-16s not possible: too few CPUs\n", bench::PlacementName(placement));
      continue;
    }
    LatencyFigures handshake{};
    LatencyFigures floor{};
    if (!MeasureHandshake(placement, handshake) ||
        !bench::MeasureFutexFloor(placement, kWarmUpRounds + kMeasuredRounds, floor)) {
      std::fprintf(stderr, "handshake benchmark failed (%s)\n", bench::PlacementName(placement));
      return 1;
    }
    std::printf("  %-16s handshake %7.2f / %7.2f   floor %7.2f / %7.2f   median %.2fx floor%s\n",
                bench::PlacementName(placement), handshake.medianUs, handshake.p99Us,
                floor.medianUs, floor.p99Us, handshake.medianUs / floor.medianUs,
                handshake.medianUs <= 1.5 * floor.medianUs ? "" : "  (goal: <= 1.5x)");
  }
  bench::PlaceThisSide(Placement::Unpinned);
  LatencyFigures mutex{};
  if (!MeasureMutex(mutex)) {
    std::fprintf(stderr, "mutex benchmark failed\n");
    return 1;
  }
  std::printf("uncontended mutex take+release: median %.3f us, p99 %.3f us\n", mutex.medianUs,
              mutex.p99Us);
  return 0;
}
