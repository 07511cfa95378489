// The I/O-port requests: single port reads and writes, and the static port
// table that a program defines once and then reads or writes slot by slot.
// Every access raises the port, so none falls between the address and data
// cycles of a register transfer to the adapter.
#include "common/byte_order.h"
#include "common/driver_requests.h"
#include "drivers/ravund/ravund_driver.h"

namespace vantor::ravund {
namespace {

constexpr std::size_t kTableSlotSize = 4;
constexpr std::size_t kTableStatusOffset = 64;
constexpr std::size_t kAccessSlotSize = 2;
constexpr std::size_t kAccessStatusOffset = 32;
constexpr std::size_t kPortInStatusOffset = 4;
constexpr std::uint8_t kSlotRead = 1;
constexpr std::uint8_t kSlotWrite = 2;
constexpr std::uint8_t kAccessNow = 1;

void AnswerAt(devhost::IoRequest& request, std::size_t statusOffset, std::uint32_t length) {
  common::StoreLittleEndian<std::uint32_t>(request.SystemBuffer().data() + statusOffset,
                                           common::kDriverSuccess);
  request.Complete(os::kStatusSuccess, length);
}

}  // namespace

bool RavundDriver::PortRequest(devhost::IoRequest& request) {
  switch (request.Code()) {
    case common::IOCTL_CAN_DYN_PORT_IN:
      DynPortIn(request);
      return true;
    case common::IOCTL_CAN_DYN_PORT_OUT:
      DynPortOut(request);
      return true;
    case common::IOCTL_CAN_STA_PORT_REPORT:
      StaticPortReport(request);
      return true;
    case common::IOCTL_CAN_STA_PORT_ACCESS:
      StaticPortAccess(request);
      return true;
    case common::IOCTL_CAN_STA_PORT_GET_CON:
      StaticPortGetConfiguration(request);
      return true;
    default:
      return false;
  }
}

void RavundDriver::DynPortIn(devhost::IoRequest& request) {
  const auto buffer = request.SystemBuffer();
  const auto port = common::LoadLittleEndian<std::uint16_t>(buffer.data());
  std::uint8_t value = 0;
  {
    const auto raised = portLock_->Raise();
    value = host_.Hardware().PortIn8(port);
  }
  std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
  buffer[0] = value;
  AnswerAt(request, kPortInStatusOffset, request.OutputLength());
}

void RavundDriver::DynPortOut(devhost::IoRequest& request) {
  const auto buffer = request.SystemBuffer();
  const std::uint8_t value = buffer[0];
  const auto port = common::LoadLittleEndian<std::uint16_t>(buffer.data() + 2);
  {
    const auto raised = portLock_->Raise();
    host_.Hardware().PortOut8(port, value);
  }
  AnswerAt(request, 0, request.OutputLength());
}

// Kinds other than read and write leave their slot unused, as the table's
// read-back then shows.
void RavundDriver::StaticPortReport(devhost::IoRequest& request) {
  const auto buffer = request.SystemBuffer();
  std::array<StaticPortSlot, kStaticPortSlots> table{};
  for (std::size_t slot = 0; slot < kStaticPortSlots; ++slot) {
    const std::uint8_t* entry = buffer.data() + kTableSlotSize * slot;
    const std::uint8_t kind = entry[0];
    if (kind != kSlotRead && kind != kSlotWrite) continue;
    table[slot].kind = kind;
    table[slot].port = common::LoadLittleEndian<std::uint16_t>(entry + 2);
  }
  {
    std::lock_guard lock(tableMutex_);
    staticPorts_ = table;
  }
  AnswerAt(request, kTableStatusOffset, request.OutputLength());
}

void RavundDriver::StaticPortAccess(devhost::IoRequest& request) {
  const auto buffer = request.SystemBuffer();
  std::lock_guard lock(tableMutex_);
  for (std::size_t slot = 0; slot < kStaticPortSlots; ++slot) {
    std::uint8_t* entry = buffer.data() + kAccessSlotSize * slot;
    if (entry[0] != kAccessNow) continue;
    StaticPortSlot& port = staticPorts_[slot];
    const auto raised = portLock_->Raise();
    if (port.kind == kSlotRead) {
      port.lastValue = host_.Hardware().PortIn8(port.port);
      entry[1] = port.lastValue;
    } else if (port.kind == kSlotWrite) {
      port.lastValue = entry[1];
      host_.Hardware().PortOut8(port.port, port.lastValue);
    }
  }
  AnswerAt(request, kAccessStatusOffset, request.OutputLength());
}

void RavundDriver::StaticPortGetConfiguration(devhost::IoRequest& request) {
  const auto buffer = request.SystemBuffer();
  std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
  {
    std::lock_guard lock(tableMutex_);
    for (std::size_t slot = 0; slot < kStaticPortSlots; ++slot) {
      std::uint8_t* entry = buffer.data() + kTableSlotSize * slot;
      entry[0] = staticPorts_[slot].kind;
      common::StoreLittleEndian<std::uint16_t>(entry + 2, staticPorts_[slot].port);
    }
  }
  AnswerAt(request, kTableStatusOffset, request.OutputLength());
}

}  // namespace vantor::ravund
