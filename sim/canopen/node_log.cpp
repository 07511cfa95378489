#include "sim/canopen/node_log.h"

#include <cstdio>
#include <utility>

namespace vantor::sim::canopen {

namespace {

std::string Hex(std::uint64_t value, int digits) {
  char text[24];
  std::snprintf(text, sizeof(text), "0x%0*llX", digits, static_cast<unsigned long long>(value));
  return text;
}

std::string ObjectName(std::uint16_t index, std::uint8_t subindex) {
  char text[16];
  std::snprintf(text, sizeof(text), "%04X:%02X", index, subindex);
  return text;
}

std::string DescribeSdo(const SdoAccess& access) {
  std::string line = access.direction == SdoDirection::kUpload ? "upload " : "download ";
  line += ObjectName(access.index, access.subindex);
  if (access.abort != SdoAbortCode::kNone) {
    line += access.abortedByClient ? " aborted by client " : " abort ";
    line += Hex(static_cast<std::uint32_t>(access.abort), 8);
    return line;
  }
  const int digits =
      2 * static_cast<int>(access.size < 8 ? (access.size == 0 ? 1 : access.size) : 8);
  line += " " + std::to_string(access.size) + " " + Hex(access.value, digits);
  return line;
}

std::string DescribeNmt(const NmtEvent& event) {
  std::string line =
      event.fromBoot ? "NMT boot-up" : "NMT " + Hex(static_cast<std::uint8_t>(event.command), 2);
  return line + ": " + Describe(event.from) + " -> " + Describe(event.to);
}

std::string DescribeMapping(const MappingChange& change) {
  std::string line = "mapping " + Hex(change.mappingIndex, 4) + " " + std::to_string(change.count);
  for (std::size_t i = 0; i < change.count && i < change.entries.size(); ++i) {
    line += " " + Hex(change.entries[i], 8);
  }
  return line;
}

std::string DescribeEmergency(const EmergencyEvent& event) {
  return std::string("EMCY ") + Hex(event.errorCode, 4) + " register " +
         Hex(event.errorRegister, 2) + (event.sent ? "" : " (not sent)");
}

std::string DescribeShortFrame(const ShortFrame& frame) {
  char text[64];
  std::snprintf(text, sizeof(text), "ignored %03X [%u]: needs %u byte%s", frame.identifier,
                frame.length, frame.needed, frame.needed == 1 ? "" : "s");
  return text;
}

}  // namespace

std::string Describe(NmtState state) {
  switch (state) {
    case NmtState::kInitialising:
      return "initialising";
    case NmtState::kStopped:
      return "stopped";
    case NmtState::kOperational:
      return "operational";
    case NmtState::kPreOperational:
      return "pre-operational";
  }
  return "unknown";
}

std::string Describe(const NodeEventDetail& detail) {
  struct Describer {
    std::string operator()(const SdoAccess& e) const { return DescribeSdo(e); }
    std::string operator()(const NmtEvent& e) const { return DescribeNmt(e); }
    std::string operator()(const MappingChange& e) const { return DescribeMapping(e); }
    std::string operator()(const EmergencyEvent& e) const { return DescribeEmergency(e); }
    std::string operator()(const ShortFrame& e) const { return DescribeShortFrame(e); }
  };
  return std::visit(Describer{}, detail);
}

void NodeLog::Record(SimTime time, NodeEventDetail detail) {
  if (events_.size() == kCapacity) {
    events_.pop_front();
    ++dropped_;
  }
  events_.push_back(NodeEvent{time, std::move(detail)});
}

void NodeLog::Clear() {
  events_.clear();
  dropped_ = 0;
}

std::vector<std::string> NodeLog::Lines() const {
  std::vector<std::string> lines;
  lines.reserve(events_.size());
  for (const NodeEvent& event : events_) lines.push_back(Describe(event.detail));
  return lines;
}

}  // namespace vantor::sim::canopen
