#include "sim/canopen/sdo_request_length.h"

#include "sim/can_frame.h"
#include "sim/canopen/canopen_wire.h"

namespace vantor::sim::canopen {

namespace {

constexpr std::uint8_t kFullRequest = CanFrame::kMaxLength;
constexpr std::uint8_t kHeader = 4;  // specifier, index, subindex

std::uint8_t ShortDownloadInitiate(std::uint8_t specifier) {
  const bool expedited = (specifier & sdo::kExpeditedBit) != 0;
  const bool sized = (specifier & sdo::kSizeIndicatedBit) != 0;
  // A segmented initiate with its size, and an expedited one without,
  // give all four data bytes a meaning.
  if (expedited != sized) return kFullRequest;
  if (!expedited) return kHeader;
  const auto unused = (specifier & sdo::kInitiateUnusedMask) >> sdo::kInitiateUnusedShift;
  return static_cast<std::uint8_t>(kHeader + sdo::kExpeditedCapacity - unused);
}

}  // namespace

std::uint8_t RequiredSdoRequestLength(std::uint8_t specifier, bool shortRequests) {
  if (!shortRequests) return kFullRequest;
  switch (specifier & sdo::kCommandMask) {
    case sdo::kClientUploadInitiate:
      return kHeader;
    case sdo::kClientUploadSegment:
      return 1;
    case sdo::kClientDownloadInitiate:
      return ShortDownloadInitiate(specifier);
    case sdo::kClientDownloadSegment: {
      const auto unused = (specifier & sdo::kSegmentUnusedMask) >> sdo::kSegmentUnusedShift;
      return static_cast<std::uint8_t>(1 + sdo::kSegmentCapacity - unused);
    }
    case sdo::kAbort:
      return kFullRequest;  // its code fills bytes 4-7
    default:
      // Not served: answered with an abort that names the object.
      return kHeader;
  }
}

}  // namespace vantor::sim::canopen
