#include "standin_host/validator/child_process.h"

namespace {

std::string ReadWholeFile(HANDLE file) {
  std::string bytes;
  char buffer[65536];
  DWORD read = 0;
  SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) {
    bytes.append(buffer, read);
  }
  return bytes;
}

// A file rather than a pipe: a child that hangs cannot block on a full pipe,
// and what it wrote before dying is kept.
HANDLE CreateOutputFile(SECURITY_ATTRIBUTES* inherit) {
  wchar_t folder[MAX_PATH];
  wchar_t path[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  if (GetTempFileNameW(folder, L"shv", 0, path) == 0) return INVALID_HANDLE_VALUE;
  return CreateFileW(path, GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, inherit, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
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

ChildRun RunChild(const std::wstring& commandLine, DWORD timeLimitMs) {
  ChildRun run = {false, false, 0, std::string()};
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE output = CreateOutputFile(&inherit);
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
    if (WaitForSingleObject(process.hProcess, timeLimitMs) != WAIT_OBJECT_0) {
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
  run.output = ReadWholeFile(output);
  CloseHandle(output);
  return run;
}

void EndChildProcesses() {
  if (RunJob() != nullptr) TerminateJobObject(RunJob(), 1);
}

std::wstring OwnProgramPath() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path, length);
}

std::wstring Quoted(const std::wstring& argument) { return L"\"" + argument + L"\""; }
