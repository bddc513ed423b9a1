#include "standin_host/crash_report.h"

#include <stdio.h>
#include <windows.h>

#include <string>

#include "standin_host/console.h"

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

// For an access violation: what was touched, and what the host knows of it.
std::string AccessedMemory(const EXCEPTION_RECORD* record) {
  if (record->ExceptionCode != EXCEPTION_ACCESS_VIOLATION || record->NumberParameters < 2) {
    return std::string();
  }
  ULONG_PTR kind = record->ExceptionInformation[0];
  const void* address = reinterpret_cast<const void*>(record->ExceptionInformation[1]);
  char text[64];
  snprintf(text, sizeof text, ", a %s at %p",
           kind == 1 ? "write" : (kind == 8 ? "jump" : "read"), address);
  std::string known = g_describe != nullptr ? g_describe(address) : std::string();
  return text + (known.empty() ? std::string() : ", " + known);
}

LONG WINAPI ReportCrash(EXCEPTION_POINTERS* exception) {
  const EXCEPTION_RECORD* record = exception->ExceptionRecord;
  PrintError(
      "PROBLEM: expected the plug-in to run without crashing; exception 0x%08lX at %p (%s)%s\n",
      record->ExceptionCode, record->ExceptionAddress, ModuleAt(record->ExceptionAddress).c_str(),
      AccessedMemory(record).c_str());
  ExitProcess(record->ExceptionCode);
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

void ReportCrashesAsProblems(AddressDescriber describe) {
  g_describe = describe;
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  SetUnhandledExceptionFilter(ReportCrash);
}
