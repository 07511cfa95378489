#include "drivers/tarnis1/pci_bridge_registers.h"

namespace vantor::tarnis1 {

void ProgramBridge(const devhost::RegisterWindow& bridge, devhost::CardLock& card) {
  const auto raised = card.Raise();
  for (const BridgeRegisterWrite& write : kBridgeStartSequence) {
    bridge.Write32(write.offset, write.value);
  }
}

}  // namespace vantor::tarnis1
