#include "interface/link_state.h"

namespace vantor::interface {

LinkState& Link() {
  // Never destroyed: exports may still run while the process ends, and the
  // unload path closes the handles itself.
  static LinkState* state = new LinkState;
  return *state;
}

void ClearChannelState(LinkState& link) {
  link.channelBlock.reset();
  link.initSemaphore.Close();
  link.cncSemaphore.Close();
  link.homingBreakEvent.Close();
  link.homingBreakMutex.Close();
  link.homingActiveEvent.Close();
  link.pathBuffer.Close();
  link.kernelProcess.Close();
  link.startedWatch.Close();
  link.aliveEvent.Close();
  link.initialised = false;
  link.cncMode = false;
  link.linkBroken = false;
  link.deviceName.clear();
  link.popupMenuActive = 0;
  link.measureCncCheckTime = 0;
}

}  // namespace vantor::interface
