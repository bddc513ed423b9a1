#include "standin_host/validator/settings_guard.h"

#include <stdio.h>
#include <windows.h>

#include "standin_host/console.h"
#include "standin_host/local_machine.h"
#include "standin_host/settings_file.h"
#include "standin_host/validator/child_process.h"

namespace {

const char kBackupTitle[] = "VELCNFG.INI backup 2";
// A child's handles close when it ends, but those of the processes it
// started may take a moment longer to let go of the file.
constexpr int kPutBackTries = 50;
constexpr DWORD kPutBackPauseMs = 100;
// How long a second run waits for the first to say who it is.
constexpr int kHolderTries = 20;
constexpr DWORD kExitInterrupted = 2;

struct Backup {
  std::wstring file;  // the settings file it came from, as the platform resolved it
  FileState saved;    // the user's file (or the fact that there is none)
  DWORD attributes;
};

// The guard's state: one run per process. `section` is held around every
// change to the settings file; an interruption takes it for good.
struct Guard {
  CRITICAL_SECTION section;
  HANDLE runMutex;
  bool backedUp;
  Backup backup;
};
Guard g_guard = {};

// The folder the variable names, made if missing; "" when that fails.
std::wstring OwnFolderUnder(const wchar_t* variable) {
  wchar_t base[MAX_PATH];
  DWORD length = GetEnvironmentVariableW(variable, base, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::wstring();
  std::wstring folder = std::wstring(base, length) + L"\\plugin-validator";
  CreateDirectoryW(folder.c_str(), nullptr);
  folder += L"\\" + ComputerName();
  CreateDirectoryW(folder.c_str(), nullptr);
  DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return std::wstring();
  }
  return folder + L"\\";
}

std::wstring BackupPath() { return GuardFolder() + L"settings-backup"; }
std::wstring PartialBackupPath() { return BackupPath() + L".new"; }
std::wstring PlantRecordPath() { return GuardFolder() + L"planted-files"; }
std::wstring LockRecordPath() { return GuardFolder() + L"run-in-progress"; }

std::string Where(const std::wstring& path) { return Utf8FromWide(path.c_str()); }

std::string WindowsError(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
      return "Windows error 5, access denied";
    case ERROR_SHARING_VIOLATION:
      return "Windows error 32, another program holds it open";
    default:
      return "Windows error " + std::to_string(error);
  }
}

std::string LocalTimeText(const FILETIME& time) {
  FILETIME local;
  SYSTEMTIME parts;
  FileTimeToLocalFileTime(&time, &local);
  FileTimeToSystemTime(&local, &parts);
  char text[32];
  snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", parts.wYear, parts.wMonth,
           parts.wDay, parts.wHour, parts.wMinute, parts.wSecond);
  return text;
}

// Replaces the file with `bytes`, flushed, or writes nothing at all.
bool WriteDurably(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_FLAG_WRITE_THROUGH, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size() && FlushFileBuffers(file);
  CloseHandle(file);
  if (!ok) DeleteFileW(path.c_str());
  return ok;
}

// ---- The lock: a named mutex, and a record of who holds it for the others.

std::wstring MutexName(const wchar_t* scope) {
  wchar_t user[257];
  DWORD length = 257;
  std::wstring name =
      L"plugin-validator-" + ComputerName() + L"-" + (GetUserNameW(user, &length) ? user : L"user");
  for (wchar_t& c : name) {
    if (c == L'\\') c = L'_';
  }
  return scope + name;
}

FILETIME ProcessStart(HANDLE process) {
  FILETIME created = {};
  FILETIME unused[3];
  GetProcessTimes(process, &created, &unused[0], &unused[1], &unused[2]);
  return created;
}

void WriteLockRecord() {
  FILETIME started = ProcessStart(GetCurrentProcess());
  char text[96];
  snprintf(text, sizeof text, "process %lu\r\ncreated %lu %lu\r\n", GetCurrentProcessId(),
           started.dwHighDateTime, started.dwLowDateTime);
  WriteDurably(LockRecordPath(), text);
}

// "process 1234, started 2026-12-08 09:39:48" once the holder has said who it
// is, and that process is still the one that started then.
bool DescribeHolder(std::string* holder) {
  FileState record = ReadFileState(LockRecordPath());
  unsigned long id = 0;
  FILETIME started = {};
  if (!record.exists || sscanf(record.bytes.c_str(), "process %lu\r\ncreated %lu %lu", &id,
                               &started.dwHighDateTime, &started.dwLowDateTime) != 3) {
    return false;
  }
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
  if (process == nullptr) return false;
  FILETIME created = ProcessStart(process);
  CloseHandle(process);
  if (CompareFileTime(&created, &started) != 0) return false;
  *holder = "process " + std::to_string(id) + ", started " + LocalTimeText(started);
  return true;
}

