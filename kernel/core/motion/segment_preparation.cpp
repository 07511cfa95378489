// Path-velocity and event segments, and preparation from path-buffer records.
#include "kernel/core/motion/segment_preparation.h"

#include <algorithm>
#include <cmath>

#include "common/byte_order.h"
#include "kernel/core/motion/preparation_support.h"
#include "kernel/core/motion/wire_values.h"

namespace vantor::motion {

namespace {

constexpr std::uint32_t kResultSuccess = 0x09130000u;
constexpr std::uint32_t kResultBadGeometry = 0xC9130021u;
constexpr std::uint32_t kResultCylinderArc = 0xC913002Du;

void MarkPassThrough(PathSegment& segment, SegmentKind kind) noexcept {
  segment.isMotion = false;
  segment.state = 0;
  segment.isPath = false;
  segment.segmentKind = kind;
  segment.passThroughA = true;
  segment.passThroughB = true;
}

// The values of a line or arc record: from byte 16, one per coordinate for
// a line, plane selectors, direction, [sweep,] centre and one per
// coordinate for an arc.
std::optional<CommandValues> RecordValues(std::span<const std::uint8_t> record, std::size_t count,
                                          const PlanningContext& context) noexcept {
  if (record.size() < kRecordValuesOffset) return std::nullopt;
  return ReadCommandValues(record.subspan(kRecordValuesOffset), count,
                           context.parameters.int32Values);
}

bool RecordFlag(std::span<const std::uint8_t> record) noexcept {
  return common::LoadLittleEndian<std::uint32_t>(record.data() + kRecordFlagOffset) != 0;
}

}  // namespace

std::uint32_t ResultOfSegmentError(SegmentError error) noexcept {
  switch (error) {
    case SegmentError::kNone:
    case SegmentError::kZeroLength: return kResultSuccess;
    case SegmentError::kGeometryOrRange: return kResultBadGeometry;
    case SegmentError::kCylinderArc: return kResultCylinderArc;
    case SegmentError::kVelocityValue: return static_cast<std::uint32_t>(SegmentError::kVelocityValue);
  }
  return kResultBadGeometry;
}

bool PreparePathVelocitySegment(double velocityA, double velocityB, PathSegment& segment) noexcept {
  segment.error = SegmentError::kNone;
  if (!(velocityA > 0.0) || !(velocityB > 0.0) || !std::isfinite(velocityA) ||
      !std::isfinite(velocityB)) {
    return detail::Refuse(segment, SegmentError::kVelocityValue);
  }
  MarkPassThrough(segment, SegmentKind::kMotionOrVelocity);
  segment.velocityA = velocityA;
  segment.velocityB = velocityB;
  return true;
}

bool PrepareEventSegment(std::string_view name, PathSegment& segment,
                         PathEventFactory& events) noexcept {
  segment.error = SegmentError::kNone;
  const auto handle = events.CreatePathEvent(name);
  if (!handle || *handle == PathEventHandle{}) {
    return detail::Refuse(segment, SegmentError::kGeometryOrRange);
  }
  MarkPassThrough(segment, SegmentKind::kEvent);
  segment.eventHandle = *handle;
  segment.velocityB = 0.0;
  return true;
}

bool PrepareSegment(std::span<const std::uint8_t> record, PathSegment* queueTail,
                    PathSegment& segment, const PlanningContext& context,
                    PathEventFactory& events) noexcept {
  segment.error = SegmentError::kNone;
  if (record.size() < kRecordValuesOffset) {
    return detail::Refuse(segment, SegmentError::kGeometryOrRange);
  }
  const std::size_t n = context.coordinates.size();
  const auto code = common::LoadLittleEndian<std::uint32_t>(record.data());
  switch (code) {
    case kMoveRecordCode: {
      const auto values = RecordValues(record, n, context);
      if (!values) return detail::Refuse(segment, SegmentError::kGeometryOrRange);
      const LinearMove move{false, RecordFlag(record), false, values->View()};
      return PrepareLinearSegment(move, queueTail, segment, context);
    }
    case kArcByEndPointRecordCode:
    case kArcBySweepRecordCode: {
      const bool byEndPoint = code == kArcByEndPointRecordCode;
      const auto values = RecordValues(record, (byEndPoint ? 5 : 6) + n, context);
      if (!values) return detail::Refuse(segment, SegmentError::kGeometryOrRange);
      const ArcMove move{byEndPoint, RecordFlag(record), values->View()};
      return PrepareArcSegment(move, queueTail, segment, context);
    }
    case kPathVelocityRecordCode: {
      if (record.size() < kRecordValuesOffset + kWireValueSize) {
        return detail::Refuse(segment, SegmentError::kGeometryOrRange);
      }
      const double velocityA =
          WireValueToReal(common::LoadLittleEndian<std::int64_t>(record.data() + kRecordFlagOffset));
      const double velocityB =
          WireValueToReal(common::LoadLittleEndian<std::int64_t>(record.data() + kRecordValuesOffset));
      return PreparePathVelocitySegment(velocityA, velocityB, segment);
    }
    case kEventRecordCode: {
      // The name must end inside the record; a name that runs off its end
      // is not a name.
      const auto text = record.subspan(kRecordFlagOffset);
      const auto terminator = std::find(text.begin(), text.end(), std::uint8_t{0});
      if (terminator == text.end()) return detail::Refuse(segment, SegmentError::kGeometryOrRange);
      const std::string_view name(reinterpret_cast<const char*>(text.data()),
                                  static_cast<std::size_t>(terminator - text.begin()));
      return PrepareEventSegment(name, segment, events);
    }
    default:
      // A record of no known segment kind is refused, never queued as an
      // empty segment.
      return detail::Refuse(segment, SegmentError::kGeometryOrRange);
  }
}

}  // namespace vantor::motion
