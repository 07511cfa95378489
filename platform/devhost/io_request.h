// Device requests as a driver sees them.
//
// A request arrives with its control code, input and output lengths and one
// system buffer of max(input, output) bytes that holds the input; the driver
// writes its answer into the same buffer. The driver either completes the
// request before its handler returns or marks it pending and completes it
// later from any context (a deferred call, another request). The first
// completion counts; later ones report false and change nothing, so a
// driver that completes a request the host already cancelled (its handle
// was cleaned up) does no harm. The answer reaches the caller only when the
// request succeeded; a failed or cancelled request returns no data.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/os/device/device_wire.h"
#include "platform/os/device/io_status.h"

namespace vantor::devhost {

using os::IoStatus;

class FileObject;
class IoRequest;

// Who may send a request code.
enum class RequestCallers : std::uint8_t {
  kAny,         // user programs and other drivers
  kKernelOnly,  // other drivers only; user programs get "invalid parameter"
};

// One row of a device's request table: the exact lengths a code demands.
struct RequestSpec {
  std::uint32_t code;
  std::uint32_t inputLength;
  std::uint32_t outputLength;
  RequestCallers callers = RequestCallers::kAny;
};

// Where a completed request goes: a client connection or a waiting driver.
class CompletionSink {
 public:
  virtual ~CompletionSink() = default;
  // Called exactly once per request, on the completing thread. Must not block.
  virtual void Deliver(IoRequest& request) = 0;
};

class IoRequest : public std::enable_shared_from_this<IoRequest> {
 public:
  enum class Origin : std::uint8_t { kUser, kKernel };

  // Used by the host's dispatcher; drivers receive requests, never make them.
  IoRequest(Origin origin, std::uint32_t requestId, std::uint32_t code, std::uint32_t inputLength,
            std::uint32_t outputLength, std::shared_ptr<FileObject> file,
            std::shared_ptr<CompletionSink> sink);
  IoRequest(const IoRequest&) = delete;
  IoRequest& operator=(const IoRequest&) = delete;

  std::uint32_t Code() const noexcept { return code_; }
  std::uint32_t InputLength() const noexcept { return inputLength_; }
  std::uint32_t OutputLength() const noexcept { return outputLength_; }
  Origin From() const noexcept { return origin_; }
  std::uint32_t RequestId() const noexcept { return requestId_; }
  // The handle the request came through; null for a driver's request sent
  // without a handle.
  FileObject* File() const noexcept { return file_.get(); }

  // max(InputLength, OutputLength) bytes: the input on arrival, the answer
  // on completion.
  std::span<std::uint8_t> SystemBuffer() noexcept {
    return {message_.data() + os::device_wire::kHeaderSize, bufferLength_};
  }

  // Keeps the request open past the handler's return; the returned pointer
  // is what the driver completes later.
  std::shared_ptr<IoRequest> MarkPending();
  bool IsPending() const noexcept { return state_.load() == State::kPending; }
  bool IsCompleted() const noexcept { return state_.load() == State::kCompleted; }

  // Completes with `status`; on success the first `information` bytes of the
  // system buffer (at most the output length) go back to the caller. False
  // when the request was already completed. Never blocks, never allocates.
  bool Complete(IoStatus status, std::uint32_t information = 0);

  IoStatus Status() const noexcept { return status_; }
  std::uint32_t Information() const noexcept { return information_; }

  // The reply message: header and system buffer in one block, so that a
  // completion sends it without copying or allocating.
  std::span<std::uint8_t> Message() noexcept { return message_; }

 private:
  enum class State : std::uint8_t { kDispatching, kPending, kCompleted };

  const Origin origin_;
  const std::uint32_t requestId_;
  const std::uint32_t code_;
  const std::uint32_t inputLength_;
  const std::uint32_t outputLength_;
  const std::uint32_t bufferLength_;
  const std::shared_ptr<FileObject> file_;
  const std::shared_ptr<CompletionSink> sink_;
  std::vector<std::uint8_t> message_;
  std::atomic<State> state_{State::kDispatching};
  IoStatus status_ = os::kStatusPending;
  std::uint32_t information_ = 0;
};

using PendingRequest = std::shared_ptr<IoRequest>;

}  // namespace vantor::devhost
