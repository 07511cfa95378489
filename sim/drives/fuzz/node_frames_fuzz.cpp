// Feeds arbitrary CAN frames to the simulated nodes of the sample machine
// (three drives, an I/O module, a handwheel gateway; here booting within a
// millisecond, so that a run spends its time on the frames), with time passing
// between them, so that NMT, guarding, SDO transfers, PDOs and the drives'
// state machines all see what a faulty master could send.
//
// Input: records of [pause][identifier low][identifier high, remote bit 0x80]
// [length][data...]; the pause is in steps of 50 us, the length is taken
// modulo 16 (lengths above 8 are kept, as a faulty controller might report).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "common/fuzz_input.h"
#include "sim/can_frame.h"
#include "sim/canopen/canopen_station_kinds.h"
#include "sim/drives/drive_kinds.h"
#include "sim/hardware/can_bus.h"
#include "sim/hardware/machine.h"
#include "sim/hardware/machine_description.h"

namespace {

using vantor::common::FuzzRequire;

using namespace vantor;

std::string SampleMachineText() {
  std::ifstream file(VANTOR_FUZZ_MACHINE);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

const sim::StationKinds& Kinds() {
  static const sim::StationKinds kinds = [] {
    sim::drives::RegisterDeviceNodeKinds();
    sim::StationKinds made;
    sim::canopen::RegisterCanopenStationKinds(made);
    return made;
  }();
  return kinds;
}

constexpr std::size_t kHeaderSize = 4;
constexpr sim::SimTime kPauseStep = 50 * sim::kNanosecondsPerMicrosecond;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string description = SampleMachineText();
  sim::MachineLoadResult loaded = sim::LoadMachineDescription(description, Kinds());
  FuzzRequire(static_cast<bool>(loaded));
  sim::Machine& machine = *loaded.machine;
  sim::CanBus* bus = machine.FindBus("can0");
  FuzzRequire(bus != nullptr);
  machine.Sim().AdvanceBy(2 * sim::kNanosecondsPerMillisecond);  // every node has booted

  std::size_t at = 0;
  while (size - at >= kHeaderSize) {
    const std::uint8_t pause = data[at];
    sim::CanFrame frame;
    frame.identifier = static_cast<std::uint16_t>(data[at + 1] | ((data[at + 2] & 0x07) << 8));
    frame.remote = (data[at + 2] & 0x80) != 0;
    frame.length = data[at + 3] & 0x0F;
    at += kHeaderSize;
    const std::size_t carried =
        frame.length < sim::CanFrame::kMaxLength ? frame.length : sim::CanFrame::kMaxLength;
    for (std::size_t i = 0; i < carried && at < size; ++i) frame.data[i] = data[at++];
    bus->DeliverNow(frame);
    machine.Sim().AdvanceBy(kPauseStep * pause + kPauseStep);
  }
  machine.Sim().AdvanceBy(10 * sim::kNanosecondsPerMillisecond);
  return 0;
}
