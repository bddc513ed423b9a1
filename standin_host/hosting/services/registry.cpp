#include "standin_host/hosting/services/registry.h"

#include <string.h>

#include "standin_host/system/console.h"

namespace {

Status PLUGIN_CALL DictionaryQueryInterface(HostDictionary* self, const Guid* iid, void** out) {
  RecordCall(StateOf<RegistryEntry>(self)->problemList,
             "HostDictionary.QueryInterface(%s) = 0x%08X", FormatGuid(*iid).c_str(),
             kHostNoInterface);
  return NoInterface(out);
}
uint32_t PLUGIN_CALL DictionaryAddRef(HostDictionary* self) {
  RegistryEntry* entry = StateOf<RegistryEntry>(self);
  RecordCall(entry->problemList, "HostDictionary.AddRef = %d", entry->references + 1);
  return static_cast<uint32_t>(++entry->references);
}
uint32_t PLUGIN_CALL DictionaryRelease(HostDictionary* self) {
  RegistryEntry* entry = StateOf<RegistryEntry>(self);
  RecordCall(entry->problemList, "HostDictionary.Release = %d", entry->references - 1);
  return CountRelease(&entry->references, entry->problemList, "HostDictionary");
}

// What PutValue was given, as the call record shows it.
std::string ValueText(uint32_t type, const void* value) {
  if (value == nullptr) return "null";
  if (type == kValueAnsiText) {
    return "\"" + Utf8FromAnsi(static_cast<const char*>(value)) + "\"";
  }
  if (type != kValueInt32) return MaskedAddress(value);
  int32_t number = 0;
  memcpy(&number, value, sizeof number);
  return std::to_string(number);
}

Status PLUGIN_CALL PutValue(HostDictionary* self, uint32_t type, const void* value,
                            uint32_t reserved, const char* key) {
  RegistryEntry* entry = StateOf<RegistryEntry>(self);
  RecordCall(entry->problemList, "HostDictionary.PutValue(%u, %s, %u, \"%s\")", type,
             ValueText(type, value).c_str(), reserved, key);
  if (reserved != 0) {
    ReportProblem(entry->problemList, "PutValue(\"%s\") was given %u where 0 is expected", key,
                  reserved);
  }
  RegistryEntry::Value stored = {key, type, std::string(), 0};
  if (type == kValueAnsiText) {
    stored.text = static_cast<const char*>(value);
  } else if (type == kValueInt32) {
    memcpy(&stored.number, value, sizeof stored.number);
  } else {
    ReportProblem(entry->problemList,
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

Status PLUGIN_CALL RegistryQueryInterface(HostRegistry* self, const Guid* iid, void** out) {
  RecordCall(StateOf<Registry>(self)->problemList, "HostRegistry.QueryInterface(%s) = 0x%08X",
             FormatGuid(*iid).c_str(), kHostNoInterface);
  return NoInterface(out);
}
uint32_t PLUGIN_CALL RegistryAddRef(HostRegistry* self) {
  Registry* registry = StateOf<Registry>(self);
  RecordCall(registry->problemList, "HostRegistry.AddRef = %d", registry->references + 1);
  return static_cast<uint32_t>(++registry->references);
}
uint32_t PLUGIN_CALL RegistryRelease(HostRegistry* self) {
  Registry* registry = StateOf<Registry>(self);
  RecordCall(registry->problemList, "HostRegistry.Release = %d", registry->references - 1);
  return CountRelease(&registry->references, registry->problemList, "HostRegistry");
}

Status PLUGIN_CALL AddEntry(HostRegistry* self, uint32_t value, const Guid* classId,
                            const Guid* interfaceId, HostDictionary** dictionary) {
  Registry* registry = StateOf<Registry>(self);
  RecordCall(registry->problemList, "HostRegistry.AddEntry(%u, %s, %s) = 0x%08X", value,
             FormatGuid(*classId).c_str(), FormatGuid(*interfaceId).c_str(), STATUS_OK);
  if (value != registry->expectedValue) {
    ReportProblem(registry->problemList, "AddEntry was given entry value %u; Register was given %u",
                  value, registry->expectedValue);
  }
  std::unique_ptr<RegistryEntry> entry(new RegistryEntry());
  entry->dictionary.iface.methods = DictionaryMethods();
  entry->dictionary.state = entry.get();
  entry->problemList = registry->problemList;
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

void InitRegistry(Registry* registry, ProblemList* problemList) {
  registry->object = {{RegistryMethods()}, registry};
  registry->problemList = problemList;
  registry->expectedValue = 0;
  registry->references = 0;
  registry->entries.clear();
}