// ---- The backup and the record of planted files.

std::string BackupText(const Backup& backup) {
  char text[200];
  snprintf(text, sizeof text, "exists %d\r\nwritten %lu %lu\r\nattributes %lu\r\nsize %u\r\n\r\n",
           backup.saved.exists ? 1 : 0, backup.saved.written.dwHighDateTime,
           backup.saved.written.dwLowDateTime, backup.attributes,
           static_cast<unsigned>(backup.saved.bytes.size()));
  return std::string(kBackupTitle) + "\r\nfile " + Where(backup.file) + "\r\n" + text +
         backup.saved.bytes;
}

// False for anything but a whole backup.
bool ParseBackup(const std::string& bytes, Backup* backup) {
  size_t end = bytes.find("\r\n\r\n");
  if (end == std::string::npos) return false;
  std::string header = bytes.substr(0, end);
  int exists = 0;
  unsigned long high = 0;
  unsigned long low = 0;
  unsigned long attributes = 0;
  unsigned size = 0;
  char title[32];
  char file[1100];
  if (sscanf(header.c_str(),
             "%31[^\r]\r\nfile %1099[^\r]\r\nexists %d\r\nwritten %lu %lu\r\nattributes "
             "%lu\r\nsize %u",
             title, file, &exists, &high, &low, &attributes, &size) != 7 ||
      std::string(title) != kBackupTitle || bytes.size() - end - 4 != size) {
    return false;
  }
  backup->file = WideFromUtf8(file);
  backup->saved.exists = exists != 0;
  backup->saved.written = FILETIME{low, high};
  backup->saved.bytes = bytes.substr(end + 4);
  backup->attributes = attributes;
  return true;
}

bool Unchanged(const Backup& backup) {
  FileState now = ReadFileState(backup.file);
  if (!SameFile(now, backup.saved)) return false;
  return !now.exists || GetFileAttributesW(backup.file.c_str()) == backup.attributes;
}

bool PutBack(const Backup& backup, std::string* error) {
  for (int attempt = 0; attempt < kPutBackTries; ++attempt) {
    if (Unchanged(backup)) return true;
    RestoreSettingsFile(backup.file, backup.saved, backup.attributes);
    if (Unchanged(backup)) return true;
    Sleep(kPutBackPauseMs);
  }
  *error = "could not put the settings file " + Where(backup.file) + " back as it was (" +
           WindowsError(GetLastError()) + "); its copy is kept in " + Where(BackupPath()) +
           " and the next run puts it back";
  return false;
}

