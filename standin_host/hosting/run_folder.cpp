#include "standin_host/hosting/run_folder.h"

#include <stdio.h>
#include <windows.h>

#include "standin_host/system/local_machine.h"

namespace {

const wchar_t kVariable[] = L"STANDIN_HOST_RUN_FOLDER";
const wchar_t kPrefix[] = L"plugin-validator-run-";
// The child processes of a run that just ended may hold their files a moment.
constexpr int kRemoveTries = 50;
constexpr DWORD kRemovePauseMs = 100;

struct RunFolderState {
  std::wstring folder;
  bool own;
};
RunFolderState g_run;

unsigned long long StartTime(HANDLE process) {
  FILETIME times[4] = {};
  GetProcessTimes(process, &times[0], &times[1], &times[2], &times[3]);
  return (static_cast<unsigned long long>(times[0].dwHighDateTime) << 32) | times[0].dwLowDateTime;
}

std::wstring FolderName(DWORD process, unsigned long long started) {
  wchar_t text[64];
  swprintf(text, 64, L"%ls%lu-%016llx", kPrefix, process, started);
  return text;
}

// Alive: the process with that id still runs and started at that time. A
// process this user may not even look at is taken for alive.
bool OwnerAlive(const wchar_t* name) {
  unsigned long process = 0;
  unsigned long long started = 0;
  if (swscanf(name + wcslen(kPrefix), L"%lu-%llx", &process, &started) != 2) return true;
  HANDLE handle = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process);
  if (handle == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
  bool same = StartTime(handle) == started;
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(handle, &code);
  CloseHandle(handle);
  return same && code == STILL_ACTIVE;
}

// The files go first; the folder itself only when all are gone.
bool RemoveFolder(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::wstring path = folder + L"\\" + found.cFileName;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(path.c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  return RemoveDirectoryW(folder.c_str()) != FALSE;
}

void RemoveDeadRuns() {
  WIN32_FIND_DATAW found;
  std::wstring temp = TempFolder();
  HANDLE search = FindFirstFileW((temp + kPrefix + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !OwnerAlive(found.cFileName)) {
      RemoveFolder(temp + found.cFileName);
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

}  // namespace

bool UseRunFolder(std::string* error) {
  wchar_t inherited[MAX_PATH];
  DWORD length = GetEnvironmentVariableW(kVariable, inherited, MAX_PATH);
  if (length > 0 && length < MAX_PATH) {
    g_run = RunFolderState{std::wstring(inherited, length), false};
    return true;
  }
  RemoveDeadRuns();
  std::wstring folder =
      TempFolder() + FolderName(GetCurrentProcessId(), StartTime(GetCurrentProcess()));
  if (!CreateDirectoryW(folder.c_str(), nullptr)) {
    *error = "cannot make a private folder under the temporary folder (Windows error " +
             std::to_string(GetLastError()) + ")";
    return false;
  }
  g_run = RunFolderState{folder, true};
  SetEnvironmentVariableW(kVariable, folder.c_str());
  return true;
}

std::wstring RunFolder() { return g_run.folder; }

void RemoveRunFolder() {
  if (!g_run.own) return;
  for (int attempt = 0; attempt < kRemoveTries && !RemoveFolder(g_run.folder); ++attempt) {
    Sleep(kRemovePauseMs);
  }
}
