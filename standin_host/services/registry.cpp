#include "standin_host/services/registry.h"

#include <string.h>

namespace {

Status PLUGIN_CALL DictionaryQueryInterface(HostDictionary*, const Guid*, void** out) {
  return NoInterface(out);
}
uint32_t PLUGIN_CALL DictionaryAddRef(HostDictionary* self) {
  return static_cast<uint32_t>(++StateOf<RegistryEntry>(self)->references);
}
uint32_t PLUGIN_CALL DictionaryRelease(HostDictionary* self) {
  RegistryEntry* entry = StateOf<RegistryEntry>(self);
  return CountRelease(&entry->references, entry->ledger, "HostDictionary");
}

Status PLUGIN_CALL PutValue(HostDictionary* self, uint32_t type, const void* value,
                            uint32_t reserved, const char* key) {
  RegistryEntry* entry = StateOf<RegistryEntry>(self);
  if (reserved != 0) {
    ReportProblem(entry->ledger, "PutValue(\"%s\") was given %u where 0 is expected", key,
                  reserved);
  }
  RegistryEntry::Value stored = {key, type, std::string(), 0};
  if (type == kValueAnsiText) {
    stored.text = static_cast<const char*>(value);
  } else if (type == kValueInt32) {
    memcpy(&stored.number, value, sizeof stored.number);
  } else {
    ReportProblem(entry->ledger,
                  "PutValue(\"%s\") was given type code %u, which is neither 9 nor 3", key, type);
    return kHostInvalidArgument;
  }
  for (RegistryEntry::Value& existing : entry->values) {
    if (existing.key == stored.key) {
      existing = stored;
      return STATUS_OK;
    }
  }
  entry->values.push_back(stored);
  return STATUS_OK;
}

const AnyMethod* DictionaryMethods() {
  constexpr size_t kCount = kDictionaryPutValue + 1;
  static const std::array<AnyMethod, kCount> table = [] {
    auto slots = UnexpectedTable<kDictionaryKind>(std::make_index_sequence<kCount>());
    slots[kSlotQueryInterface] = Slot(DictionaryQueryInterface);
    slots[kSlotAddRef] = Slot(DictionaryAddRef);
    slots[kSlotRelease] = Slot(DictionaryRelease);
    slots[kDictionaryPutValue] = Slot(PutValue);
    return slots;
  }();
  return table.data();
}

Status PLUGIN_CALL RegistryQueryInterface(HostRegistry*, const Guid*, void** out) {
  return NoInterface(out);
}
uint32_t PLUGIN_CALL RegistryAddRef(HostRegistry* self) {
  return static_cast<uint32_t>(++StateOf<Registry>(self)->references);
}
uint32_t PLUGIN_CALL RegistryRelease(HostRegistry* self) {
  Registry* registry = StateOf<Registry>(self);
  return CountRelease(&registry->references, registry->ledger, "HostRegistry");
}

Status PLUGIN_CALL AddEntry(HostRegistry* self, uint32_t value, const Guid* classId,
                            const Guid* interfaceId, HostDictionary** dictionary) {
  Registry* registry = StateOf<Registry>(self);
  if (value != registry->expectedValue) {
    ReportProblem(registry->ledger, "AddEntry was given entry value %u; Register was given %u",
                  value, registry->expectedValue);
  }
  std::unique_ptr<RegistryEntry> entry(new RegistryEntry());
  entry->dictionary.iface.methods = DictionaryMethods();
  entry->dictionary.state = entry.get();
  entry->ledger = registry->ledger;
  entry->value = value;
  entry->classId = *classId;
  entry->interfaceId = *interfaceId;
  *dictionary = &entry->dictionary.iface;
  registry->entries.push_back(std::move(entry));
  return STATUS_OK;
}

const AnyMethod* RegistryMethods() {
  constexpr size_t kCount = kRegistryAddEntry + 1;
  static const std::array<AnyMethod, kCount> table = [] {
    auto slots = UnexpectedTable<kRegistryKind>(std::make_index_sequence<kCount>());
    slots[kSlotQueryInterface] = Slot(RegistryQueryInterface);
    slots[kSlotAddRef] = Slot(RegistryAddRef);
    slots[kSlotRelease] = Slot(RegistryRelease);
    slots[kRegistryAddEntry] = Slot(AddEntry);
    return slots;
  }();
  return table.data();
}

}  // namespace

void InitRegistry(Registry* registry, Ledger* ledger) {
  registry->object = {{RegistryMethods()}, registry};
  registry->ledger = ledger;
  registry->expectedValue = 0;
  registry->references = 0;
  registry->entries.clear();
}
