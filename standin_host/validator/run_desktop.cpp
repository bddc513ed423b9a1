#include "standin_host/validator/run_desktop.h"

#include <windows.h>

#include <vector>

namespace {

struct RunDesktop {
  HDESK handle;
  std::wstring name;
};
std::vector<RunDesktop> g_desktops;

// A name no other run shares, even one started in the same tick.
std::wstring UniqueDesktopName(int slot) {
  return L"plugin-validator-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
         std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(slot);
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

std::string OpenRunDesktops(bool showDialogs, int* slots) {
  const char kOnYours[] = "a window that takes the focus meanwhile makes a session NOT JUDGED";
  if (showDialogs) {
    *slots = 1;
    return std::string("Dialogs: on your desktop (--show-dialogs); ") + kOnYours;
  }
  DWORD error = 0;
  for (int slot = 0; slot < *slots; ++slot) {
    std::wstring name = UniqueDesktopName(slot);
    // Held only to keep the desktop while the checks open it by name. It is
    // never switched to, so the person's screen stays theirs.
    HDESK desktop = CreateDesktopW(name.c_str(), nullptr, nullptr, 0,
                                   GENERIC_READ | DESKTOP_CREATEWINDOW, nullptr);
    if (desktop == nullptr) {
      error = GetLastError();
      break;
    }
    StartDesktop(desktop);
    g_desktops.push_back(RunDesktop{desktop, name});
  }
  if (g_desktops.empty()) {
    *slots = 1;
    return "Dialogs: on your desktop, as a desktop of the run's own could not be made (Windows "
           "error " +
           std::to_string(error) + "); " + kOnYours;
  }
  // Fewer desktops than asked for: fewer checks at once, never two on one.
  *slots = static_cast<int>(g_desktops.size());
  return "Dialogs: on a desktop of the run's own, out of your way (--show-dialogs to watch them)";
}

std::wstring RunDesktopName(int slot) {
  if (slot < 0 || static_cast<size_t>(slot) >= g_desktops.size()) return std::wstring();
  return g_desktops[static_cast<size_t>(slot)].name;
}

void CloseRunDesktops() {
  for (const RunDesktop& desktop : g_desktops) CloseDesktop(desktop.handle);
  g_desktops.clear();
}
