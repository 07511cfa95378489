#include "platform/os/os_error.h"

namespace vantor::os {

std::string_view OsErrorName(OsError error) {
  switch (error) {
    case OsError::Ok: return "ok";
    case OsError::NotFound: return "not found";
    case OsError::WrongKind: return "name held by another kind of object";
    case OsError::InvalidArgument: return "invalid argument";
    case OsError::InvalidHandle: return "invalid handle";
    case OsError::NameTooLong: return "name too long";
    case OsError::NotOwner: return "not the owner";
    case OsError::LimitExceeded: return "limit exceeded";
    case OsError::AccessDenied: return "access denied";
    case OsError::SystemError: return "system error";
  }
  return "unknown error";
}

}  // namespace vantor::os
