// Exports of the single and path moves: lines (feed and rapid), circles
// and helices, absolute or relative.
#include <array>
#include <cstring>
#include <span>

#include "interface/export_frame.h"
#include "interface/include/linkora.h"
#include "interface/motion_payloads.h"
#include "interface/motion_request.h"

namespace vantor::interface {
namespace {

static_assert(sizeof(LinkoraCircleRecord) == 4 * kCircleWords && sizeof(LinkoraCircleRecord) == 52);
static_assert(sizeof(LinkoraHelixRecord) == 4 * kHelixWords && sizeof(LinkoraHelixRecord) == 56);
static_assert(LINKORA_POSITION_ARRAY_SIZE == 4 * kPositionSlots);

enum class Reference { Relative, Absolute };
enum class Speed { Feed, Rapid };

common::StatusCode Line(Reference reference, Speed speed, const std::int32_t* target,
                        std::uint32_t size) {
  if (size != LINKORA_POSITION_ARRAY_SIZE) return common::kLibraryRecordSizeMismatch;
  if (target == nullptr) return common::kLibraryCallParameterInvalid;
  const std::span<const std::int32_t, kPositionSlots> values(target, kPositionSlots);
  // Rapid moves never run inside a path.
  const PathBufferUse use = speed == Speed::Rapid ? PathBufferUse::Refuse : PathBufferUse::Append;
  return SendMotionCommand(common::CommandCode::Move, use, [&](ChannelCounts counts) {
    return LinePayload(reference == Reference::Absolute, speed == Speed::Rapid, values,
                       counts.coordinates);
  });
}

common::StatusCode Circle(Reference reference, const LinkoraCircleRecord* record,
                          std::uint32_t size) {
  if (size != sizeof(LinkoraCircleRecord)) return common::kLibraryRecordSizeMismatch;
  if (record == nullptr) return common::kLibraryCallParameterInvalid;
  std::array<std::int32_t, kCircleWords> words;
  std::memcpy(words.data(), record, sizeof *record);
  return SendMotionCommand(
      common::CommandCode::Circle, PathBufferUse::Append, [&](ChannelCounts counts) {
        return CirclePayload(reference == Reference::Absolute, words, counts.coordinates);
      });
}

common::StatusCode Helix(Reference reference, const LinkoraHelixRecord* record,
                         std::uint32_t size) {
  if (size != sizeof(LinkoraHelixRecord)) return common::kLibraryRecordSizeMismatch;
  if (record == nullptr) return common::kLibraryCallParameterInvalid;
  std::array<std::int32_t, kHelixWords> words;
  std::memcpy(words.data(), record, sizeof *record);
  return SendMotionCommand(
      common::CommandCode::Helix, PathBufferUse::Append, [&](ChannelCounts counts) {
        return HelixPayload(reference == Reference::Absolute, words, counts.coordinates);
      });
}

}  // namespace
}  // namespace vantor::interface

using namespace vantor;
using interface::Reference;
using interface::Speed;

LINKORA_EXPORT LinkoraStatus mctl_MoveRel(const int32_t* position, uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_MoveRel", [&] {
    return interface::Line(Reference::Relative, Speed::Feed, position, size);
  });
}

LINKORA_EXPORT LinkoraStatus mctl_MoveAbs(const int32_t* position, uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_MoveAbs", [&] {
    return interface::Line(Reference::Absolute, Speed::Feed, position, size);
  });
}

LINKORA_EXPORT LinkoraStatus mctl_FastRel(const int32_t* position, uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_FastRel", [&] {
    return interface::Line(Reference::Relative, Speed::Rapid, position, size);
  });
}

LINKORA_EXPORT LinkoraStatus mctl_FastAbs(const int32_t* position, uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_FastAbs", [&] {
    return interface::Line(Reference::Absolute, Speed::Rapid, position, size);
  });
}

LINKORA_EXPORT LinkoraStatus mctl_CircleRel(const LinkoraCircleRecord* record, uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_CircleRel",
                              [&] { return interface::Circle(Reference::Relative, record, size); });
}

LINKORA_EXPORT LinkoraStatus mctl_CircleAbs(const LinkoraCircleRecord* record, uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_CircleAbs",
                              [&] { return interface::Circle(Reference::Absolute, record, size); });
}

LINKORA_EXPORT LinkoraStatus mctl_HelixRel(const LinkoraHelixRecord* record, uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_HelixRel",
                              [&] { return interface::Helix(Reference::Relative, record, size); });
}

LINKORA_EXPORT LinkoraStatus mctl_HelixAbs(const LinkoraHelixRecord* record, uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_HelixAbs",
                              [&] { return interface::Helix(Reference::Absolute, record, size); });
}
