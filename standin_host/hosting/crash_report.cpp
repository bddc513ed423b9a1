#include "standin_host/hosting/crash_report.h"

#include <stdio.h>
#include <windows.h>

#include <string>

#include "standin_host/hosting/fault_address.h"
#include "standin_host/system/console.h"

namespace {

std::string ModuleAt(const void* address) {
  HMODULE module = nullptr;
  wchar_t path[MAX_PATH];
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCWSTR>(address), &module) ||
      GetModuleFileNameW(module, path, MAX_PATH) == 0) {
    return "no module";
  }
  std::wstring name = path;
  return Utf8FromWide(name.substr(name.find_last_of(L"\\/") + 1).c_str());
}

AddressDescriber g_describe = nullptr;

// The memory a fault touched, as the platform reports it or, when it reports
// an illegal instruction instead, as the instruction addressed it.
bool FaultedMemory(const EXCEPTION_POINTERS* exception, const char** kind, const void** address) {
  const EXCEPTION_RECORD* record = exception->ExceptionRecord;
  if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2) {
    ULONG_PTR access = record->ExceptionInformation[0];
    *kind = access == 1 ? "write" : (access == 8 ? "jump" : "read");
    *address = reinterpret_cast<const void*>(record->ExceptionInformation[1]);
    return true;
  }
  MemoryOperand operand = {};
  if (record->ExceptionCode != EXCEPTION_ILLEGAL_INSTRUCTION ||
      !DecodeMemoryOperand(*exception->ContextRecord, &operand)) {
    return false;
  }
  *kind = operand.write ? "write" : "read";
  *address = operand.address;
  return true;
}

// What a memory fault touched, and what the host knows of it.
std::string AccessedMemory(const EXCEPTION_POINTERS* exception) {
  const char* kind = nullptr;
  const void* address = nullptr;
  if (!FaultedMemory(exception, &kind, &address)) return std::string();
  char text[64];
  snprintf(text, sizeof text, ", a %s at %p", kind, address);
  std::string known = g_describe != nullptr ? g_describe(address) : std::string();
  return text + (known.empty() ? std::string() : ", " + known);
}

LONG WINAPI ReportCrash(EXCEPTION_POINTERS* exception) {
  const EXCEPTION_RECORD* record = exception->ExceptionRecord;
  PrintError(
      "PROBLEM: expected the plug-in to run without crashing; exception 0x%08lX at %p (%s)%s\n",
      record->ExceptionCode, record->ExceptionAddress, ModuleAt(record->ExceptionAddress).c_str(),
      AccessedMemory(exception).c_str());
  // The line is written straight to the handle, so nothing is left to flush.
  // ExitProcess would run the crashed plug-in's unload code, which may crash
  // or hang again; the process ends here instead.
  TerminateProcess(GetCurrentProcess(), record->ExceptionCode);
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

void ReportCrashesAsProblems(AddressDescriber describe) {
  g_describe = describe;
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  SetUnhandledExceptionFilter(ReportCrash);
}
