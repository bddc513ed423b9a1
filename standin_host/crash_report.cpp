#include "standin_host/crash_report.h"

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

LONG WINAPI ReportCrash(EXCEPTION_POINTERS* exception) {
  const EXCEPTION_RECORD* record = exception->ExceptionRecord;
  PrintError(
      "PROBLEM: expected the plug-in to run without crashing; exception 0x%08lX at %p (%s)\n",
      record->ExceptionCode, record->ExceptionAddress, ModuleAt(record->ExceptionAddress).c_str());
  ExitProcess(record->ExceptionCode);
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

void ReportCrashesAsProblems() {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  SetUnhandledExceptionFilter(ReportCrash);
}
