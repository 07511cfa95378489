#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "sim/canopen/object_dictionary.h"

namespace vantor::sim::canopen {
namespace {

using Bytes = std::vector<std::uint8_t>;

class ObjectDictionaryTest : public ::testing::Test {
 protected:
  ObjectDictionaryTest() {
    objects.Add({0x2000, 0, DataType::kUnsigned16, Access::kReadWrite, false, 0x1234});
    objects.Add({0x2001, 0, DataType::kUnsigned32, Access::kReadOnly, false, 7});
    objects.Add({0x2002, 0, DataType::kInteger8, Access::kWriteOnly, false, 0});
    objects.Add({0x2003, 0, DataType::kVisibleString, Access::kReadWrite, false, 0, "abc", 8});
    objects.Add({0x2004, 1, DataType::kInteger32, Access::kReadWrite, true, 0xFFFFFFFF});
    objects.Add({0x1017, 0, DataType::kUnsigned16, Access::kReadWrite, false, 0});
  }

  ObjectDictionary objects;
};

struct WriteCase {
  const char* name;
  std::uint16_t index;
  std::uint8_t subindex;
  Bytes value;
  WriteOrigin origin;
  SdoAbortCode expected;
};

TEST_F(ObjectDictionaryTest, WritesAreCheckedForExistenceAccessAndSize) {
  const std::vector<WriteCase> cases = {
      {"fits", 0x2000, 0, {1, 2}, WriteOrigin::kSdo, SdoAbortCode::kNone},
      {"missing index", 0x2FFF, 0, {1}, WriteOrigin::kSdo, SdoAbortCode::kObjectMissing},
      {"missing subindex",
       0x2004,
       2,
       {1, 2, 3, 4},
       WriteOrigin::kSdo,
       SdoAbortCode::kSubindexMissing},
      {"read-only by SDO", 0x2001, 0, {1, 2, 3, 4}, WriteOrigin::kSdo, SdoAbortCode::kReadOnly},
      {"too short", 0x2000, 0, {1}, WriteOrigin::kSdo, SdoAbortCode::kSizeMismatch},
      {"too long", 0x2000, 0, {1, 2, 3}, WriteOrigin::kSdo, SdoAbortCode::kSizeMismatch},
      {"string within capacity", 0x2003, 0, Bytes(8, 'x'), WriteOrigin::kSdo, SdoAbortCode::kNone},
      {"string beyond capacity", 0x2003, 0, Bytes(9, 'x'), WriteOrigin::kSdo,
       SdoAbortCode::kSizeTooHigh},
      {"write-only", 0x2002, 0, {0x80}, WriteOrigin::kSdo, SdoAbortCode::kNone},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(objects.Write(c.index, c.subindex, c.value, c.origin), c.expected);
  }
  std::vector<std::uint8_t> value;
  EXPECT_EQ(objects.Read(0x2002, 0, value), SdoAbortCode::kWriteOnly);
  EXPECT_EQ(objects.Read(0x2003, 0, value), SdoAbortCode::kNone);
  EXPECT_EQ(value, Bytes(8, 'x'));
}

TEST_F(ObjectDictionaryTest, ARefusedWriteStoresNothingAndReactsNot) {
  int reactions = 0;
  objects.OnWriteCheck(0x2000, 0, [](std::span<const std::uint8_t> value) {
    return value[1] == 0 ? SdoAbortCode::kNone : SdoAbortCode::kValueTooHigh;
  });
  objects.OnWritten(0x2000, 0, [&reactions](const ObjectEntry&, WriteOrigin) { ++reactions; });
  const std::uint64_t generation = objects.Generation();
  EXPECT_EQ(objects.Write(0x2000, 0, Bytes{5, 1}, WriteOrigin::kSdo), SdoAbortCode::kValueTooHigh);
  EXPECT_EQ(objects.Unsigned(0x2000, 0), 0x1234u);
  EXPECT_EQ(reactions, 0);
  EXPECT_EQ(objects.Generation(), generation);
  EXPECT_EQ(objects.Write(0x2000, 0, Bytes{5, 0}, WriteOrigin::kSdo), SdoAbortCode::kNone);
  EXPECT_EQ(objects.Unsigned(0x2000, 0), 5u);
  EXPECT_EQ(reactions, 1);
  EXPECT_GT(objects.Generation(), generation);
}

TEST_F(ObjectDictionaryTest, ValuesReadBackWithTheirSign) {
  EXPECT_EQ(objects.Find(0x2004, 1)->Signed(), -1);
  EXPECT_EQ(objects.Find(0x2004, 1)->Unsigned(), 0xFFFFFFFFu);
  EXPECT_EQ(objects.Find(0x2000, 0)->Signed(), 0x1234);
}

TEST_F(ObjectDictionaryTest, TheDevicesOwnStoresSkipAccessRightsButKeepSizes) {
  EXPECT_TRUE(objects.SetUnsigned(0x2001, 0, 99));
  EXPECT_EQ(objects.Unsigned(0x2001, 0), 99u);
  EXPECT_FALSE(objects.Set(0x2001, 0, Bytes{1, 2}));
  EXPECT_FALSE(objects.SetUnsigned(0x2003, 0, 1));
  EXPECT_FALSE(objects.SetText(0x2003, 0, "far too long"));
  EXPECT_FALSE(objects.SetUnsigned(0x2FFF, 0, 1));
}

TEST_F(ObjectDictionaryTest, DefaultsComeBackOnlyInTheRestoredRange) {
  objects.SetUnsigned(0x2000, 0, 1);
  objects.SetText(0x2003, 0, "xyz12");
  objects.SetUnsigned(0x1017, 0, 500);
  objects.RestoreDefaults(0x2000, 0x2FFF);
  EXPECT_EQ(objects.Unsigned(0x2000, 0), 0x1234u);
  EXPECT_EQ(objects.Find(0x2003, 0)->Text(), "abc");
  EXPECT_EQ(objects.Unsigned(0x1017, 0), 500u);
  // A model's own default survives the next restore.
  EXPECT_TRUE(objects.SetDefaultUnsigned(0x1017, 0, 100));
  objects.SetUnsigned(0x1017, 0, 1);
  objects.RestoreDefaults(0x1000, 0x1FFF);
  EXPECT_EQ(objects.Unsigned(0x1017, 0), 100u);
}

TEST_F(ObjectDictionaryTest, VariantsLeaveOutSubindicesOrWholeObjects) {
  objects.Add({0x2004, 2, DataType::kInteger32, Access::kReadWrite, true, 0});
  objects.Remove(0x2004, 1);
  EXPECT_EQ(objects.Locate(0x2004, 1), SdoAbortCode::kSubindexMissing);
  EXPECT_EQ(objects.Locate(0x2004, 2), SdoAbortCode::kNone);
  objects.RemoveIndex(0x2004);
  EXPECT_EQ(objects.Locate(0x2004, 2), SdoAbortCode::kObjectMissing);
  EXPECT_EQ(objects.Locate(0x2003, 0), SdoAbortCode::kNone);
}

}  // namespace
}  // namespace vantor::sim::canopen
