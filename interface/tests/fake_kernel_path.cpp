#include "interface/tests/fake_kernel_path.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>

namespace vantor::fake_kernel {

namespace cb = common::communication_block;
namespace pb = common::path_buffer;
namespace pbr = common::path_buffer_record;

namespace {

// How much of the payload each path command reads.
std::size_t PayloadLength(std::uint32_t code) {
  switch (code) {
    case 36:
    case 37:
    case 38:
      return pbr::kPayloadCapacity;
    case 39:
      return 64;
    case 57:
      return pbr::kMaxEventNameLength + 1;
    default:
      return 0;
  }
}

std::uint32_t Argument(common::ConstCommunicationBlockView block) {
  return *block.Load<std::uint32_t>(cb::PayloadAt(0));
}

}  // namespace

FakePath::FakePath() {
  if (const char* limit = std::getenv("VANTOR_FAKE_KERNEL_TAKE_LIMIT")) {
    takeLimit_ = static_cast<std::uint32_t>(std::strtoul(limit, nullptr, 10));
  }
}

void FakePath::AttachBuffer(common::Channel channel) {
  if (channel == common::Channel::NoCan) return;
  auto mapping = os::Mapping::Open(
      common::ChannelObjectName(channel, common::ChannelObject::PathBufferMapping));
  if (mapping) buffer_ = mapping.take();
}

bool FakePath::Serves(std::uint32_t code) {
  switch (code) {
    case 39:
    case 42:
    case 43:
    case 44:
    case 45:
    case 51:
    case 52:
    case 57:
      return true;
    default:
      return false;
  }
}

common::StatusCode FakePath::Serve(std::uint32_t code, common::CommunicationBlockView block) {
  if (pathStarted_) queued_ = 0;
  switch (code) {
    case 39:
    case 57:
      return Queue(code, block);
    case 42:
      pathMode_ = Argument(block) != 0;
      queued_ = 0;
      return common::kKernelSuccess;
    case 43:
      pathStarted_ = Argument(block) != 0;
      return common::kKernelSuccess;
    case 44: {
      const auto capacity = static_cast<std::int32_t>(Argument(block));
      if (capacity <= 0) return common::kKernelPathBufferError;
      capacity_ = static_cast<std::uint32_t>(capacity);
      return common::kKernelSuccess;
    }
    case 45:
      block.Store<std::uint32_t>(cb::PayloadAt(0), pathMode_ ? 1 : 0);
      block.Store<std::uint32_t>(cb::PayloadAt(4), pathStarted_ ? 1 : 0);
      block.Store<std::uint32_t>(cb::PayloadAt(8), capacity_);
      block.Store<std::uint32_t>(cb::PayloadAt(12), queued_);
      return common::kKernelSuccess;
    case 51: {
      auto header = common::PathBufferHeaderView::Over(
          std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(buffer_.data()), buffer_.size()));
      if (!header) return common::kKernelCncNotInitialized;
      const bool on = Argument(block) != 0;
      if (on && !pathMode_) return common::kKernelPathModeError;
      if (on != (header->Get(pb::kEnabled) != 0)) {
        header->Set(pb::kEnabled, on ? 1 : 0);
        header->Set(pb::kCount, 0);
      }
      return common::kKernelSuccess;
    }
    case 52:
      return Transfer(block);
    default:
      return common::kKernelWrongFunctionNumber;
  }
}

common::StatusCode FakePath::Queue(std::uint32_t code, common::ConstCommunicationBlockView block) {
  if (!pathMode_) return common::kKernelPathModeError;
  if (queued_ >= capacity_) return common::kKernelPathBufferError;
  common::PathBufferRecord record;
  record.Set(pbr::kCommandCode, code);
  record.CopyIn(pbr::kPayloadOffset,
                block.Bytes().subspan(cb::kPayloadOffset, PayloadLength(code)));
  Log({record});
  ++queued_;
  return common::kKernelSuccess;
}

common::StatusCode FakePath::Transfer(common::CommunicationBlockView block) {
  if (!pathMode_) return common::kKernelPathModeError;
  auto bytes =
      std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(buffer_.data()), buffer_.size());
  auto header = common::PathBufferHeaderView::Over(bytes);
  if (!header) return common::kKernelCncNotInitialized;
  const std::uint32_t count = header->Get(pb::kCount);
  if (count > pb::RecordsThatFit(bytes.size())) return common::kKernelPathBufferError;

  std::vector<common::PathBufferRecord> taken;
  for (std::uint32_t i = 0; i < count && capacity_ > queued_ + i && i < takeLimit_; ++i) {
    common::PathBufferRecord record;
    record.CopyIn(0, bytes.subspan(pb::RecordOffset(i), common::kPathBufferRecordSize));
    const std::uint32_t code = record.Get(pbr::kCommandCode);
    if (PayloadLength(code) == 0) {
      // What this call queued is taken back and the buffer emptied.
      block.Store<std::uint32_t>(cb::PayloadAt(0), i + 1);
      header->Set(pb::kCount, 0);
      return common::kKernelMovementDataInvalid;
    }
    taken.push_back(record);
  }
  const auto left = static_cast<std::uint32_t>(count - taken.size());
  if (!taken.empty()) {
    std::memmove(bytes.data() + pb::RecordOffset(0), bytes.data() + pb::RecordOffset(taken.size()),
                 std::size_t{left} * common::kPathBufferRecordSize);
    header->Set(pb::kCount, left);
  }
  Log(taken);
  queued_ += static_cast<std::uint32_t>(taken.size());
  return left > 0 || queued_ == capacity_ ? common::kKernelPathBufferError : common::kKernelSuccess;
}

void FakePath::Log(const std::vector<common::PathBufferRecord>& records) const {
  const char* path = std::getenv("VANTOR_FAKE_KERNEL_PATH_FILE");
  if (path == nullptr) return;
  if (std::FILE* file = std::fopen(path, "ab")) {
    for (const auto& record : records) {
      std::fwrite(record.Bytes().data(), 1, record.Bytes().size(), file);
    }
    std::fclose(file);
  }
}

}  // namespace vantor::fake_kernel