// Put back files are written through already; this also covers a file a
// check's own process put back before it ended.
void FlushSettingsFile(const Backup& backup) {
  HANDLE file = CreateFileW(backup.file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  FlushFileBuffers(file);
  CloseHandle(file);
}

void RemoveBackup() {
  DeleteFileW(BackupPath().c_str());
  DeleteFileW(PartialBackupPath().c_str());
  DeleteFileW(PlantRecordPath().c_str());
}

bool HasLine(const std::string& record, const std::string& line) {
  return ("\r\n" + record).find("\r\n" + line + "\r\n") != std::string::npos;
}

// Whether the file is as a check of the stopped run left it: a file it
// planted, missing where it removed it, or the user's own bytes rewritten.
bool LeftByTheRun(const Backup& backup, const FileState& now) {
  std::string record = ReadFileState(PlantRecordPath()).bytes;
  if (!now.exists) return HasLine(record, kRemovalRecordLine);
  if (backup.saved.exists && now.bytes == backup.saved.bytes) return true;
  return HasLine(record, PlantRecordLine(now.bytes, &now.written)) ||
         HasLine(record, PlantRecordLine(now.bytes, nullptr));
}

// The user's copy as a settings file of its own, named for now, with its
// own last-write time; "" when there was no file to keep.
std::wstring KeepAside(const Backup& backup) {
  if (!backup.saved.exists) return std::wstring();
  std::wstring path = GuardFolder() + L"VELCNFG.INI.kept-" + TimeForFileName();
  return RestoreSettingsFile(path, backup.saved, FILE_ATTRIBUTE_NORMAL) ? path : std::wstring();
}

bool Settle(const Backup& left, std::string* message) {
  const std::string interrupted =
      "An earlier run was interrupted: the settings file " + Where(left.file);
  FileState now = ReadFileState(left.file);
  if (!Unchanged(left) && !LeftByTheRun(left, now)) {
    std::wstring kept = KeepAside(left);
    if (left.saved.exists && kept.empty()) {
      *message = interrupted +
                 " was changed since, and its earlier copy could not be kept aside; " +
                 "the backup stays in " + Where(BackupPath());
      return false;
    }
    RemoveBackup();
    *message = interrupted + " was changed since (" +
               (now.exists ? DescribeFileSettings(now.bytes) : "removed") +
               "), so it is left as it is; " +
               (kept.empty() ? "before that run there was no such file"
                             : "the copy that run kept is in " + Where(kept));
    return true;
  }
  std::string error;
  if (!PutBack(left, &error)) {
    *message = error;
    return false;
  }
  RemoveBackup();
  *message = interrupted + " was put back from the backup it left (" +
             (left.saved.exists ? DescribeFileSettings(left.saved.bytes) : "no file") + ")";
  return true;
}

// ---- Interruptions.

[[noreturn]] void Interrupt(const char* how) {
  EnterCriticalSection(&g_guard.section);  // never left: nothing else touches the file now
  EndChildProcesses();
  std::string error;
  bool back = !g_guard.backedUp || PutBack(g_guard.backup, &error);
  EndChildProcesses();  // one that started meanwhile
  if (g_guard.backedUp && back) RemoveBackup();
  DeleteFileW(LockRecordPath().c_str());
  if (!g_guard.backedUp) {
    Print("\nInterrupted (%s) before any check ran\n", how);
  } else if (back) {
    Print(
        "\nInterrupted (%s): your settings file %s was put back as it was, and no check is "
        "left running\n",
        how, Where(g_guard.backup.file).c_str());
  } else {
    Print("\nInterrupted (%s): %s\n", how, error.c_str());
  }
  // Not ExitProcess: the main thread may hold the runtime's locks.
  TerminateProcess(GetCurrentProcess(), kExitInterrupted);
  for (;;) Sleep(INFINITE);
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
      Interrupt("Ctrl+C");
    case CTRL_BREAK_EVENT:
      Interrupt("Ctrl+Break");
    case CTRL_CLOSE_EVENT:
      Interrupt("the console window was closed");
    default:
      Interrupt("the session is ending");
  }
}

// A program that uses windows hears of a logoff or shutdown through a
// top-level window of its own, not through the console's handler.
LRESULT CALLBACK SessionWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_QUERYENDSESSION) return TRUE;
  if (message == WM_ENDSESSION && wParam) Interrupt("the session is ending");
  return DefWindowProcW(window, message, wParam, lParam);
}

DWORD WINAPI WatchSessionEnd(void*) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = SessionWindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"PluginValidatorSessionEnd";
  RegisterClassW(&windowClass);
  HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                                nullptr, windowClass.hInstance, nullptr);
  if (window == nullptr) return 0;
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}

void GuardAgainstInterruptions() {
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  HANDLE thread = CreateThread(nullptr, 0, WatchSessionEnd, nullptr, 0, nullptr);
  if (thread != nullptr) CloseHandle(thread);
}

// Held by the file's every change.
class Section {
 public:
  Section() { EnterCriticalSection(&g_guard.section); }
  ~Section() { LeaveCriticalSection(&g_guard.section); }
  Section(const Section&) = delete;
  Section& operator=(const Section&) = delete;
};

}  // namespace

std::wstring GuardFolder() {
  static const std::wstring folder = [] {
    std::wstring own = OwnFolderUnder(L"LOCALAPPDATA");
    if (own.empty()) own = OwnFolderUnder(L"TEMP");
    return own.empty() ? TempFolder() : own;
  }();
  return folder;
}

