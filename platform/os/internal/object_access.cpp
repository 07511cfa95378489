#include "platform/os/internal/object_access.h"

namespace vantor::os::internal {
namespace {

OsError CheckName(std::string_view name) {
  if (name.size() > kMaxObjectNameBytes) return OsError::NameTooLong;
  if (name.find('\0') != std::string_view::npos) return OsError::InvalidArgument;
  return OsError::Ok;
}

}  // namespace

OsResult<ObjectRef> CreateOrOpenObject(ObjectKind kind, std::string_view name,
                                       const ObjectSetup& setup) {
  if (const OsError error = CheckName(name); error != OsError::Ok) return error;
  // A holder that died must not keep its objects alive for the next opener.
  if (!name.empty()) SweepDeadProcesses();
  for (int attempt = 0; attempt < 2; ++attempt) {
    {
      TableLock lock;
      if (!lock.ok()) return lock.error();
      SharedTable& table = lock.table();
      if (!name.empty()) {
        const std::uint32_t slot = FindNamed(table, name);
        if (slot != kNoSlot) {
          if (table.objects[slot].kind != static_cast<std::uint32_t>(kind)) {
            return OsError::WrongKind;
          }
          AddHandle(table, lock.processSlot(), slot);
          return ObjectRef{slot, table.objects[slot].serial, true};
        }
      }
      const std::uint32_t slot = AllocateObject(table, lock.processSlot(), kind, name);
      if (slot != kNoSlot) {
        ObjectEntry& entry = table.objects[slot];
        if (setup) {
          if (const OsError error = setup(table, entry, lock.processSlot()); error != OsError::Ok) {
            DropHandle(table, lock.processSlot(), slot);
            return error;
          }
        }
        lock.Changed(slot);
        return ObjectRef{slot, entry.serial, false};
      }
    }
    // Every entry is taken: the objects of processes that died without
    // closing them may fill the table. Clear them away and try once more.
    SweepDeadProcesses();
  }
  return OsError::LimitExceeded;
}

OsResult<ObjectRef> OpenObject(ObjectKind kind, std::string_view name) {
  if (const OsError error = CheckName(name); error != OsError::Ok) return error;
  if (name.empty()) return OsError::InvalidArgument;
  SweepDeadProcesses();
  TableLock lock;
  if (!lock.ok()) return lock.error();
  SharedTable& table = lock.table();
  const std::uint32_t slot = FindNamed(table, name);
  if (slot == kNoSlot) return OsError::NotFound;
  if (table.objects[slot].kind != static_cast<std::uint32_t>(kind)) return OsError::WrongKind;
  AddHandle(table, lock.processSlot(), slot);
  return ObjectRef{slot, table.objects[slot].serial, true};
}

}  // namespace vantor::os::internal
