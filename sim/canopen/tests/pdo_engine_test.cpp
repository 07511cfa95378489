#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "sim/canopen/tests/node_harness.h"
#include "sim/canopen/tests/pdo_write_orders.h"

namespace vantor::sim::canopen {
namespace {

using namespace nodetest;

// Records what the device model is told.
class RecordingApplication : public NodeApplication {
 public:
  explicit RecordingApplication(ObjectDictionary& objects) : objects_(objects) {}
  void OnSync(SimTime) override {
    controlwordAtSync.push_back(objects_.Unsigned(0x6040, 0));
    // The drive moves on at each SYNC; the feedback shows the new position.
    objects_.SetUnsigned(0x6064, 0, objects_.Unsigned(0x6064, 0) + 10);
  }
  void OnRpdoApplied(int pdo, SimTime) override { appliedRpdos.push_back(pdo); }

  std::vector<std::uint64_t> controlwordAtSync;
  std::vector<int> appliedRpdos;

 private:
  ObjectDictionary& objects_;
};

class PdoEngineTest : public ::testing::Test {
 protected:
  PdoEngineTest() : application(node.Objects()) {
    ObjectDictionary& objects = node.Objects();
    objects.Add({0x6040, 0, DataType::kUnsigned16, Access::kReadWrite, true, 0});
    objects.Add({0x6041, 0, DataType::kUnsigned16, Access::kReadOnly, true, 0x0250});
    objects.Add({0x6060, 0, DataType::kInteger8, Access::kReadWrite, false, 0});
    objects.Add({0x6064, 0, DataType::kInteger32, Access::kReadOnly, true, 0});
    objects.Add({0x60C1, 1, DataType::kInteger32, Access::kReadWrite, true, 0});
    objects.Add({0x60C1, 2, DataType::kInteger16, Access::kReadWrite, true, 0});
    objects.Add({0x60C1, 3, DataType::kInteger16, Access::kReadWrite, true, 0});
    objects.Add({0x60FD, 0, DataType::kUnsigned8, Access::kReadOnly, true, 0});
    node.Core().SetApplication(&application);
    node.Boot();
  }

  // An expedited download as the kernel frames it; true when answered 0x60.
  bool Download(std::uint16_t index, std::uint8_t subindex, std::uint32_t value, int size) {
    const auto answer = node.Exchange(
        DownloadFrame(node.Id(), {index, subindex, value, static_cast<std::uint8_t>(size)}));
    return answer.size() == 1 && DownloadOutcome(answer[0]) == 0u;
  }

  void Configure(const PdoSetup& setup) {
    for (const ParameterWrite& write : KernelSetupOrder(setup)) {
      ASSERT_TRUE(Download(write.index, write.subindex, write.value, write.size));
    }
  }
  void ConfigureRpdo(int pdo, std::uint32_t cobId, std::vector<std::uint32_t> entries,
                     std::uint8_t type) {
    Configure({PdoDirection::kReceive, pdo, cobId, std::move(entries), type});
  }
  void ConfigureTpdo(int pdo, std::uint32_t cobId, std::vector<std::uint32_t> entries,
                     std::uint8_t type, std::uint16_t inhibit, std::uint16_t eventTimer) {
    Configure({PdoDirection::kTransmit, pdo, cobId, std::move(entries), type, inhibit, eventTimer});
  }

