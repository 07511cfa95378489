// Faults a test can inject into one simulated node, per service.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/canopen/canopen_wire.h"
#include "sim/sim_time.h"

namespace vantor::sim::canopen {

// The services whose answers can be disturbed separately.
enum class NodeService : std::uint8_t {
  kSdo,         // SDO answers
  kGuarding,    // node guarding answers
  kPdo,         // transmit PDOs on remote request or on change / event timer
  kSync,        // transmit PDOs triggered by SYNC
  kManagement,  // boot-up and emergency frames
};
constexpr std::size_t kNodeServiceCount = 5;

struct ServiceFaults {
  // The node neither acts on requests of the service nor answers them; for
  // the transmit-only services (PDO events, SYNC answers) nothing is sent.
  bool silent = false;
  // Every answer of the service leaves this much later.
  SimTime answerDelay = 0;
  // Every answer of the service is sent twice.
  bool duplicate = false;
  // Guarding: the toggle bit stops alternating. SDO: segment answers carry
  // the inverted toggle bit.
  bool wrongToggle = false;
};

// An SDO transfer of this object is answered with this abort code,
// whatever the object's state.
struct ForcedAbort {
  std::uint16_t index = 0;
  std::uint8_t subindex = 0;
  SdoAbortCode code = SdoAbortCode::kGeneral;
};

struct FaultInjection {
  std::array<ServiceFaults, kNodeServiceCount> services{};
  std::vector<ForcedAbort> forcedAborts;

  ServiceFaults& For(NodeService service) { return services[static_cast<std::size_t>(service)]; }
  const ServiceFaults& For(NodeService service) const {
    return services[static_cast<std::size_t>(service)];
  }

  // The node neither answers nor sends anything at all (or again as set
  // per service when given back: every service speaks).
  void SilenceAll(bool silent) {
    for (ServiceFaults& service : services) service.silent = silent;
  }

  // One forced abort per object: a second one replaces the first.
  void ForceAbort(const ForcedAbort& abort) {
    ClearForcedAbort(abort.index, abort.subindex);
    forcedAborts.push_back(abort);
  }
  void ClearForcedAbort(std::uint16_t index, std::uint8_t subindex) {
    std::erase_if(forcedAborts, [index, subindex](const ForcedAbort& abort) {
      return abort.index == index && abort.subindex == subindex;
    });
  }

  const ForcedAbort* ForcedAbortFor(std::uint16_t index, std::uint8_t subindex) const {
    for (const ForcedAbort& abort : forcedAborts) {
      if (abort.index == index && abort.subindex == subindex) return &abort;
    }
    return nullptr;
  }
};

}  // namespace vantor::sim::canopen
