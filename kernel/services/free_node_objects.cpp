#include "kernel/services/free_node_objects.h"

#include "kernel/core/velocity_output_control.h"
#include "kernel/services/path_buffer_link.h"

namespace vantor::kernel {

namespace {

void FreeNode(NodeObject& node) noexcept {
  node.accessMutex.Close();
  node.can.reset();
  node.completion.reset();
  node.requestMutex.Close();
  node.settings = {};
  node.slave = {};
}

}  // namespace

void FreeNodeObjects(Kernel& kernel) noexcept {
  KernelData& data = kernel.data;
  // The nodes' CAN objects go with the whole list below; the velocity
  // output gives back the fill level it changed.
  StopVelPropOutput(data, kernel.canObjects);
  data.state.velocityOutputActive = 0;

  NodeConfiguration& nodes = data.nodeConfiguration;
  for (NodeObject& node : nodes.records) FreeNode(node);
  nodes.table = {};
  nodes.interpolatedNodeCount = 0;
  nodes.driveErrorsRead = 0;
  nodes.slaveDriveErrorsRead = 0;
  nodes.slaveInputsRead = 0;
  nodes.lastSlaveRefreshMs.reset();
  nodes.mutex.Close();
  nodes.homingActiveEvent.Close();
  nodes.homingBreakEvent.Close();
  nodes.motionDoneEvent.Close();
  nodes.stopDoneEvent.Close();
  data.motionMutex.Close();

  ClosePathBuffer(kernel);

  data.globalRequestMutex.Close();
  data.globalSlot.request = {};
  data.globalSlot.completion.reset();
  data.resetMutex.Close();

  canopen::FreeCanObjects(kernel.canObjects);
  data.canObjectListMutex.Close();
}

}  // namespace vantor::kernel
