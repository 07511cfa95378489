// The port's set-up around a run. The steps wait on the driver host's clock
// in the request's thread, never with the port raised.
#include <initializer_list>

#include "drivers/ravund/adapter_port.h"

namespace vantor::ravund {

bool AdapterPort::SetUpForRun() {
  if (IsStrobed(mode_)) return SetUpByteMode();
  SetUpEpp();
  return true;
}

void AdapterPort::SetUpForIdle() {
  switch (mode_) {
    case TransferMode::kEpp:
    case TransferMode::kEppExtendedControl:
      SetUpEpp();
      return;
    case TransferMode::kStrobed:
      (void)SetUpByteMode();
      return;
    case TransferMode::kStrobedExtendedControl:
      return;
  }
}

// A bidirectional port in input direction shows what drives its lines: the
// adapter's pull-ups, never the byte the port itself wrote. A port that
// reads its own pattern back has nothing on its connector, or cannot turn.
bool AdapterPort::SetUpByteMode() {
  bool bidirectional = false;
  {
    const auto raised = portLock_.Raise();
    (void)In(registers_.status);
    if (registers_.extendedControl) Out(*registers_.extendedControl, kExtendedControlByteMode);
  }
  clock_.Delay(kSetUpDelay);
  {
    const auto raised = portLock_.Raise();
    Out(registers_.control, kControlInputIdle);
    outputDirection_ = false;
    Out(registers_.data, kBidirectionalTestPattern);
    bidirectional = In(registers_.data) != kBidirectionalTestPattern;
  }
  if (!bidirectional) return false;
  ResetAdapter();
  const auto raised = portLock_.Raise();
  addressLatched_ = false;
  outputDirection_ = false;
  return true;
}

void AdapterPort::SetUpEpp() {
  {
    const auto raised = portLock_.Raise();
    Out(registers_.status, kStatusEppTimeout);  // writing 1 clears a time-out
    (void)In(registers_.status);
    if (registers_.extendedControl) {
      (void)In(*registers_.extendedControl);
      Out(*registers_.extendedControl, kExtendedControlEppMode);
      (void)In(*registers_.extendedControl);
    }
  }
  ResetAdapter();
  const auto raised = portLock_.Raise();
  (void)In(registers_.status);
}

// The adapter held in reset, then let go to idle: each control value set
// with the port raised, the set-up delay before each and after the last.
void AdapterPort::ResetAdapter() {
  for (const std::uint8_t control : {kControlReset, kControlIdle}) {
    clock_.Delay(kSetUpDelay);
    const auto raised = portLock_.Raise();
    Out(registers_.control, control);
  }
  clock_.Delay(kSetUpDelay);
}

}  // namespace vantor::ravund
