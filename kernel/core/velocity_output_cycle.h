// The velocity-proportional output's part in the motion processing: the
// path velocity of each entry goes into its ring, the ring starts with
// entries that hold the drives where they stand, and the tail keeps the
// ring as long as the set-points still ahead of the drives. Everything runs
// on the cycle thread with the cycle's lock set held, only while the output
// is on.
#pragma once

#include <cstdint>

#include "common/exchange_buffer.h"
#include "kernel/core/motion/path_interpolation.h"
#include "kernel/core/velocity_output.h"

namespace vantor::kernel {

struct KernelData;

// The interpolation's observer while the output is on.
class VelocityOutputEntries final : public motion::EntryObserver {
 public:
  explicit VelocityOutputEntries(KernelData& data) noexcept : data_(data) {}

  // The drives hold their start position for the output's delay (at most
  // `room` entries): the output leads the path by that delay, so it starts
  // ahead of them.
  std::int32_t WriteStartEntries(common::ExchangeBuffer& exchange,
                                 std::int32_t room) noexcept override;
  void EntryWritten(double pathVelocity) noexcept override;
  void WindDown() noexcept override;

 private:
  KernelData& data_;
};

// Before the tail, with the driver's count of entries still queued (read
// before the tail clears it): the stall counter.
void BeginVelocityOutputCycle(KernelData& data, std::int16_t reportedQueued,
                              const common::ExchangeBuffer& exchange) noexcept;

// After the tail decided, before the drives' resumption or the
// interpolation: keeps the ring in step with what the tail did.
void FollowMotionTail(KernelData& data, motion::TailAction action,
                      std::int16_t reportedQueued) noexcept;

// After the drives' resumption, before the interpolation: a ring just
// started begins empty; a running one keeps what lies ahead of the drives.
void BeforeInterpolation(KernelData& data, std::int16_t reportedQueued,
                         const common::ExchangeBuffer& exchange) noexcept;

// At the end of the motion processing: the entries written this cycle join
// the expected queue count; a motion that ended leaves the ring empty.
void EndVelocityOutputCycle(KernelData& data, bool motionEnded,
                            std::uint32_t entriesWritten) noexcept;

// The drives were quick-stopped: the output falls to its offset.
void StopVelocityOutputAtDriveStop(KernelData& data) noexcept;

}  // namespace vantor::kernel
