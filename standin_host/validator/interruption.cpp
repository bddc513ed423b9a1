#include "standin_host/validator/interruption.h"

#include <windows.h>

#include <string>

#include "standin_host/hosting/run_folder.h"
#include "standin_host/system/child_process.h"
#include "standin_host/system/console.h"
#include "standin_host/validator/settings_watch.h"

namespace {

constexpr DWORD kExitInterrupted = 2;
// How long a check's thread may take to hand over its output once its
// process has been ended: longer than the thread's own wait for the check's
// job to empty (RunChild), which a process still being started on a slow
// machine stretches; the look ends as soon as every record is in.
constexpr unsigned long kLastLookWaitMs = 15000;
// How long a process a check started may take to be ended once it runs.
constexpr unsigned long kLastProcessesWaitMs = 5000;

volatile LONG g_interrupted = 0;

[[noreturn]] void Interrupt(const char* how) {
  // Only the first interruption ends the run; a second waits for it.
  if (InterlockedExchange(&g_interrupted, 1) != 0) {
    for (;;) Sleep(INFINITE);
  }
  std::string seen = WatchLastLook(kLastLookWaitMs);
  // One a check started meanwhile, which the jobs would not take down with
  // this process if it were still being started.
  bool ended = EndChildProcessesWithin(kLastProcessesWaitMs);
  std::string file = Utf8FromWide(WatchedFile().c_str());
  std::string written =
      WatchWroteRealFile()
          ? "; the validator wrote your settings file only to put back the plug-in's changes"
          : ", and your settings file " + file + " was never written by the validator";
  Print("\nInterrupted (%s): %s%s\n%s", how,
        ended ? "no check is left running" : "a program a check started could not be ended",
        written.c_str(), seen.c_str());
  RemoveRunFolder();
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

void HandleInterruptions() {
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  HANDLE thread = CreateThread(nullptr, 0, WatchSessionEnd, nullptr, 0, nullptr);
  if (thread != nullptr) CloseHandle(thread);
}
