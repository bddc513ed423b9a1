// The stand-in host: loads a plug-in and drives it from the outside, as the
// authoring host does, reporting what it sees. The command line decides what
// runs: the host's road once, the benchmarks, seeded random user sessions,
// the validator or one of its checks, or the call record. See session.h,
// random_sessions.h, validator.h, checks.h and call_record.h.
#include "standin_host/command_line.h"
#include "standin_host/hosting/crash_report.h"
#include "standin_host/hosting/run_folder.h"
#include "standin_host/hosting/services/page_heap.h"
#include "standin_host/hosting/session.h"
#include "standin_host/hosting/settings_file.h"
#include "standin_host/hosting/settings_redirect.h"
#include "standin_host/random_user/random_sessions.h"
#include "standin_host/system/console.h"
#include "standin_host/system/progress.h"
#include "standin_host/tools/bench.h"
#include "standin_host/tools/call_record.h"
#include "standin_host/validator/checks.h"
#include "standin_host/validator/validator.h"

namespace {

// Every road that plants settings files or judges the plug-in binds its
// settings calls to private files; the host's plain road and the
// benchmarks use the real file, as a host does.
bool Redirects(const Options& options) {
  return options.validate || !options.check.empty() || options.randomSessions > 0 ||
         !options.callRecordPath.empty() || options.compareCallRecords;
}

int Run(const Options& options) {
  if (options.validate) return RunValidator(options);
  if (!options.check.empty()) return RunCheck(options);
  if (options.compareCallRecords) return CompareCallRecords(options);
  if (!options.callRecordPath.empty()) return WriteCallRecord(options);
  Session session = {};
  int status = OpenSession(options, &session);
  if (status != kExitClean) return status;
  if (options.openRuns > 0 || options.cycles > 0) {
    if (options.openRuns > 0) MeasureDialogOpening(&session, options.openRuns);
    if (options.cycles > 0) RunCycles(&session, options.cycles);
  } else if (options.randomSessions > 0) {
    bool judged = RunRandomSessions(&session, options);
    int status = FinishSession(&session);
    return status == kExitClean && !judged ? kExitNotJudged : status;
  } else {
    RunRoad(&session);
  }
  return FinishSession(&session);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  ReportCrashesAsProblems(DescribeHeapAddress);
  Options options;
  std::string error;
  if (!ParseOptions(argc, argv, &options, &error)) {
    PrintError("standin_host: %s\n%s", error.c_str(), kUsage);
    return kExitUsage;
  }
  UseHeap(options.plainHeap ? HeapKind::kPlain : HeapKind::kPage);
  EnableProgressSteps(options.progress);
  if (Redirects(options)) {
    if (!UseRunFolder(&error)) {
      Print("CANNOT VALIDATE HERE: %s; nothing was run\n", error.c_str());
      return kExitUsage;
    }
    // The validator's own process loads no plug-in and puts the person's file
    // back; its checks' processes watch every open of that file.
    std::vector<std::wstring> watched;
    if (!options.validate) watched = RealSettingsFiles();
    if (!RedirectSettingsInto(RunFolder(), watched, kRealFileOpened, &error)) {
      Print("CANNOT VALIDATE HERE: %s; nothing was run\n", error.c_str());
      RemoveRunFolder();
      return kExitUsage;
    }
  }
  int status = Run(options);
  RemoveRunFolder();
  return status;
}
