#include "standin_host/hosting/plugin_file.h"

#include <stdio.h>

#include "standin_host/system/console.h"

namespace {

constexpr WORD kMachineI386 = 0x014C;
constexpr WORD kMachineAmd64 = 0x8664;
constexpr WORD kMagicPe32 = 0x010B;
constexpr WORD kMagicPe32Plus = 0x020B;

std::string Hex(unsigned value, int digits) {
  char text[16];
  snprintf(text, sizeof text, "0x%0*X", digits, value);
  return text;
}

// GetProcAddress's type says nothing; the export's real signature is ours to give.
template <typename Fn>
Fn ExportAs(FARPROC proc) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}

}  // namespace

bool CheckPluginFile(const wchar_t* path, std::string* reason) {
  HANDLE file =
      CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *reason = "cannot open the file (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  // The headers of any module fit well within its first 4 KiB.
  unsigned char bytes[4096] = {};
  DWORD size = 0;
  BOOL read = ReadFile(file, bytes, sizeof bytes, &size, nullptr);
  CloseHandle(file);
  if (!read) {
    *reason = "cannot read the file";
    return false;
  }
  IMAGE_DOS_HEADER dos = {};
  if (size >= sizeof dos) memcpy(&dos, bytes, sizeof dos);
  if (dos.e_magic != IMAGE_DOS_SIGNATURE) {
    *reason = "it is not a Windows module (no MZ header)";
    return false;
  }
  DWORD peOffset = static_cast<DWORD>(dos.e_lfanew);
  if (peOffset > size ||
      size - peOffset < sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER) + sizeof(WORD)) {
    *reason = "it is not a PE module (no PE header in the first 4 KiB)";
    return false;
  }
  IMAGE_NT_HEADERS32 nt = {};
  memcpy(&nt, bytes + peOffset, size - peOffset < sizeof nt ? size - peOffset : sizeof nt);
  if (nt.Signature != IMAGE_NT_SIGNATURE) {
    *reason = "it is not a PE module (an MZ file without a PE signature)";
    return false;
  }
  WORD machine = nt.FileHeader.Machine;
  WORD magic = nt.OptionalHeader.Magic;
  if (machine == kMachineAmd64 || magic == kMagicPe32Plus) {
    *reason = "it is a 64-bit module (PE32+, machine " + Hex(machine, 4) + ")";
    return false;
  }
  if (machine != kMachineI386) {
    *reason = "it is built for machine " + Hex(machine, 4) + ", not i386";
    return false;
  }
  if (magic != kMagicPe32) {
    *reason = "its optional header is not PE32 (magic " + Hex(magic, 4) + ")";
    return false;
  }
  if ((nt.FileHeader.Characteristics & IMAGE_FILE_DLL) == 0) {
    *reason = "it is a program, not a DLL";
    return false;
  }
  return true;
}

bool BindExports(HMODULE module, PluginExports* exports, std::string* reason) {
  struct ExportSlot {
    const char* name;
    WORD ordinal;
    FARPROC* target;
  };
  FARPROC found[5] = {};
  const ExportSlot slots[] = {
      {"DllCanUnloadNow", 1, &found[0]}, {"DllGetClassForm", 2, &found[1]},
      {"DllGetClassInfo", 3, &found[2]}, {"DllGetClassObject", 4, &found[3]},
      {"DllGetInterface", 5, &found[4]},
  };
  std::string missing;
  std::string misnumbered;
  Print("Exports:\n");
  for (const ExportSlot& slot : slots) {
    FARPROC byName = GetProcAddress(module, slot.name);
    FARPROC byOrdinal = GetProcAddress(module, MAKEINTRESOURCEA(slot.ordinal));
    if (byName == nullptr) {
      missing += missing.empty() ? slot.name : std::string(", ") + slot.name;
      continue;
    }
    if (byOrdinal != byName) {
      misnumbered += misnumbered.empty() ? "" : ", ";
      misnumbered += std::string(slot.name) + " is not ordinal " + std::to_string(slot.ordinal);
      continue;
    }
    *slot.target = byName;
    Print("  %-18s ordinal %u\n", slot.name, slot.ordinal);
  }
  if (!missing.empty()) {
    *reason = "it does not export " + missing;
    return false;
  }
  if (!misnumbered.empty()) {
    *reason = "its export ordinals are wrong: " + misnumbered;
    return false;
  }
  exports->canUnloadNow = ExportAs<DllCanUnloadNowFn>(found[0]);
  exports->getClassForm = ExportAs<DllGetClassFormFn>(found[1]);
  exports->getClassInfo = ExportAs<DllGetClassInfoFn>(found[2]);
  exports->getClassObject = ExportAs<DllGetClassObjectFn>(found[3]);
  exports->getInterface = ExportAs<DllGetInterfaceFn>(found[4]);
  return true;
}
