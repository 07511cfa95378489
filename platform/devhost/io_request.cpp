#include "platform/devhost/io_request.h"

#include <algorithm>
#include <utility>

#include "platform/devhost/device_object.h"

namespace vantor::devhost {

namespace wire = os::device_wire;

IoRequest::IoRequest(Origin origin, std::uint32_t requestId, std::uint32_t code,
                     std::uint32_t inputLength, std::uint32_t outputLength,
                     std::shared_ptr<FileObject> file, std::shared_ptr<CompletionSink> sink)
    : origin_(origin),
      requestId_(requestId),
      code_(code),
      inputLength_(inputLength),
      outputLength_(outputLength),
      bufferLength_(std::max(inputLength, outputLength)),
      file_(std::move(file)),
      sink_(std::move(sink)),
      message_(wire::kHeaderSize + bufferLength_, 0) {}

std::shared_ptr<IoRequest> IoRequest::MarkPending() {
  auto self = shared_from_this();
  State expected = State::kDispatching;
  if (!state_.compare_exchange_strong(expected, State::kPending)) return self;
  if (file_ != nullptr && !file_->AddPending(self)) {
    // The handle is already being cleaned up: nothing may stay pending on it.
    Complete(os::kStatusCancelled);
  }
  return self;
}

bool IoRequest::Complete(IoStatus status, std::uint32_t information) {
  State state = state_.load();
  do {
    if (state == State::kCompleted) return false;
  } while (!state_.compare_exchange_weak(state, State::kCompleted));

  // "Pending" is no way to end; a driver that says so has a fault, and the
  // caller must not take it for success.
  status_ = status == os::kStatusPending ? os::kStatusInternalError : status;
  information_ = os::IoSucceeded(status_) ? std::min(information, outputLength_) : 0;
  wire::Header header(message_.data());
  header.Set(wire::kKind, static_cast<std::uint16_t>(wire::MessageKind::kReply));
  header.Set(wire::kRequestId, requestId_);
  header.Set(wire::kCode, code_);
  header.Set(wire::kInputLength, inputLength_);
  header.Set(wire::kOutputLength, outputLength_);
  header.Set(wire::kStatus, status_);
  header.Set(wire::kInformation, information_);

  if (state == State::kPending && file_ != nullptr) file_->RemovePending(*this);
  if (sink_ != nullptr) sink_->Deliver(*this);
  return true;
}

}  // namespace vantor::devhost
