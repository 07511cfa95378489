// The order of PDO parameter writes: a node with the write-order leniency
// (the default) lets a master rewrite a valid PDO in place, as the kernel's
// PDO set-up does; a node without it keeps to CiA 301 and refuses every
// change to a valid PDO. The order CiA 301 gives passes either way.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "sim/canopen/tests/node_harness.h"
#include "sim/canopen/tests/pdo_write_orders.h"

namespace vantor::sim::canopen {
namespace {

using namespace nodetest;

constexpr std::uint32_t kAccepted = 0;
constexpr std::uint32_t kInvalidValue = 0x06090030;
constexpr std::uint32_t kDeviceState = 0x08000022;
constexpr std::uint32_t kInvalidBit = 0x80000000u;

enum class Mode { kLenient, kStrict };

const char* Name(Mode mode) { return mode == Mode::kLenient ? "lenient" : "strict"; }

// Node 5 with the objects a drive maps, booted and pre-operational: its
// PDOs are valid, with the predefined identifiers and empty mappings.
std::unique_ptr<NodeHarness> MakeNode(Mode mode) {
  NodeOptions options = NodeHarness::Defaults();
  options.pdoChangesWhileValid = mode == Mode::kLenient;
  auto node = std::make_unique<NodeHarness>(options);
  ObjectDictionary& objects = node->Objects();
  objects.Add({0x6040, 0, DataType::kUnsigned16, Access::kReadWrite, true, 0});
  objects.Add({0x6041, 0, DataType::kUnsigned16, Access::kReadOnly, true, 0x0237});
  objects.Add({0x6064, 0, DataType::kInteger32, Access::kReadOnly, true, 0});
  objects.Add({0x60FD, 0, DataType::kUnsigned8, Access::kReadOnly, true, 0x05});
  for (std::uint8_t sub = 1; sub <= 3; ++sub) {
    objects.Add({0x60C1, sub, sub == 1 ? DataType::kInteger32 : DataType::kInteger16,
                 Access::kReadWrite, true, 0});
  }
  node->Boot();
  return node;
}

// The node's answer to one download; nullopt when it gave none or another.
std::optional<std::uint32_t> Send(NodeHarness& node, const ParameterWrite& write) {
  const std::vector<CanFrame> answers = node.Exchange(DownloadFrame(node.Id(), write));
  if (answers.size() != 1) return std::nullopt;
  return DownloadOutcome(answers[0]);
}

TEST(PdoWriteOrder, AStrictNodeRefusesEveryChangeToAValidPdo) {
  const std::vector<ParameterWrite> invalidRpdo = {{0x1400, 1, 0x205 | kInvalidBit, 4}};
  std::vector<ParameterWrite> invalidRpdoEntry = invalidRpdo;
  invalidRpdoEntry.push_back({0x1600, 1, 0x60400010, 4});
  std::vector<ParameterWrite> invalidRpdoMapped = invalidRpdoEntry;
  invalidRpdoMapped.push_back({0x1600, 0, 1, 1});
  std::vector<ParameterWrite> invalidRpdoMovedAway = invalidRpdoMapped;
  invalidRpdoMovedAway.push_back({0x1400, 1, 0x305 | kInvalidBit, 4});
  std::vector<ParameterWrite> validRpdoEntryNoCount = invalidRpdoEntry;
  validRpdoEntryNoCount.push_back({0x1400, 1, 0x205, 4});
  std::vector<ParameterWrite> validRpdoMapped = invalidRpdoMapped;
  validRpdoMapped.push_back({0x1400, 1, 0x205, 4});

  struct Case {
    const char* name;
    std::vector<ParameterWrite> before;  // accepted in both modes
    ParameterWrite judged;
    std::uint32_t lenient;
    std::uint32_t strict;
  };
  const std::vector<Case> cases = {
      // The CiA 301 order, step by step.
      {"valid PDO made invalid", {}, {0x1400, 1, 0x205 | kInvalidBit, 4}, kAccepted, kAccepted},
      {"invalid PDO: new identifier",
       invalidRpdo,
       {0x1400, 1, 0x305 | kInvalidBit, 4},
       kAccepted,
       kAccepted},
      {"invalid PDO: transmission type", invalidRpdo, {0x1400, 2, 0, 1}, kAccepted, kAccepted},
      {"invalid PDO: inhibit time",
       {{0x1800, 1, 0x185 | kInvalidBit, 4}},
       {0x1800, 3, 10, 2},
       kAccepted,
       kAccepted},
      {"invalid PDO: mapping entry", invalidRpdo, {0x1600, 1, 0x60400010, 4}, kAccepted, kAccepted},
      {"invalid PDO: mapping count", invalidRpdoEntry, {0x1600, 0, 1, 1}, kAccepted, kAccepted},
      {"invalid PDO made valid", invalidRpdoMovedAway, {0x1400, 1, 0x305, 4}, kAccepted, kAccepted},
      // What CiA 301 lets a client change on a valid PDO.
      {"valid PDO: COB-ID written unchanged", {}, {0x1400, 1, 0x205, 4}, kAccepted, kAccepted},
      {"valid PDO: remote requests forbidden",
       {},
       {0x1800, 1, 0x40000185, 4},
       kAccepted,
       kAccepted},
      {"valid PDO: event timer", {}, {0x1800, 5, 100, 2}, kAccepted, kAccepted},
      // Changes to a valid PDO: refused only by a strict node.
      {"valid PDO: new identifier", {}, {0x1400, 1, 0x305, 4}, kAccepted, kInvalidValue},
      {"valid PDO: new identifier written invalid",
       {},
       {0x1400, 1, 0x305 | kInvalidBit, 4},
       kAccepted,
       kInvalidValue},
      {"valid PDO: transmission type", {}, {0x1400, 2, 0, 1}, kAccepted, kDeviceState},
      {"valid PDO: transmission type 241 to switch it off",
       {},
       {0x1800, 2, 241, 1},
       kAccepted,
       kDeviceState},
      {"valid PDO: inhibit time", {}, {0x1800, 3, 10, 2}, kAccepted, kDeviceState},
      {"valid PDO: mapping entry under count 0",
       {},
       {0x1600, 1, 0x60400010, 4},
       kAccepted,
       kDeviceState},
      {"valid PDO: mapping count",
       validRpdoEntryNoCount,
       {0x1600, 0, 1, 1},
       kAccepted,
       kDeviceState},
      {"valid PDO: mapping count cleared",
       validRpdoMapped,
       {0x1600, 0, 0, 1},
       kAccepted,
       kDeviceState},
      // The mapping's own order holds in both modes.
      {"invalid PDO: mapping entry while the count is in force",
       invalidRpdoMapped,
       {0x1600, 1, 0x60C10120, 4},
       kDeviceState,
       kDeviceState},
  };
  for (const Case& c : cases) {
    for (const Mode mode : {Mode::kLenient, Mode::kStrict}) {
      SCOPED_TRACE(std::string(c.name) + ", " + Name(mode));
      const auto node = MakeNode(mode);
      for (const ParameterWrite& write : c.before) ASSERT_EQ(Send(*node, write), kAccepted);
      const std::uint64_t stored = node->Objects().Unsigned(c.judged.index, c.judged.subindex);
      const std::uint32_t expected = mode == Mode::kLenient ? c.lenient : c.strict;
      EXPECT_EQ(Send(*node, c.judged), expected);
      // A refused write leaves the parameter as it was.
      EXPECT_EQ(node->Objects().Unsigned(c.judged.index, c.judged.subindex),
                expected == kAccepted ? c.judged.value : stored);
    }
  }
}

struct Refusal {
  std::uint16_t index = 0;
  std::uint8_t subindex = 0;
  std::uint32_t abort = 0;
  friend bool operator==(const Refusal&, const Refusal&) = default;
};

void PrintTo(const Refusal& refusal, std::ostream* out) {
  *out << std::hex << refusal.index << ":" << unsigned{refusal.subindex} << " aborted 0x"
       << refusal.abort;
}

TEST(PdoWriteOrder, TheKernelsSetUpNeedsTheLeniencyAndTheCia301OrderPassesEither) {
  using Order = std::vector<ParameterWrite> (*)(const PdoSetup&);
  struct Case {
    const char* name;
    Order order;
    Mode mode;
    std::vector<std::optional<Refusal>> firstRefusals;  // one per KernelDriveLayouts entry
  };
  const std::vector<Case> cases = {
      {"kernel order, lenient", &KernelSetupOrder, Mode::kLenient, {{}, {}, {}}},
      {"CiA 301 order, lenient", &InvalidFirstOrder, Mode::kLenient, {{}, {}, {}}},
      {"CiA 301 order, strict", &InvalidFirstOrder, Mode::kStrict, {{}, {}, {}}},
      // The COB-ID and the empty count are written as they stand, so the
      // first change to the valid PDO is the one refused.
      {"kernel order, strict",
       &KernelSetupOrder,
       Mode::kStrict,
       {Refusal{0x1600, 1, kDeviceState}, Refusal{0x1601, 1, kDeviceState},
        Refusal{0x1800, 3, kDeviceState}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto node = MakeNode(c.mode);
    std::vector<std::optional<Refusal>> firstRefusals;
    for (const PdoSetup& layout : KernelDriveLayouts(node->Id())) {
      std::optional<Refusal> refusal;
      for (const ParameterWrite& write : c.order(layout)) {
        const std::optional<std::uint32_t> outcome = Send(*node, write);
        ASSERT_TRUE(outcome.has_value());
        if (*outcome != kAccepted) {
          refusal = Refusal{write.index, write.subindex, *outcome};
          break;
        }
      }
      firstRefusals.push_back(refusal);
    }
    EXPECT_EQ(firstRefusals, c.firstRefusals);
    const auto refused = [](const std::optional<Refusal>& refusal) { return refusal.has_value(); };
    if (std::ranges::any_of(firstRefusals, refused)) continue;

    // Set up either way, the PDOs carry the kernel's data.
    node->StartNode();
    node->Objects().SetUnsigned(0x6064, 0, 1000);
    node->Receive(Frame(0x205, {0x0F, 0x00}));
    node->Receive(Frame(0x305, {0x10, 0x27, 0x00, 0x00, 0x05, 0x00, 0xFB, 0xFF}));
    EXPECT_EQ(node->Objects().Find(0x60C1, 1)->Signed(), 10000);
    node->Receive(kSync);
    EXPECT_EQ(node->Objects().Unsigned(0x6040, 0), 0x000Fu);
    EXPECT_THAT(node->Take(), ElementsAre(Frame(0x185, {0xE8, 0x03, 0, 0, 0x37, 0x02, 0x05})));
  }
}

}  // namespace
}  // namespace vantor::sim::canopen
