// What one simulated second of the sample machine costs in wall time, with
// the machine at work as the kernel keeps it: every node operational, the
// four drives enabled and moving in profile velocity mode, a SYNC every
// cycle answered by each drive's feedback PDO, and the driver reading the
// card's registers in between, as its interrupt routine and polls do.
//
//   sample_machine_cost_bench [SIMULATED-SECONDS] [ROUNDS]
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <vector>

#include "sim/canopen/canopen_station_kinds.h"
#include "sim/drives/drive_kinds.h"
#include "sim/hardware/machine.h"
#include "sim/hardware/machine_description.h"
#include "sim/hardware/tests/test_stations.h"

namespace {

using vantor::sim::CanFrame;
using vantor::sim::Machine;
using vantor::sim::SimTime;
using vantor::sim::testing::RecordingStation;

constexpr SimTime kMs = 1'000'000;
constexpr SimTime kCycle = 3 * kMs;  // the example machine's kernel cycle
constexpr SimTime kBitTime = 2000;   // 500 kbit/s
// Register reads of the driver per cycle: its interrupt routine, the
// receive and transmit polls.
constexpr int kRegisterReadsPerCycle = 40;
constexpr std::uint8_t kDrives[] = {1, 2, 3, 4};

CanFrame Frame(std::uint16_t identifier, std::initializer_list<std::uint8_t> bytes) {
  CanFrame frame;
  frame.identifier = identifier;
  frame.length = static_cast<std::uint8_t>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), frame.data.begin());
  return frame;
}

// An expedited download of `size` bytes.
CanFrame Download(std::uint8_t node, std::uint16_t index, std::uint8_t sub, std::uint32_t value,
                  int size) {
  const auto command = static_cast<std::uint8_t>(0x23 | ((4 - size) << 2));
  return Frame(static_cast<std::uint16_t>(0x600 + node),
               {command, static_cast<std::uint8_t>(index), static_cast<std::uint8_t>(index >> 8),
                sub, static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)});
}

struct Bench {
  std::unique_ptr<Machine> machine;
  RecordingStation* master = nullptr;
  vantor::sim::RegisterWindow* card = nullptr;

  void Send(const CanFrame& frame) {
    master->Queue(frame);
    machine->Sim().AdvanceBy(2 * kMs);
  }

  // Brings the machine to its steady state: booted, PDOs set, drives moving.
  bool SetUp() {
    vantor::sim::StationKinds kinds;
    if (!vantor::sim::drives::RegisterDeviceNodeKinds() ||
        !vantor::sim::canopen::RegisterCanopenStationKinds(kinds)) {
      return false;
    }
    vantor::sim::MachineLoadResult loaded =
        vantor::sim::LoadMachineDescriptionFile(VANTOR_SAMPLE_MACHINE, kinds);
    if (!loaded) {
      std::fprintf(stderr, "%s\n", loaded.error.c_str());
      return false;
    }
    machine = std::move(loaded.machine);
    master = static_cast<RecordingStation*>(
        machine->AddStation("can0", std::make_unique<RecordingStation>(kBitTime)));
    card = machine->FindPciCard("pci0")->BarWindow(2);
    machine->Sim().AdvanceTo(300 * kMs);
    for (const std::uint8_t node : kDrives) {
      // Feedback PDO: position and statusword on every SYNC.
      Send(Download(node, 0x1800, 1, 0x80000180u + node, 4));
      Send(Download(node, 0x1A00, 0, 0, 1));
      Send(Download(node, 0x1A00, 1, 0x60640020, 4));
      Send(Download(node, 0x1A00, 2, 0x60410010, 4));
      Send(Download(node, 0x1A00, 0, 2, 1));
      Send(Download(node, 0x1800, 2, 1, 1));
      Send(Download(node, 0x1800, 1, 0x180u + node, 4));
      // Profile velocity mode at a slow speed: the drive steps its motion.
      Send(Download(node, 0x6060, 0, 3, 1));
      Send(Download(node, 0x6083, 0, 200000, 4));
      Send(Download(node, 0x6084, 0, 200000, 4));
      Send(Download(node, 0x60FF, 0, 5000, 4));
      for (const std::uint8_t controlword : {0x06, 0x07, 0x0F}) {
        Send(Download(node, 0x6040, 0, controlword, 2));
      }
    }
    Send(Frame(0x000, {0x01, 0x00}));
    master->heard.clear();
    return true;
  }

  // Runs `cycles` kernel cycles; returns the feedback PDOs heard.
  long Run(long cycles) {
    long feedback = 0;
    for (long cycle = 0; cycle < cycles; ++cycle) {
      const SimTime start = machine->Sim().Now();
      master->Queue(Frame(0x080, {}));
      for (int read = 0; read < kRegisterReadsPerCycle; ++read) {
        machine->Sim().AdvanceTo(start + kCycle * read / kRegisterReadsPerCycle);
        (void)card->Read8(0x01);  // the controller's status register
      }
      machine->Sim().AdvanceTo(start + kCycle);
      for (const RecordingStation::Heard& heard : master->heard) {
        if (heard.frame.identifier >= 0x181 && heard.frame.identifier <= 0x184) ++feedback;
      }
      master->heard.clear();
      master->sent_times.clear();
    }
    return feedback;
  }
};

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  const auto cycles = static_cast<long>(seconds * 1e9 / static_cast<double>(kCycle));
  if (cycles <= 0 || rounds <= 0) {
    std::fprintf(stderr, "usage: %s [SIMULATED-SECONDS] [ROUNDS]\n", argv[0]);
    return 2;
  }
  std::printf("sample machine, %ld cycles of %.1f ms, %d register reads per cycle\n", cycles,
              static_cast<double>(kCycle) / 1e6, kRegisterReadsPerCycle);
  std::vector<double> costs;
  for (int round = 0; round < rounds; ++round) {
    Bench bench;
    if (!bench.SetUp()) return 1;
    const SimTime simulatedStart = bench.machine->Sim().Now();
    const auto wallStart = std::chrono::steady_clock::now();
    const long feedback = bench.Run(cycles);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    const double simulated = static_cast<double>(bench.machine->Sim().Now() - simulatedStart) / 1e9;
    const double cost = wall / simulated * 1e3;
    costs.push_back(cost);
    std::printf(
        "round %d: %.3f s simulated in %.3f s wall, %.1f ms per simulated second, "
        "%ld feedback PDOs (%ld expected)\n",
        round + 1, simulated, wall, cost, feedback, cycles * static_cast<long>(std::size(kDrives)));
    if (feedback < cycles * static_cast<long>(std::size(kDrives)) * 9 / 10) {
      std::fprintf(stderr, "the drives did not answer the SYNCs\n");
      return 1;
    }
  }
  std::sort(costs.begin(), costs.end());
  std::printf("wall time per simulated second: best %.1f ms, median %.1f ms, worst %.1f ms\n",
              costs.front(), costs[costs.size() / 2], costs.back());
  return 0;
}
