#include "standin_host/system/child_process.h"

#include <string.h>

#include <vector>

#include "standin_host/system/local_machine.h"
#include "standin_host/system/progress.h"

namespace {

// How often the parent looks at what the child has written.
constexpr DWORD kPollMs = 250;
// How long a check's leftovers may take to go once their job is ended.
constexpr int kEmptyJobTries = 400;
// What the parent keeps of a child's output, its steps left out: the start,
// where the problems are, and the end, where a crash report is. A child that
// writes without end costs the parent no more than this.
constexpr size_t kKeptHeadBytes = 1 << 20;
constexpr size_t kKeptTailBytes = 64 << 10;

// The child's output as the parent has read it so far, through a handle of
// its own: the child's inherited handle shares one file position between
// both processes, so the parent never moves it.
struct OutputWatch {
  HANDLE reader;
  std::string line;  // the line being written, until its end arrives
  std::string head;
  std::string tail;  // what came after the head, its last kKeptTailBytes
  size_t leftOut;    // bytes dropped from the front of the tail
  std::string lastStep;
};

// A file rather than a pipe: a child that hangs cannot block on a full pipe,
// and what it wrote before dying is kept.
HANDLE CreateOutputFile(SECURITY_ATTRIBUTES* inherit, HANDLE* reader) {
  wchar_t path[MAX_PATH];
  if (GetTempFileNameW(TempFolder().c_str(), L"shv", 0, path) == 0) return INVALID_HANDLE_VALUE;
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE output = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, share, inherit, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (output == INVALID_HANDLE_VALUE) return output;
  *reader = CreateFileW(path, GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
  if (*reader != INVALID_HANDLE_VALUE) return output;
  CloseHandle(output);
  return INVALID_HANDLE_VALUE;
}

void Keep(OutputWatch* watch, const char* text, size_t length) {
  size_t intoHead = watch->head.size() < kKeptHeadBytes ? kKeptHeadBytes - watch->head.size() : 0;
  if (intoHead > length) intoHead = length;
  watch->head.append(text, intoHead);
  watch->tail.append(text + intoHead, length - intoHead);
  if (watch->tail.size() > 2 * kKeptTailBytes) {
    size_t drop = watch->tail.size() - kKeptTailBytes;
    size_t lineEnd = watch->tail.find('\n', drop);  // the tail starts at a line
    if (lineEnd != std::string::npos) drop = lineEnd + 1;
    watch->tail.erase(0, drop);
    watch->leftOut += drop;
  }
}

// A whole line: a step is remembered, anything else kept. True for a step.
bool TakeLine(OutputWatch* watch) {
  const std::string& line = watch->line;
  size_t prefix = strlen(kProgressStepPrefix);
  bool step = line.compare(0, prefix, kProgressStepPrefix) == 0;
  if (step) {
    size_t length = line.size() - 1 - prefix;  // without the '\n'
    if (length > 0 && line[prefix + length - 1] == '\r') --length;
    watch->lastStep = line.substr(prefix, length);
  } else {
    Keep(watch, line.data(), line.size());
  }
  watch->line.clear();
  return step;
}

// Cuts `bytes` into lines; a line longer than any step cannot be one and is
// kept as it comes. True when a new step was among them.
bool TakeBytes(OutputWatch* watch, const char* bytes, size_t count) {
  bool stepped = false;
  while (count > 0) {
    const char* end = static_cast<const char*>(memchr(bytes, '\n', count));
    size_t length = end != nullptr ? static_cast<size_t>(end - bytes) + 1 : count;
    watch->line.append(bytes, length);
    bytes += length;
    count -= length;
    if (end != nullptr) {
      stepped = TakeLine(watch) || stepped;
    } else if (watch->line.size() > kKeptTailBytes) {
      Keep(watch, watch->line.data(), watch->line.size());
      watch->line.clear();
    }
  }
  return stepped;
}

// Reads what the child wrote since the last call; true when it holds a new
// step. Other output is no progress: a check that repeats a complaint in a
// loop is as stuck as a silent one.
bool ReadNewOutput(OutputWatch* watch) {
  char buffer[65536];
  DWORD read = 0;
  bool stepped = false;
  while (ReadFile(watch->reader, buffer, sizeof buffer, &read, nullptr) && read > 0) {
    stepped = TakeBytes(watch, buffer, read) || stepped;
  }
  return stepped;
}

std::string KeptOutput(OutputWatch* watch) {
  Keep(watch, watch->line.data(), watch->line.size());  // an unfinished last line
  if (watch->leftOut == 0) return watch->head + watch->tail;
  return watch->head + "\n[... " + std::to_string(watch->leftOut) +
         " bytes of the check's output left out ...]\n" + watch->tail;
}

// Waits for the child's end while it keeps taking steps; false when it took
// none for `noProgressLimitMs`.
// Wine starts a helper process (its explorer.exe) for a desktop when a
// window first appears there, in the job of the process that made it: that
// one is the platform's, not started by the plug-in. Each one seen is noted.
void NoteDesktopHelpers(HANDLE job, std::vector<DWORD>* helpers) {
  struct {
    JOBOBJECT_BASIC_PROCESS_ID_LIST list;
    ULONG_PTR more[63];
  } ids = {};
  ids.list.NumberOfAssignedProcesses = 64;
  if (job == nullptr ||
      !QueryInformationJobObject(job, JobObjectBasicProcessIdList, &ids, sizeof ids, nullptr)) {
    return;
  }
  for (DWORD i = 0; i < ids.list.NumberOfProcessIdsInList && i < 64; ++i) {
    DWORD id = static_cast<DWORD>(ids.list.ProcessIdList[i]);
    bool known = false;
    for (DWORD helper : *helpers) known = known || helper == id;
    HANDLE process = known ? nullptr : OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (process == nullptr) continue;
    wchar_t image[MAX_PATH];
    DWORD length = MAX_PATH;
    if (QueryFullProcessImageNameW(process, 0, image, &length) && length >= 13 &&
        lstrcmpiW(image + length - 13, L"\\explorer.exe") == 0) {
      helpers->push_back(id);
    }
    CloseHandle(process);
  }
}

bool WaitWhileProgressing(HANDLE process, HANDLE job, std::vector<DWORD>* helpers,
                          OutputWatch* watch, DWORD noProgressLimitMs) {
  DWORD lastProgress = GetTickCount();
  for (;;) {
    DWORD waited = WaitForSingleObject(process, kPollMs);
    NoteDesktopHelpers(job, helpers);
    if (ReadNewOutput(watch)) lastProgress = GetTickCount();
    if (waited == WAIT_OBJECT_0) return true;
    if (GetTickCount() - lastProgress >= noProgressLimitMs) return false;
  }
}

HANDLE KillOnCloseJob(DWORD moreLimits) {
  HANDLE created = CreateJobObjectW(nullptr, nullptr);
  if (created == nullptr) return created;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | moreLimits;
  SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  return created;
}

// This process joins a job of its own, so that every process it starts is in
// that job from the moment it exists: a validator killed between starting a
// check and putting it in the check's job still takes the check down, where
// it would otherwise stay suspended for ever. Where this process may not join
// (a job of its caller's that takes no job inside it), the checks' jobs alone
// do, with that moment open.
void JoinOwnJob() {
  static HANDLE job = [] {
    HANDLE created = KillOnCloseJob(JOB_OBJECT_LIMIT_BREAKAWAY_OK);
    if (created != nullptr && !AssignProcessToJobObject(created, GetCurrentProcess())) {
      CloseHandle(created);
      created = nullptr;
    }
    return created;
  }();
  (void)job;
}

// The jobs of the checks still running, each check and whatever it started
// in a kill-on-close job of its own: a validator killed outright takes its
// checks down with it, a check's leftovers end with that check alone, and
// checks side by side never end each other's processes.
struct LiveJobs {
  CRITICAL_SECTION lock;
  std::vector<HANDLE> jobs;
};
LiveJobs& Live() {
  static LiveJobs* live = [] {
    auto* made = new LiveJobs();
    InitializeCriticalSection(&made->lock);
    return made;
  }();
  return *live;
}

HANDLE NewCheckJob() {
  JoinOwnJob();
  HANDLE job = KillOnCloseJob(0);
  if (job == nullptr) return job;
  EnterCriticalSection(&Live().lock);
  Live().jobs.push_back(job);
  LeaveCriticalSection(&Live().lock);
  return job;
}

// Ends a job's processes; true once none is left. A process still being
// started when its job is ended can outlive the ending (Wine ends only
// processes that already run a thread), so whoever waits ends it again.
bool EndJobProcesses(HANDLE job, JOBOBJECT_BASIC_ACCOUNTING_INFORMATION* counts) {
  TerminateJobObject(job, 1);
  return !QueryInformationJobObject(job, JobObjectBasicAccountingInformation, counts,
                                    sizeof *counts, nullptr) ||
         counts->ActiveProcesses == 0;
}

// Ends what is left of a check and waits until its job is empty, so that a
// process the plug-in started cannot write after the check is judged.
void EndCheckJob(HANDLE job, size_t desktopHelpers, ChildRun* run) {
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION counts = {};
  for (int wait = 0; wait < kEmptyJobTries && !EndJobProcesses(job, &counts); ++wait) {
    Sleep(kPollMs / 10);
  }
  run->otherProcesses = counts.TotalProcesses > 1 + desktopHelpers;
  run->leftRunning = counts.ActiveProcesses != 0;
  EnterCriticalSection(&Live().lock);
  std::vector<HANDLE>& jobs = Live().jobs;
  for (auto at = jobs.begin(); at != jobs.end(); ++at) {
    if (*at == job) {
      jobs.erase(at);
      break;
    }
  }
  LeaveCriticalSection(&Live().lock);
  CloseHandle(job);
}

// Why no child may run, once one could not be put in its job. Written once,
// under the lock, before g_refusedSet says so: a reader that sees the flag
// sees the whole text, and no later refusal changes it.
std::string g_refused;
volatile LONG g_refusedSet = 0;
const std::string kNotRefused;

void Refuse(DWORD error) {
  EnterCriticalSection(&Live().lock);
  if (g_refusedSet == 0) {
    g_refused = "a check's process could not be put in the validator's job (Windows error " +
                std::to_string(error) +
                "), so the validator could not make sure it ends with the run; this is what a "
                "program that runs its children in a job of its own does: start the validator "
                "from a console window or by double-clicking it instead";
    InterlockedExchange(&g_refusedSet, 1);
  }
  LeaveCriticalSection(&Live().lock);
}

void EndSuspended(const PROCESS_INFORMATION& process) {
  TerminateProcess(process.hProcess, 1);
  WaitForSingleObject(process.hProcess, 10000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

// The child joins its check's job before it runs an instruction. A validator
// that is itself in a job which takes no job inside it (Windows before 8)
// starts the child again outside that job; where that job lets no child out
// either, the child never runs and neither does any after it.
bool StartInJob(std::wstring commandLine, HANDLE job, STARTUPINFOW* startup,
                PROCESS_INFORMATION* process) {
  if (job == nullptr) {
    Refuse(GetLastError());
    return false;
  }
  DWORD error = 0;
  for (DWORD breakaway : {DWORD{0}, DWORD{CREATE_BREAKAWAY_FROM_JOB}}) {
    DWORD flags = DETACHED_PROCESS | CREATE_SUSPENDED | breakaway;
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                        startup, process)) {
      if (breakaway == 0) return false;
      error = GetLastError();
      break;
    }
    if (AssignProcessToJobObject(job, process->hProcess)) return true;
    error = GetLastError();
    EndSuspended(*process);
  }
  Refuse(error);
  return false;
}

}  // namespace

ChildRun RunChild(const std::wstring& commandLine, DWORD noProgressLimitMs,
                  const std::wstring& desktop) {
  ChildRun run = {false, false, 0, false, false, std::string(), std::string(), ChildrenRefused()};
  if (!run.refused.empty()) return run;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  OutputWatch watch = {INVALID_HANDLE_VALUE, std::string(), std::string(), std::string(), 0,
                       std::string()};
  HANDLE output = CreateOutputFile(&inherit, &watch.reader);
  HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr);
  if (output == INVALID_HANDLE_VALUE) return run;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = output;
  startup.hStdError = output;
  std::wstring desktopName = desktop;
  if (!desktopName.empty()) startup.lpDesktop = &desktopName[0];
  PROCESS_INFORMATION process = {};
  HANDLE job = NewCheckJob();
  std::vector<DWORD> desktopHelpers;
  run.started = StartInJob(commandLine, job, &startup, &process);
  run.refused = ChildrenRefused();
  if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
  if (run.started) {
    ResumeThread(process.hThread);
    if (!WaitWhileProgressing(process.hProcess, job, &desktopHelpers, &watch, noProgressLimitMs)) {
      run.timedOut = true;
      TerminateProcess(process.hProcess, 1);
      WaitForSingleObject(process.hProcess, 10000);
    }
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  // Processes a check started (a holder of the settings file, say) go with it.
  if (job != nullptr) EndCheckJob(job, desktopHelpers.size(), &run);
  ReadNewOutput(&watch);
  run.output = KeptOutput(&watch);
  run.lastStep = watch.lastStep;
  CloseHandle(watch.reader);
  CloseHandle(output);
  return run;
}

const std::string& ChildrenRefused() {
  return InterlockedCompareExchange(&g_refusedSet, 0, 0) != 0 ? g_refused : kNotRefused;
}

bool EndChildProcesses() {
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION counts = {};
  bool allEnded = true;
  EnterCriticalSection(&Live().lock);
  for (HANDLE job : Live().jobs) allEnded = EndJobProcesses(job, &counts) && allEnded;
  LeaveCriticalSection(&Live().lock);
  return allEnded;
}

bool EndChildProcessesWithin(unsigned long waitMs) {
  DWORD started = GetTickCount();
  while (!EndChildProcesses()) {
    if (GetTickCount() - started >= waitMs) return false;
    Sleep(kPollMs / 10);
  }
  return true;
}

std::wstring OwnProgramPath() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path, length);
}

std::wstring Quoted(const std::wstring& argument) { return L"\"" + argument + L"\""; }
