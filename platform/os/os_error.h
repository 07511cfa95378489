// Failure codes of the operating-system layer and a small result carrier.
//
// Factory functions (create, open, start) return an `OsResult<T>`: either
// the handle or the reason it could not be made. Operations on an existing
// handle return `OsError` (Ok on success) or a plain bool where the only
// failure is "not allowed now".
#pragma once

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <utility>

namespace vantor::os {

enum class OsError {
  Ok,
  NotFound,         // open-only of an absent name, post to a dead endpoint
  WrongKind,        // the name exists as another kind of object
  InvalidArgument,  // bad size, count, time-out, empty or duplicate wait set
  InvalidHandle,    // closed or never opened handle
  NameTooLong,
  NotOwner,         // mutex release by a thread that does not own it
  LimitExceeded,    // semaphore past its maximum, queue or table full
  AccessDenied,
  SystemError,      // the underlying system call failed
};

// Stable English name of an error, for logs and test messages.
std::string_view OsErrorName(OsError error);

template <typename T>
class OsResult {
 public:
  OsResult(T value) : value_(std::move(value)) {}  // NOLINT: implicit by design
  OsResult(OsError error) : error_(error) {}       // NOLINT: implicit by design

  explicit operator bool() const { return value_.has_value(); }
  bool ok() const { return value_.has_value(); }
  OsError error() const { return error_; }

  T& operator*() { return *value_; }
  const T& operator*() const { return *value_; }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }
  T& value() { return *value_; }
  // The value; a caller that takes it from a failed call ends the process
  // with the reason rather than go on with a handle made of nothing.
  T take() {
    if (!value_) {
      const std::string_view reason = OsErrorName(error_);
      std::fprintf(stderr, "vantor: the value of a failed call was taken (%.*s)\n",
                   static_cast<int>(reason.size()), reason.data());
      std::abort();
    }
    return std::move(*value_);
  }

 private:
  std::optional<T> value_;
  OsError error_ = OsError::Ok;
};

}  // namespace vantor::os
