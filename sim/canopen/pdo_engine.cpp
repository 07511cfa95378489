#include "sim/canopen/pdo_engine.h"

#include <algorithm>

#include "sim/canopen/canopen_frames.h"

namespace vantor::sim::canopen {

namespace {

constexpr std::uint32_t kCobIdAllowedBits =
    cob::kInvalidBit | cob::kNoRemoteBit | cob::kExtendedBit | cob::kIdentifierMask;
constexpr SimTime kInhibitUnit = 100 * kNanosecondsPerMicrosecond;

std::uint16_t MappedIndex(std::uint32_t entry) { return static_cast<std::uint16_t>(entry >> 16); }
std::uint8_t MappedSubindex(std::uint32_t entry) { return static_cast<std::uint8_t>(entry >> 8); }
std::uint8_t MappedBits(std::uint32_t entry) { return static_cast<std::uint8_t>(entry); }

// While a PDO is valid, CiA 301 lets a client set bit 31 (make it invalid)
// and bit 30 (remote requests) of its COB-ID, but not the identifier bits.
constexpr std::uint32_t kCobIdFrozenWhileValid = ~(cob::kInvalidBit | cob::kNoRemoteBit);
constexpr std::uint32_t kWholeValue = 0xFFFFFFFFu;

// Refusals of a write out of the CiA 301 order (PdoWriteOrder::kInvalidFirst):
// a new identifier for a valid PDO is a value the COB-ID cannot take now,
// 0x06090030 (invalid value for parameter); every other parameter of a valid PDO (transmission
// type, inhibit time, mapping count and entries) is refused for the PDO's state, 0x08000022 (data
// cannot be stored because of the present device state), the code the mapping entries already give
// while their count is in force.
constexpr SdoAbortCode kIdentifierOfValidPdo = SdoAbortCode::kValueRange;
constexpr SdoAbortCode kParameterOfValidPdo = SdoAbortCode::kDeviceState;

std::uint32_t LittleEndian(std::span<const std::uint8_t> value) {
  std::uint32_t number = 0;
  for (std::size_t i = 0; i < value.size() && i < sizeof(number); ++i) {
    number |= std::uint32_t{value[i]} << (8 * i);
  }
  return number;
}

bool IsSynchronous(std::uint8_t type) { return type <= transmission::kSynchronousLast; }
bool IsEventDriven(std::uint8_t type) {
  return type == transmission::kEventManufacturer || type == transmission::kEventProfile;
}

}  // namespace

std::uint16_t PdoCommunicationIndex(PdoDirection direction, int pdo) {
  const std::uint16_t base = direction == PdoDirection::kReceive ? object::kRpdoCommunicationBase
                                                                 : object::kTpdoCommunicationBase;
  return static_cast<std::uint16_t>(base + pdo - 1);
}

std::uint16_t PdoMappingIndex(PdoDirection direction, int pdo) {
  const std::uint16_t base =
      direction == PdoDirection::kReceive ? object::kRpdoMappingBase : object::kTpdoMappingBase;
  return static_cast<std::uint16_t>(base + pdo - 1);
}

PdoEngine::PdoEngine(ObjectDictionary& dictionary, NodeLog& log, PdoHost& host, NodeId node,
                     PdoWriteOrder order)
    : dictionary_(dictionary), log_(log), host_(host), node_(node), order_(order) {}

void PdoEngine::AddObjects() {
  for (int pdo = 1; pdo <= kPdoCount; ++pdo) {
    AddPdoObjects(PdoDirection::kReceive, pdo);
    AddPdoObjects(PdoDirection::kTransmit, pdo);
  }
}

void PdoEngine::AddPdoObjects(PdoDirection direction, int pdo) {
  const bool transmit = direction == PdoDirection::kTransmit;
  const std::uint16_t comm = PdoCommunicationIndex(direction, pdo);
  const std::uint16_t mapping = PdoMappingIndex(direction, pdo);
  const std::uint16_t cobId =
      transmit ? DefaultTpdoCobId(pdo, node_) : DefaultRpdoCobId(pdo, node_);

  dictionary_.Add({comm, 0, DataType::kUnsigned8, Access::kConst, false,
                   transmit ? object::kPdoEventTimerSub : object::kPdoTransmissionTypeSub});
  dictionary_.Add(
      {comm, object::kPdoCobIdSub, DataType::kUnsigned32, Access::kReadWrite, false, cobId});
  dictionary_.Add({comm, object::kPdoTransmissionTypeSub, DataType::kUnsigned8, Access::kReadWrite,
                   false, transmission::kEventProfile});
  if (transmit) {
    dictionary_.Add(
        {comm, object::kPdoInhibitTimeSub, DataType::kUnsigned16, Access::kReadWrite, false, 0});
    dictionary_.Add(
        {comm, object::kPdoEventTimerSub, DataType::kUnsigned16, Access::kReadWrite, false, 0});
  }
  dictionary_.Add({mapping, 0, DataType::kUnsigned8, Access::kReadWrite, false, 0});
  for (std::uint8_t sub = 1; sub <= kMaxMappedObjects; ++sub) {
    dictionary_.Add({mapping, sub, DataType::kUnsigned32, Access::kReadWrite, false, 0});
  }
  HookPdoObjects(direction, pdo);
}

void PdoEngine::HookPdoObjects(PdoDirection direction, int pdo) {
  const std::uint16_t comm = PdoCommunicationIndex(direction, pdo);
  const std::uint16_t mapping = PdoMappingIndex(direction, pdo);
  const auto index = static_cast<std::size_t>(pdo - 1);
  const auto restart = [this, direction, index](const ObjectEntry&, WriteOrigin) {
    if (direction == PdoDirection::kReceive) {
      rpdos_[index] = RpdoRuntime{};
      return;
    }
    tpdos_[index] = TpdoRuntime{};
    if (operational_) {
      const int number = static_cast<int>(index) + 1;
      ArmEventTimer(number, ReadLayout(direction, number), host_.Now());
    }
  };

  // Each write is checked for what the value itself may be first, then for
  // the order.
  const auto unchangedWhileValid = [this, direction, pdo](
                                       std::uint16_t index, std::uint8_t subindex,
                                       std::uint32_t frozen, SdoAbortCode refusal) {
    return [this, direction, pdo, index, subindex, frozen,
            refusal](std::span<const std::uint8_t> value) {
      return CheckChangeWhileValid(direction, pdo, index, subindex, LittleEndian(value), frozen,
                                   refusal);
    };
  };
  const auto cobIdOrder = unchangedWhileValid(comm, object::kPdoCobIdSub, kCobIdFrozenWhileValid,
                                              kIdentifierOfValidPdo);
  dictionary_.OnWriteCheck(
      comm, object::kPdoCobIdSub, [cobIdOrder](std::span<const std::uint8_t> value) {
        const std::uint32_t cobId = LittleEndian(value);
        // The simulated buses carry 11-bit identifiers only.
        if ((cobId & cob::kExtendedBit) != 0 || (cobId & ~kCobIdAllowedBits) != 0) {
          return SdoAbortCode::kValueRange;
        }
        return cobIdOrder(value);
      });
  dictionary_.OnWritten(comm, object::kPdoCobIdSub, restart);
  const auto typeOrder =
      unchangedWhileValid(comm, object::kPdoTransmissionTypeSub, kWholeValue, kParameterOfValidPdo);
  dictionary_.OnWriteCheck(comm, object::kPdoTransmissionTypeSub,
                           [this, direction, typeOrder](std::span<const std::uint8_t> value) {
                             const SdoAbortCode refusal =
                                 CheckTransmissionType(direction, value[0]);
                             return refusal != SdoAbortCode::kNone ? refusal : typeOrder(value);
                           });
  dictionary_.OnWritten(comm, object::kPdoTransmissionTypeSub, restart);
  if (direction == PdoDirection::kTransmit) {
    dictionary_.OnWriteCheck(
        comm, object::kPdoInhibitTimeSub,
        unchangedWhileValid(comm, object::kPdoInhibitTimeSub, kWholeValue, kParameterOfValidPdo));
    dictionary_.OnWritten(comm, object::kPdoEventTimerSub, restart);
  }

  const auto countOrder = unchangedWhileValid(mapping, 0, kWholeValue, kParameterOfValidPdo);
  dictionary_.OnWriteCheck(
      mapping, 0, [this, direction, pdo, countOrder](std::span<const std::uint8_t> value) {
        const SdoAbortCode refusal = CheckMappingCount(direction, pdo, value[0]);
        return refusal != SdoAbortCode::kNone ? refusal : countOrder(value);
      });
  dictionary_.OnWritten(
      mapping, 0, [this, direction, pdo, restart](const ObjectEntry& entry, WriteOrigin origin) {
        LogMapping(direction, pdo);
        restart(entry, origin);
      });
  for (std::uint8_t sub = 1; sub <= kMaxMappedObjects; ++sub) {
    const auto entryOrder = unchangedWhileValid(mapping, sub, kWholeValue, kParameterOfValidPdo);
    dictionary_.OnWriteCheck(
        mapping, sub, [this, direction, mapping, entryOrder](std::span<const std::uint8_t> value) {
          // Entries change only while the mapping is switched off (count 0),
          // whatever the write order the node holds clients to.
          if (dictionary_.Unsigned(mapping, 0) != 0) return SdoAbortCode::kDeviceState;
          const SdoAbortCode refusal = CheckMappingEntry(direction, LittleEndian(value));
          return refusal != SdoAbortCode::kNone ? refusal : entryOrder(value);
        });
  }
}

SdoAbortCode PdoEngine::CheckChangeWhileValid(PdoDirection direction, int pdo, std::uint16_t index,
                                              std::uint8_t subindex, std::uint32_t value,
                                              std::uint32_t frozen, SdoAbortCode refusal) const {
  if (order_ == PdoWriteOrder::kChangesWhileValid) return SdoAbortCode::kNone;
  const auto cobId = static_cast<std::uint32_t>(
      dictionary_.Unsigned(PdoCommunicationIndex(direction, pdo), object::kPdoCobIdSub));
  if ((cobId & cob::kInvalidBit) != 0) return SdoAbortCode::kNone;
  const auto stored = static_cast<std::uint32_t>(dictionary_.Unsigned(index, subindex));
  return ((stored ^ value) & frozen) != 0 ? refusal : SdoAbortCode::kNone;
}

bool PdoEngine::SetDefaultLayout(PdoDirection direction, int pdo,
                                 std::span<const std::uint32_t> entries,
                                 std::uint8_t transmissionType) {
  if (pdo < 1 || pdo > kPdoCount || entries.size() > kMaxMappedObjects) return false;
  if (CheckTransmissionType(direction, transmissionType) != SdoAbortCode::kNone) return false;
  unsigned bits = 0;
  for (const std::uint32_t entry : entries) {
    if (entry == 0 || CheckMappingEntry(direction, entry) != SdoAbortCode::kNone) return false;
    bits += MappedBits(entry);
  }
  if (bits > kMaxPdoBits) return false;
  const std::uint16_t mapping = PdoMappingIndex(direction, pdo);
  for (std::uint8_t sub = 1; sub <= kMaxMappedObjects; ++sub) {
    dictionary_.SetDefaultUnsigned(mapping, sub,
                                   sub <= entries.size() ? entries[sub - 1] : std::uint32_t{0});
  }
  dictionary_.SetDefaultUnsigned(mapping, 0, entries.size());
  dictionary_.SetDefaultUnsigned(PdoCommunicationIndex(direction, pdo),
                                 object::kPdoTransmissionTypeSub, transmissionType);
  return true;
}

SdoAbortCode PdoEngine::CheckTransmissionType(PdoDirection direction, std::uint8_t type) const {
  if (type == transmission::kSynchronousRemote) return SdoAbortCode::kValueRange;
  if (direction == PdoDirection::kReceive && type == transmission::kRemoteOnly) {
    return SdoAbortCode::kValueRange;
  }
  return SdoAbortCode::kNone;
}

SdoAbortCode PdoEngine::CheckMappingEntry(PdoDirection direction, std::uint32_t entry) const {
  if (entry == 0) return SdoAbortCode::kNone;
  const ObjectEntry* object = dictionary_.Find(MappedIndex(entry), MappedSubindex(entry));
  if (object == nullptr) return dictionary_.Locate(MappedIndex(entry), MappedSubindex(entry));
  const bool accessible = direction == PdoDirection::kReceive ? IsWritable(object->AccessRights())
                                                              : IsReadable(object->AccessRights());
  if (!object->PdoMappable() || !accessible || IsStringType(object->Type()) ||
      MappedBits(entry) != 8 * object->Capacity()) {
    return SdoAbortCode::kNotMappable;
  }
  return SdoAbortCode::kNone;
}

SdoAbortCode PdoEngine::CheckMappingCount(PdoDirection direction, int pdo,
                                          std::uint8_t count) const {
  if (count > kMaxMappedObjects) return SdoAbortCode::kPdoLengthExceeded;
  const std::uint16_t mapping = PdoMappingIndex(direction, pdo);
  unsigned bits = 0;
  for (std::uint8_t sub = 1; sub <= count; ++sub) {
    const auto entry = static_cast<std::uint32_t>(dictionary_.Unsigned(mapping, sub));
    if (entry == 0) return SdoAbortCode::kNotMappable;
    const SdoAbortCode refusal = CheckMappingEntry(direction, entry);
    if (refusal != SdoAbortCode::kNone) return refusal;
    bits += MappedBits(entry);
  }
  return bits > kMaxPdoBits ? SdoAbortCode::kPdoLengthExceeded : SdoAbortCode::kNone;
}

void PdoEngine::LogMapping(PdoDirection direction, int pdo) {
  MappingChange change;
  change.mappingIndex = PdoMappingIndex(direction, pdo);
  change.count = static_cast<std::uint8_t>(dictionary_.Unsigned(change.mappingIndex, 0));
  for (std::uint8_t sub = 1; sub <= change.count && sub <= kMaxMappedObjects; ++sub) {
    change.entries[sub - 1] =
        static_cast<std::uint32_t>(dictionary_.Unsigned(change.mappingIndex, sub));
  }
  log_.Record(host_.Now(), change);
}

PdoEngine::Layout PdoEngine::ReadLayout(PdoDirection direction, int pdo) const {
  Layout layout;
  const std::uint16_t comm = PdoCommunicationIndex(direction, pdo);
  const std::uint16_t mapping = PdoMappingIndex(direction, pdo);
  const auto cobId = static_cast<std::uint32_t>(dictionary_.Unsigned(comm, object::kPdoCobIdSub));
  layout.cobId = static_cast<std::uint16_t>(cobId & cob::kIdentifierMask);
  layout.remoteAllowed = (cobId & cob::kNoRemoteBit) == 0;
  layout.transmissionType =
      static_cast<std::uint8_t>(dictionary_.Unsigned(comm, object::kPdoTransmissionTypeSub));
  layout.count = static_cast<std::uint8_t>(
      std::min<std::uint64_t>(dictionary_.Unsigned(mapping, 0), kMaxMappedObjects));
  for (std::uint8_t sub = 1; sub <= layout.count; ++sub) {
    layout.entries[sub - 1] = static_cast<std::uint32_t>(dictionary_.Unsigned(mapping, sub));
    layout.bytes += MappedBits(layout.entries[sub - 1]) / 8;
  }
  const bool served = layout.transmissionType < transmission::kReservedFirst ||
                      layout.transmissionType > transmission::kSynchronousRemote;
  layout.valid = (cobId & cob::kInvalidBit) == 0 && layout.count > 0 && served &&
                 layout.bytes <= CanFrame::kMaxLength;
  return layout;
}

void PdoEngine::ResetRuntime() {
  operational_ = false;
  tpdos_.fill(TpdoRuntime{});
  rpdos_.fill(RpdoRuntime{});
}

void PdoEngine::EnterOperational(SimTime now) {
  ResetRuntime();
  operational_ = true;
  for (int pdo = 1; pdo <= kPdoCount; ++pdo) {
    ArmEventTimer(pdo, ReadLayout(PdoDirection::kTransmit, pdo), now);
  }
  // Force a look at every event-driven PDO: its first value goes out now.
  checkedGeneration_ = dictionary_.Generation() - 1;
  Service(now);
}

bool PdoEngine::HandleFrame(const CanFrame& frame, SimTime now) {
  if (!operational_) return false;
  if (frame.remote) {
    for (int pdo = 1; pdo <= kPdoCount; ++pdo) {
      const Layout layout = ReadLayout(PdoDirection::kTransmit, pdo);
      if (!layout.valid || layout.cobId != frame.identifier) continue;
      if (layout.remoteAllowed) Transmit(pdo, layout, NodeService::kPdo, now);
      return true;
    }
    return false;
  }
  for (int pdo = 1; pdo <= kPdoCount; ++pdo) {
    const Layout layout = ReadLayout(PdoDirection::kReceive, pdo);
    if (!layout.valid || layout.cobId != frame.identifier) continue;
    if (frame.length < layout.bytes) {
      host_.PdoLengthError(pdo, now);
      return true;
    }
    if (IsSynchronous(layout.transmissionType)) {
      RpdoRuntime& runtime = rpdos_[static_cast<std::size_t>(pdo - 1)];
      runtime.pending = true;
      runtime.data = frame.data;
    } else {
      Apply(pdo, layout, std::span<const std::uint8_t>(frame.data).first(layout.bytes), now);
    }
    return true;
  }
  return false;
}

void PdoEngine::ApplySynchronousRpdos(SimTime now) {
  if (!operational_) return;
  for (int pdo = 1; pdo <= kPdoCount; ++pdo) {
    RpdoRuntime& runtime = rpdos_[static_cast<std::size_t>(pdo - 1)];
    if (!runtime.pending) continue;
    runtime.pending = false;
    const Layout layout = ReadLayout(PdoDirection::kReceive, pdo);
    if (layout.valid && IsSynchronous(layout.transmissionType)) {
      Apply(pdo, layout, std::span<const std::uint8_t>(runtime.data).first(layout.bytes), now);
    }
  }
}

void PdoEngine::TransmitSynchronousTpdos(SimTime now) {
  if (!operational_) return;
  for (int pdo = 1; pdo <= kPdoCount; ++pdo) {
    const Layout layout = ReadLayout(PdoDirection::kTransmit, pdo);
    if (!layout.valid || !IsSynchronous(layout.transmissionType)) continue;
    TpdoRuntime& runtime = tpdos_[static_cast<std::size_t>(pdo - 1)];
    if (layout.transmissionType == transmission::kSynchronousAcyclic) {
      RefreshBeforeSampling();
      std::array<std::uint8_t, CanFrame::kMaxLength> data{};
      if (!Sample(layout, data)) continue;
      if (!runtime.hasSent || data != runtime.lastSent) {
        Transmit(pdo, layout, NodeService::kSync, now);
      }
      continue;
    }
    if (++runtime.syncCount >= layout.transmissionType) {
      runtime.syncCount = 0;
      Transmit(pdo, layout, NodeService::kSync, now);
    }
  }
}

void PdoEngine::Service(SimTime now) {
  if (!operational_) return;
  const bool changed = dictionary_.Generation() != checkedGeneration_;
  for (int pdo = 1; pdo <= kPdoCount; ++pdo) {
    const Layout layout = ReadLayout(PdoDirection::kTransmit, pdo);
    if (!layout.valid || !IsEventDriven(layout.transmissionType)) continue;
    TpdoRuntime& runtime = tpdos_[static_cast<std::size_t>(pdo - 1)];
    if (changed) {
      std::array<std::uint8_t, CanFrame::kMaxLength> data{};
      if (Sample(layout, data) && (!runtime.hasSent || data != runtime.lastSent)) {
        runtime.changePending = true;
      }
    }
    const bool inhibited = now < runtime.inhibitUntil;
    if ((runtime.changePending && !inhibited) || now >= runtime.eventTimerDue) {
      Transmit(pdo, layout, NodeService::kPdo, now);
    }
  }
  checkedGeneration_ = dictionary_.Generation();
}

SimTime PdoEngine::NextDeadline(SimTime now) const {
  if (!operational_) return kNever;
  if (dictionary_.Generation() != checkedGeneration_) return now;
  SimTime next = kNever;
  for (const TpdoRuntime& runtime : tpdos_) {
    if (runtime.changePending) next = std::min(next, runtime.inhibitUntil);
    next = std::min(next, runtime.eventTimerDue);
  }
  return next;
}

bool PdoEngine::Sample(const Layout& layout,
                       std::array<std::uint8_t, CanFrame::kMaxLength>& data) const {
  std::size_t offset = 0;
  for (std::uint8_t i = 0; i < layout.count; ++i) {
    const std::uint32_t entry = layout.entries[i];
    const ObjectEntry* object = dictionary_.Find(MappedIndex(entry), MappedSubindex(entry));
    const std::size_t bytes = MappedBits(entry) / 8;
    if (object == nullptr || object->Size() != bytes || offset + bytes > data.size()) return false;
    std::ranges::copy(object->Bytes(), data.begin() + static_cast<std::ptrdiff_t>(offset));
    offset += bytes;
  }
  return true;
}

void PdoEngine::Apply(int pdo, const Layout& layout, std::span<const std::uint8_t> data,
                      SimTime now) {
  std::size_t offset = 0;
  for (std::uint8_t i = 0; i < layout.count; ++i) {
    const std::uint32_t entry = layout.entries[i];
    const std::size_t bytes = MappedBits(entry) / 8;
    // A value the object refuses is dropped; a PDO has no way to answer.
    dictionary_.Write(MappedIndex(entry), MappedSubindex(entry), data.subspan(offset, bytes),
                      WriteOrigin::kPdo);
    offset += bytes;
  }
  host_.RpdoApplied(pdo, now);
}

void PdoEngine::Transmit(int pdo, const Layout& layout, NodeService service, SimTime now) {
  TpdoRuntime& runtime = tpdos_[static_cast<std::size_t>(pdo - 1)];
  runtime.changePending = false;
  RefreshBeforeSampling();
  std::array<std::uint8_t, CanFrame::kMaxLength> data{};
  if (!Sample(layout, data)) {
    // A mapped object vanished: the PDO stays quiet rather than due forever.
    runtime.eventTimerDue = kNever;
    return;
  }
  host_.SendPdo(MakePdoFrame(layout.cobId, std::span<const std::uint8_t>(data).first(layout.bytes)),
                service);
  runtime.hasSent = true;
  runtime.lastSent = data;
  const std::uint16_t comm = PdoCommunicationIndex(PdoDirection::kTransmit, pdo);
  runtime.inhibitUntil =
      now + dictionary_.Unsigned(comm, object::kPdoInhibitTimeSub) * kInhibitUnit;
  ArmEventTimer(pdo, layout, now);
}

void PdoEngine::RefreshBeforeSampling() {
  const bool unchanged = dictionary_.Generation() == checkedGeneration_;
  host_.RefreshReadings();
  if (unchanged) checkedGeneration_ = dictionary_.Generation();
}

void PdoEngine::ArmEventTimer(int pdo, const Layout& layout, SimTime now) {
  TpdoRuntime& runtime = tpdos_[static_cast<std::size_t>(pdo - 1)];
  const auto timer = dictionary_.Unsigned(PdoCommunicationIndex(PdoDirection::kTransmit, pdo),
                                          object::kPdoEventTimerSub);
  const bool armed = layout.valid && IsEventDriven(layout.transmissionType) && timer != 0;
  runtime.eventTimerDue = armed ? now + timer * kNanosecondsPerMillisecond : kNever;
}

}  // namespace vantor::sim::canopen
