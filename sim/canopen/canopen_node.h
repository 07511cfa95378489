// The protocol core of one simulated CANopen node: NMT with boot time and
// boot-up frame, node and life guarding, SYNC, EMCY with the error history,
// the SDO server and the PDO engine, fault injection and the node log.
//
// Passive: frames come in through Receive, frames go out through the sink,
// and time passes only when the owner says "now is T" (AdvanceTo); the
// owner asks NextDeadline when it must do so next. Nothing here reads a
// clock.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "sim/can_frame.h"
#include "sim/can_station.h"
#include "sim/canopen/canopen_wire.h"
#include "sim/canopen/communication_objects.h"
#include "sim/canopen/fault_injection.h"
#include "sim/canopen/node_log.h"
#include "sim/canopen/object_dictionary.h"
#include "sim/canopen/pdo_engine.h"
#include "sim/canopen/sdo_server.h"
#include "sim/sim_time.h"

namespace vantor::sim::canopen {

struct NodeOptions {
  NodeId nodeId = 1;
  // From power-on or a reset to the boot-up frame.
  SimTime bootTime = 0;
  bool shortExpeditedUpload = false;
  // The SDO server serves requests that end after their last meaningful byte.
  bool shortSdoRequests = true;
  // A valid PDO's parameters may be rewritten in place, as the kernel's PDO
  // set-up does; off, the CiA 301 order is kept (PdoWriteOrder).
  bool pdoChangesWhileValid = true;
  NodeIdentity identity{};
  GuardingDefaults guarding{};
};

// What a device model (drive, I/O module, gateway) adds to the core. Every
// call comes from inside one of the core's entry points, with that call's
// time.
class NodeApplication {
 public:
  virtual ~NodeApplication() = default;
  virtual void OnNmtStateChanged(NmtState /*from*/, NmtState /*to*/, SimTime /*now*/) {}
  // The node was reset (power-on or reset node); every object holds its
  // default again.
  virtual void OnResetApplication(SimTime /*now*/) {}
  // A SYNC while operational: synchronous receive PDOs have taken effect,
  // synchronous transmit PDOs are sampled right after this returns.
  virtual void OnSync(SimTime /*now*/) {}
  // A receive PDO's data were written into the dictionary.
  virtual void OnRpdoApplied(int /*pdo*/, SimTime /*now*/) {}
  // The life time passed without a guard request: the master is gone. The
  // emergency is out already; the node's own reaction (0x1029) follows.
  virtual void OnLifeGuardingLost(SimTime /*now*/) {}
  virtual void AdvanceTo(SimTime /*now*/) {}
  virtual SimTime NextDeadline() const { return kNever; }
  // Someone is about to read the dictionary (an SDO request, a transmit
  // PDO being sampled): values that follow time by themselves, such as a
  // free-running clock, are written now rather than on every step.
  virtual void RefreshReadings(SimTime /*now*/) {}
};

using FrameSink = std::function<void(const CanFrame&)>;

class CanopenNode : private PdoHost {
 public:
  // The node is powered on at time 0 and boots for `options.bootTime`.
  CanopenNode(const NodeOptions& options, FrameSink sink);
  CanopenNode(const CanopenNode&) = delete;
  CanopenNode& operator=(const CanopenNode&) = delete;

  NodeId Id() const { return options_.nodeId; }
  NmtState State() const { return state_; }
  ObjectDictionary& Objects() { return dictionary_; }
  const ObjectDictionary& Objects() const { return dictionary_; }
  PdoEngine& Pdos() { return pdos_; }
  NodeLog& Log() { return log_; }
  const NodeLog& Log() const { return log_; }
  FaultInjection& Faults() { return faults_; }

  // Not owned; null removes it.
  void SetApplication(NodeApplication* application) { application_ = application; }

  // Power cycle: defaults restored, boot starts again at `now`.
  void PowerOn(SimTime now);

  void Receive(const CanFrame& frame, SimTime now);
  void AdvanceTo(SimTime now);
  SimTime NextDeadline() const;

  // Records an error in 0x1001 and 0x1003 and sends the emergency frame
  // when the node's state allows it.
  void RaiseEmergency(std::uint16_t errorCode, std::uint8_t errorRegisterBits,
                      const std::array<std::uint8_t, 5>& manufacturer = {});
  // All errors gone: 0x1001 cleared, the error-reset emergency sent. The
  // history keeps its entries until a client empties it.
  void ClearEmergencies();

  // Brings the values that follow time by themselves up to the node's
  // present; for anyone who reads the dictionary from outside the bus.
  void RefreshReadings() override;

 private:
  struct DelayedFrame {
    SimTime due = 0;
    CanFrame frame;
  };

  // PdoHost
  void SendPdo(const CanFrame& frame, NodeService service) override;
  void RpdoApplied(int pdo, SimTime now) override;
  void PdoLengthError(int pdo, SimTime now) override;
  SimTime Now() const override { return now_; }

  void RunTimersTo(SimTime now);
  void Dispatch(const CanFrame& frame);
  void HandleNmt(const CanFrame& frame);
  void HandleGuardRequest();
  void LoseLifeGuarding();
  void HandleSync();
  void StartReset(bool application);
  void CompleteBoot();
  void ChangeState(NmtState to);
  void PushErrorHistory(std::uint16_t errorCode);

  // Every frame leaves through here, where the service's faults apply.
  void Send(const CanFrame& frame, NodeService service);
  void ReleaseDelayedFrames();

  NodeOptions options_;
  FrameSink sink_;
  ObjectDictionary dictionary_;
  NodeLog log_;
  FaultInjection faults_;
  SdoServer sdo_;
  PdoEngine pdos_;
  NodeApplication* application_ = nullptr;

  SimTime now_ = 0;
  NmtState state_ = NmtState::kInitialising;
  SimTime bootDone_ = 0;
  bool guardToggle_ = false;
  bool lifeGuardingArmed_ = false;
  SimTime lifeGuardingDeadline_ = kNever;
  std::vector<DelayedFrame> delayed_;  // in order of release
};

}  // namespace vantor::sim::canopen
