#include "common/tests/counting_allocator.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> gCounting{false};
std::atomic<long> gAllocations{0};
}  // namespace

// The replacements pair malloc with free; the compiler cannot see that
// every delete here meets a pointer of this new.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  if (gCounting.load(std::memory_order_relaxed)) ++gAllocations;
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
#pragma GCC diagnostic pop

namespace vantor::common::testing {

AllocationCounting::AllocationCounting() noexcept { gCounting = true; }
AllocationCounting::~AllocationCounting() { gCounting = false; }

long CountedAllocations() noexcept { return gAllocations.load(); }

}  // namespace vantor::common::testing
