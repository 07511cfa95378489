#include "sim/canopen/canopen_node.h"

#include <algorithm>
#include <utility>

#include "sim/canopen/canopen_frames.h"

namespace vantor::sim::canopen {

namespace {

// A device model whose deadline does not move when it is advanced must not
// hang the simulation; this many steps per call is far beyond any real need.
constexpr int kMaxTimerStepsPerAdvance = 100000;

bool MaySendEmergency(NmtState state) {
  return state == NmtState::kPreOperational || state == NmtState::kOperational;
}

}  // namespace

CanopenNode::CanopenNode(const NodeOptions& options, FrameSink sink)
    : options_(options),
      sink_(std::move(sink)),
      sdo_(dictionary_, log_, faults_,
           SdoServerOptions{SdoRequestCobId(options.nodeId), SdoResponseCobId(options.nodeId),
                            options.shortExpeditedUpload, options.shortSdoRequests}),
      pdos_(dictionary_, log_, *this, options.nodeId,
            options.pdoChangesWhileValid ? PdoWriteOrder::kChangesWhileValid
                                         : PdoWriteOrder::kInvalidFirst) {
  AddCommunicationObjects(dictionary_, options_.nodeId, options_.identity, options_.guarding);
  pdos_.AddObjects();
  PowerOn(0);
}

void CanopenNode::PowerOn(SimTime now) {
  now_ = std::max(now_, now);
  StartReset(true);
}

void CanopenNode::Receive(const CanFrame& frame, SimTime now) {
  RunTimersTo(now);
  Dispatch(frame);
  // Work that falls due at once (a boot time of 0, a change-driven PDO).
  RunTimersTo(now);
}

void CanopenNode::AdvanceTo(SimTime now) { RunTimersTo(now); }

void CanopenNode::RefreshReadings() {
  if (application_ != nullptr) application_->RefreshReadings(now_);
}

SimTime CanopenNode::NextDeadline() const {
  SimTime next = kNever;
  if (state_ == NmtState::kInitialising) next = bootDone_;
  if (lifeGuardingArmed_) next = std::min(next, lifeGuardingDeadline_);
  if (!delayed_.empty()) next = std::min(next, delayed_.front().due);
  next = std::min(next, pdos_.NextDeadline(now_));
  if (application_ != nullptr) next = std::min(next, application_->NextDeadline());
  return next;
}

void CanopenNode::RunTimersTo(SimTime now) {
  now = std::max(now, now_);  // simulated time never runs backwards
  for (int step = 0; step < kMaxTimerStepsPerAdvance; ++step) {
    const SimTime next = NextDeadline();
    if (next > now) break;
    now_ = std::max(now_, next);
    if (state_ == NmtState::kInitialising && now_ >= bootDone_) CompleteBoot();
    if (lifeGuardingArmed_ && now_ >= lifeGuardingDeadline_) LoseLifeGuarding();
    ReleaseDelayedFrames();
    pdos_.Service(now_);
    if (application_ != nullptr) application_->AdvanceTo(now_);
  }
  now_ = now;
  if (application_ != nullptr) application_->AdvanceTo(now_);
}

void CanopenNode::Dispatch(const CanFrame& frame) {
  // A booting node has not joined the bus yet.
  if (state_ == NmtState::kInitialising) return;

  if (!frame.remote && frame.identifier == cob::kNmt) {
    HandleNmt(frame);
    return;
  }
  if (frame.remote && frame.identifier == ErrorControlCobId(Id())) {
    HandleGuardRequest();
    return;
  }
  const auto syncId = static_cast<std::uint16_t>(dictionary_.Unsigned(object::kSyncCobId, 0) &
                                                 cob::kIdentifierMask);
  if (!frame.remote && frame.identifier == syncId) {
    HandleSync();
    return;
  }
  if (!frame.remote && frame.identifier == sdo_.RequestCobId()) {
    // A stopped node offers no SDO service; a silenced one hears nothing.
    if (state_ == NmtState::kStopped || faults_.For(NodeService::kSdo).silent) return;
    RefreshReadings();
    if (const auto answer = sdo_.HandleRequest(frame, now_)) Send(*answer, NodeService::kSdo);
    return;
  }
  if (state_ == NmtState::kOperational) pdos_.HandleFrame(frame, now_);
}

void CanopenNode::HandleNmt(const CanFrame& frame) {
  constexpr std::uint8_t kNmtLength = 2;  // command, node id
  if (frame.length < kNmtLength) {
    log_.Record(now_, ShortFrame{frame.identifier, frame.length, kNmtLength});
    return;
  }
  const std::uint8_t target = frame.data[1];
  if (target != 0 && target != Id()) return;

  NmtEvent event;
  event.command = static_cast<NmtCommand>(frame.data[0]);
  event.from = state_;
  switch (event.command) {
    case NmtCommand::kStart:
      event.to = NmtState::kOperational;
      break;
    case NmtCommand::kStop:
      event.to = NmtState::kStopped;
      break;
    case NmtCommand::kEnterPreOperational:
      event.to = NmtState::kPreOperational;
      break;
    case NmtCommand::kResetNode:
    case NmtCommand::kResetCommunication:
      event.to = NmtState::kInitialising;
      break;
    default:
      return;  // not an NMT command: ignored, as on a real node
  }
  log_.Record(now_, event);

  if (event.command == NmtCommand::kResetNode) {
    StartReset(true);
  } else if (event.command == NmtCommand::kResetCommunication) {
    StartReset(false);
  } else if (event.to != state_) {
    ChangeState(event.to);
  }
}

void CanopenNode::HandleGuardRequest() {
  const ServiceFaults& faults = faults_.For(NodeService::kGuarding);
  if (faults.silent) return;
  Send(MakeGuardAnswerFrame(Id(), state_, guardToggle_), NodeService::kGuarding);
  if (!faults.wrongToggle) guardToggle_ = !guardToggle_;

  const auto guardTimeMs = dictionary_.Unsigned(object::kGuardTime, 0);
  const auto lifeTimeFactor = dictionary_.Unsigned(object::kLifeTimeFactor, 0);
  lifeGuardingArmed_ = guardTimeMs != 0 && lifeTimeFactor != 0;
  lifeGuardingDeadline_ = lifeGuardingArmed_
                              ? now_ + guardTimeMs * lifeTimeFactor * kNanosecondsPerMillisecond
                              : kNever;
}

void CanopenNode::LoseLifeGuarding() {
  lifeGuardingArmed_ = false;
  RaiseEmergency(emergency::kLifeGuardError, emergency::kCommunicationErrorBit);
  if (application_ != nullptr) application_->OnLifeGuardingLost(now_);
  // The error behaviour for a communication error says what becomes of
  // the node itself.
  const auto behaviour = static_cast<std::uint8_t>(
      dictionary_.Unsigned(object::kErrorBehaviour, error_behaviour::kCommunicationError));
  if (behaviour == error_behaviour::kToPreOperational && state_ == NmtState::kOperational) {
    ChangeState(NmtState::kPreOperational);
  } else if (behaviour == error_behaviour::kToStopped && state_ != NmtState::kStopped) {
    ChangeState(NmtState::kStopped);
  }
}

void CanopenNode::HandleSync() {
  if (state_ != NmtState::kOperational) return;
  pdos_.ApplySynchronousRpdos(now_);
  if (application_ != nullptr) application_->OnSync(now_);
  pdos_.TransmitSynchronousTpdos(now_);
}

void CanopenNode::StartReset(bool application) {
  const NmtState from = state_;
  if (application) {
    dictionary_.RestoreDefaults(0x0000, 0xFFFF);
  } else {
    dictionary_.RestoreDefaults(object::kCommunicationAreaFirst, object::kCommunicationAreaLast);
  }
  sdo_.Reset();
  pdos_.ResetRuntime();
  guardToggle_ = false;
  lifeGuardingArmed_ = false;
  lifeGuardingDeadline_ = kNever;
  // The controller restarts: nothing it still held back goes out.
  delayed_.clear();
  state_ = NmtState::kInitialising;
  bootDone_ = now_ + options_.bootTime;
  if (application_ != nullptr) {
    if (application) application_->OnResetApplication(now_);
    if (from != state_) application_->OnNmtStateChanged(from, state_, now_);
  }
}

void CanopenNode::CompleteBoot() {
  Send(MakeBootUpFrame(Id()), NodeService::kManagement);
  guardToggle_ = false;
  NmtEvent event;
  event.fromBoot = true;
  event.from = state_;
  event.to = NmtState::kPreOperational;
  log_.Record(now_, event);
  ChangeState(NmtState::kPreOperational);
}

void CanopenNode::ChangeState(NmtState to) {
  const NmtState from = state_;
  state_ = to;
  if (to == NmtState::kOperational && from != NmtState::kOperational) {
    pdos_.EnterOperational(now_);
  } else if (from == NmtState::kOperational && to != NmtState::kOperational) {
    pdos_.ResetRuntime();
  }
  if (application_ != nullptr) application_->OnNmtStateChanged(from, to, now_);
}

void CanopenNode::RaiseEmergency(std::uint16_t errorCode, std::uint8_t errorRegisterBits,
                                 const std::array<std::uint8_t, 5>& manufacturer) {
  const auto errorRegister =
      static_cast<std::uint8_t>(dictionary_.Unsigned(object::kErrorRegister, 0) |
                                errorRegisterBits | emergency::kGenericErrorBit);
  dictionary_.SetUnsigned(object::kErrorRegister, 0, errorRegister);
  PushErrorHistory(errorCode);

  const auto cobId = static_cast<std::uint32_t>(dictionary_.Unsigned(object::kEmergencyCobId, 0));
  const bool sent = MaySendEmergency(state_) && (cobId & cob::kInvalidBit) == 0;
  if (sent) {
    Send(MakeEmergencyFrame(static_cast<std::uint16_t>(cobId & cob::kIdentifierMask), errorCode,
                            errorRegister, manufacturer),
         NodeService::kManagement);
  }
  log_.Record(now_, EmergencyEvent{errorCode, errorRegister, sent});
}

void CanopenNode::ClearEmergencies() {
  dictionary_.SetUnsigned(object::kErrorRegister, 0, 0);
  const auto cobId = static_cast<std::uint32_t>(dictionary_.Unsigned(object::kEmergencyCobId, 0));
  const bool sent = MaySendEmergency(state_) && (cobId & cob::kInvalidBit) == 0;
  if (sent) {
    Send(MakeEmergencyFrame(static_cast<std::uint16_t>(cobId & cob::kIdentifierMask),
                            emergency::kErrorReset, 0, {}),
         NodeService::kManagement);
  }
  log_.Record(now_, EmergencyEvent{emergency::kErrorReset, 0, sent});
}

void CanopenNode::PushErrorHistory(std::uint16_t errorCode) {
  const auto count = dictionary_.Unsigned(object::kPredefinedErrorField, 0);
  for (std::uint8_t sub = kErrorHistoryDepth; sub >= 2; --sub) {
    dictionary_.SetUnsigned(object::kPredefinedErrorField, sub,
                            dictionary_.Unsigned(object::kPredefinedErrorField, sub - 1));
  }
  dictionary_.SetUnsigned(object::kPredefinedErrorField, 1, errorCode);
  dictionary_.SetUnsigned(object::kPredefinedErrorField, 0,
                          std::min<std::uint64_t>(count + 1, kErrorHistoryDepth));
}

void CanopenNode::SendPdo(const CanFrame& frame, NodeService service) { Send(frame, service); }

void CanopenNode::RpdoApplied(int pdo, SimTime now) {
  if (application_ != nullptr) application_->OnRpdoApplied(pdo, now);
}

void CanopenNode::PdoLengthError(int /*pdo*/, SimTime /*now*/) {
  RaiseEmergency(emergency::kPdoLengthError, emergency::kCommunicationErrorBit);
}

void CanopenNode::Send(const CanFrame& frame, NodeService service) {
  const ServiceFaults& faults = faults_.For(service);
  if (faults.silent) return;
  const int copies = faults.duplicate ? 2 : 1;
  for (int copy = 0; copy < copies; ++copy) {
    if (faults.answerDelay == 0) {
      if (sink_) sink_(frame);
      continue;
    }
    const SimTime due = now_ + faults.answerDelay;
    const auto after = std::upper_bound(
        delayed_.begin(), delayed_.end(), due,
        [](SimTime value, const DelayedFrame& delayed) { return value < delayed.due; });
    delayed_.insert(after, DelayedFrame{due, frame});
  }
}

void CanopenNode::ReleaseDelayedFrames() {
  while (!delayed_.empty() && delayed_.front().due <= now_) {
    const CanFrame frame = delayed_.front().frame;
    delayed_.erase(delayed_.begin());
    if (sink_) sink_(frame);
  }
}

}  // namespace vantor::sim::canopen
