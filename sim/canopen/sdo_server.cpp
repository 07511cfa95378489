#include "sim/canopen/sdo_server.h"

#include <algorithm>
#include <span>

#include "common/byte_order.h"
#include "sim/canopen/canopen_frames.h"
#include "sim/canopen/sdo_request_length.h"

namespace vantor::sim::canopen {

namespace {

using common::LoadLittleEndian;

std::uint16_t IndexOf(const std::array<std::uint8_t, CanFrame::kMaxLength>& frame) {
  return LoadLittleEndian<std::uint16_t>(&frame[1]);
}

std::uint64_t FirstBytes(const std::vector<std::uint8_t>& value) {
  std::uint64_t result = 0;
  const std::size_t count = std::min<std::size_t>(value.size(), 8);
  for (std::size_t i = 0; i < count; ++i) result |= std::uint64_t{value[i]} << (8 * i);
  return result;
}

}  // namespace

SdoServer::SdoServer(ObjectDictionary& dictionary, NodeLog& log, const FaultInjection& faults,
                     const SdoServerOptions& options)
    : dictionary_(dictionary), log_(log), faults_(faults), options_(options) {}

void SdoServer::Reset() {
  state_ = State::kIdle;
  // A stray segment request names no object; its abort carries 0000:00.
  index_ = 0;
  subindex_ = 0;
  buffer_.clear();
  position_ = 0;
  announced_.reset();
}

std::optional<CanFrame> SdoServer::HandleRequest(const CanFrame& request, SimTime now) {
  if (request.remote) return std::nullopt;
  const std::uint8_t needed =
      request.length == 0 ? 1 : RequiredSdoRequestLength(request.data[0], options_.shortRequests);
  if (request.length < needed) {
    log_.Record(now, ShortFrame{request.identifier, request.length, needed});
    return std::nullopt;
  }
  // Bytes beyond the data length code are not on the wire; read them as 0.
  Frame frame{};
  std::copy_n(request.data.begin(), std::min<std::size_t>(request.length, CanFrame::kMaxLength),
              frame.begin());

  switch (frame[0] & sdo::kCommandMask) {
    case sdo::kAbort:
      TakeClientAbort(frame, now);
      return std::nullopt;
    case sdo::kClientUploadInitiate:
      return StartUpload(frame, now);
    case sdo::kClientDownloadInitiate:
      return StartDownload(frame, now);
    case sdo::kClientUploadSegment:
      if (state_ == State::kUploading) return ContinueUpload(frame, now);
      return Fail(state_ == State::kDownloading ? SdoDirection::kDownload : SdoDirection::kUpload,
                  index_, subindex_, SdoAbortCode::kInvalidCommand, now);
    case sdo::kClientDownloadSegment:
      if (state_ == State::kDownloading) return ContinueDownload(frame, now);
      return Fail(state_ == State::kUploading ? SdoDirection::kUpload : SdoDirection::kDownload,
                  index_, subindex_, SdoAbortCode::kInvalidCommand, now);
    default:
      // Block transfers and reserved specifiers are not served.
      return Fail(SdoDirection::kUpload, IndexOf(frame), frame[3], SdoAbortCode::kInvalidCommand,
                  now);
  }
}

CanFrame SdoServer::StartUpload(const Frame& request, SimTime now) {
  // A new initiate ends whatever transfer was left open: a client that timed
  // out and retries must be served, not refused.
  Reset();
  index_ = IndexOf(request);
  subindex_ = request[3];
  if (const ForcedAbort* forced = faults_.ForcedAbortFor(index_, subindex_)) {
    return Fail(SdoDirection::kUpload, index_, subindex_, forced->code, now);
  }
  std::vector<std::uint8_t> value;
  const SdoAbortCode refusal = dictionary_.Read(index_, subindex_, value);
  if (refusal != SdoAbortCode::kNone) {
    return Fail(SdoDirection::kUpload, index_, subindex_, refusal, now);
  }
  if (!value.empty() && value.size() <= sdo::kExpeditedCapacity) {
    LogSuccess(SdoDirection::kUpload, index_, subindex_, value, now);
    const CanFrame answer = MakeSdoExpeditedUploadAnswer(options_.responseCobId, index_, subindex_,
                                                         value, options_.shortExpeditedUpload);
    Reset();
    return answer;
  }
  state_ = State::kUploading;
  buffer_ = std::move(value);
  toggle_ = false;
  return MakeSdoSegmentedUploadAnswer(options_.responseCobId, index_, subindex_,
                                      static_cast<std::uint32_t>(buffer_.size()));
}

CanFrame SdoServer::ContinueUpload(const Frame& request, SimTime now) {
  const bool toggle = (request[0] & sdo::kToggleBit) != 0;
  if (toggle != toggle_) {
    return Fail(SdoDirection::kUpload, index_, subindex_, SdoAbortCode::kToggleNotAlternated, now);
  }
  const std::size_t count =
      std::min<std::size_t>(buffer_.size() - position_, sdo::kSegmentCapacity);
  const bool last = position_ + count == buffer_.size();
  const CanFrame answer = MakeSdoUploadSegmentAnswer(
      options_.responseCobId, SegmentToggle(toggle_),
      std::span<const std::uint8_t>(buffer_).subspan(position_, count), last);
  position_ += count;
  toggle_ = !toggle_;
  if (last) {
    LogSuccess(SdoDirection::kUpload, index_, subindex_, buffer_, now);
    Reset();
  }
  return answer;
}

CanFrame SdoServer::StartDownload(const Frame& request, SimTime now) {
  Reset();
  index_ = IndexOf(request);
  subindex_ = request[3];
  if (const ForcedAbort* forced = faults_.ForcedAbortFor(index_, subindex_)) {
    return Fail(SdoDirection::kDownload, index_, subindex_, forced->code, now);
  }
  const ObjectEntry* entry = dictionary_.Find(index_, subindex_);
  if (entry == nullptr) {
    return Fail(SdoDirection::kDownload, index_, subindex_, dictionary_.Locate(index_, subindex_),
                now);
  }
  if (!IsWritable(entry->AccessRights())) {
    return Fail(SdoDirection::kDownload, index_, subindex_, SdoAbortCode::kReadOnly, now);
  }

  const bool sizeIndicated = (request[0] & sdo::kSizeIndicatedBit) != 0;
  if ((request[0] & sdo::kExpeditedBit) != 0) {
    std::size_t size = sdo::kExpeditedCapacity;
    if (sizeIndicated) {
      size -= (request[0] & sdo::kInitiateUnusedMask) >> sdo::kInitiateUnusedShift;
    } else if (!IsStringType(entry->Type())) {
      // Without a size the value fills the object, as far as 4 bytes reach.
      size = std::min<std::size_t>(entry->Capacity(), sdo::kExpeditedCapacity);
    }
    const std::vector<std::uint8_t> value(request.begin() + 4, request.begin() + 4 + size);
    const SdoAbortCode refusal = dictionary_.Write(index_, subindex_, value, WriteOrigin::kSdo);
    if (refusal != SdoAbortCode::kNone) {
      return Fail(SdoDirection::kDownload, index_, subindex_, refusal, now);
    }
    LogSuccess(SdoDirection::kDownload, index_, subindex_, value, now);
    const CanFrame answer =
        MakeSdoDownloadInitiateAnswer(options_.responseCobId, index_, subindex_);
    Reset();
    return answer;
  }

  if (sizeIndicated) {
    const auto size = LoadLittleEndian<std::uint32_t>(&request[4]);
    if (size > entry->Capacity()) {
      return Fail(
          SdoDirection::kDownload, index_, subindex_,
          IsStringType(entry->Type()) ? SdoAbortCode::kSizeTooHigh : SdoAbortCode::kSizeMismatch,
          now);
    }
    if (!entry->AcceptsSize(size)) {
      return Fail(SdoDirection::kDownload, index_, subindex_, SdoAbortCode::kSizeMismatch, now);
    }
    announced_ = size;
  }
  state_ = State::kDownloading;
  toggle_ = false;
  return MakeSdoDownloadInitiateAnswer(options_.responseCobId, index_, subindex_);
}

CanFrame SdoServer::ContinueDownload(const Frame& request, SimTime now) {
  const bool toggle = (request[0] & sdo::kToggleBit) != 0;
  if (toggle != toggle_) {
    return Fail(SdoDirection::kDownload, index_, subindex_, SdoAbortCode::kToggleNotAlternated,
                now);
  }
  const ObjectEntry* entry = dictionary_.Find(index_, subindex_);
  if (entry == nullptr) {
    return Fail(SdoDirection::kDownload, index_, subindex_, dictionary_.Locate(index_, subindex_),
                now);
  }
  const std::size_t count =
      sdo::kSegmentCapacity - ((request[0] & sdo::kSegmentUnusedMask) >> sdo::kSegmentUnusedShift);
  const std::size_t limit = announced_ ? *announced_ : entry->Capacity();
  if (buffer_.size() + count > limit) {
    return Fail(SdoDirection::kDownload, index_, subindex_, SdoAbortCode::kSizeTooHigh, now);
  }
  buffer_.insert(buffer_.end(), request.begin() + 1, request.begin() + 1 + count);
  const CanFrame answer =
      MakeSdoDownloadSegmentAnswer(options_.responseCobId, SegmentToggle(toggle_));
  toggle_ = !toggle_;
  if ((request[0] & sdo::kLastSegmentBit) == 0) return answer;

  if (announced_ && buffer_.size() != *announced_) {
    return Fail(SdoDirection::kDownload, index_, subindex_, SdoAbortCode::kSizeMismatch, now);
  }
  const SdoAbortCode refusal = dictionary_.Write(index_, subindex_, buffer_, WriteOrigin::kSdo);
  if (refusal != SdoAbortCode::kNone) {
    return Fail(SdoDirection::kDownload, index_, subindex_, refusal, now);
  }
  LogSuccess(SdoDirection::kDownload, index_, subindex_, buffer_, now);
  Reset();
  return answer;
}

void SdoServer::TakeClientAbort(const Frame& request, SimTime now) {
  if (state_ == State::kIdle) return;
  SdoAccess access;
  access.direction = state_ == State::kUploading ? SdoDirection::kUpload : SdoDirection::kDownload;
  access.index = index_;
  access.subindex = subindex_;
  access.size =
      static_cast<std::uint32_t>(state_ == State::kUploading ? position_ : buffer_.size());
  access.abort = static_cast<SdoAbortCode>(LoadLittleEndian<std::uint32_t>(&request[4]));
  access.abortedByClient = true;
  log_.Record(now, access);
  Reset();
}

CanFrame SdoServer::Fail(SdoDirection direction, std::uint16_t index, std::uint8_t subindex,
                         SdoAbortCode code, SimTime now) {
  SdoAccess access;
  access.direction = direction;
  access.index = index;
  access.subindex = subindex;
  access.abort = code;
  log_.Record(now, access);
  Reset();
  return MakeSdoAbortFrame(options_.responseCobId, index, subindex, code);
}

void SdoServer::LogSuccess(SdoDirection direction, std::uint16_t index, std::uint8_t subindex,
                           const std::vector<std::uint8_t>& value, SimTime now) {
  SdoAccess access;
  access.direction = direction;
  access.index = index;
  access.subindex = subindex;
  access.size = static_cast<std::uint32_t>(value.size());
  access.value = FirstBytes(value);
  log_.Record(now, access);
}

bool SdoServer::SegmentToggle(bool toggle) const {
  return faults_.For(NodeService::kSdo).wrongToggle ? !toggle : toggle;
}

}  // namespace vantor::sim::canopen
