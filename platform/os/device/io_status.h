// Completion statuses of device requests.
//
// Every device request ends with one of these words, separate from the
// `DriverStatus` that a driver writes into its answer record: the request
// itself can succeed while the driver reports a refusal inside it. The
// values the drivers and their clients compare against come from the shared
// request definitions; the rest are the driver model's own.
#pragma once

#include <cstdint>

#include "common/driver_status.h"

namespace vantor::os {

using IoStatus = common::RequestCompletion;

inline constexpr IoStatus kStatusSuccess = common::kRequestSuccess;
inline constexpr IoStatus kStatusPending = common::kRequestPending;
inline constexpr IoStatus kStatusNotImplemented = common::kRequestNotImplemented;
inline constexpr IoStatus kStatusAccessViolation = common::kRequestAccessViolation;
inline constexpr IoStatus kStatusInvalidParameter = common::kRequestInvalidParameter;
inline constexpr IoStatus kStatusCancelled = common::kRequestCancelled;
inline constexpr IoStatus kStatusInvalidBufferSize = common::kRequestInvalidBufferSize;

inline constexpr IoStatus kStatusNoSuchDevice = 0xC000000E;
inline constexpr IoStatus kStatusObjectNameNotFound = 0xC0000034;
inline constexpr IoStatus kStatusObjectNameCollision = 0xC0000035;
inline constexpr IoStatus kStatusDeletePending = 0xC0000056;
inline constexpr IoStatus kStatusInsufficientResources = 0xC000009A;
inline constexpr IoStatus kStatusIoTimeout = 0xC00000B5;
inline constexpr IoStatus kStatusInternalError = 0xC00000E5;
// The driver host cannot be reached or broke the connection.
inline constexpr IoStatus kStatusPipeBroken = 0xC000014B;

// Severity "success" or "informational": the answer is copied back.
constexpr bool IoSucceeded(IoStatus status) noexcept { return (status >> 30) < 2; }

}  // namespace vantor::os
