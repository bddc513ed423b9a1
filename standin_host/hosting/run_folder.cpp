#include "standin_host/hosting/run_folder.h"

#include <stdio.h>
#include <windows.h>

#include "standin_host/system/local_machine.h"

const wchar_t kSnapshotFileName[] = L"settings-snapshot.bin";

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
DeadRuns g_dead;

// False when the platform cannot say.
bool StartTime(HANDLE process, unsigned long long* started) {
  FILETIME times[4] = {};
  if (!GetProcessTimes(process, &times[0], &times[1], &times[2], &times[3])) return false;
  *started =
      (static_cast<unsigned long long>(times[0].dwHighDateTime) << 32) | times[0].dwLowDateTime;
  return true;
}

std::wstring FolderName(DWORD process, unsigned long long started) {
  wchar_t text[64];
  swprintf(text, 64, L"%ls%lu-%016llx", kPrefix, process, started);
  return text;
}

// Alive: the process with that id still runs and started at that time. A
// process this user may not even look at, or whose start time or end the
// platform will not tell, is taken for alive.
bool OwnerAlive(const wchar_t* name) {
  unsigned long process = 0;
  unsigned long long started = 0;
  if (swscanf(name + wcslen(kPrefix), L"%lu-%llx", &process, &started) != 2) return true;
  HANDLE handle = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process);
  if (handle == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
  unsigned long long itsStart = 0;
  DWORD code = STILL_ACTIVE;
  bool told = StartTime(handle, &itsStart) && GetExitCodeProcess(handle, &code);
  CloseHandle(handle);
  return !told || (itsStart == started && code == STILL_ACTIVE);
}

bool IsDots(const wchar_t* name) { return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0; }

// A link (junction, symbolic link, mount point) is removed itself, never
// entered: what it points to is not the run's.
bool RemoveEntry(const std::wstring& path, DWORD attributes);

// The files go first; the folder itself only when all are gone.
bool RemoveFolder(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (!IsDots(found.cFileName)) {
        RemoveEntry(folder + L"\\" + found.cFileName, found.dwFileAttributes);
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  return RemoveDirectoryW(folder.c_str()) != FALSE;
}

bool RemoveEntry(const std::wstring& path, DWORD attributes) {
  bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    return folder ? RemoveDirectoryW(path.c_str()) != FALSE : DeleteFileW(path.c_str()) != FALSE;
  }
  if (folder) return RemoveFolder(path);
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  return DeleteFileW(path.c_str()) != FALSE;
}

bool HoldsSnapshot(const std::wstring& folder) {
  return GetFileAttributesW((folder + L"\\" + kSnapshotFileName).c_str()) !=
         INVALID_FILE_ATTRIBUTES;
}

void RemoveDeadRuns() {
  WIN32_FIND_DATAW found;
  std::wstring temp = TempFolder();
  HANDLE search = FindFirstFileW((temp + kPrefix + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    std::wstring folder = temp + found.cFileName;
    bool link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || OwnerAlive(found.cFileName)) {
      continue;
    }
    if (!link && HoldsSnapshot(folder)) {
      g_dead.kept.push_back(folder);
    } else if (RemoveEntry(folder, found.dwFileAttributes)) {
      g_dead.removed.push_back(folder);
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
  unsigned long long started = 0;
  StartTime(GetCurrentProcess(), &started);
  std::wstring folder = TempFolder() + FolderName(GetCurrentProcessId(), started);
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

const DeadRuns& DeadRunsFound() { return g_dead; }

bool RemoveDeadRunFolder(const std::wstring& folder) { return RemoveFolder(folder); }
