#include "kernel/services/path_buffer_link.h"

#include "common/kernel_object_names.h"
#include "common/path_buffer.h"

namespace vantor::kernel {

bool OpenPathBuffer(Kernel& kernel) {
  if (kernel.instance.channel == common::Channel::NoCan) return false;
  auto mapping = os::Mapping::Open(
      common::ChannelObjectName(kernel.instance.channel, common::ChannelObject::PathBufferMapping));
  if (!mapping) return false;
  if (mapping->data() == nullptr || mapping->size() < common::kPathBufferHeaderSize) return false;
  kernel.link.pathBufferMapping = mapping.take();
  return true;
}

void ClosePathBuffer(Kernel& kernel) { kernel.link.pathBufferMapping.Close(); }

}  // namespace vantor::kernel
