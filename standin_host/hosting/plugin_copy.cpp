#include "standin_host/hosting/plugin_copy.h"

#include "standin_host/hosting/settings_file.h"
#include "standin_host/hosting/settings_redirect.h"
#include "standin_host/system/console.h"

namespace {

struct Around {
  std::wstring file;  // "" when this process does not redirect
  FileState before;
  SettingsCallCount count;
};

Around Before(int copy) {
  std::wstring file = BoundSettingsFile(copy);
  FileState state = {false, std::string(), FILETIME{}};
  if (!file.empty()) state = ReadFileState(file);
  return Around{file, state, CountSettingsCalls(copy)};
}

// The private file is the copy's alone, so any change is its own doing; so
// is a write that left the bytes as they were (a platform may skip it).
void JudgeAfter(const Around& around, int copy, const char* when, ProblemList* problemList) {
  if (around.file.empty()) return;
  FileState now = ReadFileState(around.file);
  bool wrote = CountSettingsCalls(copy).writes != around.count.writes;
  if (SameFile(around.before, now) && !wrote) return;
  std::string calls = SettingsCallsSince(copy, around.count.calls);
  std::string change =
      SameFile(around.before, now) ? "it was written" : FileChange(around.before, now);
  ReportProblem(problemList,
                "expected %s the plug-in to leave the settings file untouched; %s meanwhile, "
                "by %s",
                when, change.c_str(),
                calls.empty() ? "no settings call the host saw" : calls.c_str());
}

}  // namespace

HMODULE LoadPluginCopy(const std::wstring& path, int copy, ProblemList* problemList,
                       std::string* failure) {
  Around around = Before(copy);
  std::wstring fileName = path.substr(path.find_last_of(L"\\/") + 1);
  BeginBoundLoad(copy, &fileName);
  HMODULE module = LoadLibraryW(path.c_str());
  DWORD error = GetLastError();
  std::string unbound = EndBoundLoad(module);
  if (module == nullptr) {
    *failure = "LoadLibrary failed with error " + std::to_string(error);
    return nullptr;
  }
  if (!unbound.empty()) {
    FreeLibrary(module);
    *failure = "the host could not bind " + unbound;
    return nullptr;
  }
  JudgeAfter(around, copy, "loading", problemList);
  return module;
}

void FreePluginCopy(HMODULE module, int copy, ProblemList* problemList) {
  Around around = Before(copy);
  FreeLibrary(module);
  JudgeAfter(around, copy, "unloading", problemList);
  SettingsVerdict verdict = UnbindSettingsCalls(copy);
  if (!verdict.realOpen.empty()) {
    ReportProblem(problemList,
                  "expected the plug-in's settings calls to reach the host; it opened the real "
                  "settings file %s, %s (the host sent it to the private file instead)",
                  verdict.realOpen.c_str(), kUnredirectedRoad);
  }
  if (!verdict.wrongName.empty()) {
    ReportProblem(problemList,
                  "expected the plug-in to keep its settings in VELCNFG.INI in the Windows "
                  "folder; it used %s",
                  verdict.wrongName.c_str());
  }
}
