// A plain node on drive 5 and a gantry node on drive 7 whose axis is drive
// 17, on the stepped bench: the smallest table that shows what a service
// does to a node, to its axis and to a node without one.
#pragma once

#include <array>
#include <cstdint>

#include "kernel/core/canopen/service_host.h"
#include "kernel/core/canopen/tests/canopen_test_support.h"

namespace vantor::canopen::testing {

// Bits naming the bench's drives.
inline constexpr unsigned kOn5 = 1, kOn7 = 2, kOn17 = 4, kOnAll = 7;

struct GantryBench {
  GantryBench() : nodes({5, 7}, {{}, {17}}), host(nodes.table, bus), context{host, nodes.table} {
    for (SdoServer& drive : drives) bus.Attach(drive);
  }
  GantryBench(const GantryBench&) = delete;
  GantryBench& operator=(const GantryBench&) = delete;

  // Defines a one-byte object on the drives whose bit is set.
  void DefineOn(unsigned which, std::uint16_t index, std::uint8_t subindex,
                std::uint32_t value = 1) {
    for (std::size_t i = 0; i < drives.size(); ++i) {
      if ((which & (1u << i)) != 0) drives[i].Define(index, subindex, 1, value);
    }
  }
  SdoServer& drive5() { return drives[0]; }
  SdoServer& drive7() { return drives[1]; }
  SdoServer& drive17() { return drives[2]; }
  NodeObject& plain() { return nodes[0]; }
  NodeObject& gantry() { return nodes[1]; }

  TestNodes nodes;
  std::array<SdoServer, 3> drives{{SdoServer(5), SdoServer(7), SdoServer(17)}};
  FakeBus bus;
  FakeHost host;
  ServiceContext context;
};

}  // namespace vantor::canopen::testing
