// Creating and opening table objects by name, shared by the handle kinds.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "platform/os/internal/table.h"
#include "platform/os/named_objects.h"

namespace vantor::os::internal {

struct ObjectRef {
  std::uint32_t slot = kNoSlot;
  std::uint64_t serial = 0;
  bool existed = false;
};

// Fills the kind-specific fields of a fresh object under the table lock;
// returns Ok or the reason to give the object up again.
using ObjectSetup = std::function<OsError(SharedTable&, ObjectEntry&, std::uint32_t processSlot)>;

// Opens the named object when it exists (with kind `kind`), else makes it
// (an empty name always makes an unnamed one).
OsResult<ObjectRef> CreateOrOpenObject(ObjectKind kind, std::string_view name,
                                       const ObjectSetup& setup);
// Opens the named object; NotFound when absent.
OsResult<ObjectRef> OpenObject(ObjectKind kind, std::string_view name);

// Turns a table reference into a handle of its kind; handle constructors
// are protected, so a derived helper reaches them.
template <typename Handle>
struct HandleFactory : Handle {
  HandleFactory(ObjectKind kind, const ObjectRef& ref)
      : Handle(kind, ref.slot, ref.serial, ref.existed) {}
};

template <typename Handle>
Handle MakeHandle(ObjectKind kind, const ObjectRef& ref) {
  return Handle(HandleFactory<Handle>(kind, ref));
}

}  // namespace vantor::os::internal
