#include "sim/canopen/canopen_frames.h"

#include <algorithm>

#include "common/byte_order.h"

namespace vantor::sim::canopen {

namespace {

using common::StoreLittleEndian;

CanFrame SdoFrame(std::uint16_t cobId, std::uint8_t command, std::uint16_t index,
                  std::uint8_t subindex) {
  CanFrame frame;
  frame.identifier = cobId;
  frame.length = sdo::kFrameLength;
  frame.data[0] = command;
  StoreLittleEndian(&frame.data[1], index);
  frame.data[3] = subindex;
  return frame;
}

}  // namespace

std::uint16_t SdoRequestCobId(NodeId node) { return cob::kSdoRequestBase + node; }
std::uint16_t SdoResponseCobId(NodeId node) { return cob::kSdoResponseBase + node; }
std::uint16_t ErrorControlCobId(NodeId node) { return cob::kErrorControlBase + node; }
std::uint16_t EmergencyCobId(NodeId node) { return cob::kEmergencyBase + node; }
std::uint16_t DefaultTpdoCobId(int pdo, NodeId node) {
  return static_cast<std::uint16_t>(cob::kTpdoBase[pdo - 1] + node);
}
std::uint16_t DefaultRpdoCobId(int pdo, NodeId node) {
  return static_cast<std::uint16_t>(cob::kRpdoBase[pdo - 1] + node);
}

CanFrame MakeBootUpFrame(NodeId node) {
  CanFrame frame;
  frame.identifier = ErrorControlCobId(node);
  frame.length = 1;
  frame.data[0] = static_cast<std::uint8_t>(NmtState::kInitialising);
  return frame;
}

CanFrame MakeGuardAnswerFrame(NodeId node, NmtState state, bool toggle) {
  CanFrame frame;
  frame.identifier = ErrorControlCobId(node);
  frame.length = 1;
  frame.data[0] =
      static_cast<std::uint8_t>(static_cast<std::uint8_t>(state) | (toggle ? kGuardToggleBit : 0));
  return frame;
}

CanFrame MakeEmergencyFrame(std::uint16_t cobId, std::uint16_t errorCode,
                            std::uint8_t errorRegister,
                            const std::array<std::uint8_t, 5>& manufacturer) {
  CanFrame frame;
  frame.identifier = cobId;
  frame.length = 8;
  StoreLittleEndian(&frame.data[0], errorCode);
  frame.data[2] = errorRegister;
  std::copy(manufacturer.begin(), manufacturer.end(), frame.data.begin() + 3);
  return frame;
}

CanFrame MakeSdoAbortFrame(std::uint16_t cobId, std::uint16_t index, std::uint8_t subindex,
                           SdoAbortCode code) {
  CanFrame frame = SdoFrame(cobId, sdo::kAbort, index, subindex);
  StoreLittleEndian(&frame.data[4], static_cast<std::uint32_t>(code));
  return frame;
}

CanFrame MakeSdoDownloadInitiateAnswer(std::uint16_t cobId, std::uint16_t index,
                                       std::uint8_t subindex) {
  return SdoFrame(cobId, sdo::kServerDownloadInitiate, index, subindex);
}

CanFrame MakeSdoDownloadSegmentAnswer(std::uint16_t cobId, bool toggle) {
  CanFrame frame;
  frame.identifier = cobId;
  frame.length = sdo::kFrameLength;
  frame.data[0] =
      static_cast<std::uint8_t>(sdo::kServerDownloadSegment | (toggle ? sdo::kToggleBit : 0));
  return frame;
}

CanFrame MakeSdoExpeditedUploadAnswer(std::uint16_t cobId, std::uint16_t index,
                                      std::uint8_t subindex, std::span<const std::uint8_t> data,
                                      bool shortLength) {
  const std::size_t size = std::min<std::size_t>(data.size(), sdo::kExpeditedCapacity);
  const auto unused = static_cast<std::uint8_t>(sdo::kExpeditedCapacity - size);
  CanFrame frame = SdoFrame(
      cobId,
      static_cast<std::uint8_t>(sdo::kServerUploadInitiate | (unused << sdo::kInitiateUnusedShift) |
                                sdo::kExpeditedBit | sdo::kSizeIndicatedBit),
      index, subindex);
  std::copy_n(data.begin(), size, frame.data.begin() + 4);
  if (shortLength) frame.length = static_cast<std::uint8_t>(4 + size);
  return frame;
}

CanFrame MakeSdoSegmentedUploadAnswer(std::uint16_t cobId, std::uint16_t index,
                                      std::uint8_t subindex, std::uint32_t totalSize) {
  CanFrame frame =
      SdoFrame(cobId, sdo::kServerUploadInitiate | sdo::kSizeIndicatedBit, index, subindex);
  StoreLittleEndian(&frame.data[4], totalSize);
  return frame;
}

CanFrame MakeSdoUploadSegmentAnswer(std::uint16_t cobId, bool toggle,
                                    std::span<const std::uint8_t> data, bool last) {
  const std::size_t size = std::min<std::size_t>(data.size(), sdo::kSegmentCapacity);
  const auto unused = static_cast<std::uint8_t>(sdo::kSegmentCapacity - size);
  CanFrame frame;
  frame.identifier = cobId;
  frame.length = sdo::kFrameLength;
  frame.data[0] = static_cast<std::uint8_t>(
      sdo::kServerUploadSegment | (toggle ? sdo::kToggleBit : 0) |
      (unused << sdo::kSegmentUnusedShift) | (last ? sdo::kLastSegmentBit : 0));
  std::copy_n(data.begin(), size, frame.data.begin() + 1);
  return frame;
}

CanFrame MakePdoFrame(std::uint16_t cobId, std::span<const std::uint8_t> data) {
  CanFrame frame;
  frame.identifier = cobId;
  frame.length =
      static_cast<std::uint8_t>(std::min<std::size_t>(data.size(), CanFrame::kMaxLength));
  std::copy_n(data.begin(), frame.length, frame.data.begin());
  return frame;
}

}  // namespace vantor::sim::canopen
