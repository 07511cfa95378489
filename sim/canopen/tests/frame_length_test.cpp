// A scripted master sends requests of every length to a node over the bus:
// a frame too short for its command is ignored and shows in the node log;
// the shortened SDO requests masters send are served while the node's
// leniency switch is on (the default), and ignored with it off.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/canopen/sdo_request_length.h"
#include "sim/canopen/tests/bus_stations.h"
#include "sim/canopen/tests/node_harness.h"

namespace vantor::sim::canopen {
namespace {

using namespace nodetest;
using sim::testing::RecordingStation;

constexpr std::uint16_t kRequest = 0x605;
constexpr std::uint16_t kAnswer = 0x585;

struct NodeWithMaster {
  explicit NodeWithMaster(bool shortSdoRequests) {
    machine.AddBus("can0");
    NodeCreation created = CreateNode("generic", 5,
                                      nlohmann::json{{"device_name", "ABCDEFGHIJKLMNOPQ"},
                                                     {"short_sdo_requests", shortSdoRequests}});
    EXPECT_NE(created.station, nullptr) << created.error;
    if (created.station == nullptr) return;
    node = &created.station->Node();
    machine.AddStation("can0", std::move(created.station));
    master = AddClient(machine);
    machine.Sim().AdvanceBy(1 * kMs);
  }

  // The frames answered to `frame`, after it went out.
  std::vector<CanFrame> Send(const CanFrame& frame) {
    master->heard.clear();
    master->Queue(frame);
    machine.Sim().AdvanceBy(1 * kMs);
    std::vector<CanFrame> answers;
    for (const RecordingStation::Heard& heard : master->heard) answers.push_back(heard.frame);
    return answers;
  }

  Machine machine;
  CanopenNode* node = nullptr;
  RecordingStation* master = nullptr;
};

TEST(FrameLengths, ShortRequestsAreServedOnlyWithTheLeniencyAndTooShortOnesNever) {
  struct Case {
    const char* name;
    std::vector<CanFrame> before;  // sent first, at full length
    CanFrame request;
    bool servedWithLeniency;
    bool servedStrictly;
    const char* ignoredLenient;  // the log line when ignored with the leniency
    const char* ignoredStrict;   // and without it
  };
  const Case cases[] = {
      {"upload initiate of 4 bytes",
       {},
       Frame(kRequest, {0x40, 0x00, 0x10, 0x00}),
       true,
       false,
       "",
       "ignored 605 [4]: needs 8 bytes"},
      {"upload initiate of 3 bytes",
       {},
       Frame(kRequest, {0x40, 0x00, 0x10}),
       false,
       false,
       "ignored 605 [3]: needs 4 bytes",
       "ignored 605 [3]: needs 8 bytes"},
      {"expedited download of 1 byte in 5",
       {},
       Frame(kRequest, {0x2F, 0x0D, 0x10, 0x00, 0x07}),
       true,
       false,
       "",
       "ignored 605 [5]: needs 8 bytes"},
      {"expedited download of 2 bytes in 5",
       {},
       Frame(kRequest, {0x2B, 0x0C, 0x10, 0x00, 0x64}),
       false,
       false,
       "ignored 605 [5]: needs 6 bytes",
       "ignored 605 [5]: needs 8 bytes"},
      {"expedited download without size in 5",
       {},
       Frame(kRequest, {0x22, 0x0D, 0x10, 0x00, 7}),
       false,
       false,
       "ignored 605 [5]: needs 8 bytes",
       "ignored 605 [5]: needs 8 bytes"},
      {"upload segment request of 1 byte",
       {Frame(kRequest, {0x40, 0x08, 0x10, 0x00, 0, 0, 0, 0})},
       Frame(kRequest, {0x60}),
       true,
       false,
       "",
       "ignored 605 [1]: needs 8 bytes"},
      {"full upload initiate",
       {},
       Frame(kRequest, {0x40, 0x00, 0x10, 0x00, 0, 0, 0, 0}),
       true,
       true,
       "",
       ""},
      {"empty SDO frame",
       {},
       Frame(kRequest, {}),
       false,
       false,
       "ignored 605 [0]: needs 1 byte",
       "ignored 605 [0]: needs 1 byte"},
      {"abort without its code",
       {Frame(kRequest, {0x40, 0x08, 0x10, 0x00, 0, 0, 0, 0})},
       Frame(kRequest, {0x80, 0x08, 0x10, 0x00}),
       false,
       false,
       "ignored 605 [4]: needs 8 bytes",
       "ignored 605 [4]: needs 8 bytes"},
      {"NMT command of 1 byte",
       {},
       Frame(0x000, {0x01}),
       false,
       false,
       "ignored 000 [1]: needs 2 bytes",
       "ignored 000 [1]: needs 2 bytes"},
  };
  for (const bool leniency : {true, false}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (leniency ? ", lenient" : ", strict"));
      NodeWithMaster bus(leniency);
      ASSERT_NE(bus.node, nullptr);
      for (const CanFrame& frame : c.before) ASSERT_EQ(bus.Send(frame).size(), 1u);
      bus.node->Log().Clear();
      const std::vector<CanFrame> answers = bus.Send(c.request);
      const bool served = leniency ? c.servedWithLeniency : c.servedStrictly;
      const std::vector<std::string> lines = bus.node->Log().Lines();
      if (served) {
        ASSERT_EQ(answers.size(), 1u);
        EXPECT_EQ(answers[0].identifier, kAnswer);
        EXPECT_NE(answers[0].data[0] & 0xE0, 0x80) << "served, not aborted";
        continue;
      }
      EXPECT_TRUE(answers.empty());
      EXPECT_EQ(lines, std::vector<std::string>{leniency ? c.ignoredLenient : c.ignoredStrict});
      EXPECT_EQ(bus.node->State(), NmtState::kPreOperational);
    }
  }
}

// The lengths the library's segmented download sends: one segment request
// of 1 + n bytes for n bytes of data.
TEST(FrameLengths, EachSpecifierNeedsItsMeaningfulBytes) {
  struct Case {
    std::uint8_t specifier;
    std::uint8_t lenient;
  };
  const Case cases[] = {
      {0x40, 4}, {0x60, 1}, {0x70, 1}, {0x23, 8}, {0x27, 7}, {0x2B, 6}, {0x2F, 5}, {0x22, 8},
      {0x21, 8}, {0x20, 4}, {0x00, 8}, {0x01, 8}, {0x1D, 2}, {0x0B, 3}, {0x80, 8}, {0xA0, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.specifier));
    EXPECT_EQ(RequiredSdoRequestLength(c.specifier, true), c.lenient);
    EXPECT_EQ(RequiredSdoRequestLength(c.specifier, false), 8);
  }
}

}  // namespace
}  // namespace vantor::sim::canopen
