// A device model stores its readings on every motion step; those stores
// must not reach the allocator. This program replaces the global operator
// new to count its calls.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#include "sim/canopen/object_dictionary.h"

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

namespace vantor::sim::canopen {
namespace {

struct StoreCase {
  const char* name;
  DataType type;
  std::uint64_t value;
  std::uint64_t stored;  // the value cut to the entry's size
};

TEST(DeviceStoreTest, NumbersAreStoredWithoutAllocating) {
  const std::vector<StoreCase> cases = {
      {"8 bits", DataType::kUnsigned8, 0x1FF, 0xFF},
      {"16 bits", DataType::kInteger16, 0x12345, 0x2345},
      {"32 bits", DataType::kUnsigned32, 0x1'2345'6789, 0x2345'6789},
      {"64 bits", DataType::kInteger64, 0xFEDC'BA98'7654'3210, 0xFEDC'BA98'7654'3210},
  };
  ObjectDictionary objects;
  std::uint16_t index = 0x2000;
  for (const StoreCase& c : cases) {
    SCOPED_TRACE(c.name);
    objects.Add({index, 0, c.type, Access::kReadOnly, true, 0});
    const std::uint64_t generation = objects.Generation();
    const long before = gAllocations.load();
    gCounting = true;
    const bool stored = objects.SetUnsigned(index, 0, c.value) &&
                        objects.SetUnsigned(index, 0, c.value);  // unchanged: no new generation
    gCounting = false;
    EXPECT_TRUE(stored);
    EXPECT_EQ(gAllocations.load() - before, 0);
    EXPECT_EQ(objects.Unsigned(index, 0), c.stored);
    EXPECT_EQ(objects.Find(index, 0)->Size(), FixedSizeOf(c.type));
    EXPECT_EQ(objects.Generation(), generation + 1);
    ++index;
  }
}

}  // namespace
}  // namespace vantor::sim::canopen
