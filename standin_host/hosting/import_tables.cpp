#include "standin_host/hosting/import_tables.h"

#include <stdio.h>

namespace {

bool Write(DWORD* slot, FARPROC value) {
  DWORD was = 0;
  if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &was)) return false;
  *slot = reinterpret_cast<DWORD>(value);
  VirtualProtect(slot, sizeof *slot, was, &was);
  return *slot == reinterpret_cast<DWORD>(value);
}

const char* NameAt(BYTE* base, const IMAGE_THUNK_DATA32* names) {
  if (names == nullptr || IMAGE_SNAP_BY_ORDINAL32(names->u1.Ordinal)) return nullptr;
  const auto* byName =
      reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
  return reinterpret_cast<const char*>(byName->Name);
}

void Failed(SlotRewrite* result, const char* module, const char* name, DWORD error) {
  if (!result->failure.empty()) return;
  char text[200];
  snprintf(text, sizeof text, "the import slot of %s!%s (Windows error %lu)", module,
           name != nullptr ? name : "(by ordinal)", error);
  result->failure = text;
}

// `names` null: the slots alone say which function each holds. `delayed`:
// the slots hold the module's own stubs until first called.
void RewriteTable(BYTE* base, const char* module, const IMAGE_THUNK_DATA32* names,
                  IMAGE_THUNK_DATA32* slots, bool delayed, SlotReplacement replacement,
                  SlotRewrite* result) {
  for (; slots->u1.Function != 0; ++slots) {
    const char* name = NameAt(base, names);
    bool unfilled = names != nullptr && !delayed && slots->u1.Function == names->u1.AddressOfData;
    if (unfilled) ++result->unfilled;
    FARPROC value = replacement(delayed || unfilled ? name : nullptr, slots->u1.Function);
    if (value != nullptr) {
      if (Write(&slots->u1.Function, value)) {
        ++result->rewritten;
      } else {
        Failed(result, module, name, GetLastError());
      }
    }
    if (names != nullptr) ++names;
  }
}

const IMAGE_DATA_DIRECTORY& Directory(BYTE* base, int which) {
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
  return nt->OptionalHeader.DataDirectory[which];
}

// Filled slots say what they hold; the lookup table names an unfilled one.
void RewriteImports(BYTE* base, SlotReplacement replacement, SlotRewrite* result) {
  const IMAGE_DATA_DIRECTORY& directory = Directory(base, IMAGE_DIRECTORY_ENTRY_IMPORT);
  if (directory.VirtualAddress == 0) return;
  auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
  for (; entry->Name != 0; ++entry) {
    const auto* names =
        entry->OriginalFirstThunk != 0
            ? reinterpret_cast<const IMAGE_THUNK_DATA32*>(base + entry->OriginalFirstThunk)
            : nullptr;
    RewriteTable(base, reinterpret_cast<const char*>(base + entry->Name), names,
                 reinterpret_cast<IMAGE_THUNK_DATA32*>(base + entry->FirstThunk), false,
                 replacement, result);
  }
}

// Until first called, a delay-loaded slot holds the module's own stub, so
// the names say what it is for. Old linkers wrote addresses, not offsets.
void RewriteDelayImports(BYTE* base, SlotReplacement replacement, SlotRewrite* result) {
  const IMAGE_DATA_DIRECTORY& directory = Directory(base, IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT);
  if (directory.VirtualAddress == 0) return;
  auto* entry = reinterpret_cast<IMAGE_DELAYLOAD_DESCRIPTOR*>(base + directory.VirtualAddress);
  for (; entry->DllNameRVA != 0; ++entry) {
    DWORD shift = entry->Attributes.RvaBased ? 0 : reinterpret_cast<DWORD>(base);
    RewriteTable(base, reinterpret_cast<const char*>(base + entry->DllNameRVA - shift),
                 reinterpret_cast<IMAGE_THUNK_DATA32*>(base + entry->ImportNameTableRVA - shift),
                 reinterpret_cast<IMAGE_THUNK_DATA32*>(base + entry->ImportAddressTableRVA - shift),
                 true, replacement, result);
  }
}

}  // namespace

SlotRewrite RewriteImportSlots(HMODULE module, SlotReplacement replacement) {
  SlotRewrite result = {0, 0, std::string()};
  BYTE* base = reinterpret_cast<BYTE*>(module);
  RewriteImports(base, replacement, &result);
  RewriteDelayImports(base, replacement, &result);
  return result;
}