  NodeHarness node;
  RecordingApplication application;
};

TEST_F(PdoEngineTest, AControlwordRpdoOfType0TakesEffectOnlyAtTheNextSync) {
  node.Core().Log().Clear();
  ConfigureRpdo(1, 0x205, {0x60400010}, 0);
  // A mapping change is logged as the write takes effect, before the
  // transfer that carried it is logged as complete.
  EXPECT_THAT(
      node.Core().Log().Lines(),
      ElementsAre("download 1400:01 4 0x00000205", "mapping 0x1600 0", "download 1600:00 1 0x00",
                  "download 1600:01 4 0x60400010", "mapping 0x1600 1 0x60400010",
                  "download 1600:00 1 0x01", "download 1400:02 1 0x00"));
  node.StartNode();

  node.Receive(Frame(0x205, {0x0F, 0x00}));
  EXPECT_EQ(node.Objects().Unsigned(0x6040, 0), 0u);
  EXPECT_THAT(application.appliedRpdos, IsEmpty());
  node.Receive(kSync);
  EXPECT_EQ(node.Objects().Unsigned(0x6040, 0), 0x000Fu);
  EXPECT_THAT(application.appliedRpdos, ElementsAre(1));
  // The device sees the new controlword at the SYNC it took effect.
  EXPECT_THAT(application.controlwordAtSync, ElementsAre(0x000Fu));
  node.Receive(kSync);
  EXPECT_THAT(application.appliedRpdos, ElementsAre(1));
}

TEST_F(PdoEngineTest, AFeedbackTpdoOfType1AnswersEverySyncWithFreshValues) {
  ConfigureTpdo(1, 0x185, {0x60640020, 0x60410010, 0x60FD0008}, 1, 10, 0);
  node.Objects().SetUnsigned(0x6064, 0, 1000);
  node.Objects().SetUnsigned(0x6041, 0, 0x0237);
  node.Objects().SetUnsigned(0x60FD, 0, 0x05);
  node.StartNode();
  EXPECT_THAT(node.Take(), IsEmpty());

  node.Receive(kSync);
  EXPECT_THAT(node.Take(), ElementsAre(Frame(0x185, {0xF2, 0x03, 0, 0, 0x37, 0x02, 0x05})));
  node.Receive(kSync);
  EXPECT_THAT(node.Take(), ElementsAre(Frame(0x185, {0xFC, 0x03, 0, 0, 0x37, 0x02, 0x05})));
}

TEST_F(PdoEngineTest, ATpdoOfTypeNAnswersEveryNthSync) {
  ConfigureTpdo(1, 0x185, {0x60410010}, 3, 0, 0);
  node.StartNode();
  std::vector<std::size_t> framesPerSync;
  for (int sync = 0; sync < 6; ++sync) {
    node.Receive(kSync);
    framesPerSync.push_back(node.Take().size());
  }
  EXPECT_THAT(framesPerSync, ElementsAre(0u, 0u, 1u, 0u, 0u, 1u));
}

TEST_F(PdoEngineTest, ATpdoOfType0AnswersASyncOnlyAfterAChange) {
  ConfigureTpdo(1, 0x185, {0x60410010}, 0, 0, 0);
  node.StartNode();
  node.Receive(kSync);
  EXPECT_THAT(node.Take(), ElementsAre(Frame(0x185, {0x50, 0x02})));
  node.Receive(kSync);
  EXPECT_THAT(node.Take(), IsEmpty());
  node.Objects().SetUnsigned(0x6041, 0, 0x0233);
  node.Receive(kSync);
  EXPECT_THAT(node.Take(), ElementsAre(Frame(0x185, {0x33, 0x02})));
}

TEST_F(PdoEngineTest, ASetpointRpdoOfType255TakesEffectOnReceipt) {
  ConfigureRpdo(2, 0x305, {0x60C10120, 0x60C10210, 0x60C10310}, 0xFF);
  node.StartNode();
  node.Receive(Frame(0x305, {0x10, 0x27, 0x00, 0x00, 0x05, 0x00, 0xFB, 0xFF}));
  EXPECT_EQ(node.Objects().Find(0x60C1, 1)->Signed(), 10000);
  EXPECT_EQ(node.Objects().Find(0x60C1, 2)->Signed(), 5);
  EXPECT_EQ(node.Objects().Find(0x60C1, 3)->Signed(), -5);
  EXPECT_THAT(application.appliedRpdos, ElementsAre(2));
}

TEST_F(PdoEngineTest, ATpdoOfType253AnswersRemoteRequestsOnly) {
  ConfigureTpdo(2, 0x285, {0x10130020}, 253, 0, 0);
  node.StartNode();
  node.Objects().SetUnsigned(0x1013, 0, 0x01020304);
  node.Receive(kSync);
  EXPECT_THAT(node.Take(), IsEmpty());
  node.Receive(Remote(0x285));
  EXPECT_THAT(node.Take(), ElementsAre(Frame(0x285, {0x04, 0x03, 0x02, 0x01})));

  // With remote requests forbidden in the COB-ID the PDO stays quiet.
  ASSERT_TRUE(Download(0x1801, 1, 0x40000285, 4));
  node.Receive(Remote(0x285));
  EXPECT_THAT(node.Take(), IsEmpty());
}

TEST_F(PdoEngineTest, AnEventDrivenTpdoHonoursInhibitTimeAndEventTimer) {
  // Inhibit 10 ms (100 x 100 us), event timer 50 ms.
  ConfigureTpdo(3, 0x385, {0x60410010}, 255, 100, 50);
  const SimTime start = node.now;
  node.sent.clear();
  node.Nmt(0x01, 5);
  EXPECT_THAT(node.Take(), ElementsAre(Frame(0x385, {0x50, 0x02})));

  node.AdvanceTo(start + 1 * kMs);
  node.Objects().SetUnsigned(0x6041, 0, 0x0237);
  node.AdvanceTo(start + 10 * kMs - 1);
  EXPECT_THAT(node.Take(), IsEmpty());
  EXPECT_EQ(node.Core().NextDeadline(), start + 10 * kMs);
  node.AdvanceTo(start + 10 * kMs);
  EXPECT_THAT(node.Take(), ElementsAre(Frame(0x385, {0x37, 0x02})));

  // Nothing changes: the event timer repeats the value 50 ms after the last.
  node.AdvanceTo(start + 60 * kMs - 1);
  EXPECT_THAT(node.Take(), IsEmpty());
  node.AdvanceTo(start + 60 * kMs);
  EXPECT_THAT(node.Take(), ElementsAre(Frame(0x385, {0x37, 0x02})));
}

TEST_F(PdoEngineTest, Type241SwitchesAPdoOff) {
  ConfigureRpdo(1, 0x205, {0x60400010}, 0xF1);
  ConfigureTpdo(1, 0x185, {0x60410010}, 0xF1, 65000, 0);
  node.StartNode();
  node.Receive(Frame(0x205, {0x0F, 0x00}));
  node.Receive(kSync);
  node.Receive(Remote(0x185));
  EXPECT_THAT(node.Take(), IsEmpty());
  EXPECT_EQ(node.Objects().Unsigned(0x6040, 0), 0u);
}

TEST_F(PdoEngineTest, PdosRestOutsideTheOperationalState) {
  ConfigureRpdo(1, 0x205, {0x60400010}, 0xFF);
  ConfigureTpdo(1, 0x185, {0x60410010}, 1, 0, 0);
  node.Receive(Frame(0x205, {0x0F, 0x00}));
  node.Receive(kSync);
  EXPECT_THAT(node.Take(), IsEmpty());
  EXPECT_EQ(node.Objects().Unsigned(0x6040, 0), 0u);

  node.StartNode();
  node.Nmt(0x02, 5);
  node.Receive(kSync);
  EXPECT_THAT(node.Take(), IsEmpty());
}

TEST_F(PdoEngineTest, AShortRpdoIsDroppedWithAnEmergency) {
  ConfigureRpdo(2, 0x305, {0x60C10120, 0x60C10210}, 0xFF);
  node.StartNode();
  node.Receive(Frame(0x305, {0x10, 0x27, 0x00, 0x00, 0x05}));
  EXPECT_THAT(node.Take(), ElementsAre(Frame(0x085, {0x10, 0x82, 0x11, 0, 0, 0, 0, 0})));
  EXPECT_EQ(node.Objects().Unsigned(0x60C1, 1), 0u);
}

struct MappingRefusal {
  const char* name;
  std::uint16_t index;
  std::uint8_t subindex;
  std::uint32_t value;
  int size;
  std::uint32_t abort;
};

TEST_F(PdoEngineTest, MappingsThatCannotWorkAreRefused) {
  // RPDO 1 holds a valid 2-object mapping for the count checks below.
  ASSERT_TRUE(Download(0x1600, 0, 0, 1));
  ASSERT_TRUE(Download(0x1600, 1, 0x60C10120, 4));
  ASSERT_TRUE(Download(0x1600, 2, 0x60C10120, 4));
  ASSERT_TRUE(Download(0x1600, 3, 0x60C10120, 4));
  const std::vector<MappingRefusal> cases = {
      {"missing object", 0x1601, 1, 0x70000010, 4, 0x06020000},
      {"missing subindex", 0x1601, 1, 0x60C10920, 4, 0x06090011},
      {"object not mappable", 0x1601, 1, 0x60600008, 4, 0x06040041},
      {"read-only object into a receive PDO", 0x1601, 1, 0x60410010, 4, 0x06040041},
      {"wrong bit length", 0x1A01, 1, 0x60410020, 4, 0x06040041},
      {"string object", 0x1A01, 1, 0x10080040, 4, 0x06040041},
      {"more than 64 bits", 0x1600, 0, 3, 1, 0x06040042},
      {"more than 8 entries", 0x1A01, 0, 9, 1, 0x06040042},
      {"count over empty entries", 0x1A01, 0, 1, 1, 0x06040041},
      {"29-bit COB-ID", 0x1400, 1, 0x20000205, 4, 0x06090030},
      {"transmission type 253 on a receive PDO", 0x1400, 2, 253, 1, 0x06090030},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto command = static_cast<std::uint8_t>(0x23 | ((4 - c.size) << 2));
    const auto answer = node.Sdo(
        {command, static_cast<std::uint8_t>(c.index), static_cast<std::uint8_t>(c.index >> 8),
         c.subindex, static_cast<std::uint8_t>(c.value), static_cast<std::uint8_t>(c.value >> 8),
         static_cast<std::uint8_t>(c.value >> 16), static_cast<std::uint8_t>(c.value >> 24)});
    ASSERT_EQ(answer.size(), 1u);
    EXPECT_EQ(answer[0].data[0], 0x80);
    const std::uint32_t abort = answer[0].data[4] | (answer[0].data[5] << 8) |
                                (answer[0].data[6] << 16) |
                                (static_cast<std::uint32_t>(answer[0].data[7]) << 24);
    EXPECT_EQ(abort, c.abort);
  }
  // With a count in force the entries are locked.
  ASSERT_TRUE(Download(0x1600, 0, 2, 1));
  EXPECT_THAT(node.Sdo({0x23, 0x00, 0x16, 0x01, 0x10, 0x00, 0x40, 0x60}),
              ElementsAre(Frame(0x585, {0x80, 0x00, 0x16, 0x01, 0x22, 0x00, 0x00, 0x08})));
}

TEST_F(PdoEngineTest, ACommunicationResetClearsTheKernelsLayout) {
  ConfigureTpdo(1, 0x185, {0x60410010}, 1, 0, 0);
  node.Nmt(0x82, 5);
  node.AdvanceTo(node.now);
  node.StartNode();
  node.Receive(kSync);
  EXPECT_THAT(node.Take(), IsEmpty());
}

}  // namespace
}  // namespace vantor::sim::canopen