bool LockRun(std::string* otherRun) {
  InitializeCriticalSection(&g_guard.section);
  // Global: one run per user even across the sessions of one computer; a
  // user who may not make global names still gets one per session.
  g_guard.runMutex = CreateMutexW(nullptr, FALSE, MutexName(L"Global\\").c_str());
  if (g_guard.runMutex == nullptr) {
    g_guard.runMutex = CreateMutexW(nullptr, FALSE, MutexName(L"Local\\").c_str());
  }
  // An abandoned mutex is a run that died holding it: recovery deals with
  // what it left.
  if (g_guard.runMutex != nullptr && WaitForSingleObject(g_guard.runMutex, 0) == WAIT_TIMEOUT) {
    std::string holder = "its process is not known yet";
    for (int attempt = 0; attempt < kHolderTries && !DescribeHolder(&holder); ++attempt) {
      Sleep(100);
    }
    *otherRun = "ANOTHER RUN IN PROGRESS (" + holder +
                "): this run changed nothing and wrote no report; run it again when that one "
                "has finished";
    CloseHandle(g_guard.runMutex);
    g_guard.runMutex = nullptr;
    return false;
  }
  WriteLockRecord();
  GuardAgainstInterruptions();
  return true;
}

bool RecoverInterruptedRun(std::string* message) {
  Section section;
  message->clear();
  FileState whole = ReadFileState(BackupPath());
  FileState partial = ReadFileState(PartialBackupPath());
  Backup left;
  if (whole.exists) {
    if (!ParseBackup(whole.bytes, &left)) {
      *message = "the backup file " + Where(BackupPath()) +
                 " an interrupted run left cannot be read; it is kept";
      return false;
    }
  } else if (!partial.exists || !ParseBackup(partial.bytes, &left)) {
    RemoveBackup();  // nothing was planted before the backup was whole
    return true;
  }
  // A whole copy stopped short of its move is the only one there is.
  if (!whole.exists) {
    MoveFileExW(PartialBackupPath().c_str(), BackupPath().c_str(), MOVEFILE_WRITE_THROUGH);
  }
  return Settle(left, message);
}

bool BackUpSettingsFile(std::string* error) {
  Section section;
  Backup& backup = g_guard.backup;
  backup.file = ResolvedSettingsFilePath();
  backup.attributes = GetFileAttributesW(backup.file.c_str());
  backup.saved = ReadFileState(backup.file);
  if (!backup.saved.exists && backup.attributes != INVALID_FILE_ATTRIBUTES) {
    *error = "the settings file " + Where(backup.file) +
             " is there but cannot be read, so it cannot be kept safe";
    return false;
  }
  // Written beside the backup and then moved over it, so that a backup file
  // is always a whole one.
  bool written = WriteDurably(PartialBackupPath(), BackupText(backup)) &&
                 MoveFileExW(PartialBackupPath().c_str(), BackupPath().c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) &&
                 WriteDurably(PlantRecordPath(), std::string());
  if (!written) {
    *error = "cannot write the backup of the settings file to " + Where(BackupPath()) + " (" +
             WindowsError(GetLastError()) + ")";
    RemoveBackup();
    return false;
  }
  SetEnvironmentVariableW(kPlantRecordVariable, PlantRecordPath().c_str());
  g_guard.backedUp = true;
  return true;
}

bool SettingsFileWritable(std::string* reason) {
  Section section;
  const Backup& backup = g_guard.backup;
  const std::wstring& path = backup.file;
  if (backup.saved.exists) SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!backup.saved.exists) NoteInPlantRecord(PlantRecordLine(std::string(), nullptr));
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, 0, nullptr);
  DWORD error = GetLastError();
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  std::string ignored;
  PutBack(backup, &ignored);
  if (file != INVALID_HANDLE_VALUE) return true;
  *reason = "This user may not write the settings file " + Where(path) + " (" +
            WindowsError(error) + "), so no check could run. ";
  if (error == ERROR_SHARING_VIOLATION) {
    *reason += "Close the program that holds it and run the validator again.";
  } else {
    *reason +=
        "A host run the same way could not save its settings either. Run the validator as the "
        "host is run: as a standard user with User Account Control on, Windows keeps a copy of "
        "the file for each user.";
  }
  return false;
}

void BeforeEachCheck() { Section section; }

bool PutBackSettingsFile(std::string* error) {
  Section section;
  return PutBack(g_guard.backup, error);
}

void EndGuard(bool putBack) {
  Section section;
  if (g_guard.backedUp && putBack) {
    FlushSettingsFile(g_guard.backup);
    RemoveBackup();
  }
  g_guard.backedUp = false;
  SetEnvironmentVariableW(kPlantRecordVariable, nullptr);
  DeleteFileW(LockRecordPath().c_str());
  if (g_guard.runMutex != nullptr) {
    ReleaseMutex(g_guard.runMutex);
    CloseHandle(g_guard.runMutex);
    g_guard.runMutex = nullptr;
  }
}
