#include "interface/complete_status_fetch.h"

#include "common/command_codes.h"
#include "interface/channel_access.h"
#include "interface/library_version.h"

namespace vantor::interface {

namespace cb = common::communication_block;
namespace cs = common::complete_status;

common::StatusCode FetchCompleteStatus(FetchedStatus& fetched) {
  fetched.record = common::CompleteStatusRecord{};
  fetched.countsKnown = false;
  ChannelGrant grant;
  const auto acquired = AcquireChannel(AreaKind::Standard, HomingCheck::Refuse, grant);
  if (acquired != common::kLibrarySuccess) return acquired;
  auto block = grant.block();
  fetched.counts =
      BoundedStatusCounts(block.Get(cb::kAxisCount), block.Get(cb::kCurrentCoordinateCount));
  fetched.countsKnown = true;
  const auto result =
      RunStandardRequest(grant, static_cast<std::uint32_t>(common::CommandCode::GetStatus), {});
  if (result != common::kKernelSuccess) return result;
  block.CopyOut(cb::kPayloadOffset, fetched.record.MutableBytes());
  grant.Release();
  fetched.record.SetText(cs::kLibraryVersion, kLibraryVersionText);
  return common::kLibrarySuccess;
}

}  // namespace vantor::interface
