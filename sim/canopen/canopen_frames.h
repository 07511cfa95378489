// Named builders for every frame a simulated node sends.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "sim/can_frame.h"
#include "sim/canopen/canopen_wire.h"

namespace vantor::sim::canopen {

std::uint16_t SdoRequestCobId(NodeId node);
std::uint16_t SdoResponseCobId(NodeId node);
std::uint16_t ErrorControlCobId(NodeId node);
std::uint16_t EmergencyCobId(NodeId node);
// pdo 1..4
std::uint16_t DefaultTpdoCobId(int pdo, NodeId node);
std::uint16_t DefaultRpdoCobId(int pdo, NodeId node);

CanFrame MakeBootUpFrame(NodeId node);
CanFrame MakeGuardAnswerFrame(NodeId node, NmtState state, bool toggle);
CanFrame MakeEmergencyFrame(std::uint16_t cobId, std::uint16_t errorCode,
                            std::uint8_t errorRegister,
                            const std::array<std::uint8_t, 5>& manufacturer);

// SDO server answers; `cobId` is the server's response identifier.
CanFrame MakeSdoAbortFrame(std::uint16_t cobId, std::uint16_t index, std::uint8_t subindex,
                           SdoAbortCode code);
CanFrame MakeSdoDownloadInitiateAnswer(std::uint16_t cobId, std::uint16_t index,
                                       std::uint8_t subindex);
CanFrame MakeSdoDownloadSegmentAnswer(std::uint16_t cobId, bool toggle);
// 1..4 bytes; with `shortLength` the frame ends after the data (4 + size),
// else it has the full 8 bytes.
CanFrame MakeSdoExpeditedUploadAnswer(std::uint16_t cobId, std::uint16_t index,
                                      std::uint8_t subindex, std::span<const std::uint8_t> data,
                                      bool shortLength);
CanFrame MakeSdoSegmentedUploadAnswer(std::uint16_t cobId, std::uint16_t index,
                                      std::uint8_t subindex, std::uint32_t totalSize);
// 0..7 bytes of one segment.
CanFrame MakeSdoUploadSegmentAnswer(std::uint16_t cobId, bool toggle,
                                    std::span<const std::uint8_t> data, bool last);

CanFrame MakePdoFrame(std::uint16_t cobId, std::span<const std::uint8_t> data);

}  // namespace vantor::sim::canopen
