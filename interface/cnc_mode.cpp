#include "interface/cnc_mode.h"

#include "common/path_buffer.h"
#include "interface/channel_access.h"
#include "interface/dll_path_buffer.h"
#include "platform/os/wait.h"

namespace vantor::interface {

namespace cb = common::communication_block;
namespace cir = common::cnc_init_record;
namespace pb = common::path_buffer;

namespace {

std::string_view PathBufferName(common::Channel channel) {
  return common::ChannelObjectName(channel, common::ChannelObject::PathBufferMapping);
}

// Holds the SDO area's mutex beside the standard one.
class SdoMutexHold {
 public:
  explicit SdoMutexHold(RequestArea& sdo) : sdo_(sdo), held_(AcquireMutex(sdo.mutex)) {}
  ~SdoMutexHold() {
    if (held_) sdo_.mutex.Release();
  }
  SdoMutexHold(const SdoMutexHold&) = delete;
  SdoMutexHold& operator=(const SdoMutexHold&) = delete;
  bool held() const { return held_; }

 private:
  RequestArea& sdo_;
  bool held_;
};

common::StatusCode InitializeAsFirstUser(LinkState& link, ChannelGrant& grant,
                                         CncInitImage& image) {
  const auto& record = image.record;
  if (record.Get(cir::kDeclareMode) != 0) return common::kLibraryCncNotInitialized;
  const auto payload = PackCncInitPayload(image);
  if (!payload) return common::kLibraryCallParameterInvalid;

  const std::uint32_t capacity = record.Get(cir::kDllPathPufVecMaxNo);
  if (link.channel != common::Channel::NoCan) {
    const auto size = pb::MappingSize(capacity);
    if (!size) return common::kLibraryCallParameterInvalid;
    auto mapping = os::Mapping::CreateOrOpen(PathBufferName(link.channel), *size);
    if (!mapping) return common::kLibraryOutOfResources;
    link.pathBuffer = mapping.take();
    if (auto header = PathBufferHeader(link.pathBuffer)) {
      header->Set(pb::kEnabled, 0);
      header->Set(pb::kCount, 0);
    }
  }

  const auto result = RunStandardRequest(grant, 12, *payload);
  if (result != common::kKernelSuccess) {
    link.pathBuffer.Close();
    return result == common::kKernelCncNotInitialized ? common::kLibraryCncAlreadyInitialized
                                                      : result;
  }
  link.cncSemaphore.Release();
  link.cncMode = true;
  auto block = grant.block();
  block.Set(cb::kConfiguredCoordinateCount, static_cast<std::uint32_t>(record.Get(cir::kCoorNo)));
  block.Set(cb::kCurrentCoordinateCount, static_cast<std::uint32_t>(record.Get(cir::kCoorNo)));
  block.Set(cb::kAxisCount, static_cast<std::uint32_t>(record.Get(cir::kAxisNo)));
  block.Set(cb::kHandlingAxisCount, static_cast<std::uint32_t>(record.Get(cir::kHandlingAxisNo)));
  block.Set(cb::kCoor32BitFormat, record.Get(cir::kCoor32BitFormat));
  if (auto header = PathBufferHeader(link.pathBuffer)) {
    header->Set(pb::kEnabled, 0);
    header->Set(pb::kCapacity, capacity);
    header->Set(pb::kCount, 0);
  }
  return common::kLibrarySuccess;
}

common::StatusCode JoinAsLaterUser(LinkState& link, ChannelGrant& grant, CncInitImage& image) {
  auto& record = image.record;
  // The count taken from the other user goes back on every refusal.
  const auto refuse = [&](common::StatusCode code) {
    link.cncSemaphore.Release();
    return code;
  };
  if (record.Get(cir::kDeclareMode) == 0) {
    if (record.Get(cir::kCncKernelShared) == 0)
      return refuse(common::kLibraryCncAlreadyInitialized);
    const auto block = grant.block();
    const bool sameConfiguration =
        block.Get(cb::kConfiguredCoordinateCount) ==
            static_cast<std::uint32_t>(record.Get(cir::kCoorNo)) &&
        block.Get(cb::kAxisCount) == static_cast<std::uint32_t>(record.Get(cir::kAxisNo)) &&
        block.Get(cb::kHandlingAxisCount) ==
            static_cast<std::uint32_t>(record.Get(cir::kHandlingAxisNo)) &&
        block.Get(cb::kCoor32BitFormat) == record.Get(cir::kCoor32BitFormat);
    if (!sameConfiguration) return refuse(common::kKernelInitParameterInvalid);
  }
  if (link.channel != common::Channel::NoCan) {
    auto mapping = os::Mapping::Open(PathBufferName(link.channel));
    if (!mapping) return refuse(common::kLibraryOutOfResources);
    const auto header = PathBufferHeader(*mapping);
    if (!header) return refuse(common::kLibraryOutOfResources);
    // The capacity comes from another process: never beyond what the
    // mapping holds.
    const std::uint32_t capacity = static_cast<std::uint32_t>(
        std::min<std::size_t>(header->Get(pb::kCapacity), pb::RecordsThatFit(mapping->size())));
    if (capacity != record.Get(cir::kDllPathPufVecMaxNo)) {
      if (record.Get(cir::kAmplifyMaxNoBufferedDesCoor) != 0) {
        return refuse(common::kKernelInitParameterInvalid);
      }
      record.Set(cir::kDllPathPufVecMaxNo, capacity);
    }
    link.pathBuffer = mapping.take();
  }
  link.cncSemaphore.Release(2);
  link.cncMode = true;
  return common::kLibrarySuccess;
}

}  // namespace

bool InCncMode() { return Link().cncMode; }

bool DllPathBufferOn() {
  const auto header = PathBufferHeader(Link().pathBuffer);
  return header && header->Get(pb::kEnabled) != 0;
}

void EmptyDllPathBuffer() {
  if (auto header = PathBufferHeader(Link().pathBuffer)) {
    header->Set(pb::kEnabled, 0);
    header->Set(pb::kCount, 0);
  }
}

common::StatusCode InitCncMode(CncInitImage& image) {
  LinkState& link = Link();
  ChannelGrant grant;
  const auto acquired = AcquireChannel(AreaKind::Standard, HomingCheck::Refuse, grant);
  if (acquired != common::kLibrarySuccess) return acquired;
  if (link.cncMode) return common::kLibraryCncAlreadyInitialized;
  SdoMutexHold sdo(link.channelBlock->Sdo());
  if (!sdo.held()) return common::kLibraryOutOfResources;

  if (link.cncSemaphore.Release() != os::OsError::Ok) return common::kLibraryCncNotInitialized;
  os::WaitForOne(link.cncSemaphore, 0);
  const bool laterUser = os::WaitForOne(link.cncSemaphore, 0).kind == os::WaitKind::Signalled;
  const auto status =
      laterUser ? JoinAsLaterUser(link, grant, image) : InitializeAsFirstUser(link, grant, image);
  if (status == common::kLibrarySuccess) {
    link.measureCncCheckTime = image.record.Get(cir::kMeasureCncCheckTime);
  }
  return status;
}

common::StatusCode ExitCncMode() {
  LinkState& link = Link();
  ChannelGrant grant;
  const auto acquired = AcquireChannel(AreaKind::Standard, HomingCheck::Refuse, grant);
  if (acquired != common::kLibrarySuccess) return acquired;
  if (!link.cncMode) return common::kLibraryCncNotInitialized;
  SdoMutexHold sdo(link.channelBlock->Sdo());
  if (!sdo.held()) return common::kLibraryOutOfResources;

  os::WaitForOne(link.cncSemaphore, 0);
  common::StatusCode status = common::kLibrarySuccess;
  if (os::WaitForOne(link.cncSemaphore, 0).kind == os::WaitKind::Signalled) {
    link.cncSemaphore.Release();
  } else {
    // The kernel leaves CNC mode whatever its drive services answered; a
    // drive that it could not take out is still reported, never hidden
    // behind a success.
    const auto result = RunStandardRequest(grant, 13, {});
    if (result != common::kKernelSuccess) status = result;
  }
  link.pathBuffer.Close();
  link.cncMode = false;
  return status;
}

}  // namespace vantor::interface
