// The stop-on-input exports' payloads: the caller's 76-byte record turned
// into the kernel's 36-byte parameter record (only the group of its mode)
// and back, and the amplifier-input request. Pure byte work.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "common/stop_on_input_records.h"
#include "interface/include/linkora.h"

namespace vantor::interface {

using StopOnInputPayload = std::array<std::uint8_t, common::stop_on_input_parameters::kRecordSize>;

StopOnInputPayload MakeStopOnInputPayload(const LinkoraStopOnInputRecord& record);
// The record of a kernel answer: zeroed, then the mode and its group.
LinkoraStopOnInputRecord ReadStopOnInputAnswer(
    std::span<const std::uint8_t, common::stop_on_input_parameters::kRecordSize> answer);

// Code 93: the axis index, two byte-wide selectors and the answer byte 0.
using AmplifierInputPayload = std::array<std::uint8_t, 7>;
AmplifierInputPayload MakeAmplifierInputPayload(const LinkoraAmplifierInput& record);

}  // namespace vantor::interface
