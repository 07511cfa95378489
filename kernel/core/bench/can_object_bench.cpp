// Prints the cost of the CAN object list in the real-time cycle: serving
// the answers and scheduling the free records, with the pool full.
//   - "all due": every object's period is shorter than a cycle, so every
//     cycle all 14 records change hands and each choice walks the list;
//   - "mixed": periods of 1 to 64 cycles, a few guarding objects, half of
//     them receiving, as a busy machine would have them.
// The driver's part (every handed-out record answered) is played between
// the cycles and not counted. Arguments: [cycles] (default 200000).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "kernel/core/canopen/can_object_cycle.h"
#include "kernel/core/canopen/can_object_list.h"

namespace {

using namespace vantor;
using Clock = std::chrono::steady_clock;
constexpr std::uint32_t kCycleMicroseconds = 1000;

enum class Load { AllDue, Mixed };

void FillPool(canopen::CanObjectList& list, Load load) {
  canopen::ResetCanObjectList(list);
  for (std::size_t k = 0; k < canopen::kCanObjectPoolSize; ++k) {
    canopen::CanObjectParameters p;
    const bool guarding = load == Load::Mixed && k % 16 == 0;
    p.guarding = guarding ? 1 : 0;
    p.direction = guarding || k % 2 == 0 ? 0 : 1;
    p.nodeId = static_cast<std::uint8_t>(1 + k);
    p.cobId = static_cast<std::uint16_t>((guarding ? 0x700 : 0x200) + 1 + k);
    p.length = guarding ? 1 : 8;
    p.answerTimeout = 3 * kCycleMicroseconds;
    p.period = load == Load::AllDue ? 1 : static_cast<std::int32_t>(kCycleMicroseconds * (1 + k));
    canopen::CanObjectEntry* entry = canopen::AppendCanObject(list, p);
    if (entry == nullptr) std::exit(1);
    entry->active = 1;
  }
}

// The driver: every record the list handed out comes back done, with a
// frame of the entry's length for a remote request and a toggling state
// for guarding.
void AnswerRecords(canopen::CanObjectList& list, common::ExchangeBuffer& exchange,
                   std::uint8_t& toggle) {
  namespace mr = common::message_record;
  toggle ^= canopen::kGuardingToggleBit;
  for (canopen::CanObjectEntry* e = list.head; e != nullptr; e = e->next) {
    if (e->scheduled == 0) continue;
    auto record = common::MessageRecordIn(exchange, e->record);
    record->Set(mr::kResult, common::message_result::kDone);
    if (e->IsTransmit()) continue;
    record->Set(mr::kLength, e->length);
    record->MutableBytes(mr::kData)[0] =
        e->IsGuarding() ? static_cast<std::uint8_t>(canopen::kGuardingOperational | toggle) : 0x11;
  }
}

void Run(const char* name, Load load, long cycles) {
  canopen::CanObjectList list;
  FillPool(list, load);
  common::ExchangeBuffer exchange;
  exchange.Set(common::exchange_buffer::kStatus, common::kDriverSuccess);
  exchange.Set(common::exchange_buffer::kCycleMicroseconds, kCycleMicroseconds);
  std::uint8_t toggle = 0;
  double total = 0.0;
  double worst = 0.0;
  long handedOut = 0;
  for (long cycle = 0; cycle < cycles; ++cycle) {
    AnswerRecords(list, exchange, toggle);
    const auto start = Clock::now();
    canopen::ServeCanObjectList(list, exchange);
    canopen::ScheduleCanObjects(list, exchange);
    const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    total += ns;
    worst = std::max(worst, ns);
    handedOut += std::count(list.freeRecords.begin() + 1, list.freeRecords.begin() + 15, 0u);
  }
  std::size_t failed = 0;
  for (const canopen::CanObjectEntry* e = list.head; e != nullptr; e = e->next) {
    if (!e->IsInOrder()) ++failed;
  }
  std::printf("%-9s %zu objects: %8.0f ns per cycle (worst %8.0f ns), %5.2f records in use, "
              "%zu objects failed\n",
              name, canopen::kCanObjectPoolSize, total / static_cast<double>(cycles), worst,
              static_cast<double>(handedOut) / static_cast<double>(cycles), failed);
}

}  // namespace

int main(int argc, char** argv) {
  const long cycles = argc > 1 ? std::max(1L, std::atol(argv[1])) : 200000;
  std::printf("CAN object list, serve + schedule, %ld cycles\n", cycles);
  Run("all due", Load::AllDue, cycles);
  Run("mixed", Load::Mixed, cycles);
  return 0;
}
