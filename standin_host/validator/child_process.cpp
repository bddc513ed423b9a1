#include "standin_host/validator/child_process.h"

#include <string.h>

#include "standin_host/local_machine.h"
#include "standin_host/progress.h"

namespace {

// How often the parent looks at what the child has written.
constexpr DWORD kPollMs = 250;

// The child's output as the parent has read it so far, through a handle of
// its own: the child's inherited handle shares one file position between
// both processes, so the parent never moves it.
struct OutputWatch {
  HANDLE reader;
  std::string text;
  size_t scanned;  // lines before this offset have been looked at for steps
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

// Reads what the child wrote since the last call; true when there was any.
bool ReadNewOutput(OutputWatch* watch) {
  char buffer[65536];
  DWORD read = 0;
  size_t before = watch->text.size();
  while (ReadFile(watch->reader, buffer, sizeof buffer, &read, nullptr) && read > 0) {
    watch->text.append(buffer, read);
  }
  for (;;) {
    size_t end = watch->text.find('\n', watch->scanned);
    if (end == std::string::npos) break;
    size_t prefix = strlen(kProgressStepPrefix);
    if (watch->text.compare(watch->scanned, prefix, kProgressStepPrefix) == 0) {
      size_t start = watch->scanned + prefix;
      size_t length = end - start;
      if (length > 0 && watch->text[end - 1] == '\r') --length;
      watch->lastStep = watch->text.substr(start, length);
    }
    watch->scanned = end + 1;
  }
  return watch->text.size() > before;
}

// Waits for the child's end while it keeps writing; false when it wrote
// nothing for `noProgressLimitMs`.
bool WaitWhileProgressing(HANDLE process, OutputWatch* watch, DWORD noProgressLimitMs) {
  DWORD lastProgress = GetTickCount();
  for (;;) {
    DWORD waited = WaitForSingleObject(process, kPollMs);
    if (ReadNewOutput(watch)) lastProgress = GetTickCount();
    if (waited == WAIT_OBJECT_0) return true;
    if (GetTickCount() - lastProgress >= noProgressLimitMs) return false;
  }
}

// One job for every child of the run, closed only when this process ends:
// a validator killed outright takes its checks down with it.
HANDLE RunJob() {
  static HANDLE job = [] {
    HANDLE created = CreateJobObjectW(nullptr, nullptr);
    if (created == nullptr) return created;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    return created;
  }();
  return job;
}

}  // namespace

ChildRun RunChild(const std::wstring& commandLine, DWORD noProgressLimitMs) {
  ChildRun run = {false, false, 0, std::string(), std::string()};
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  OutputWatch watch = {INVALID_HANDLE_VALUE, std::string(), 0, std::string()};
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
  PROCESS_INFORMATION process = {};
  std::wstring writable = commandLine;
  HANDLE job = RunJob();
  run.started = CreateProcessW(nullptr, &writable[0], nullptr, nullptr, TRUE,
                               DETACHED_PROCESS | CREATE_SUSPENDED, nullptr, nullptr, &startup,
                               &process) != FALSE;
  if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
  if (run.started) {
    if (job != nullptr) AssignProcessToJobObject(job, process.hProcess);
    ResumeThread(process.hThread);
    if (!WaitWhileProgressing(process.hProcess, &watch, noProgressLimitMs)) {
      run.timedOut = true;
      TerminateProcess(process.hProcess, 1);
      WaitForSingleObject(process.hProcess, 10000);
    }
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  // Processes a check started (a holder of the settings file, say) go with it.
  EndChildProcesses();
  ReadNewOutput(&watch);
  run.output = watch.text;
  run.lastStep = watch.lastStep;
  CloseHandle(watch.reader);
  CloseHandle(output);
  return run;
}

void EndChildProcesses() {
  if (RunJob() != nullptr) TerminateJobObject(RunJob(), 1);
}

std::string WithoutSteps(const std::string& output) {
  std::string kept;
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    end = end == std::string::npos ? output.size() : end + 1;
    if (output.compare(start, strlen(kProgressStepPrefix), kProgressStepPrefix) != 0) {
      kept.append(output, start, end - start);
    }
    start = end;
  }
  return kept;
}

std::wstring OwnProgramPath() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path, length);
}

std::wstring Quoted(const std::wstring& argument) { return L"\"" + argument + L"\""; }
