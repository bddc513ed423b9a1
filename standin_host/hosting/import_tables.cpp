#include "standin_host/hosting/import_tables.h"

namespace {

void Write(DWORD* slot, FARPROC value) {
  DWORD was = 0;
  if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &was)) return;
  *slot = reinterpret_cast<DWORD>(value);
  VirtualProtect(slot, sizeof *slot, was, &was);
}

// `names` null: the slots alone say which function each holds.
void RewriteTable(BYTE* base, const IMAGE_THUNK_DATA32* names, IMAGE_THUNK_DATA32* slots,
                  SlotReplacement replacement) {
  for (; slots->u1.Function != 0; ++slots) {
    const char* name = nullptr;
    if (names != nullptr && !IMAGE_SNAP_BY_ORDINAL32(names->u1.Ordinal)) {
      const auto* byName =
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      name = reinterpret_cast<const char*>(byName->Name);
    }
    FARPROC value = replacement(name, slots->u1.Function);
    if (value != nullptr) Write(&slots->u1.Function, value);
    if (names != nullptr) ++names;
  }
}

const IMAGE_DATA_DIRECTORY& Directory(BYTE* base, int which) {
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
  return nt->OptionalHeader.DataDirectory[which];
}

// The loader has filled these slots: what they hold says what they are.
void RewriteImports(BYTE* base, SlotReplacement replacement) {
  const IMAGE_DATA_DIRECTORY& directory = Directory(base, IMAGE_DIRECTORY_ENTRY_IMPORT);
  if (directory.VirtualAddress == 0) return;
  auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
  for (; entry->Name != 0; ++entry) {
    RewriteTable(base, nullptr, reinterpret_cast<IMAGE_THUNK_DATA32*>(base + entry->FirstThunk),
                 replacement);
  }
}

// Until first called, a delay-loaded slot holds the module's own stub, so
// the names say what it is for. Old linkers wrote addresses, not offsets.
void RewriteDelayImports(BYTE* base, SlotReplacement replacement) {
  const IMAGE_DATA_DIRECTORY& directory = Directory(base, IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT);
  if (directory.VirtualAddress == 0) return;
  auto* entry = reinterpret_cast<IMAGE_DELAYLOAD_DESCRIPTOR*>(base + directory.VirtualAddress);
  for (; entry->DllNameRVA != 0; ++entry) {
    DWORD shift = entry->Attributes.RvaBased ? 0 : reinterpret_cast<DWORD>(base);
    RewriteTable(base,
                 reinterpret_cast<IMAGE_THUNK_DATA32*>(base + entry->ImportNameTableRVA - shift),
                 reinterpret_cast<IMAGE_THUNK_DATA32*>(base + entry->ImportAddressTableRVA - shift),
                 replacement);
  }
}

}  // namespace

void RewriteImportSlots(HMODULE module, SlotReplacement replacement) {
  BYTE* base = reinterpret_cast<BYTE*>(module);
  RewriteImports(base, replacement);
  RewriteDelayImports(base, replacement);
}
