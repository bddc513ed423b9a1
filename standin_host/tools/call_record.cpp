#include "standin_host/tools/call_record.h"

#include <stdio.h>
#include <windows.h>

#include <string>
#include <vector>

#include "standin_host/hosting/session.h"
#include "standin_host/hosting/settings_file.h"
#include "standin_host/system/child_process.h"
#include "standin_host/system/console.h"
#include "standin_host/system/local_machine.h"

namespace {

// Every road starts from this file, so the dialog opens the same way.
const char kStartingFile[] =
    "[VELConfigData]\r\nenabled=1\r\nbitRate=64\r\nquality=0\r\npreprocessing=0\r\nversion=1\r\n";

// More than any plug-in of this kind asks for; the road stops at the first
// request that is never made.
constexpr uint32_t kMostRequests = 200;
constexpr DWORD kChildTimeLimitMs = 300000;

struct Road {
  std::string name;
  DialogEnding ending;
  uint32_t refuse;  // the allocation request to refuse, 0 for none
};

std::vector<Road> EndingRoads() {
  std::vector<Road> roads;
  for (DialogEnding ending : {DialogEnding::kOk, DialogEnding::kCancel, DialogEnding::kEnter,
                              DialogEnding::kEscape, DialogEnding::kCloseBox}) {
    roads.push_back(Road{std::string("the dialog ended with ") + EndingName(ending), ending, 0});
  }
  return roads;
}

// One road in a session of its own, its calls added to `calls`. Returns the
// session's exit code (session.h); `refused` says whether the allocation
// was refused, i.e. the road made that many requests.
int RunCallRecordRoad(const Options& options, const Road& road, CallRecord* calls, bool* refused) {
  calls->depth = 0;
  ProblemList outside = {0, 0, calls};
  RecordCall(&outside, "road: %s", road.name.c_str());
  if (!PlantSettingsFile(kStartingFile, &outside)) return kExitProblems;
  Options own = options;
  own.script = DialogScript{{}, road.ending, std::wstring()};
  own.failAllocation = road.refuse;
  Session session = {};
  int status = OpenSession(own, &session);
  if (status != kExitClean) return status;
  session.host.problemList.calls = calls;
  RunRoad(&session);
  *refused = session.host.allocator.refusedAt != 0;
  status = FinishSession(&session);
  calls->depth = 0;
  RecordCall(&outside, "end: exit %d", status);
  return status;
}

bool ReadLines(const std::wstring& path, std::vector<std::string>* lines) {
  FILE* file = _wfopen(path.c_str(), L"rb");
  if (file == nullptr) return false;
  std::string line;
  for (int c = fgetc(file); c != EOF; c = fgetc(file)) {
    if (c != '\n') {
      line += static_cast<char>(c);
      continue;
    }
    lines->push_back(line);
    line.clear();
  }
  if (!line.empty()) lines->push_back(line);
  fclose(file);
  return true;
}

std::wstring TemporaryCallRecordPath(int number) {
  return TempFolder() + L"standin-ledger-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
         std::to_wstring(number) + L".txt";
}

std::string Outcome(const ChildRun& run) {
  if (!run.started) return "could not be started";
  if (run.timedOut) return "did not finish in time";
  char text[48];
  snprintf(text, sizeof text,
           run.exitCode >= 0xC0000000u ? "crashed (0x%08lX)" : "ended with exit %lu", run.exitCode);
  return text;
}

// The record of `plugin`, made by a child process; false, with the reason
// printed, when none could be made. A child that crashed leaves the roads
// before the crash, which are compared like any other.
bool MakeCallRecord(const std::wstring& plugin, const Options& options, int number,
                    std::vector<std::string>* lines) {
  std::wstring path = TemporaryCallRecordPath(number);
  std::wstring command = Quoted(OwnProgramPath()) + L" --ledger " + Quoted(path) +
                         (options.heapGiven && options.plainHeap ? L" --heap plain " : L" ") +
                         Quoted(plugin);
  ChildRun run = RunChild(command, kChildTimeLimitMs);
  std::string name = Utf8FromWide(plugin.c_str());
  bool read = run.started && ReadLines(path, lines);
  DeleteFileW(path.c_str());
  if (run.started && !run.timedOut && run.exitCode == kExitClean && read) return true;
  // A plug-in that misbehaved or crashed still has the record up to there.
  PrintError("standin_host: the ledger road on %s %s:\n%s", name.c_str(), Outcome(run).c_str(),
             run.output.c_str());
  bool loaded = run.exitCode != kExitNotPlugin && run.exitCode != kExitUsage;
  return read && loaded && !lines->empty();
}

}  // namespace

int WriteCallRecord(const Options& options) {
  std::string target = Utf8FromWide(options.callRecordPath.c_str());
  FILE* file = _wfopen(options.callRecordPath.c_str(), L"wb");
  if (file == nullptr) {
    PrintError("standin_host: cannot write the ledger to %s\n", target.c_str());
    return kExitUsage;
  }
  CallRecord calls = {{}, 0, file};
  std::vector<Road> roads = EndingRoads();
  int worst = kExitClean;
  SetReportQuiet(true);
  for (size_t i = 0; i < roads.size(); ++i) {
    bool refused = false;
    int status = RunCallRecordRoad(options, roads[i], &calls, &refused);
    if (status == kExitNotPlugin) {
      worst = status;
      break;
    }
    if (status != kExitClean && status != kExitHostCausedFailure) worst = kExitProblems;
    // After the endings, one road for each request until one is never made.
    bool refusing = roads[i].refuse != 0;
    if (i + 1 == roads.size() && (!refusing || refused) && roads[i].refuse < kMostRequests) {
      uint32_t next = roads[i].refuse + 1;
      roads.push_back(
          Road{"allocation request " + std::to_string(next) + " refused, the dialog cancelled",
               DialogEnding::kCancel, next});
    }
  }
  SetReportQuiet(false);
  bool written = !ferror(file);
  if (fclose(file) != 0 || !written) {
    PrintError("standin_host: cannot write the ledger to %s\n", target.c_str());
    return kExitUsage;
  }
  Print("Ledger of %zu roads, %zu lines: %s\n", roads.size(), calls.lines.size(), target.c_str());
  return worst;
}

int CompareCallRecords(const Options& options) {
  const std::wstring* files[2] = {&options.pluginPath, &options.otherPluginPath};
  std::vector<std::string> callRecords[2];
  for (int i = 0; i < 2; ++i) {
    if (!MakeCallRecord(*files[i], options, i + 1, &callRecords[i])) return kExitUsage;
  }
  std::string names[2] = {Utf8FromWide(files[0]->c_str()), Utf8FromWide(files[1]->c_str())};
  size_t longest =
      callRecords[0].size() > callRecords[1].size() ? callRecords[0].size() : callRecords[1].size();
  for (size_t line = 0; line < longest; ++line) {
    const char* shown[2];
    for (int i = 0; i < 2; ++i) {
      shown[i] =
          line < callRecords[i].size() ? callRecords[i][line].c_str() : "(the ledger ends here)";
    }
    if (line < callRecords[0].size() && line < callRecords[1].size() &&
        callRecords[0][line] == callRecords[1][line]) {
      continue;
    }
    Print("The ledgers differ at line %zu:\n  %s: %s\n  %s: %s\n", line + 1, names[0].c_str(),
          shown[0], names[1].c_str(), shown[1]);
    return kExitProblems;
  }
  Print("The ledgers are the same: %zu lines, %s and %s\n", longest, names[0].c_str(),
        names[1].c_str());
  return kExitClean;
}
