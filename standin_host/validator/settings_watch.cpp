#include "standin_host/validator/settings_watch.h"

#include <windows.h>

#include <vector>

#include "standin_host/hosting/run_folder.h"
#include "standin_host/hosting/settings_file.h"
#include "standin_host/system/child_process.h"
#include "standin_host/system/console.h"

namespace {

constexpr DWORD kExitInterrupted = 2;

// A file held open without sharing cannot be read, but its attributes and
// time still show.
struct Look {
  std::wstring path;
  DWORD attributes;  // INVALID_FILE_ATTRIBUTES: no such file
  FILETIME written;
  FileState content;  // exists false when it could not be read
};

// What the person's files were at the last look that found no plug-in's change.
std::vector<Look> g_known;

Look LookAt(const std::wstring& path) {
  Look look = {path, INVALID_FILE_ATTRIBUTES, FILETIME{}, ReadFileState(path)};
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
    look.attributes = data.dwFileAttributes;
    look.written = data.ftLastWriteTime;
  }
  return look;
}

bool Same(const Look& a, const Look& b) {
  bool bothRead = a.content.exists && b.content.exists;
  return a.attributes == b.attributes && CompareFileTime(&a.written, &b.written) == 0 &&
         (!bothRead || a.content.bytes == b.content.bytes);
}

std::string Where(const std::wstring& path) { return Utf8FromWide(path.c_str()); }

std::string Change(const Look& before, const Look& now) {
  if (before.attributes != now.attributes && before.content.exists == now.content.exists &&
      before.content.bytes == now.content.bytes) {
    return "its attributes changed";
  }
  return FileChange(before.content, now.content);
}

// Whether the section now holds what a plug-in copy of this run wrote to
// its private file.
bool HoldsPrivateSettings(const Look& before, const Look& now) {
  std::string settings = DescribeFileSettings(now.content.bytes);
  if (!now.content.exists || settings == DescribeFileSettings(before.content.bytes)) return false;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((RunFolder() + L"\\*VELCNFG.INI").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  bool same = false;
  do {
    FileState copy = ReadFileState(RunFolder() + L"\\" + found.cFileName);
    same = same || DescribeFileSettings(copy.bytes) == settings;
  } while (!same && FindNextFileW(search, &found));
  FindClose(search);
  return same;
}

// A file that was there but could not be read has no copy to put back.
std::string PutBack(const Look& before) {
  bool copied = before.attributes == INVALID_FILE_ATTRIBUTES || before.content.exists;
  if (copied && RestoreSettingsFile(before.path, before.content, before.attributes)) {
    return "; it was put back as it was before the check";
  }
  return "; it could not be put back (Windows error " + std::to_string(GetLastError()) + ")";
}

// `output`: the check's, or null between checks, when no plug-in is loaded.
WatchVerdict LookAgain(const std::string* output) {
  WatchVerdict verdict = {WatchVerdict::kClean, std::string(), {}};
  for (Look& known : g_known) {
    Look now = LookAt(known.path);
    if (Same(known, now)) continue;
    std::string change = Change(known, now);
    bool plugin = output != nullptr && (output->find(kUnredirectedRoad) != std::string::npos ||
                                        HoldsPrivateSettings(known, now));
    if (plugin) {
      verdict = WatchVerdict{WatchVerdict::kPluginChanged,
                             "the plug-in reached the real settings file " + Where(known.path) +
                                 " " + kUnredirectedRoad + " (" + change + ")" + PutBack(known),
                             {}};
      continue;
    }
    verdict.line = "another program changed your settings file " + Where(known.path) + " (" +
                   change + "); it is left as it is and no check is judged by it";
    known = now;
  }
  return verdict;
}

volatile LONG g_interrupted = 0;

[[noreturn]] void Interrupt(const char* how) {
  InterlockedExchange(&g_interrupted, 1);
  EndChildProcesses();
  RemoveRunFolder();
  EndChildProcesses();  // one that started meanwhile
  Print(
      "\nInterrupted (%s): no check is left running, and your settings file %s was never "
      "written by the validator\n",
      how, Where(WatchedFile()).c_str());
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

}  // namespace

void StartWatch() {
  for (const std::wstring& path : RealSettingsFiles()) g_known.push_back(LookAt(path));
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  HANDLE thread = CreateThread(nullptr, 0, WatchSessionEnd, nullptr, 0, nullptr);
  if (thread != nullptr) CloseHandle(thread);
}

std::wstring WatchedFile() { return WindowsSettingsFilePath(); }

// One check at a time: a change before a check starts is another program's.
std::vector<std::string> g_notesBefore;

int WatchCheckStarting() {
  WatchVerdict before = LookAgain(nullptr);
  g_notesBefore.clear();
  if (!before.line.empty()) g_notesBefore.push_back(before.line);
  return 0;
}

WatchVerdict WatchCheckEnded(int /*ticket*/, const std::string& output, bool /*otherProcesses*/) {
  WatchVerdict after = LookAgain(&output);
  std::vector<std::string> notes = g_notesBefore;
  if (after.kind != WatchVerdict::kPluginChanged && !after.line.empty()) {
    notes.push_back(after.line);
    after.line.clear();
  }
  after.notes = notes;
  return after;
}

void HoldIfInterrupted() {
  if (InterlockedCompareExchange(&g_interrupted, 0, 0) == 0) return;
  for (;;) Sleep(INFINITE);
}
