#include "standin_host/validator/run_desktop.h"

#include <windows.h>

#include "standin_host/system/child_process.h"

namespace {

HDESK g_desktop = nullptr;

// A name no other run shares, even one started in the same tick.
std::wstring UniqueDesktopName() {
  return L"plugin-validator-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
         std::to_wstring(GetTickCount());
}

// Wine starts a helper process for a desktop when the first window appears
// on it; made here, that process is the validator's, not counted among the
// processes the first check's plug-in started.
DWORD WINAPI ShowFirstWindow(void* desktop) {
  if (!SetThreadDesktop(static_cast<HDESK>(desktop))) return 0;
  HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  if (window != nullptr) DestroyWindow(window);
  return 0;
}

void StartDesktop(HDESK desktop) {
  HANDLE thread = CreateThread(nullptr, 0, ShowFirstWindow, desktop, 0, nullptr);
  if (thread == nullptr) return;
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
}

}  // namespace

std::string OpenRunDesktop(bool showDialogs) {
  const char kOnYours[] = "a window that takes the focus meanwhile makes a session NOT JUDGED";
  if (showDialogs) return std::string("Dialogs: on your desktop (--show-dialogs); ") + kOnYours;
  std::wstring name = UniqueDesktopName();
  // Held only to keep the desktop while the checks open it by name. It is
  // never switched to, so the person's screen stays theirs.
  g_desktop = CreateDesktopW(name.c_str(), nullptr, nullptr, 0, GENERIC_READ | DESKTOP_CREATEWINDOW,
                             nullptr);
  if (g_desktop == nullptr) {
    return "Dialogs: on your desktop, as a desktop of the run's own could not be made (Windows "
           "error " +
           std::to_string(GetLastError()) + "); " + kOnYours;
  }
  StartDesktop(g_desktop);
  SetChildDesktop(name);
  return "Dialogs: on a desktop of the run's own, out of your way (--show-dialogs to watch them)";
}

void CloseRunDesktop() {
  if (g_desktop == nullptr) return;
  SetChildDesktop(std::wstring());
  CloseDesktop(g_desktop);
  g_desktop = nullptr;
}
