#include "standin_host/validator/check_conditions.h"

#include "standin_host/hosting/plugin_copy.h"
#include "standin_host/system/child_process.h"
#include "standin_host/system/console.h"
#include "standin_host/validator/check_support.h"

namespace {

// Shipped next to the program; its resources have no string 1.
const wchar_t kNoNameModule[] = L"standin_host_noname.dll";
constexpr uint32_t kMostAllocations = 200;

int g_workerThreads = 0;

DWORD WINAPI IdleWorker(void*) { return 0; }

void StartAndEndWorkerThread() {
  HANDLE thread = CreateThread(nullptr, 0, IdleWorker, nullptr, 0, nullptr);
  if (thread == nullptr) return;
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  ++g_workerThreads;
}

std::wstring ProgramFolder() {
  std::wstring path = OwnProgramPath();
  return path.substr(0, path.find_last_of(L"\\/") + 1);
}

// The name of the one registration entry, "" when it has none.
std::string RegisteredName(Session* session) {
  std::string name;
  for (const auto& entry : session->host.registry.entries) {
    const std::string* text = DisplayName(*entry);
    if (text != nullptr) name = *text;
  }
  return name;
}

}  // namespace

bool CheckWorkerThreads(const Options& options) {
  ProblemList problemList = {0, 0};
  const char start[] =
      "[VELConfigData]\r\nenabled=1\r\nbitRate=64\r\nquality=0\r\npreprocessing=0\r\nversion=1\r\n";
  const char saved[] =
      "[VELConfigData]\r\nenabled=1\r\nbitRate=112\r\nquality=1\r\npreprocessing=0\r\nversion="
      "1\r\n";
  if (!PlantSettingsFile(start, &problemList)) return false;
  DialogScript script = {{{DialogField::kBitRate, 112}, {DialogField::kQuality, 1}},
                         DialogEnding::kOk,
                         std::wstring()};
  Session session = {};
  session.beforePluginCall = StartAndEndWorkerThread;
  if (!BeginSession(options, &script, &session, &problemList)) return false;
  RunRoad(&session);
  FileState after = ReadFileState(SettingsFilePath());
  if (after.bytes != saved) {
    ReportProblem(&problemList,
                  "expected OK to store %s with threads coming and going; the file holds %s",
                  DescribeFileSettings(saved).c_str(), DescribeFileSettings(after.bytes).c_str());
  }
  EndSession(&session, &problemList);
  Print("%d worker threads started and ended between calls into the plug-in\n", g_workerThreads);
  return problemList.problems == 0;
}

bool CheckForeignResourceScope(const Options& options) {
  ProblemList problemList = {0, 0};
  std::wstring path = ProgramFolder() + kNoNameModule;
  std::string failure;
  HMODULE foreign = LoadPluginCopy(path, 0, &problemList, &failure);
  char probe[64];
  if (foreign == nullptr || LoadStringA(foreign, 1, probe, sizeof probe) != 0) {
    ReportProblem(&problemList,
                  "the validator's module without a command name is missing or wrong: %s%s%s",
                  Utf8FromWide(path.c_str()).c_str(), failure.empty() ? "" : ": ", failure.c_str());
    if (foreign != nullptr) FreePluginCopy(foreign, 0, &problemList);
    return false;
  }
  DialogScript none = {{}, DialogEnding::kCancel, std::wstring()};
  Session session = {};
  if (BeginSession(options, &none, &session, &problemList)) {
    RegisterAll(&session);
    std::string ownName = RegisteredName(&session);
    ForgetLastRun(&session.host);
    Print("Registering again; the resource scope hands back %s\n",
          Utf8FromWide(kNoNameModule).c_str());
    session.host.callback.scopeYields = foreign;
    RegisterAll(&session);
    std::string name = RegisteredName(&session);
    session.host.callback.scopeYields = session.plugin;
    if (ownName.empty() || name != ownName) {
      ReportProblem(&problemList,
                    "expected the registration entry to carry the command's name (\"%s\") when "
                    "the resource scope hands back a module without it; it carries \"%s\"",
                    Utf8FromAnsi(ownName.c_str()).c_str(), Utf8FromAnsi(name.c_str()).c_str());
    }
    EndSession(&session, &problemList);
  }
  FreePluginCopy(foreign, 0, &problemList);
  return problemList.problems == 0;
}

bool CheckAllocationRefused(const Options& options) {
  ProblemList problemList = {0, 0};
  DialogScript script = {{}, DialogEnding::kCancel, std::wstring()};
  uint32_t request = 1;
  for (; request <= kMostAllocations; ++request) {
    Options refusing = options;
    refusing.failAllocation = request;
    Session session = {};
    // Only what goes wrong is worth the log's space.
    SetReportQuiet(true);
    if (!BeginSession(refusing, &script, &session, &problemList)) break;
    RunRoad(&session);
    bool refused = session.host.allocator.refusedAt != 0;
    int status = EndSession(&session, &problemList);
    SetReportQuiet(false);
    if (status != kExitClean && status != kExitHostCausedFailure) {
      ReportProblem(&problemList,
                    "with allocation request %u refused, expected a clean failure; see above",
                    request);
      break;
    }
    Print("Allocation request %u refused: balanced (exit %d)\n", request, status);
    if (!refused) break;  // the road made fewer requests: all were tried
  }
  SetReportQuiet(false);
  Print("%u allocation requests of the road refused in turn\n", request - 1);
  return problemList.problems == 0;
}
