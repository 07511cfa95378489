// A device model stores its readings on every motion step; those stores
// must not reach the allocator. This program has the global operator new
// replaced to count its calls.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "common/tests/counting_allocator.h"
#include "sim/canopen/object_dictionary.h"

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
    const long before = common::testing::CountedAllocations();
    bool stored = false;
    {
      const common::testing::AllocationCounting counting;
      stored = objects.SetUnsigned(index, 0, c.value) &&
               objects.SetUnsigned(index, 0, c.value);  // unchanged: no new generation
    }
    EXPECT_TRUE(stored);
    EXPECT_EQ(common::testing::CountedAllocations() - before, 0);
    EXPECT_EQ(objects.Unsigned(index, 0), c.stored);
    EXPECT_EQ(objects.Find(index, 0)->Size(), FixedSizeOf(c.type));
    EXPECT_EQ(objects.Generation(), generation + 1);
    ++index;
  }
}

}  // namespace
}  // namespace vantor::sim::canopen
