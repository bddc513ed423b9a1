#include "standin_host/validator/check_support.h"

#include <stdarg.h>
#include <stdio.h>

#include "standin_host/hosting/run_folder.h"
#include "standin_host/system/console.h"
#include "standin_host/system/local_machine.h"

namespace {

bool StillLoaded(HMODULE module, const void* address) {
  HMODULE found = nullptr;
  return GetModuleHandleExW(
             GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
             static_cast<LPCWSTR>(address), &found) &&
         found == module;
}

}  // namespace

bool BeginSession(const Options& options, const DialogScript* script, Session* session,
                  ProblemList* problemList) {
  Options own = options;
  own.script = *script;
  int status = OpenSession(own, session);
  if (status != kExitClean) {
    ReportProblem(problemList,
                  "expected %s to load as a plug-in; it did not (exit %d; the log says why)",
                  Utf8FromWide(options.pluginPath.c_str()).c_str(), status);
    return false;
  }
  // OpenSession points the dialogs at its own copy of the script.
  session->host.dialogRunner.script = script;
  return true;
}

int EndSession(Session* session, ProblemList* problemList) {
  HMODULE plugin = session->plugin;
  const void* anExport = reinterpret_cast<const void*>(session->exports.canUnloadNow);
  int status = FinishSession(session);
  if (status == kExitProblems) problemList->problems += session->host.problemList.problems;
  if (StillLoaded(plugin, anExport)) {
    ReportProblem(problemList,
                  "expected the plug-in to leave the process when the host unloaded it; it is "
                  "still loaded (it holds a reference on itself)");
    if (status == kExitClean) status = kExitProblems;
  }
  return status;
}

void RunToolsWith(Session* session, const DialogScript* script) {
  session->host.dialogRunner.script = script;
  RunTools(session);
}

std::wstring PluginCopyPath(const std::wstring& original, int number) {
  size_t dot = original.rfind(L'.');
  std::wstring extension;
  if (dot != std::wstring::npos) extension = original.substr(dot);
  std::wstring folder = RunFolder().empty() ? TempFolder() : RunFolder() + L"\\";
  return folder + L"VALIDATOR-COPY-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
         std::to_wstring(number) + extension;
}

void Note(const char* format, ...) {
  char text[1024];
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  Print("NOTE: %s\n", text);
}
