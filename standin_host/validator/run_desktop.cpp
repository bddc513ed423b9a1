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
    HDESK desktop = CreateDesktopW(name.c_str(), nullptr, nullptr, 0, GENERIC_READ, nullptr);
    if (desktop == nullptr) {
      error = GetLastError();
      break;
    }
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
