#include "standin_host/validator/check_module.h"

#include "standin_host/console.h"
#include "standin_host/validator/check_support.h"

namespace {

constexpr int kRoads = 20;

// The road's dialogs are cancelled as soon as they are shown: these checks
// are about the module, not the dialog.
DialogScript CancelWhenReady() { return DialogScript{{}, DialogEnding::kCancel, std::wstring()}; }

// With the first copy loaded; its own problem when the copy does not load.
bool CopyLoads(const std::wstring& path, Ledger* ledger) {
  HMODULE module = LoadLibraryW(path.c_str());
  if (module == nullptr) {
    ReportProblem(ledger,
                  "expected a copy under another file name to load beside the first; loading "
                  "%s failed with error %lu",
                  Utf8FromWide(path.c_str()).c_str(), GetLastError());
    return false;
  }
  FreeLibrary(module);
  return true;
}

}  // namespace

bool CheckFile(const Options& options) {
  Ledger ledger = {0, 0};
  const wchar_t* path = options.pluginPath.c_str();
  std::string reason;
  if (!CheckPluginFile(path, &reason)) {
    ReportProblem(&ledger, "expected a 32-bit Windows DLL (PE32, i386); %s", reason.c_str());
    return false;
  }
  HMODULE module = LoadLibraryW(path);
  if (module == nullptr) {
    ReportProblem(&ledger, "expected the DLL to load; LoadLibrary failed with error %lu",
                  GetLastError());
    return false;
  }
  PluginExports exports;
  if (!BindExports(module, &exports, &reason)) {
    ReportProblem(&ledger, "expected the five exports by name and by ordinal 1 to 5; %s",
                  reason.c_str());
  }
  FreeLibrary(module);
  return ledger.problems == 0;
}

bool CheckRepeatedLoad(const Options& options) {
  Ledger ledger = {0, 0};
  DialogScript script = CancelWhenReady();
  for (int road = 1; road <= kRoads && ledger.problems == 0; ++road) {
    // The first road is reported in full; the rest only if they go wrong.
    SetReportQuiet(road > 1);
    Session session = {};
    if (!BeginSession(options, &script, &session, &ledger)) break;
    RunRoad(&session);
    if (EndSession(&session, &ledger) != kExitClean) {
      ReportProblem(&ledger, "expected %d clean roads in one process; road %d was not", kRoads,
                    road);
    }
  }
  SetReportQuiet(false);
  if (ledger.problems == 0) Print("%d roads loaded, run and unloaded cleanly\n", kRoads);
  return ledger.problems == 0;
}

bool CheckSecondCopy(const Options& options) {
  Ledger ledger = {0, 0};
  Options copy = options;
  copy.pluginPath = PluginCopyPath(options.pluginPath, 1);
  if (!CopyFileW(options.pluginPath.c_str(), copy.pluginPath.c_str(), FALSE)) {
    ReportProblem(&ledger, "the validator could not copy the plug-in to %s (error %lu)",
                  Utf8FromWide(copy.pluginPath.c_str()).c_str(), GetLastError());
    return false;
  }
  DialogScript script = CancelWhenReady();
  Session first = {};
  Session second = {};
  if (BeginSession(options, &script, &first, &ledger)) {
    if (CopyLoads(copy.pluginPath, &ledger) && BeginSession(copy, &script, &second, &ledger)) {
      if (first.plugin == second.plugin) {
        ReportProblem(&ledger, "expected the copy to load as a module of its own; it did not");
      }
      RunRoad(&first);
      RunRoad(&second);
      EndSession(&second, &ledger);
    }
    EndSession(&first, &ledger);
  }
  DeleteFileW(copy.pluginPath.c_str());
  return ledger.problems == 0;
}
