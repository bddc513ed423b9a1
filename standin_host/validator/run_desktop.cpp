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

}  // namespace

std::string OpenRunDesktop(bool showDialogs) {
  const char kOnYours[] = "a window that takes the focus meanwhile makes a session NOT JUDGED";
  if (showDialogs) return std::string("Dialogs: on your desktop (--show-dialogs); ") + kOnYours;
  std::wstring name = UniqueDesktopName();
  // Held only to keep the desktop while the checks open it by name. It is
  // never switched to, so the person's screen stays theirs.
  g_desktop = CreateDesktopW(name.c_str(), nullptr, nullptr, 0, GENERIC_READ, nullptr);
  if (g_desktop == nullptr) {
    return "Dialogs: on your desktop, as a desktop of the run's own could not be made (Windows "
           "error " +
           std::to_string(GetLastError()) + "); " + kOnYours;
  }
  SetChildDesktop(name);
  return "Dialogs: on a desktop of the run's own, out of your way (--show-dialogs to watch them)";
}

void CloseRunDesktop() {
  if (g_desktop == nullptr) return;
  SetChildDesktop(std::wstring());
  CloseDesktop(g_desktop);
  g_desktop = nullptr;
}
