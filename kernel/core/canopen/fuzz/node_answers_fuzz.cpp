// Feeds arbitrary answer frames to the kernel's CANopen layer: the node
// slots' step functions (SDO upload and download, the position-demand read,
// NMT commands, the drive's enable and disable) and the segmented upload
// run cycle by cycle, and every record armed for an answer may receive any
// frame (length codes above 8 included) with any result byte, or nothing.
//
// Every request ends, in a bounded number of cycles, with its completion
// set; a segmented upload never reports more bytes than its buffer holds.
//
// Input: one byte per request (which step, which node), then per cycle and
// armed record [deliver?][length][result][8 data bytes].
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "common/exchange_buffer.h"
#include "common/fuzz_input.h"
#include "kernel/core/canopen/drive_state_steps.h"
#include "kernel/core/canopen/node_object.h"
#include "kernel/core/canopen/node_steps.h"
#include "kernel/core/canopen/request_record.h"
#include "kernel/core/canopen/segmented_upload.h"
#include "kernel/core/canopen/tests/canopen_test_support.h"

namespace {

using vantor::common::FuzzInput;
using vantor::common::FuzzRequire;

using namespace vantor;
using namespace vantor::canopen;

constexpr std::uint8_t kSingleReceive = 18;
constexpr std::size_t kRecords = 15;
// Far beyond the longest exchange: every answer time-out and retry of a
// request, and a segmented upload of the whole buffer.
constexpr int kMaxCycles = 20000;
constexpr int kMaxRequests = 16;

// Plays the driver and a node that says whatever the input says: sends go
// out (and are forgotten), each armed answer record may get a frame.
void Exchange(common::ExchangeBuffer& exchange, testing::FakeBus& bus, FuzzInput& input) {
  bus.Exchange(exchange, 1000);
  for (std::size_t k = 1; k <= kRecords; ++k) {
    testing::RawRecord record{exchange, k};
    if (record.Code() != kSingleReceive) continue;
    if ((input.Byte() & 1) == 0) continue;
    testing::LoggedFrame frame{record.CobId(), input.Byte(), {}};
    const std::uint8_t result = input.Byte();
    for (auto& byte : frame.data) byte = input.Byte();
    record.Deliver(frame, result);
    if (frame.length > 8) record.SetLength(frame.length);
  }
}

template <typename Done>
void RunUntil(testing::FakeHost& host, testing::FakeBus& bus, testing::TestNodes& nodes,
              FuzzInput& input, Done done) {
  for (int cycle = 0; !done(); ++cycle) {
    FuzzRequire(cycle < kMaxCycles);
    CycleContext context{host.exchange, nodes.table, 1000};
    RunNodeSteps(context);
    Exchange(host.exchange, bus, input);
  }
}

void RunStep(testing::FakeHost& host, testing::FakeBus& bus, testing::TestNodes& nodes,
             FuzzInput& input, NodeObject& node, testing::TestSignal& signal,
             NodeStepFunction step) {
  node.requestRecord.Set(sdo_request::kIndex, static_cast<std::uint16_t>(0x6000 | input.Byte()));
  node.requestRecord.Set(sdo_request::kSubindex, input.Byte());
  node.requestRecord.Set(sdo_request::kSize, input.Byte() % 6);
  node.countdownReload = 1 + input.Byte() % 8;
  ArmNodeRequest(node, step);
  RunUntil(host, bus, nodes, input, [&] { return signal.IsSet(); });
  FuzzRequire(node.request.stepFunction == nullptr);
}

void RunSegmentedUpload(testing::FakeHost& host, testing::FakeBus& bus, testing::TestNodes& nodes,
                        FuzzInput& input, NodeObject& node) {
  std::array<std::uint8_t, 64> buffer{};
  const std::size_t capacity = 1 + input.Byte() % buffer.size();
  SegmentedUpload upload;
  CycleContext context{host.exchange, nodes.table, 1000};
  if (!upload.Start(context, node, 0x1008, 0, std::span(buffer).first(capacity))) return;
  bool done = false;
  RunUntil(host, bus, nodes, input, [&] {
    if (done) return true;
    CycleContext cycle{host.exchange, nodes.table, 1000};
    done = upload.Step(cycle, node) == CheckState::Done;
    return false;
  });
  FuzzRequire(upload.Received() <= capacity);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  testing::TestNodes nodes({5, 6});
  testing::FakeBus bus;
  testing::FakeHost host(nodes.table, bus);
  static constexpr std::array<NodeStepFunction, 6> kSteps = {
      SdoUploadStep,  SdoDownloadStep, ReadPositionDemandStep,
      NmtCommandStep, DriveEnableStep, DriveDisableStep};
  for (int n = 0; n < kMaxRequests && !input.AtEnd(); ++n) {
    const std::uint8_t choice = input.Byte();
    const std::size_t which = (choice >> 4) % 2;
    NodeObject& node = nodes[which];
    const std::size_t kind = (choice & 0x0F) % (kSteps.size() + 1);
    if (kind == kSteps.size()) {
      RunSegmentedUpload(host, bus, nodes, input, node);
    } else {
      RunStep(host, bus, nodes, input, node, *nodes.signals[which], kSteps[kind]);
    }
  }
  return 0;
}
