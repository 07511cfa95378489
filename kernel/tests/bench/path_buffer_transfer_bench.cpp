// Code 52 taking a full shared path buffer into an empty queue of the same
// size: records per second, and the longest the cycle waits for the kernel
// data lock meanwhile (a thread that takes and gives back the lock as the
// cycle does, every 100 us). The thread's longest oversleep of its own
// 100 us pause is printed beside it: on a loaded machine the wait includes
// that much of the scheduler's delay.
//
// Usage: kernel_path_buffer_transfer_bench [records]
//
// Goal: the cycle never waits longer than one cycle (1 ms) for the lock.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "common/byte_order.h"
#include "kernel/tests/path_commands_fixture.h"

namespace {

using namespace vantor;
using Clock = std::chrono::steady_clock;
namespace pb = common::path_buffer;

double Microseconds(Clock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

// Lines that zig-zag in X and Y, so the look-ahead has corners to plan.
void FillLines(std::uint8_t* buffer, std::uint32_t records) {
  for (std::uint32_t i = 0; i < records; ++i) {
    std::uint8_t* record = buffer + pb::RecordOffset(i);
    std::memset(record, 0, common::kPathBufferRecordSize);
    common::StoreLittleEndian<std::uint32_t>(record, 36);
    common::StoreLittleEndian<std::int64_t>(record + 16, 1);
    common::StoreLittleEndian<std::int64_t>(record + 24, i % 2 == 0 ? 1 : -1);
    common::StoreLittleEndian<std::int64_t>(record + 32, 0);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const auto records =
      static_cast<std::uint32_t>(argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 20000);
  kernel::testing::PathKernel k;
  const auto size = pb::MappingSize(records);
  if (!size) return 1;
  k.kernel().link.pathBufferMapping = os::Mapping::CreateUnnamed(*size).take();
  auto* buffer = reinterpret_cast<std::uint8_t*>(k.kernel().link.pathBufferMapping.data());
  k.state().pathMode = 1;
  k.queue().capacity = static_cast<std::int32_t>(records);
  FillLines(buffer, records);
  common::PathBufferHeaderView header(std::span<std::uint8_t, common::kPathBufferHeaderSize>(
      buffer, common::kPathBufferHeaderSize));
  header.Set(pb::kCapacity, records);
  header.Set(pb::kCount, records);

  std::atomic<bool> done{false};
  double longestWait = 0.0;
  double longestOversleep = 0.0;  // the machine's own scheduling delay
  std::uint64_t takes = 0;
  std::thread cycle([&] {
    while (!done.load()) {
      const auto start = Clock::now();
      if (!kernel::LockKernelData(k.data())) break;
      longestWait = std::max(longestWait, Microseconds(Clock::now() - start));
      ++takes;
      kernel::UnlockKernelData(k.data());
      const auto asleep = Clock::now();
      std::this_thread::sleep_for(std::chrono::microseconds(100));
      longestOversleep = std::max(longestOversleep, Microseconds(Clock::now() - asleep) - 100.0);
    }
  });
  const auto start = Clock::now();
  const common::StatusCode result = k.Run(common::CommandCode::TransferDllPathBuffer);
  const double elapsed = Microseconds(Clock::now() - start);
  done.store(true);
  cycle.join();

  std::printf("code 52, %u records: result 0x%08X, %d queued, %u left\n", records, result,
              k.queue().count, header.Get(pb::kCount));
  std::printf("  %.0f records/s (%.1f ms)\n", records / (elapsed * 1e-6), elapsed * 1e-3);
  std::printf("  longest kernel-lock wait of the cycle: %.1f us over %llu takes\n", longestWait,
              static_cast<unsigned long long>(takes));
  std::printf("  (the same thread overslept a 100 us sleep by up to %.1f us)\n", longestOversleep);
  return k.queue().count == static_cast<std::int32_t>(records) ? 0 : 1;
}
