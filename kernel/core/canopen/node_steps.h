// Step functions of a node's request slot for single exchanges: SDO upload
// and download from the slot's request record, the position-demand read,
// raw frames and NMT commands.
//
// The cycle calls each with the slot's 1-based node number once per cycle;
// step 1 frames the request, step 2 checks it and finishes the request.
#pragma once

#include <cstdint>

#include "kernel/core/canopen/node_object.h"

namespace vantor::canopen {

// Uploads the record's object (`sdo_request` layout) into its first word.
void SdoUploadStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept;
// Downloads the record's value to its object.
void SdoDownloadStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept;
// Uploads the position demand (four bytes) into the record's first word.
void ReadPositionDemandStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept;
// Sends the record's frame (`raw_frame_request` layout) once.
void RawFrameStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept;
// Sends the NMT command of the record (`nmt_request` layout).
void NmtCommandStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept;

}  // namespace vantor::canopen
